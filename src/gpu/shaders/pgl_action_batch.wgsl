@group(0) @binding(0) var<storage, read> input_points: array<HomVec4>;
@group(0) @binding(1) var<storage, read_write> output_points: array<HomVec4>;
@group(0) @binding(2) var<uniform> transform: PGL4;

// M * p for every point, not normalised: row r takes m[0][r], m[1][r], m[2][r], m[3][r].
@compute @workgroup_size(64)
fn pgl_action_batch(@builtin(global_invocation_id) id: vec3<u32>) {
    let i = id.x;
    if (i >= arrayLength(&input_points)) {
        return;
    }
    let p = input_points[i];
    let m = transform.data;
    output_points[i] = HomVec4(
        m[0][0] * p.x + m[1][0] * p.y + m[2][0] * p.z + m[3][0] * p.w,
        m[0][1] * p.x + m[1][1] * p.y + m[2][1] * p.z + m[3][1] * p.w,
        m[0][2] * p.x + m[1][2] * p.y + m[2][2] * p.z + m[3][2] * p.w,
        m[0][3] * p.x + m[1][3] * p.y + m[2][3] * p.z + m[3][3] * p.w
    );
}
