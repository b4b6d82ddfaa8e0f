// The picture that light makes in elliptic space. Every line of sight is a great circle of length
// pi that comes back to the eye, so each point q is seen once: through the copy of +-c (c = W q,
// camera coordinates, the eye looking down -z) that lies in front, z < 0; its near image when q is
// in front of the camera, its far image when q is behind. The arc t = atan2(|c.xyz|, c.w) of that
// copy is the point's distance along the line of sight, in (0, pi); depth is t / pi, per fragment.
//
// Faces and edges are drawn twice, as +q and -q (two instances, or two halves of an instance);
// the device clips the copy whose clip w = -c.z is not positive. c is interpolated from the
// corners: exact for flat triangles and chords of R^4, which are geodesic triangles and arcs.
// Points are small spheres: discs of their apparent radius, with the sphere's own depth.

struct Picture {
    world_to_camera: mat4x4<f32>,
    // f / aspect, f, width and height in pixels
    lens: vec4<f32>,
    // fs_near, fs_far, fog sigma, point radius rho
    arcs: vec4<f32>,
    // least disc radius in pixels, half an edge's width in pixels, particle radius, edge lift
    sizes: vec4<f32>,
}

@group(0) @binding(0) var<uniform> picture: Picture;

const PI: f32 = 3.14159265358979;

// Below this fraction of its length ahead of the eye, an edge's end is moved along the edge: the
// piece cut off lies about 90 degrees off the axis, outside any picture narrower than 8192:1.
const EDGE_AHEAD: f32 = 1e-4;

struct Surface {
    @builtin(position) clip: vec4<f32>,
    @location(0) camera: vec4<f32>,
    @location(1) colour: vec4<f32>,
}

struct Disc {
    @builtin(position) clip: vec4<f32>,
    @location(0) uv: vec2<f32>,
    @location(1) @interpolate(flat) colour: vec4<f32>,
    // t of the centre, and the sphere's radius rho
    @location(2) @interpolate(flat) arcs: vec2<f32>,
}

struct Shaded {
    @location(0) colour: vec4<f32>,
    @builtin(frag_depth) depth: f32,
}

// A position outside the clip volume: a primitive made of it is not drawn.
const NOWHERE: vec4<f32> = vec4<f32>(0.0, 0.0, -1.0, 1.0);

fn camera_of(q: vec4<f32>) -> vec4<f32> {
    return picture.world_to_camera * q;
}

fn clip_of(c: vec4<f32>) -> vec4<f32> {
    let ahead = -c.z;
    return vec4<f32>(picture.lens.x * c.x, picture.lens.y * c.y, 0.5 * ahead, ahead);
}

// The arc along the line of sight of the copy in front (c.z < 0).
fn arc_of(c: vec4<f32>) -> f32 {
    return atan2(length(c.xyz), c.w);
}

fn fogged(colour: vec4<f32>, t: f32) -> vec4<f32> {
    return vec4<f32>(colour.rgb * exp(-picture.arcs.z * t), 1.0);
}

fn copy_sign(copy: u32) -> f32 {
    return select(1.0, -1.0, copy == 1u);
}

@vertex
fn face_vertex(
    @builtin(instance_index) copy: u32,
    @location(0) position: vec4<f32>,
    @location(1) colour: vec4<f32>
) -> Surface {
    let c = copy_sign(copy) * camera_of(position);
    var out: Surface;
    out.clip = clip_of(c);
    out.camera = c;
    out.colour = colour;
    return out;
}

// A fragment at arc t, drawn `lift` nearer than it is.
fn shade_surface(input: Surface, lift: f32) -> Shaded {
    let t = arc_of(input.camera);
    if (t < picture.arcs.x || t > picture.arcs.y) {
        discard;
    }
    var out: Shaded;
    out.colour = fogged(input.colour, t);
    out.depth = max(t - lift, 0.0) / PI;
    return out;
}

@fragment
fn face_fragment(input: Surface) -> Shaded {
    return shade_surface(input, 0.0);
}

@fragment
fn edge_fragment(input: Surface) -> Shaded {
    return shade_surface(input, picture.sizes.w);
}

struct EdgeInput {
    @location(0) a: vec4<f32>,
    @location(1) a_colour: vec4<f32>,
    @location(2) b: vec4<f32>,
    @location(3) b_colour: vec4<f32>,
}

