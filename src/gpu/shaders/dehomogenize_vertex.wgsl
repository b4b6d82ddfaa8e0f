struct VertexInput {
    @location(0) position: vec4<f32>,
    @location(1) normal: vec4<f32>,
    @location(2) uv: vec2<f32>,
}

struct VertexOutput {
    @builtin(position) clip_position: vec4<f32>,
    @location(0) world_position: vec3<f32>,
    @location(1) world_normal: vec3<f32>,
    @location(2) uv: vec2<f32>,
    @location(3) card_index: f32,
}

// Model-view-projection, column-major: mvp[c][r] is element (r, c).
@group(0) @binding(0) var<uniform> mvp: mat4x4<f32>;

fn abs_f(x: f32) -> f32 {
    if (x >= 0.0) {
        return x;
    }
    return -x;
}

// Cartesian coordinates through the chart of the largest |coordinate|, ties going in the order
// w, x, y, z; the three other coordinates keep their order x, y, z, w and are divided by it.
fn dehomogenize(p: vec4<f32>) -> vec3<f32> {
    let ax = abs_f(p.x);
    let ay = abs_f(p.y);
    let az = abs_f(p.z);
    let aw = abs_f(p.w);
    if (aw >= ax && aw >= ay && aw >= az) {
        return vec3<f32>(p.x / p.w, p.y / p.w, p.z / p.w);
    }
    if (ax >= ay && ax >= az) {
        return vec3<f32>(p.y / p.x, p.z / p.x, p.w / p.x);
    }
    if (ay >= az) {
        return vec3<f32>(p.x / p.y, p.z / p.y, p.w / p.y);
    }
    return vec3<f32>(p.x / p.z, p.y / p.z, p.w / p.z);
}

@vertex
fn dehomogenize_vertex(input: VertexInput) -> VertexOutput {
    var out: VertexOutput;
    let pos3 = dehomogenize(input.position);
    out.world_position = pos3;
    out.world_normal = dehomogenize(input.normal);
    out.uv = input.uv;
    let p4 = vec4<f32>(pos3.x, pos3.y, pos3.z, 1.0);
    out.clip_position = vec4<f32>(
        mvp[0][0] * p4.x + mvp[1][0] * p4.y + mvp[2][0] * p4.z + mvp[3][0] * p4.w,
        mvp[0][1] * p4.x + mvp[1][1] * p4.y + mvp[2][1] * p4.z + mvp[3][1] * p4.w,
        mvp[0][2] * p4.x + mvp[1][2] * p4.y + mvp[2][2] * p4.z + mvp[3][2] * p4.w,
        mvp[0][3] * p4.x + mvp[1][3] * p4.y + mvp[2][3] * p4.z + mvp[3][3] * p4.w
    );
    out.card_index = 0.0;
    return out;
}
