// Column-major: data[c][r] is element (r, c), at float index c * 4 + r.
struct PGL4 {
    data: mat4x4<f32>,
}