// An edge instance is twelve vertices: a screen-space quad along the chord from a to b for +q
// (vertices 0 to 5) and one for -q (6 to 11). Each copy keeps the part of its chord in front of
// the eye; the quad is the projected segment widened by sizes.y pixels on either side, with the
// offsets taken in clip space (scaled by each end's w) so that c interpolates along it exactly.
@vertex
fn edge_vertex(@builtin(vertex_index) index: u32, input: EdgeInput) -> Surface {
    let s = select(1.0, -1.0, index >= 6u);
    var corners = array<u32, 6>(0u, 1u, 2u, 0u, 2u, 3u);
    let corner = corners[index % 6u];
    var ca = s * camera_of(input.a);
    var cb = s * camera_of(input.b);
    var colour_a = input.a_colour;
    var colour_b = input.b_colour;
    let least = EDGE_AHEAD * max(length(ca), length(cb));
    let za = -ca.z;
    let zb = -cb.z;
    var out: Surface;
    if (za < least && zb < least) {
        out.clip = NOWHERE;
        return out;
    }
    if (za < least) {
        let k = (least - za) / (zb - za);
        ca = mix(ca, cb, k);
        colour_a = mix(colour_a, colour_b, k);
    }
    if (zb < least) {
        let k = (least - zb) / (za - zb);
        cb = mix(cb, ca, k);
        colour_b = mix(colour_b, colour_a, k);
    }
    let clip_a = clip_of(ca);
    let clip_b = clip_of(cb);
    // The segment's direction in pixels, from the homogeneous ends: b/w_b - a/w_a, times w_a w_b.
    let to_pixels = 0.5 * picture.lens.zw;
    let d = (clip_a.w * clip_b.xy - clip_b.w * clip_a.xy) * to_pixels;
    let len = length(d);
    var normal = vec2<f32>(0.0, 1.0);
    if (len > 0.0) {
        normal = vec2<f32>(-d.y, d.x) / len;
    }
    let at_b = corner == 1u || corner == 2u;
    let side = select(-1.0, 1.0, corner >= 2u);
    let end = select(clip_a, clip_b, at_b);
    let offset = side * picture.sizes.y * normal / to_pixels;
    out.clip = end + vec4<f32>(offset * end.w, 0.0, 0.0);
    out.camera = select(ca, cb, at_b);
    out.colour = select(colour_a, colour_b, at_b);
    return out;
}

// A point's sphere of radius rho at camera coordinates c: a disc of its apparent radius alpha,
// sin(alpha) = sin(rho) / sin(t), at least sizes.x pixels, centred on the projection of the copy
// in front. No disc when that copy does not exist (c.z = 0), lies outside the depth cuts, or the
// eye is inside the sphere or at its antipodal focus (sin t <= sin rho).
fn disc(index: u32, q: vec4<f32>, colour: vec4<f32>, rho: f32) -> Disc {
    var c = camera_of(q);
    if (c.z > 0.0) {
        c = -c;
    }
    let t = arc_of(c);
    let sin_t = sin(t);
    let sin_rho = sin(rho);
    var out: Disc;
    if (c.z == 0.0 || t < picture.arcs.x || t > picture.arcs.y || sin_t <= sin_rho) {
        out.clip = NOWHERE;
        return out;
    }
    let sin_alpha = sin_rho / sin_t;
    let tan_alpha = sin_alpha / sqrt(1.0 - sin_alpha * sin_alpha);
    let radius = max(0.5 * picture.lens.w * picture.lens.y * tan_alpha, picture.sizes.x);
    let centre = vec2<f32>(picture.lens.x * c.x, picture.lens.y * c.y) / -c.z;
    var corners = array<vec2<f32>, 6>(
        vec2<f32>(-1.0, -1.0), vec2<f32>(1.0, -1.0), vec2<f32>(1.0, 1.0),
        vec2<f32>(-1.0, -1.0), vec2<f32>(1.0, 1.0), vec2<f32>(-1.0, 1.0)
    );
    // The quad reaches a pixel beyond the disc, so that every pixel whose centre the disc holds
    // is covered by all its samples: the disc's rim is that of its pixels, never a blend.
    let reach = radius + 1.0;
    let corner = corners[index];
    out.clip = vec4<f32>(centre + corner * (2.0 * reach) / picture.lens.zw, 0.5, 1.0);
    out.uv = corner * (reach / radius);
    out.colour = fogged(colour, t);
    out.arcs = vec2<f32>(t, rho);
    return out;
}

@vertex
fn point_vertex(
    @builtin(vertex_index) index: u32,
    @location(0) position: vec4<f32>,
    @location(1) colour: vec4<f32>
) -> Disc {
    return disc(index, position, colour, picture.arcs.w);
}

// The colour of a moving particle at the Fubini-Study distance d from the eye, in [0, pi/2]:
// warm yellow near, red halfway, blue far.
fn distance_colour(d: f32) -> vec4<f32> {
    let near = vec3<f32>(1.0, 0.85, 0.3);
    let middle = vec3<f32>(0.95, 0.3, 0.35);
    let far = vec3<f32>(0.25, 0.4, 1.0);
    let k = clamp(d / (0.5 * PI), 0.0, 1.0);
    if (k < 0.5) {
        return vec4<f32>(mix(near, middle, 2.0 * k), 1.0);
    }
    return vec4<f32>(mix(middle, far, 2.0 * k - 1.0), 1.0);
}

@vertex
fn particle_vertex(
    @builtin(vertex_index) index: u32,
    @location(0) position: vec4<f32>,
    @location(1) distance: f32
) -> Disc {
    return disc(index, position, distance_colour(distance), picture.sizes.z);
}

// Inside the disc, the sphere's near surface: t - rho sqrt(1 - r^2) at the fraction r of the radius.
@fragment
fn disc_fragment(input: Disc) -> Shaded {
    let r2 = dot(input.uv, input.uv);
    if (r2 > 1.0) {
        discard;
    }
    var out: Shaded;
    out.colour = input.colour;
    out.depth = max(input.arcs.x - input.arcs.y * sqrt(1.0 - r2), 0.0) / PI;
    return out;
}
