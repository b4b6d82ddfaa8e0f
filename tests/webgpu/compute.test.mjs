// The four compute kernels run on the device and agree with f64 references: the CPU reference
// batches of orv_gpu for fs_distance_batch and pgl_action_batch, and references computed here for
// geodesic_rk4_step and idempotent_newton_step. Every output buffer is longer than the input and
// more invocations run than there are elements, so a guard that lets one element too many through
// overwrites a sentinel (WebGPU's bounds clamping would otherwise hide it).
import assert from 'node:assert/strict';
import { test } from 'node:test';

import {
  SENTINEL,
  buffer,
  compile,
  computeLayout,
  computePipeline,
  declarations,
  dispatch,
  f32,
  manifest,
  readBack,
  readBytes,
  readF64,
  readText,
  rng,
  u,
} from './support.mjs';

async function kernel(kind, types) {
  const desc = manifest.pipelines[kind];
  const module = await compile(desc.entry_point, `${declarations()}\n${readText(desc.shader)}`);
  const layout = computeLayout(types);
  return { desc, layout, pipeline: computePipeline(module, desc.entry_point, layout) };
}

// Enough workgroups for `count` invocations, and one more.
const workgroupsFor = (count, desc) => Math.ceil(count / desc.workgroup_size) + 1;

// `count` floats or a few more (buffers are whole 16-byte units), all SENTINEL.
function sentinels(count) {
  return new Float32Array(Math.ceil(count / 4) * 4).fill(SENTINEL);
}

function assertSentinels(values, from, what) {
  for (let i = from; i < values.length; ++i) {
    assert.equal(values[i], SENTINEL, `${what}: float ${i} past the end was written`);
  }
}

const N = manifest.points;
const pointsGpu = readBytes('points.gpu');
const points = readF64('points.f64');
const norm4 = (v, i) => Math.hypot(v[4 * i], v[4 * i + 1], v[4 * i + 2], v[4 * i + 3]);

// ---------------------------------------------------------------------------------------------
// fs_distance_batch
//
// Tolerance. The device computes the cosine ratio c from the rounded inputs with a 4-term dot
// product (error ≤ γ₄·|p||q| ≈ 4u·|p||q| by Cauchy–Schwarz), two norms (sums of squares γ₄, sqrt
// inherited from 1/inverseSqrt: 2 + 2.5 ULP ≤ 9u), their product (u) and a division (2.5 ULP ≤
// 5u): relative error ≤ 4u + 2·(2u + 9u) + u + 5u = 32u. Rounding the inputs to f32 moves each
// line by an angle ≤ u, so c by ≤ 2u. With margin the f32 cosine lies within δ = 48u of the f64
// one, and since acos is monotonic the distance within [acos(c + δ), acos(c − δ)], a window that
// widens to acos(1 − δ) ≈ 2.8e-3 near c = 1, where f32 cannot tell smaller angles apart. On top
// comes the error of acos itself: WGSL lets it inherit atan2's 4096 ULP (SwiftShader's
// polynomial is off by up to 6.8e-5, about 570 ULP at π/2).

const cosineError = 48 * u;
const acosError = (theta) => 4096 * 2 ** (Math.floor(Math.log2(Math.max(theta, 2 ** -126))) - 23);

function distanceWindow(expected) {
  const c = Math.cos(expected);
  return [
    Math.acos(Math.min(1, c + cosineError)) - acosError(expected),
    Math.acos(Math.max(0, c - cosineError)) + acosError(expected),
  ];
}

