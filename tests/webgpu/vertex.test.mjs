// dehomogenize_vertex drawn as points into rgba32float targets. A test fragment stage writes the
// vertex outputs into the pixel each point lands on; orv-webgpu-fixtures built every position so
// that, under the fixture's mvp and eye, it lands on the centre of its own pixel. World positions
// and normals are compared with the CPU's dehomogenisation through pickBestCard's chart, clip
// positions with mvp·(s·q), s = ±1 making eye·(s·q) ≥ 0: x/w and y/w through the pixel hit (half a
// pixel is 1/128 in NDC), z/w and w through the fragment's position (depth and 1/w).
import assert from 'node:assert/strict';
import { test } from 'node:test';

import {
  SENTINEL,
  buffer,
  checked,
  compile,
  device,
  manifest,
  readBack,
  readBytes,
  readF32,
  readF64,
  shader,
  u,
} from './support.mjs';

const size = manifest.target_size;
const count = manifest.vertices;

const fragmentCode = `struct Varyings {
    @builtin(position) frag: vec4<f32>,
    @location(0) world_position: vec3<f32>,
    @location(1) world_normal: vec3<f32>,
    @location(2) uv: vec2<f32>,
    @location(3) card_index: f32,
}

struct World {
    @location(0) position: vec4<f32>,
    @location(1) normal: vec4<f32>,
}

@fragment
fn world(v: Varyings) -> World {
    return World(vec4<f32>(v.world_position, v.card_index), vec4<f32>(v.world_normal, 1.0));
}

@fragment
fn clip(v: Varyings) -> @location(0) vec4<f32> {
    return vec4<f32>(v.uv, v.frag.z, v.frag.w);
}`;

// Draws every vertex as a point with the fragment entry point `entry` into `targets` fresh
// rgba32float textures cleared to SENTINEL, and returns their texels.
async function draw(vertexModule, fragmentModule, entry, targets) {
  return checked(`draw ${entry}`, async () => {
    const layout = device.createBindGroupLayout({
      entries: [
        {
          binding: 0,
          visibility: GPUShaderStage.VERTEX,
          buffer: { type: 'uniform', minBindingSize: 64 },
        },
        {
          binding: 1,
          visibility: GPUShaderStage.VERTEX,
          buffer: { type: 'uniform', minBindingSize: 16 },
        },
      ],
    });
    const pipeline = device.createRenderPipeline({
      layout: device.createPipelineLayout({ bindGroupLayouts: [layout] }),
      vertex: {
        module: vertexModule,
        entryPoint: 'dehomogenize_vertex',
        buffers: [
          { arrayStride: 16, attributes: [{ shaderLocation: 0, offset: 0, format: 'float32x4' }] },
          { arrayStride: 16, attributes: [{ shaderLocation: 1, offset: 0, format: 'float32x4' }] },
          { arrayStride: 8, attributes: [{ shaderLocation: 2, offset: 0, format: 'float32x2' }] },
        ],
      },
      fragment: {
        module: fragmentModule,
        entryPoint: entry,
        targets: Array.from({ length: targets }, () => ({ format: 'rgba32float' })),
      },
      primitive: { topology: 'point-list' },
    });
    const textures = Array.from({ length: targets }, () =>
      device.createTexture({
        size: [size, size],
        format: 'rgba32float',
        usage: GPUTextureUsage.RENDER_ATTACHMENT | GPUTextureUsage.COPY_SRC,
      }),
    );
    const mvp = buffer(readBytes('mvp.gpu'), GPUBufferUsage.UNIFORM);
    const eye = buffer(readBytes('eye.gpu'), GPUBufferUsage.UNIFORM);
    const vertexBuffers = [
      buffer(readBytes('vertex_positions.gpu'), GPUBufferUsage.VERTEX),
      buffer(readBytes('vertex_normals.gpu'), GPUBufferUsage.VERTEX),
      buffer(readBytes('vertex_uvs.f32'), GPUBufferUsage.VERTEX),
    ];
    const encoder = device.createCommandEncoder();
    const pass = encoder.beginRenderPass({
      colorAttachments: textures.map((texture) => ({
        view: texture.createView(),
        clearValue: { r: SENTINEL, g: SENTINEL, b: SENTINEL, a: SENTINEL },
        loadOp: 'clear',
        storeOp: 'store',
      })),
    });
    pass.setPipeline(pipeline);
    pass.setBindGroup(
      0,
      device.createBindGroup({
        layout,
        entries: [
          { binding: 0, resource: { buffer: mvp } },
          { binding: 1, resource: { buffer: eye } },
        ],
      }),
    );
    vertexBuffers.forEach((b, slot) => pass.setVertexBuffer(slot, b));
    pass.draw(count);
    pass.end();
    const bytesPerRow = size * 16;
    const readbacks = textures.map((texture) => {
      const b = device.createBuffer({
        size: bytesPerRow * size,
        usage: GPUBufferUsage.COPY_SRC | GPUBufferUsage.COPY_DST,
      });
      encoder.copyTextureToBuffer({ texture }, { buffer: b, bytesPerRow }, [size, size]);
      return b;
    });
    device.queue.submit([encoder.finish()]);
    return Promise.all(readbacks.map(async (b) => new Float32Array(await readBack(b))));
  });
}

