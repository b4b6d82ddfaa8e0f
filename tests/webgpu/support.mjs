// The device, the fixture files written by orv-webgpu-fixtures, and small helpers shared by the
// conformance tests.
import assert from 'node:assert/strict';
import fs from 'node:fs';
import path from 'node:path';
import { after } from 'node:test';

const { create, globals } = await import('webgpu').catch((error) => {
  throw new Error(`the npm package webgpu is missing: run npm ci in tests/webgpu (${error.message})`);
});

Object.assign(globalThis, globals);

// The addon crashes if the object create() returns is collected while a device lives, so this
// module keeps it until the device has been destroyed.
export const gpu = create(['backend=vulkan']);
export const adapter = await gpu.requestAdapter();
assert.ok(adapter, 'no WebGPU adapter (is VK_ICD_FILENAMES set to a Vulkan driver?)');
export const device = await adapter.requestDevice();

const uncaptured = [];
device.addEventListener('uncapturederror', (event) => uncaptured.push(event.error.message));

after(() => {
  device.destroy();
  assert.deepEqual(uncaptured, [], 'the device reported errors outside any error scope');
});

// f32 unit roundoff: a correctly rounded f32 operation has relative error at most u.
export const u = 2 ** -24;

// Runs `fn` inside validation, internal and out-of-memory error scopes and fails on any error.
export async function checked(what, fn) {
  device.pushErrorScope('out-of-memory');
  device.pushErrorScope('internal');
  device.pushErrorScope('validation');
  const result = await fn();
  const errors = [];
  for (let i = 0; i < 3; ++i) {
    const error = await device.popErrorScope();
    if (error) errors.push(error.message);
  }
  assert.deepEqual(errors, [], `${what}: the device reported errors`);
  return result;
}

// Compiles WGSL and fails on any message (error, warning or info) of the compiler.
export async function compile(what, code) {
  return checked(what, async () => {
    const module = device.createShaderModule({ code });
    const info = await module.getCompilationInfo();
    const messages = info.messages.map((m) => `${m.type} ${m.lineNum}:${m.linePos} ${m.message}`);
    assert.deepEqual(messages, [], `${what}: the compiler reported messages`);
    return module;
  });
}

// ---------------------------------------------------------------------------------------------
// Fixture files

const fixtureDir = process.env.ORV_WEBGPU_FIXTURES;
assert.ok(fixtureDir, 'ORV_WEBGPU_FIXTURES must name the directory orv-webgpu-fixtures wrote');

export const manifest = JSON.parse(fs.readFileSync(path.join(fixtureDir, 'manifest.json'), 'utf8'));

export function readText(name) {
  return fs.readFileSync(path.join(fixtureDir, name), 'utf8');
}

// A copy of the file's bytes in a fresh ArrayBuffer (so typed views are aligned).
export function readBytes(name) {
  return new Uint8Array(fs.readFileSync(path.join(fixtureDir, name))).buffer;
}

export const readF64 = (name) => new Float64Array(readBytes(name));
export const readF32 = (name) => new Float32Array(readBytes(name));

export const shader = (name) => readText(`shaders/${name}.wgsl`);

// The structure declarations, as the assembled module begins.
export const declarations = () =>
  [shader('hom_vec4'), shader('pgl4'), shader('geodesic_state')].join('\n');

// ---------------------------------------------------------------------------------------------
// Buffers and dispatch

// A buffer holding `data` (an ArrayBuffer or typed array), usable as storage or uniform and
// copyable both ways.
export function buffer(data, usage = GPUBufferUsage.STORAGE) {
  const bytes = ArrayBuffer.isView(data)
    ? new Uint8Array(data.buffer, data.byteOffset, data.byteLength)
    : new Uint8Array(data);
  const size = Math.max(16, Math.ceil(bytes.byteLength / 16) * 16);
  const b = device.createBuffer({
    size,
    usage: usage | GPUBufferUsage.COPY_SRC | GPUBufferUsage.COPY_DST,
    mappedAtCreation: true,
  });
  new Uint8Array(b.getMappedRange()).set(bytes);
  b.unmap();
  return b;
}

export async function readBack(source, size = source.size) {
  const staging = device.createBuffer({
    size,
    usage: GPUBufferUsage.MAP_READ | GPUBufferUsage.COPY_DST,
  });
  const encoder = device.createCommandEncoder();
  encoder.copyBufferToBuffer(source, 0, staging, 0, size);
  device.queue.submit([encoder.finish()]);
  await staging.mapAsync(GPUMapMode.READ);
  const copy = staging.getMappedRange().slice(0);
  staging.unmap();
  staging.destroy();
  return copy;
}

// The bind group layout of a compute kernel, from its binding table: `types` lists the
// GPUBufferBindingType of bindings 0, 1, …, and `sizes` the minimum binding sizes.
export function computeLayout(types, sizes = []) {
  const entries = types.map((type, binding) => ({
    binding,
    visibility: GPUShaderStage.COMPUTE,
    buffer: { type, minBindingSize: sizes[binding] ?? 0 },
  }));
  return device.createBindGroupLayout({ entries });
}

export function computePipeline(module, entryPoint, layout) {
  return device.createComputePipeline({
    layout: device.createPipelineLayout({ bindGroupLayouts: [layout] }),
    compute: { module, entryPoint },
  });
}

// Dispatches `workgroups` workgroups with bindings [{buffer, size?}] in binding order.
export async function dispatch(pipeline, layout, bindings, workgroups) {
  await checked('dispatch', async () => {
    const bindGroup = device.createBindGroup({
      layout,
      entries: bindings.map((b, binding) => ({
        binding,
        resource: { buffer: b.buffer, offset: 0, size: b.size ?? b.buffer.size },
      })),
    });
    const encoder = device.createCommandEncoder();
    const pass = encoder.beginComputePass();
    pass.setPipeline(pipeline);
    pass.setBindGroup(0, bindGroup);
    pass.dispatchWorkgroups(workgroups);
    pass.end();
    device.queue.submit([encoder.finish()]);
    await device.queue.onSubmittedWorkDone();
  });
}

// A value that no kernel writes; output elements past a guard must keep it.
export const SENTINEL = -1234.5;

// The f64 value of the f32 nearest to x.
export const f32 = Math.fround;

// A small seeded generator (mulberry32) for the inputs this suite makes itself.
export function rng(seed) {
  let a = seed >>> 0;
  const next = () => {
    a = (a + 0x6d2b79f5) >>> 0;
    let t = a;
    t = Math.imul(t ^ (t >>> 15), t | 1);
    t ^= t + Math.imul(t ^ (t >>> 7), t | 61);
    return ((t ^ (t >>> 14)) >>> 0) / 4294967296;
  };
  return { next, uniform: (lo, hi) => lo + (hi - lo) * next() };
}
