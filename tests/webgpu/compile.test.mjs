// Every WGSL text of orv_gpu compiles without a message on a conforming compiler, keeps the
// bindings, entry points and workgroup sizes of the pipeline table, and lays its buffers out as
// the host records are laid out.
import assert from 'node:assert/strict';
import { test } from 'node:test';

import {
  adapter,
  compile,
  checked,
  computeLayout,
  computePipeline,
  declarations,
  device,
  gpu,
  manifest,
  readText,
  shader,
} from './support.mjs';

// Bindings of each compute entry point: buffer binding types in binding order and the byte sizes
// of the host records behind the uniforms (RK4Params, GpuHomVec4, GpuPGL4).
const bindingTable = {
  fs_distance_batch: { types: ['read-only-storage', 'storage', 'uniform'], sizes: [16, 4, 16] },
  pgl_action_batch: { types: ['read-only-storage', 'storage', 'uniform'], sizes: [16, 16, 64] },
  geodesic_rk4_step: { types: ['read-only-storage', 'storage', 'uniform'], sizes: [32, 32, 16] },
  idempotent_newton_step: { types: ['storage'], sizes: [64] },
};

const kernelNames = [
  'fs_distance_batch',
  'pgl_action_batch',
  'geodesic_rk4_step',
  'idempotent_newton',
];

test('the device is a WebGPU adapter', (t) => {
  const info = adapter.info;
  t.diagnostic(`adapter: ${info.vendor} ${info.architecture} ${info.description}`);
  t.diagnostic(`WGSL language features: ${[...gpu.wgslLanguageFeatures].join(', ')}`);
  assert.ok(device);
});

test('the structure declarations compile on their own', async () => {
  await compile('structure declarations', declarations());
});

for (const desc of manifest.pipelines) {
  const name = kernelNames[desc.kind];
  test(`kernel ${name} compiles with the structure declarations and keeps its table entry`, async () => {
    const text = readText(desc.shader);
    assert.equal(text, shader(name), 'the descriptor holds the kernel text itself');
    const module = await compile(name, `${declarations()}\n${text}`);

    const sizes = [...text.matchAll(/@workgroup_size\((\d+)\)/g)].map((m) => Number(m[1]));
    assert.deepEqual(sizes, [desc.workgroup_size]);
    assert.equal(desc.workgroup_size, name === 'idempotent_newton' ? 16 : manifest.workgroup_size);

    // Pipeline creation rejects a binding whose number, type or size differs from the layout.
    const table = bindingTable[desc.entry_point];
    await checked(`${name} pipeline`, () =>
      computePipeline(module, desc.entry_point, computeLayout(table.types, table.sizes)),
    );
  });
}

test('the assembled module compiles and holds all four compute entry points', async () => {
  const text = shader('module');
  const parts = [
    'hom_vec4',
    'pgl4',
    'geodesic_state',
    'fs_distance_batch',
    'pgl_action_batch',
    'geodesic_rk4_step',
    'idempotent_newton',
  ].map(shader);
  assert.equal(text, parts.join('\n'));
  assert.ok(!text.includes('dehomogenize_vertex'));
  const module = await compile('assembled module', text);
  for (const [entryPoint, table] of Object.entries(bindingTable)) {
    await checked(`${entryPoint} from the module`, () =>
      computePipeline(module, entryPoint, computeLayout(table.types, table.sizes)),
    );
  }
});

test('the vertex shader compiles alone and takes float32x4 vertices, a 64-byte mvp and a 16-byte eye', async () => {
  const module = await compile('dehomogenize_vertex', shader('dehomogenize_vertex'));
  const fragment = await compile(
    'test fragment stage',
    `@fragment fn main(@location(0) p: vec3<f32>) -> @location(0) vec4<f32> {
    return vec4<f32>(p, 1.0);
}`,
  );
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
  await checked('vertex pipeline', () =>
    device.createRenderPipeline({
      layout: device.createPipelineLayout({ bindGroupLayouts: [layout] }),
      vertex: {
        module,
        entryPoint: 'dehomogenize_vertex',
        buffers: [
          { arrayStride: 16, attributes: [{ shaderLocation: 0, offset: 0, format: 'float32x4' }] },
          { arrayStride: 16, attributes: [{ shaderLocation: 1, offset: 0, format: 'float32x4' }] },
          { arrayStride: 8, attributes: [{ shaderLocation: 2, offset: 0, format: 'float32x2' }] },
        ],
      },
      fragment: { module: fragment, entryPoint: 'main', targets: [{ format: 'rgba32float' }] },
      primitive: { topology: 'point-list' },
    }),
  );
});

