@group(0) @binding(0) var<storage, read> positions: array<HomVec4>;
@group(0) @binding(1) var<storage, read_write> distances: array<f32>;
@group(0) @binding(2) var<uniform> reference: HomVec4;

fn hom_dot(a: HomVec4, b: HomVec4) -> f32 {
    return a.x * b.x + a.y * b.y + a.z * b.z + a.w * b.w;
}

fn hom_norm(v: HomVec4) -> f32 {
    return sqrt(hom_dot(v, v));
}

// Fubini-Study distance from every point to the reference point, in radians within [0, pi/2].
@compute @workgroup_size(64)
fn fs_distance_batch(@builtin(global_invocation_id) id: vec3<u32>) {
    let i = id.x;
    if (i >= arrayLength(&positions)) {
        return;
    }
    let p = positions[i];
    let q = reference;
    let norm_p = hom_norm(p);
    let norm_q = hom_norm(q);
    if (norm_p < 1e-15 || norm_q < 1e-15) {
        distances[i] = 0.0;
        return;
    }
    let cos_theta = clamp(abs(hom_dot(p, q)) / (norm_p * norm_q), 0.0, 1.0);
    distances[i] = acos(cos_theta);
}
