@group(0) @binding(0) var<storage, read_write> matrices: array<f32>;

// Element (row i, column j) of a * b for column-major 4x4 matrices, summed over k in order.
fn mat_mul_get(a: array<f32, 16>, b: array<f32, 16>, i: u32, j: u32) -> f32 {
    var sum: f32 = 0.0;
    for (var k = 0u; k < 4u; k = k + 1u) {
        sum = sum + a[k * 4u + i] * b[j * 4u + k];
    }
    return sum;
}

// P <- 3 P^2 - 2 P^2 P for every complete matrix of 16 floats; a trailing partial one is skipped.
@compute @workgroup_size(16)
fn idempotent_newton_step(@builtin(global_invocation_id) id: vec3<u32>) {
    let mat_idx = id.x;
    let base = mat_idx * 16u;
    if (base + 15u >= arrayLength(&matrices)) {
        return;
    }
    var p: array<f32, 16>;
    for (var n = 0u; n < 16u; n = n + 1u) {
        p[n] = matrices[base + n];
    }
    var p2: array<f32, 16>;
    for (var i = 0u; i < 4u; i = i + 1u) {
        for (var j = 0u; j < 4u; j = j + 1u) {
            p2[j * 4u + i] = mat_mul_get(p, p, i, j);
        }
    }
    var pcube: array<f32, 16>;
    for (var i = 0u; i < 4u; i = i + 1u) {
        for (var j = 0u; j < 4u; j = j + 1u) {
            pcube[j * 4u + i] = mat_mul_get(p2, p, i, j);
        }
    }
    for (var n = 0u; n < 16u; n = n + 1u) {
        matrices[base + n] = 3.0 * p2[n] - 2.0 * pcube[n];
    }
}