test('fs_distance_batch agrees with cpuFSDistanceBatch and keeps the guard', async (t) => {
  const { desc, layout, pipeline } = await kernel(0, ['read-only-storage', 'storage', 'uniform']);
  const references = readF64('references.f64');
  const referencesGpu = readBytes('references.gpu');
  const expectedAll = readF64('fs_distance.f64');
  const positions = buffer(pointsGpu);
  let zeroCases = 0;
  let antipodes = 0;
  let orthogonal = 0;
  let worst = 0;

  for (let r = 0; r < manifest.references; ++r) {
    const distances = buffer(sentinels(N + 3 * desc.workgroup_size));
    const reference = buffer(referencesGpu.slice(16 * r, 16 * r + 16), GPUBufferUsage.UNIFORM);
    await dispatch(
      pipeline,
      layout,
      [{ buffer: positions, size: 16 * N }, { buffer: distances }, { buffer: reference }],
      workgroupsFor(N, desc),
    );
    const got = new Float32Array(await readBack(distances));
    const expected = expectedAll.subarray(r * N, (r + 1) * N);
    const referenceNorm = norm4(references, r);
    for (let i = 0; i < N; ++i) {
      const what = `reference ${r}, point ${i}: device ${got[i]}, CPU ${expected[i]}`;
      if (norm4(points, i) < 1e-15 || referenceNorm < 1e-15) {
        // Below the zero threshold in f64 and (far enough from it) in f32: exactly 0.
        assert.equal(got[i], 0, what);
        ++zeroCases;
        continue;
      }
      const [lo, hi] = distanceWindow(expected[i]);
      assert.ok(got[i] >= lo && got[i] <= hi, `${what}, outside [${lo}, ${hi}]`);
      worst = Math.max(worst, Math.abs(got[i] - expected[i]) / (hi - lo));
      if (expected[i] === 0) ++antipodes;
      if (Math.abs(expected[i] - Math.PI / 2) < 1e-12) ++orthogonal;
    }
    assertSentinels(got, N, `reference ${r}`);
  }
  assert.ok(zeroCases > N && antipodes > 5 && orthogonal > 5, 'the inputs cover the edge cases');
  t.diagnostic(`largest deviation from the CPU: ${worst.toFixed(3)} of the window's width`);
});

// ---------------------------------------------------------------------------------------------
// pgl_action_batch
//
// Tolerance. Each output coordinate is a 4-term sum of products of rounded inputs: rounding m and
// p costs 2u per product, the product u, the three additions γ₃ of Σ|m·p|; 8u·Σ_c |m_rc·p_c| bounds
// it with margin (also when the device fuses multiply-adds).

test('pgl_action_batch agrees with cpuPGLActionBatch and keeps the guard', async () => {
  const { desc, layout, pipeline } = await kernel(1, ['read-only-storage', 'storage', 'uniform']);
  const transforms = readF64('transforms.f64');
  const transformsGpu = readBytes('transforms.gpu');
  const expectedAll = readF64('pgl_action.f64');
  const input = buffer(pointsGpu);
  for (let t = 0; t < manifest.transforms; ++t) {
    const m = transforms.subarray(16 * t, 16 * t + 16);
    const output = buffer(sentinels(4 * (N + 3 * desc.workgroup_size)));
    const transform = buffer(transformsGpu.slice(64 * t, 64 * t + 64), GPUBufferUsage.UNIFORM);
    await dispatch(
      pipeline,
      layout,
      [{ buffer: input, size: 16 * N }, { buffer: output }, { buffer: transform }],
      workgroupsFor(N, desc),
    );
    const got = new Float32Array(await readBack(output));
    for (let i = 0; i < N; ++i) {
      for (let row = 0; row < 4; ++row) {
        let scale = 0;
        for (let c = 0; c < 4; ++c) scale += Math.abs(m[4 * c + row] * points[4 * i + c]);
        const e = expectedAll[4 * (t * N + i) + row];
        const g = got[4 * i + row];
        assert.ok(
          Math.abs(g - e) <= 8 * u * scale,
          `transform ${t}, point ${i}, row ${row}: device ${g}, CPU ${e}`,
        );
      }
    }
    assertSentinels(got, 4 * N, `transform ${t}`);
  }
});

// ---------------------------------------------------------------------------------------------
// geodesic_rk4_step

// The right-hand side q′ = v, v′ = −|v|²·q on [q, v] as arrays of four numbers.
function rhs([q, v]) {
  const k = v[0] * v[0] + v[1] * v[1] + v[2] * v[2] + v[3] * v[3];
  return [v, q.map((x) => -k * x)];
}
const axpy = ([q, v], c, [dq, dv]) => [q.map((x, i) => x + c * dq[i]), v.map((x, i) => x + c * dv[i])];

