// The page in headless Chromium (Debian's, on SwiftShader), driven over the DevTools protocol by
// puppeteer-core and judged from screenshots by numbers:
//   node page_test.mjs FIXTURE SITE DATA [VIEW [SHOTS]]
// FIXTURE is the native orv-web-fixture (where the picture's rule puts each point), SITE the web
// build's site folder, DATA tests/web/data, VIEW the native orv-view (whose stills the page's
// pictures are compared with; "-" or left out: not compared); the screenshots are kept in SHOTS
// when it is given.
// Exits 77 (a skip) when the web build, Chromium or the npm packages are missing, saying why.
import {execFileSync} from 'node:child_process';
import {existsSync, mkdirSync, mkdtempSync, readFileSync, rmSync, writeFileSync} from 'node:fs';
import {tmpdir} from 'node:os';
import {dirname, join, resolve} from 'node:path';
import {fileURLToPath} from 'node:url';

const here = dirname(fileURLToPath(import.meta.url));
const [fixture, site, data, view, shots] = process.argv.slice(2);
const chromium = '/usr/lib/chromium/chromium';
const swiftshader = '/usr/lib/chromium/vk_swiftshader_icd.json';
// In CI everything is installed and built first, so a missing piece is a failure there.
const skip = (why) => {
  console.log(`${process.env.CI === 'true' ? 'FAIL' : 'SKIP'}: ${why}`);
  process.exit(process.env.CI === 'true' ? 1 : 77);
};
if (!existsSync(join(site, 'orv_core.wasm')))
  skip(`${site} holds no web build (./scripts/web builds it)`);
if (!existsSync(chromium)) skip(`${chromium} is missing (Debian's chromium; scripts/install-deps)`);
if (!existsSync(join(here, 'node_modules', 'puppeteer-core')))
  skip('npm ci in tests/web has not run');

const {default: puppeteer} = await import('puppeteer-core');
const {PNG} = await import('pngjs');
const {serve} = await import(resolve(here, '..', '..', 'web', 'serve.mjs'));

// Chromium draws WebGPU headless on SwiftShader with these; as root it needs --no-sandbox.
const webgpuFlags = [
  '--enable-unsafe-webgpu', '--enable-features=Vulkan', '--use-vulkan=swiftshader',
  '--use-angle=swiftshader'
];
const launch = (flags) => puppeteer.launch({
  executablePath: chromium,
  headless: true,
  args: ['--headless=new', '--no-sandbox', '--disable-gpu-sandbox', ...flags],
});

const server = await serve(site);
const origin = `http://127.0.0.1:${server.address().port}/`;
let failures = 0;
const check = (ok, what) => {
  console.log(`${ok ? 'ok  ' : 'FAIL'} ${what}`);
  if (!ok) failures += 1;
};

// A page of the scene text (empty: the default scene; `?scene=…`: that query) at width × height;
// the readout and the help are hidden, so that only the picture is on the screenshots. Console
// errors and uncaught exceptions are collected.
async function open(browser, scene, width, height, before = null) {
  const page = await browser.newPage();
  const errors = [];
  page.on('console', (m) => {
    if (m.type() === 'error') errors.push(m.text());
  });
  page.on('pageerror', (e) => errors.push(e.message));
  if (before) await page.evaluateOnNewDocument(before);
  await page.setViewport({width, height});
  const query = scene.startsWith('?scene=');
  await page.goto(origin + (query ? scene : scene ? `#scene=${encodeURIComponent(scene)}` : ''));
  await page.waitForFunction(
      () => window.orvPage && (window.orvPage.ready || window.orvPage.problem), {timeout: 60000});
  await page.addStyleTag({content: '#readout, #help { display: none !important; }'});
  return {page, errors};
}

const frames = (page) => page.evaluate(() => window.orvPage.frames);
async function waitFrames(page, count) {
  const until = (await frames(page)) + count;
  await page.waitForFunction(
      (n) => window.orvPage.frames >= n || window.orvPage.problem, {timeout: 120000}, until);
}

