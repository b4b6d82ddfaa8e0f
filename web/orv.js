// The page: ORV's frame loop (the WebAssembly core) flown with the keyboard and the mouse, drawn
// by renderer.js. The scene is the default one, or a scene file's text given in the address:
// `#scene=TEXT` (the text itself, URL-encoded, so that a scene can be shared as a link) or
// `?scene=URL` (a file fetched from there).
import {PageProblem, Renderer} from './renderer.js';

const canvas = document.getElementById('picture');
const readout = document.getElementById('readout');
const message = document.getElementById('message');

// What the tests and a curious user can read from the console: frames drawn, the problem that
// stopped the page, the adapter and the device, the time to the first frame.
const state = {
  frames: 0,
  ready: false,
  problem: null,
  adapter: null,
  device: null,
  firstFrameMs: null
};
window.orvPage = state;

function fail(text) {
  state.problem = text;
  message.textContent = text;
  message.hidden = false;
  canvas.hidden = true;
  readout.hidden = true;
  document.getElementById('help').hidden = true;
}

// The browser's key codes (KeyboardEvent.code) as orv_input's Key codes.
const keys = {
  KeyA: 65,
  KeyB: 66,
  KeyC: 67,
  KeyD: 68,
  KeyE: 69,
  KeyF: 70,
  KeyQ: 81,
  KeyR: 82,
  KeyS: 83,
  KeyW: 87,
  KeyX: 88,
  KeyZ: 90,
  Space: 32,
  Escape: 256,
  Enter: 257,
  Tab: 258,
  ShiftLeft: 340,
  ShiftRight: 344,
  ControlLeft: 341,
  ControlRight: 345,
  AltLeft: 342,
  AltRight: 346,
  ArrowUp: 265,
  ArrowDown: 264,
  ArrowLeft: 263,
  ArrowRight: 262,
  F1: 290,
  F2: 291,
  F3: 292,
};
// The browser's mouse buttons (0 left, 1 middle, 2 right) as orv_input's (0 left, 1 right,
// 2 middle).
const buttons = [0, 2, 1];
const keepDefault = new Set(['Escape', 'Tab', 'Enter']);
const RIGHT = 1;
const PRESS = 0, RELEASE = 1, REPEAT = 2;

function modBits(e) {
  return (e.shiftKey ? 1 : 0) | (e.ctrlKey ? 2 : 0) | (e.altKey ? 4 : 0) | (e.metaKey ? 8 : 0) |
      (e.getModifierState('CapsLock') ? 16 : 0) | (e.getModifierState('NumLock') ? 32 : 0);
}

async function sceneText() {
  const hash = new URLSearchParams(location.hash.slice(1)).get('scene');
  if (hash !== null) return hash;
  const url = new URLSearchParams(location.search).get('scene');
  if (url === null) return '';
  const response = await fetch(new URL(url, location.href));
  if (!response.ok)
    throw new PageProblem(
        `The scene ${url} could not be fetched: ${response.status} ${response.statusText}`);
  return response.text();
}

function createPage(core, text) {
  const bytes = new TextEncoder().encode(text);
  const at = core._malloc(Math.max(1, bytes.length));
  core.HEAPU8.set(bytes, at);
  const page = core._orv_web_create(at, bytes.length);
  core._free(at);
  const problem = core.UTF8ToString(core._orv_web_problem(page));
  if (problem) throw new PageProblem(problem);
  return page;
}