// One classical RK4 step in f64.
function rk4(y, h) {
  const k1 = rhs(y);
  const k2 = rhs(axpy(y, h / 2, k1));
  const k3 = rhs(axpy(y, h / 2, k2));
  const k4 = rhs(axpy(y, h, k3));
  const step = (part, i) => (k1[part][i] + 2 * k2[part][i] + 2 * k3[part][i] + k4[part][i]) / 6;
  return [y[0].map((x, i) => x + h * step(0, i)), y[1].map((x, i) => x + h * step(1, i))];
}

// The exact motion from (q, v) with |q| = 1 and q·v = 0: the great circle at speed |v|.
function greatCircle([q, v], h) {
  const w = Math.hypot(...v);
  if (w === 0) return [q, v];
  const c = Math.cos(w * h);
  const s = Math.sin(w * h);
  return [q.map((x, i) => c * x + (s / w) * v[i]), v.map((x, i) => -w * s * q[i] + c * x)];
}

function makeStates(count) {
  const random = rng(20240611);
  const states = [];
  const unit = (a) => a.map((x) => x / Math.hypot(...a));
  const gauss = () => [0, 0, 0, 0].map(() => random.uniform(-1, 1));
  states.push([[0, 0, 0, 1], [0, 0, -2, 0]]); // the default camera moving forward
  states.push([[1, 0, 0, 0], [0, 0, 0, 0]]); // at rest
  states.push([[0.6, 0, 0, 0.8], [0, 3, 0, 0]]);
  while (states.length < count) {
    const q = unit(gauss());
    let v = gauss();
    const d = v.reduce((s, x, i) => s + x * q[i], 0);
    v = unit(v.map((x, i) => x - d * q[i]));
    const speed = random.uniform(0.05, 4);
    states.push([q, v.map((x) => x * speed)]);
  }
  // What the device receives.
  return states.map(([q, v]) => [q.map(f32), v.map(f32)]);
}

test('geodesic_rk4_step agrees with an f64 RK4 step and with the great circle', async () => {
  const { desc, layout, pipeline } = await kernel(2, ['read-only-storage', 'storage', 'uniform']);
  const count = 1000;
  const states = makeStates(count);
  const input = buffer(new Float32Array(states.flatMap(([q, v]) => [...q, ...v])));
  for (const dt of [1e-3, 0.016, 0.05]) {
    const h = f32(dt);
    const output = buffer(sentinels(8 * (count + 3 * desc.workgroup_size)));
    const params = buffer(new Float32Array([h, 0, 0, 0]), GPUBufferUsage.UNIFORM);
    await dispatch(
      pipeline,
      layout,
      [{ buffer: input, size: 32 * count }, { buffer: output }, { buffer: params }],
      workgroupsFor(count, desc),
    );
    const got = new Float32Array(await readBack(output));
    for (let i = 0; i < count; ++i) {
      const y = states[i];
      const reference = rk4(y, h);
      const exact = greatCircle(y, h);
      const speed = Math.hypot(...y[1]);
      // f32 error: every stage value is a few correctly rounded operations on quantities bounded
      // by |q| + |v| (positions, velocities) or |v|²·(|q| + |v|) (accelerations), and stage
      // errors reach the result multiplied by h; 16u per unit of those magnitudes covers the
      // operation count.
      const magnitude = h * (1 + speed * speed) * (1 + speed);
      // RK4's local error is of fifth order in the angle |v|·h. For this system (on which O(4)
      // acts, so every state with the same speed behaves alike) f64 steps show a leading
      // coefficient of 0.0123·(|v|h)⁵ for |Δq| and 0.071·|v|·(|v|h)⁵ for |Δv| (up to |v|h = 0.4);
      // twice that is allowed.
      const angle5 = (speed * h) ** 5;
      const truncation = [angle5 / 40, (speed * angle5) / 7];
      for (let part = 0; part < 2; ++part) {
        for (let c = 0; c < 4; ++c) {
          const g = got[8 * i + 4 * part + c];
          const e = reference[part][c];
          const what = `dt ${dt}, state ${i}, ${'qv'[part]}[${c}]: device ${g}`;
          const f32Error = 16 * u * (Math.abs(y[part][c]) + Math.abs(e - y[part][c]) + magnitude);
          assert.ok(Math.abs(g - e) <= f32Error, `${what}, f64 RK4 ${e}`);
          const x = exact[part][c];
          // (2⁻⁴⁰ covers the f64 rounding of both.)
          const f64Error = 2 ** -40 * (1 + speed);
          assert.ok(Math.abs(e - x) <= truncation[part] + f64Error, `f64 RK4 ${e}, exact ${x}`);
          assert.ok(Math.abs(g - x) <= truncation[part] + f32Error, `${what}, great circle ${x}`);
        }
      }
    }
    // The state at rest does not move.
    assert.deepEqual([...got.subarray(8, 16)], [1, 0, 0, 0, 0, 0, 0, 0]);
    assertSentinels(got, 8 * count, `dt ${dt}`);
  }
});

