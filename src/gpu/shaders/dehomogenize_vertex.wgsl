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

// Model-view-projection, column-major: mvp[c][r] is element (r, c). It maps a world point q to
// the camera's projective coordinates: the projection of c = W q with c.w as the homogeneous one.
@group(0) @binding(0) var<uniform> mvp: mat4x4<f32>;
// The camera's position on S^3, the last row of W: eye . q = c.w.
@group(0) @binding(1) var<uniform> eye: vec4<f32>;

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
    // The clip position comes from the point itself, not from a chart. q and -q are one point,
    // met twice along a line of sight: the copy drawn is the one with c.w >= 0, reached from the
    // eye by the shorter arc, so a point more than pi/2 away is seen behind, through its nearer
    // copy.
    let q = input.position;
    let c_w = eye.x * q.x + eye.y * q.y + eye.z * q.z + eye.w * q.w;
    var p = q;
    if (c_w < 0.0) {
        p = -q;
    }
    out.clip_position = vec4<f32>(
        mvp[0][0] * p.x + mvp[1][0] * p.y + mvp[2][0] * p.z + mvp[3][0] * p.w,
        mvp[0][1] * p.x + mvp[1][1] * p.y + mvp[2][1] * p.z + mvp[3][1] * p.w,
        mvp[0][2] * p.x + mvp[1][2] * p.y + mvp[2][2] * p.z + mvp[3][2] * p.w,
        mvp[0][3] * p.x + mvp[1][3] * p.y + mvp[2][3] * p.z + mvp[3][3] * p.w
    );
    out.card_index = 0.0;
    return out;
}