// ---------------------------------------------------------------------------------------------
// Layout without the uniform_buffer_standard_layout language extension. This device relaxes the
// uniform rules, so they are checked here: in the uniform address space an array's element
// stride and the offset of a structure or array member must be multiples of 16.

const scalarSize = { f32: 4, i32: 4, u32: 4 };

function structs(code) {
  const found = {};
  for (const m of code.matchAll(/struct\s+(\w+)\s*\{([^}]*)\}/g)) {
    const body = m[2].replace(/\/\/.*$/gm, '');
    found[m[1]] = body
      .split(',')
      .map((s) => s.trim())
      .filter((s) => s)
      .map((member) => {
        const [, name, type] = member.match(/^(?:@\S+\s+)*(\w+)\s*:\s*(.+)$/);
        return { name, type: type.trim() };
      });
  }
  return found;
}

// {size, align} of a WGSL type under the host-shareable layout rules; records uniform-rule
// violations in `problems`.
function layout(type, defs, uniform, problems, where) {
  let m;
  if (scalarSize[type]) return { size: 4, align: 4 };
  if ((m = type.match(/^vec([234])<(\w+)>$/))) {
    const n = Number(m[1]);
    return { size: 4 * n, align: n === 2 ? 8 : 16 };
  }
  if ((m = type.match(/^mat([234])x([234])<f32>$/))) {
    const column = layout(`vec${m[2]}<f32>`, defs);
    const stride = Math.ceil(column.size / column.align) * column.align;
    return { size: Number(m[1]) * stride, align: column.align };
  }
  if ((m = type.match(/^array<(.+),\s*(\d+)>$/))) {
    const element = layout(m[1].trim(), defs, uniform, problems, where);
    const stride = Math.ceil(element.size / element.align) * element.align;
    if (uniform && stride % 16 !== 0) problems.push(`${where}: array stride ${stride}`);
    return { size: Number(m[2]) * stride, align: uniform ? Math.max(16, element.align) : element.align };
  }
  const members = defs[type];
  assert.ok(members, `unknown type ${type}`);
  let offset = 0;
  let align = 1;
  for (const member of members) {
    const l = layout(member.type, defs, uniform, problems, `${type}.${member.name}`);
    const compound = defs[member.type] || member.type.startsWith('array<');
    const memberAlign = uniform && compound ? Math.max(16, l.align) : l.align;
    offset = Math.ceil(offset / memberAlign) * memberAlign;
    if (uniform && compound && offset % 16 !== 0) problems.push(`${type}.${member.name} offset`);
    offset += l.size;
    align = Math.max(align, memberAlign);
  }
  return { size: Math.ceil(offset / align) * align, align };
}

function bufferVariables(code) {
  return [...code.matchAll(/var<(uniform|storage)[^>]*>\s+(\w+)\s*:\s*([^;]+);/g)].map((m) => ({
    space: m[1],
    name: m[2],
    type: m[3].trim(),
  }));
}

test('uniform and storage buffers keep the host layouts under the strict uniform rules', () => {
  // Byte size of each buffer's (element) type: the host record it is filled from.
  const expected = {
    positions: 16, // array<HomVec4>: GpuHomVec4
    distances: 4,
    reference: 16,
    input_points: 16,
    output_points: 16,
    transform: 64, // GpuPGL4
    states_in: 32, // GpuGeodesicState
    states_out: 32,
    params: 16, // RK4Params
    matrices: 4,
    mvp: 64, // GpuPGL4
    eye: 16, // GpuHomVec4
  };
  const seen = [];
  for (const name of [...kernelNames, 'dehomogenize_vertex']) {
    const code = name === 'dehomogenize_vertex' ? shader(name) : `${declarations()}\n${shader(name)}`;
    const defs = structs(code);
    for (const v of bufferVariables(code)) {
      const problems = [];
      const runtime = v.type.match(/^array<(\w+)>$/);
      const type = runtime ? runtime[1] : v.type;
      const { size } = layout(type, defs, v.space === 'uniform', problems, `${name}: ${v.name}`);
      assert.deepEqual(problems, [], `${name}: ${v.name} breaks the uniform layout rules`);
      assert.equal(size, expected[v.name], `${name}: ${v.name} has ${size} bytes`);
      seen.push(v.name);
    }
  }
  assert.deepEqual(seen.sort(), Object.keys(expected).sort());

  // The checker itself: the 16-float array that the uniform rules forbid is caught.
  const problems = [];
  layout('PGL4', { PGL4: [{ name: 'data', type: 'array<f32, 16>' }] }, true, problems, 'PGL4');
  assert.deepEqual(problems, ['PGL4.data: array stride 4']);
});