// ---------------------------------------------------------------------------------------------
// idempotent_newton_step

function matrixCases(count) {
  const random = rng(777);
  const diag = (d) => [0, 1, 2, 3].flatMap((c) => [0, 1, 2, 3].map((r) => (r === c ? d[r] : 0)));
  const cases = [
    diag([1, 1, 1, 1]),
    diag([1, 0, 1, 0]),
    diag([0, 0, 0, 1]),
    diag([0, 0, 0, 0]),
    diag([0.5, 0.5, 0.5, 0.5]),
  ];
  while (cases.length < count) {
    const noise = cases.length % 2 === 0 ? 1e-3 : 1;
    // A rank-2 projector A·diag(1, 1, 0, 0)·A⁻¹ with A = I + small, plus noise; or noise alone.
    const m = diag([1, 1, 0, 0]).map((x) => x + random.uniform(-noise, noise));
    cases.push(m);
  }
  return cases.map((m) => m.map(f32));
}

const at = (m, r, c) => m[4 * c + r];
function product(a, b) {
  const out = new Array(16).fill(0);
  for (let c = 0; c < 4; ++c) {
    for (let r = 0; r < 4; ++r) {
      for (let k = 0; k < 4; ++k) out[4 * c + r] += at(a, r, k) * at(b, k, c);
    }
  }
  return out;
}

test('idempotent_newton_step computes 3P² − 2P³ and leaves a partial matrix alone', async () => {
  const { desc, layout, pipeline } = await kernel(3, ['storage']);
  const count = 37;
  const matrices = matrixCases(count);
  for (const trailing of [0, 1, 7, 15]) {
    const floats = 16 * count + trailing;
    const data = sentinels(floats + 64);
    matrices.forEach((m, i) => data.set(m, 16 * i));
    for (let i = 0; i < trailing; ++i) data[16 * count + i] = f32(0.25 + i);
    const storage = buffer(data);
    // One workgroup more than needed, so invocations past the last matrix run.
    await dispatch(pipeline, layout, [{ buffer: storage, size: 4 * floats }], workgroupsFor(count + 1, desc));
    const got = new Float32Array(await readBack(storage));

    matrices.forEach((p, i) => {
      const p2 = product(p, p);
      const p3 = product(p2, p);
      const abs = p.map(Math.abs);
      const abs2 = product(abs, abs);
      const abs3 = product(abs2, abs);
      for (let n = 0; n < 16; ++n) {
        const e = 3 * p2[n] - 2 * p3[n];
        const g = got[16 * i + n];
        // Two 4-term matrix products (γ₄ each, the second also carrying the first's error), the
        // scalings and the difference: 12u·(3·(|P|²) + 2·(|P|³)) bounds the f32 error.
        const tol = 12 * u * (3 * abs2[n] + 2 * abs3[n]);
        assert.ok(Math.abs(g - e) <= tol, `trailing ${trailing}, matrix ${i}[${n}]: ${g} vs ${e}`);
      }
    });
    // Idempotent inputs and ½·I are fixed points, computed exactly.
    for (let i = 0; i < 5; ++i) {
      assert.deepEqual([...got.subarray(16 * i, 16 * i + 16)], matrices[i], `matrix ${i}`);
    }
    for (let i = 0; i < trailing; ++i) {
      assert.equal(got[16 * count + i], f32(0.25 + i), `trailing float ${i} was changed`);
    }
    assertSentinels(got, floats, `trailing ${trailing}`);
  }
});
