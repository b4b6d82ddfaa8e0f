// After a step of geodesic_rk4_step: puts each state back onto S^3, its velocity back into the
// tangent space with the particle's own speed (f32 rounding would otherwise drift), and writes its
// position for the distance kernel and the draw. Uses the GeodesicState declaration.
@group(0) @binding(0) var<storage, read> stepped: array<GeodesicState>;
@group(0) @binding(1) var<storage, read_write> states: array<GeodesicState>;
@group(0) @binding(2) var<storage, read_write> positions: array<vec4<f32>>;
@group(0) @binding(3) var<storage, read> speeds: array<f32>;

@compute @workgroup_size(64)
fn geodesic_project(@builtin(global_invocation_id) id: vec3<u32>) {
    let i = id.x;
    if (i >= arrayLength(&stepped)) {
        return;
    }
    let s = stepped[i];
    var q = vec4<f32>(s.qx, s.qy, s.qz, s.qw);
    var v = vec4<f32>(s.vx, s.vy, s.vz, s.vw);
    let q_len = length(q);
    if (q_len > 0.0) {
        q = q / q_len;
        v = v - dot(q, v) * q;
        let v_len = length(v);
        if (v_len > 0.0) {
            v = v / v_len * speeds[i];
        }
    }
    states[i] = GeodesicState(q.x, q.y, q.z, q.w, v.x, v.y, v.z, v.w);
    positions[i] = q;
}
