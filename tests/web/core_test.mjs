// The WebAssembly core against the native one: the same scenes flown by the same scripts give the
// same records (web_session.hpp's flightTrace), read field by field: the cameras, the uniforms, the
// particles' states and positions, the products and the inverses bit for bit. The arc cosines of
// the distances are the C library's (glibc natively, musl in WebAssembly), which are not correctly
// rounded and differ in the last bit for a few arguments: those may differ by 1 ulp, and the
// test says how many did.
//   node core_test.mjs FIXTURE SITE DATA
// FIXTURE is the native orv-web-fixture, SITE the web build's site folder, DATA tests/web/data.
// Exits 77 (a skip) when the web build is missing, saying why.
import {execFileSync} from 'node:child_process';
import {existsSync, mkdtempSync, readFileSync, rmSync} from 'node:fs';
import {createRequire} from 'node:module';
import {tmpdir} from 'node:os';
import {join, resolve} from 'node:path';

const [fixture, site, data] = process.argv.slice(2);
const examples = join(data, '..', '..', '..', 'examples');
const module = resolve(site, 'orv_core.js');
if (!existsSync(module)) {
  // In CI everything is installed and built first, so a missing piece is a failure there.
  console.log(
      `${process.env.CI === 'true' ? 'FAIL' : 'SKIP'}: ${module} is not built ` +
      '(./scripts/web builds it; emscripten is needed)');
  process.exit(process.env.CI === 'true' ? 1 : 77);
}

// name, scene file ('-' the default scene), script file, frames, width, height
const flights = [
  ['default scene, every input', '-', join(data, 'flight.txt'), 160, 1280, 720],
  ['default scene, the long flight', '-', join(examples, 'inputs', 'flight.txt'), 600, 640, 360],
  [
    'points and an edge, every input', join(data, 'points.txt'), join(data, 'flight.txt'), 160, 401,
    299
  ],
  [
    'a scene with faces, fog and lights', join(data, 'faces.txt'), join(data, 'flight.txt'), 160,
    800, 600
  ],
];

const createOrvCore = createRequire(import.meta.url)(module);
const core = await createOrvCore({wasmBinary: readFileSync(join(site, 'orv_core.wasm'))});

function text(path) { return path === '-' ? new Uint8Array() : readFileSync(path); }

function inCore(bytes) {
  const at = core._malloc(Math.max(1, bytes.length));
  core.HEAPU8.set(bytes, at);
  return at;
}

function wasmTrace(scene, script, frames, width, height) {
  const [s, c] = [text(scene), text(script)];
  const [sAt, cAt] = [inCore(s), inCore(c)];
  const page = core._orv_web_trace(sAt, s.length, cAt, c.length, frames, width, height);
  core._free(sAt);
  core._free(cAt);
  const problem = core.UTF8ToString(core._orv_web_problem(page));
  const at = core._orv_web_trace_bytes(page);
  const bytes = core.HEAPU8.slice(at, at + core._orv_web_trace_length(page));
  core._orv_web_destroy(page);
  if (problem) throw new Error(`the WebAssembly trace: ${problem}`);
  return bytes;
}

// The layout of one frame's record, for a scene of `points` points and `particles` particles:
// [name, element type, count, ulps allowed]; the CPU's particles only in frames that move them
// on the CPU (flag 2 of the record's flags).
function layout(points, particles, onCpu) {
  const fields = [
    ['camera', 'f64', 17, 0],
    ['picture uniforms', 'f32', 32, 0],
    ['lighting', 'f32', 72, 0],
    ['flags', 'u8', 4, 0],
  ];
  if (onCpu && particles > 0) {
    fields.push(
        ['CPU particle positions', 'f32', 4 * particles, 0],
        ['CPU particle distances', 'f32', particles, 1]);
  }
  fields.push(
      ['device particle positions', 'f32', 4 * particles, 0],
      ['device particle distances', 'f32', particles, 1], ['action batch', 'f64', 4 * points, 0],
      ['distance batch', 'f64', points, 1], ['inverse', 'f64', 16, 0],
      ['RK4 step', 'f32', 8 * particles, 0]);
  return fields;
}

const widths = {
  f64: 8,
  f32: 4,
  u8: 1
};