const texel = (image, px, py) => image.subarray(4 * (py * size + px), 4 * (py * size + px) + 4);

function written(image) {
  let n = 0;
  for (let i = 0; i < size * size; ++i) if (image[4 * i + 3] !== SENTINEL) ++n;
  return n;
}

// Varyings reach the fragment stage through perspective-correct interpolation, which even for
// a point (one vertex) multiplies by w and 1/w: a few u of relative error. 4u·|e| is allowed.
const varyingTolerance = (e) => 4 * u * Math.abs(e);
// The device divides f32 by f32 within 2.5 ULP ≤ 5u relative, then the varying is interpolated.
const quotientTolerance = (e) => 5 * u * Math.abs(e) + varyingTolerance(e);

test('dehomogenize_vertex: world positions, normals, uv and card index', async () => {
  const vertexModule = await compile('dehomogenize_vertex', shader('dehomogenize_vertex'));
  const fragmentModule = await compile('test fragment stage', fragmentCode);
  const [positions, normals] = await draw(vertexModule, fragmentModule, 'world', 2);
  const expected = readF64('vertex_expected.f64');
  assert.equal(written(positions), count, 'every point is drawn on a pixel of its own');

  const charts = [new Set(), new Set()];
  for (let i = 0; i < count; ++i) {
    const e = expected.subarray(11 * i, 11 * i + 11);
    const [px, py] = [e[8], e[9]];
    const p = texel(positions, px, py);
    const n = texel(normals, px, py);
    assert.notEqual(p[3], SENTINEL, `vertex ${i} was not drawn on pixel (${px}, ${py})`);
    for (let c = 0; c < 3; ++c) {
      const what = `vertex ${i}, chart ${e[0]}/${e[4]}, coordinate ${c}`;
      assert.ok(Math.abs(p[c] - e[1 + c]) <= quotientTolerance(e[1 + c]), `${what}: ${p[c]} vs ${e[1 + c]}`);
      assert.ok(Math.abs(n[c] - e[5 + c]) <= quotientTolerance(e[5 + c]), `${what}: normal ${n[c]} vs ${e[5 + c]}`);
    }
    assert.equal(p[3], 0, 'card_index is 0');
    charts[0].add(e[0]);
    charts[1].add(e[4]);
  }
  assert.deepEqual([...charts[0]].sort(), [0, 1, 2, 3], 'positions in every chart');
  assert.deepEqual([...charts[1]].sort(), [0, 1, 2, 3], 'normals in every chart');
});

test('dehomogenize_vertex: clip positions are mvp times the copy of the point nearer the eye', async () => {
  const vertexModule = await compile('dehomogenize_vertex', shader('dehomogenize_vertex'));
  const fragmentModule = await compile('test fragment stage', fragmentCode);
  const [image] = await draw(vertexModule, fragmentModule, 'clip', 1);
  const expected = readF64('vertex_expected.f64');
  const uvs = readF32('vertex_uvs.f32');
  const m = Array.from(readF32('mvp.gpu')); // what the device multiplies by, column-major
  const positions = readF32('vertex_positions.gpu');
  assert.equal(written(image), count);
  const signs = new Set();

  for (let i = 0; i < count; ++i) {
    const e = expected.subarray(11 * i, 11 * i + 11);
    const [px, py] = [e[8], e[9]];
    const p4 = Array.from(positions.subarray(4 * i, 4 * i + 4), (x) => e[10] * x);
    signs.add(e[10]);
    const clip = [0, 1, 2, 3].map((r) => p4.reduce((s, x, c) => s + m[4 * c + r] * x, 0));
    // f32 error of a row: the 4-term sum (γ₄ ≤ 4.0001u), relative to Σ|m·p|.
    const clipError = [0, 1, 2, 3].map(
      (r) => 5 * u * p4.reduce((s, x, c) => s + Math.abs(m[4 * c + r] * x), 0),
    );
    const [x, y, z, w] = clip;
    const what = `vertex ${i} at pixel (${px}, ${py})`;

    // The pixel is the one whose centre the fixture aimed at: x/w and y/w within half a pixel.
    const ndc = [((px + 0.5) / size) * 2 - 1, 1 - ((py + 0.5) / size) * 2];
    assert.ok(Math.abs(x / w - ndc[0]) < 1e-4 / size && Math.abs(y / w - ndc[1]) < 1e-4 / size);

    const t = texel(image, px, py);
    for (let c = 0; c < 2; ++c) {
      const uv = uvs[2 * i + c];
      assert.ok(Math.abs(t[c] - uv) <= varyingTolerance(uv), `${what}: uv ${t[c]} vs ${uv}`);
    }
    // Depth z/w and 1/w, each with the propagated clip error and a few u for the fixed function.
    const depthError = (clipError[2] + Math.abs(z / w) * clipError[3]) / w + 8 * u;
    assert.ok(Math.abs(t[2] - z / w) <= depthError, `${what}: depth ${t[2]} vs ${z / w}`);
    const inverseWError = clipError[3] / (w * w) + (8 * u) / w;
    assert.ok(Math.abs(t[3] - 1 / w) <= inverseWError, `${what}: 1/w ${t[3]} vs ${1 / w}`);
  }
  assert.deepEqual([...signs].sort(), [-1, 1], 'points arrive as either copy');
});