let shotNumber = 0;
async function screenshot(page, name) {
  await waitFrames(page, 3);
  const png = Buffer.from(await page.screenshot({type: 'png'}));
  if (shots) {
    mkdirSync(shots, {recursive: true});
    writeFileSync(join(shots, `${String(shotNumber++).padStart(2, '0')}-${name}.png`), png);
  }
  return PNG.sync.read(png);
}

// The pixels of one colour (within ±2 per channel): how many and their centroid (pixel centres at
// +0.5).
function blob(image, [r, g, b]) {
  let count = 0, sx = 0, sy = 0;
  for (let y = 0; y < image.height; ++y) {
    for (let x = 0; x < image.width; ++x) {
      const i = 4 * (y * image.width + x), d = image.data;
      if (Math.abs(d[i] - r) <= 2 && Math.abs(d[i + 1] - g) <= 2 && Math.abs(d[i + 2] - b) <= 2) {
        count += 1;
        sx += x + 0.5;
        sy += y + 0.5;
      }
    }
  }
  return {count, x: count ? sx / count : NaN, y: count ? sy / count : NaN};
}

// Pixels that are not black: all of them, or those within 12 × 8 px of `around`.
function lit(image, around = null) {
  let count = 0;
  for (let y = 0; y < image.height; ++y) {
    for (let x = 0; x < image.width; ++x) {
      if (around && (Math.abs(x + 0.5 - around.x) > 12 || Math.abs(y + 0.5 - around.y) > 8))
        continue;
      const i = 4 * (y * image.width + x);
      if (image.data[i] + image.data[i + 1] + image.data[i + 2] > 30) count += 1;
    }
  }
  return count;
}

// Where the picture's rule (natively, in f64) puts each point of `file` at the start.
function expectedImages(file, width, height) {
  return execFileSync(fixture, ['images', file, String(width), String(height)], {encoding: 'utf8'})
      .trim()
      .split('\n')
      .map((line) => JSON.parse(line));
}

// Every coloured point of the scene at its pixel, near and far images alike, within 1 px.
function checkPoints(image, expected, what) {
  const inside = (p) => p.x - p.radius >= 0 && p.x + p.radius <= image.width &&
      p.y - p.radius >= 0 && p.y + p.radius <= image.height;
  for (const p of expected) {
    const white = p.rgb[0] === 255 && p.rgb[1] === 255 && p.rgb[2] === 255;
    if (!p.drawn || white || !inside(p)) continue;
    const seen = blob(image, p.rgb);
    const off = Math.hypot(seen.x - p.x, seen.y - p.y);
    check(
        seen.count > 10 && off <= 1,
        `${what}: point ${p.index} (${p.far ? 'far' : 'near'} image) at (${seen.x.toFixed(2)}, ` +
            `${seen.y.toFixed(2)}), the rule says (${p.x.toFixed(2)}, ${p.y.toFixed(2)}): ` +
            `${off.toFixed(2)} px, ${seen.count} pixels`);
  }
}

async function hold(page, key, ms) {
  await page.keyboard.down(key);
  await new Promise((done) => setTimeout(done, ms));
  await page.keyboard.up(key);
}

// The page's picture against orv-view's still of the same scene (both on Chromium's SwiftShader):
// how many pixels differ by more than 8 levels in a channel, and the largest difference.
function againstNative(image, sceneFile) {
  const still = join(mkdtempSync(join(tmpdir(), 'orv-page-test-')), 'still.png');
  execFileSync(
      view,
      [
        '--headless', '--still', `${image.width}x${image.height}`, still, '--scene', sceneFile,
        '--frames', '1'
      ],
      {env: {...process.env, VK_ICD_FILENAMES: swiftshader, NODEVICE_SELECT: '1'}});
  const native = PNG.sync.read(readFileSync(still));
  rmSync(dirname(still), {recursive: true, force: true});
  let differ = 0, largest = 0;
  for (let i = 0; i < image.data.length; i += 4) {
    const d = Math.max(...[0, 1, 2].map((c) => Math.abs(image.data[i + c] - native.data[i + c])));
    if (d > 8) differ += 1;
    largest = Math.max(largest, d);
  }
  return {differ, largest};
}