function ulps(type, a, b) {
  if (type === 'u8') return Math.abs(a[0] - b[0]);
  const bits = (bytes) => type === 'f64' ?
      new DataView(bytes.buffer, bytes.byteOffset, 8).getBigInt64(0, true) :
      BigInt(new DataView(bytes.buffer, bytes.byteOffset, 4).getInt32(0, true));
  const d = bits(a) - bits(b);
  return Number(d < 0n ? -d : d);
}

// Problems as text (none when the records agree), how many values were compared, and for each
// field where some differed by an allowed ulp, how many of how many.
function compare(native, wasm, frames, points, particles) {
  const problems = [];
  const apart = new Map();
  let values = 0, at = 0;
  if (native.length !== wasm.length)
    problems.push(`native ${native.length} bytes, WebAssembly ${wasm.length}`);
  for (let k = 0; k < frames && problems.length === 0; ++k) {
    const flagsAt = at + 17 * 8 + 32 * 4 + 72 * 4;
    const onCpu = native[flagsAt + 2] === 0;
    for (const [name, type, count, allowed] of layout(points, particles, onCpu)) {
      const w = widths[type];
      const tally = apart.get(name) || {differ: 0, of: 0};
      tally.of += count;
      for (let i = 0; i < count; ++i, at += w) {
        values += 1;
        const a = native.subarray(at, at + w), b = wasm.subarray(at, at + w);
        if (Buffer.compare(a, b) === 0) continue;
        const d = ulps(type, a, b);
        if (d > allowed) {
          problems.push(`frame ${k}, ${name}[${i}]: ${d} ulps apart (allowed ${allowed})`);
          break;
        }
        tally.differ += 1;
      }
      if (allowed > 0) apart.set(name, tally);
      if (problems.length > 0) break;
    }
  }
  if (problems.length === 0 && at !== native.length)
    problems.push(`the records end at byte ${at} of ${native.length}`);
  const ulpApart =
      [...apart].filter(([, t]) => t.differ > 0).map(([name,
                                                       t]) => `${t.differ} of ${t.of} ${name}`);
  return {problems, ulpApart, values};
}

function sceneCounts(scene) {
  const bytes = text(scene);
  const at = inCore(bytes);
  const page = core._orv_web_create(at, bytes.length);
  core._free(at);
  const counts = [core._orv_web_list_length(page, 0), core._orv_web_particle_count(page)];
  core._orv_web_destroy(page);
  return counts;
}

const scratch = mkdtempSync(join(tmpdir(), 'orv-core-test-'));
let failed = 0;
for (const [name, scene, script, frames, width, height] of flights) {
  const out = join(scratch, 'native.bin');
  execFileSync(
      fixture, ['trace', scene, script, String(frames), String(width), String(height), out]);
  const native = readFileSync(out);
  const wasm = Buffer.from(wasmTrace(scene, script, frames, width, height));
  const [points, particles] = sceneCounts(scene);
  const {problems, ulpApart, values} = compare(native, wasm, frames, points, particles);
  if (native.length === 0 || problems.length > 0) {
    console.log(`FAIL ${name}: ${problems.join('; ') || 'an empty trace'}`);
    failed += 1;
  } else {
    console.log(
        `ok   ${name}: ${frames} frames, ${values} values, all the same` +
        (ulpApart.length ? ` but 1 ulp apart: ${ulpApart.join(', ')}` : ''));
  }
}

// The page's refusals come from the same code: a model, and a line in error.
for (const [scene, expected] of [
         [join(examples, 'scenes', 'spiders.txt'), /^scene:\d+: models are not read in the page/],
         [join(data, 'points.txt'), null],
]) {
  const bytes = text(scene);
  const at = inCore(bytes);
  const page = core._orv_web_create(at, bytes.length);
  core._free(at);
  const problem = core.UTF8ToString(core._orv_web_problem(page));
  core._orv_web_destroy(page);
  const good = expected ? expected.test(problem) : problem === '';
  console.log(`${good ? 'ok  ' : 'FAIL'} ${scene}: ${problem || 'accepted'}`);
  if (!good) failed += 1;
}

rmSync(scratch, {recursive: true, force: true});
process.exit(failed === 0 ? 0 : 1);