// Keyboard and mouse into the core's events of the next frame. Keys held when the page loses the
// focus are released, so that none stays held.
function connectInput(core, page) {
  const held = new Set();
  const key = (e, action) => {
    const code = keys[e.code];
    if (code === undefined) return;
    // Arrows and Space would scroll, F1 and F3 open the browser's help and find; Escape, Tab and
    // Enter keep what the browser does with them (Escape frees a locked pointer).
    if (!keepDefault.has(e.code)) e.preventDefault();
    if (action === RELEASE)
      held.delete(code);
    else
      held.add(code);
    core._orv_web_key(page, action, code, modBits(e));
  };
  window.addEventListener('keydown', (e) => key(e, e.repeat ? REPEAT : PRESS));
  window.addEventListener('keyup', (e) => key(e, RELEASE));
  window.addEventListener('blur', () => {
    for (const code of held)
      core._orv_web_key(page, RELEASE, code, 0);
    held.clear();
  });

  // The orbit: the right button held; the pointer is locked meanwhile where the browser allows,
  // so the motion never runs out at the window's edge.
  let last = null;
  canvas.addEventListener('contextmenu', (e) => e.preventDefault());
  canvas.addEventListener('mousedown', (e) => {
    const button = buttons[e.button];
    if (button === undefined) return;
    core._orv_web_button(page, 1, button, e.clientX, e.clientY, modBits(e));
    if (button === RIGHT && canvas.requestPointerLock) {
      Promise.resolve(canvas.requestPointerLock()).catch(() => {});
    }
  });
  window.addEventListener('mouseup', (e) => {
    const button = buttons[e.button];
    if (button === undefined) return;
    core._orv_web_button(page, 0, button, e.clientX, e.clientY, modBits(e));
    if (button === RIGHT && document.pointerLockElement === canvas) document.exitPointerLock();
  });
  // The cursor jumps when the lock starts or ends; that is no motion of the user's.
  document.addEventListener('pointerlockchange', () => {
    last = null;
  });
  window.addEventListener('mousemove', (e) => {
    // Locked, the browser reports motion only; otherwise it is measured between positions.
    const locked = document.pointerLockElement === canvas;
    const dx = locked || last === null ? e.movementX : e.clientX - last.x;
    const dy = locked || last === null ? e.movementY : e.clientY - last.y;
    if (!locked) last = {x: e.clientX, y: e.clientY};
    core._orv_web_move(page, e.clientX, e.clientY, dx, dy);
  });
  canvas.addEventListener('wheel', (e) => {
    e.preventDefault();
    // One notch of a wheel: 100 pixels or 3 lines in Chromium and Firefox; up is positive.
    const notches = e.deltaMode === WheelEvent.DOM_DELTA_PIXEL ? e.deltaY / 100 :
        e.deltaMode === WheelEvent.DOM_DELTA_LINE              ? e.deltaY / 3 :
                                                                 e.deltaY;
    core._orv_web_scroll(page, 0, -notches, e.clientX, e.clientY);
  }, {passive: false});
}

// The canvas's size in device pixels, following the window.
function fitCanvas() {
  const scale = window.devicePixelRatio || 1;
  const width = Math.max(1, Math.round(canvas.clientWidth * scale));
  const height = Math.max(1, Math.round(canvas.clientHeight * scale));
  if (canvas.width !== width) canvas.width = width;
  if (canvas.height !== height) canvas.height = height;
}

function run(core, page, renderer, started) {
  let last = null, since = null, counted = 0;
  const frame = async (now) => {
    if (state.problem) return;
    fitCanvas();
    // The time step is the time since the last frame (the core caps it at 0.1 s).
    const dt = last === null ? 0 : (now - last) / 1000;
    last = now;
    if (core._orv_web_needs_states(page)) {
      await renderer.readStates(core._orv_web_device_states(page));
    }
    if (core._orv_web_frame(page, dt, canvas.width, canvas.height) !== 0) {
      fail(core.UTF8ToString(core._orv_web_problem(page)));
      return;
    }
    renderer.draw();
    state.frames += 1;
    if (state.firstFrameMs === null) {
      await renderer.device.queue.onSubmittedWorkDone();
      state.firstFrameMs = performance.now() - started;
      state.ready = true;
    }
    counted += 1;
    if (since === null) since = now;
    if (now - since >= 500 || state.frames === 1) {
      const fps = now > since ? (1000 * counted) / (now - since) : 0;
      readout.textContent = core.UTF8ToString(core._orv_web_readout(page, fps));
      since = now;
      counted = 0;
    }
    requestAnimationFrame(frame);
  };
  requestAnimationFrame(frame);
}

async function main() {
  const started = performance.now();
  try {
    const core = await window.createOrvCore();
    const page = createPage(core, await sceneText());
    const renderer = await Renderer.create(core, page, canvas, fail);
    state.adapter = renderer.adapter.info ?
        renderer.adapter.info.description || renderer.adapter.info.vendor :
        '';
    state.device = renderer.device;
    connectInput(core, page);
    run(core, page, renderer, started);
  } catch (e) {
    fail(e instanceof PageProblem ? e.message : `ORV could not start: ${e.message || e}`);
    if (!(e instanceof PageProblem)) console.error(e);
  }
}

main();
