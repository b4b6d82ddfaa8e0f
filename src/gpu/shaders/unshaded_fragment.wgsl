// The renderer's fragment stage, behind dehomogenize_vertex: unshaded colour, and discs cut from
// quads.
struct FragmentInput {
    @location(1) colour: vec3<f32>,
    @location(2) uv: vec2<f32>,
}

// The renderer passes a vertex's colour (r, g, b) in [0, 1] as its normal (r, g, b, 1), which the
// vertex stage's w chart returns unchanged. A quad whose corners carry uv (+-1, +-1) draws the disc
// uv . uv <= 1; lines carry uv (0, 0).
@fragment
fn unshaded_fragment(input: FragmentInput) -> @location(0) vec4<f32> {
    if (dot(input.uv, input.uv) > 1.0) {
        discard;
    }
    return vec4<f32>(input.colour, 1.0);
}