const pointsFile = join(data, 'points.txt');
const pointsScene = readFileSync(pointsFile, 'utf8');
const red = [255, 0, 0];
const browser = await launch(webgpuFlags);
try {
  // The points where the rule puts them, and after a resize at the new aspect.
  {
    const {page, errors} = await open(browser, pointsScene, 640, 360);
    check(await page.evaluate(() => window.orvPage.problem) === null, 'the page starts');
    const start = await screenshot(page, 'points');
    checkPoints(start, expectedImages(pointsFile, 640, 360), '640x360');
    check(
        expectedImages(pointsFile, 640, 360).some((p) => p.far && p.drawn),
        'the scene has far images');

    await page.setViewport({width: 360, height: 400});
    checkPoints(
        await screenshot(page, 'points-resized'), expectedImages(pointsFile, 360, 400),
        'resized to 360x400');
    await page.setViewport({width: 640, height: 360});

    // F1 hides the edges and shows them again: the pixels half-way between the white points,
    // where only their edge is drawn, go dark and light up again.
    const [a, b] =
        expectedImages(pointsFile, 640, 360).filter((p) => p.rgb.every((c) => c === 255));
    const middle = {x: (a.x + b.x) / 2, y: (a.y + b.y) / 2};
    const before = lit(await screenshot(page, 'edges'), middle);
    await page.keyboard.press('F1');
    const hidden = lit(await screenshot(page, 'edges-hidden'), middle);
    await page.keyboard.press('F1');
    const back = lit(await screenshot(page, 'edges-back'), middle);
    check(
        before > 20 && hidden === 0 && back === before,
        `F1 hides the edge and shows it again: ${before} lit pixels half-way, ${hidden}, ${back}`);

    // A drag with the right button turns the view: the scene follows the mouse to the right.
    const turned0 = blob(await screenshot(page, 'before-drag'), red);
    await page.mouse.move(320, 180);
    await page.mouse.down({button: 'right'});
    for (let i = 1; i <= 8; ++i)
      await page.mouse.move(320 + 10 * i, 180);
    await page.mouse.up({button: 'right'});
    const turned1 = blob(await screenshot(page, 'after-drag'), red);
    check(
        turned1.x - turned0.x > 5 &&
            Math.abs(turned1.y - turned0.y) < 0.5 * (turned1.x - turned0.x),
        `a rightward drag moves the red point right: x ${turned0.x.toFixed(1)} → ${
            turned1.x.toFixed(1)}`);

    // W brings what is ahead closer: the red point grows. The wheel slows the flight first, so
    // that the camera does not fly past it.
    for (let i = 0; i < 3; ++i)
      await page.mouse.wheel({deltaY: 100});
    await waitFrames(page, 2);
    const near0 = blob(await screenshot(page, 'before-w'), red);
    await hold(page, 'KeyW', 400);
    const near1 = blob(await screenshot(page, 'after-w'), red);
    check(
        near1.count > 1.05 * near0.count,
        `W brings the red point closer: ${near0.count} → ${near1.count} pixels`);
    check(errors.length === 0, `no console errors (${errors.join(' | ') || 'none'})`);
    await page.close();
  }

  // What orv-view draws, the page draws: the same scene files at the start, pixel for pixel up
  // to the rounding of two builds of the same shaders (none differed when this was written).
  if (view && view !== '-') {
    for (const name of ['points.txt', 'faces.txt']) {
      const file = join(data, name);
      const {page} = await open(browser, readFileSync(file, 'utf8'), 640, 360);
      const {differ, largest} = againstNative(await screenshot(page, `native-${name}`), file);
      check(
          differ <= 0.005 * 640 * 360,
          `${name} as orv-view draws it: ${differ} pixels differ by more than 8 levels ` +
              `(largest difference ${largest})`);
      await page.close();
    }
  }

  // A scene fetched from the address that ?scene= gives (here a data: URL).
  {
    const url = `data:text/plain;charset=utf-8,${encodeURIComponent(pointsScene)}`;
    const {page, errors} = await open(browser, `?scene=${encodeURIComponent(url)}`, 640, 360);
    const [first] = expectedImages(pointsFile, 640, 360);
    const seen = blob(await screenshot(page, 'fetched'), first.rgb);
    check(
        Math.hypot(seen.x - first.x, seen.y - first.y) <= 1 && errors.length === 0,
        `a scene from ?scene=URL: point 0 at (${seen.x.toFixed(2)}, ${seen.y.toFixed(2)})`);
    await page.close();
  }

  // 300 frames of the default scene with the particles moved to the CPU and back (F2) and a
  // flight: no console error, no device loss.
  {
    const {page, errors} = await open(browser, '', 640, 360);
    await page.keyboard.down('KeyW');
    await waitFrames(page, 60);
    await page.keyboard.press('F2');
    await waitFrames(page, 60);
    await page.keyboard.press('F2');
    await waitFrames(page, 60);
    await page.keyboard.press('F3');
    await waitFrames(page, 60);
    await page.keyboard.up('KeyW');
    await waitFrames(page, 60);
    const state = await page.evaluate(() => window.orvPage);
    const image = await screenshot(page, 'default-scene');
    check(
        state.frames >= 300 && state.problem === null && errors.length === 0,
        `300 frames of the default scene: ${state.frames} frames, problem ${state.problem}, ` +
            `console errors: ${errors.join(' | ') || 'none'}`);
    check(lit(image) > 0.05 * image.width * image.height, 'the default scene is drawn');
    await page.close();
  }

  // A lost device ends the flight with a message, and no frame is drawn after it.
  {
    const {page, errors} = await open(browser, pointsScene, 640, 360);
    await page.evaluate(() => window.orvPage.device.destroy());
    await page.waitForFunction(() => window.orvPage.problem, {timeout: 30000});
    const lostAt = await frames(page);
    await new Promise((done) => setTimeout(done, 500));
    const shown = await page.evaluate(() => document.getElementById('message').textContent);
    check(
        /^The GPU device was lost/.test(shown) && (await frames(page)) === lostAt &&
            errors.length === 0,
        `a lost device: ${JSON.stringify(shown)}, frames stop at ${lostAt}`);
    await page.close();
  }

  // Scenes the page refuses, with the line; and a browser without WebGPU or without an adapter.
  const refusals = [
    ['point 1 2\n', null, /^scene:1: /],
    ['point 0 0 -1 1\nmesh spider.obj\n', null, /^scene:2: models are not read in the page/],
    [
      '',
      () => {
        delete Navigator.prototype.gpu;
      },
      /no WebGPU/
    ],
    [
      '',
      () => {
        navigator.gpu.requestAdapter = async () => null;
      },
      /no GPU adapter/
    ],
    // A shader that does not compile is reported with its line and column.
    [
      '',
      () => {
        const made = GPUDevice.prototype.createShaderModule;
        GPUDevice.prototype.createShaderModule = function(d) {
          return made.call(
              this, d.label === 'picture' ? {...d, code: `${d.code}\nfn broken( {`} : d);
        };
      },
      /^picture:\d+:\d+: error: /
    ],
  ];
  for (const [scene, before, expected] of refusals) {
    const {page} = await open(browser, scene, 640, 360, before);
    const shown = await page.evaluate(() => ({
                                        text: document.getElementById('message').textContent,
                                        visible: !document.getElementById('message').hidden,
                                        canvas: !document.getElementById('picture').hidden,
                                      }));
    check(
        shown.visible && !shown.canvas && expected.test(shown.text),
        `refused with a message: ${JSON.stringify(shown.text)}`);
    await page.close();
  }
} finally {
  await browser.close();
}

// Chromium without the WebGPU flags: a message, never a blank canvas.
{
  const plain = await launch([]);
  try {
    const {page} = await open(plain, '', 640, 360);
    const state = await page.evaluate(() => window.orvPage);
    if (state.problem === null) {
      console.log('note: this Chromium offers WebGPU without the flags; nothing to refuse');
    } else {
      check(/WebGPU|adapter|device/.test(state.problem), `without the flags: ${state.problem}`);
    }
  } finally {
    await plain.close();
  }
}

server.close();
process.exit(failures === 0 ? 0 : 1);
