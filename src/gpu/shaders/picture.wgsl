// The picture that light makes in elliptic space. Every line of sight is a great circle of length
// pi that comes back to the eye, so each point q is seen once: through the copy of +-c (c = W q,
// camera coordinates, the eye looking down -z) that lies in front, z < 0; its near image when q is
// in front of the camera, its far image when q is behind. The arc t = atan2(|c.xyz|, c.w) of that
// copy is the point's distance along the line of sight, in (0, pi).
//
// Depth. On the line of sight through a pixel, whose direction d has d.z = -k, a point at the arc
// t has c = (sin(t) d, cos(t)), so the linear clip depth z = A (-c.z) - S c.w gives the depth
// buffer z / w = A - S cot(t) / k: for each pixel a strictly increasing function of t, so the
// smaller t shows, per fragment, interpolated exactly (clip coordinates are linear in c, and c is
// linear across a flat triangle or chord of R^4). A and S put fs_near and fs_far at depth 0 and 1
// on the axis (k = 1); off the axis the depth range ends a little inside them. The surfaces'
// fragment stages neither discard nor write depth, so that hidden fragments are never shaded.
//
// Faces and edges are drawn twice, as +q and -q (two instances, or two halves of an edge's
// vertices); the device clips the copy whose clip w = -c.z is not positive. Points are small
// spheres: discs of their apparent radius whose fragments take the depth of the sphere's near
// surface, and exactly the arc cuts of the rule.
//
// Faces, edges, points and particles are read from storage buffers by vertex index (a face's
// corners, a point's six quad vertices, an edge's twelve, share their records), so that each kind
// is one draw of many vertices rather than many small instances.

struct Picture {
    world_to_camera: mat4x4<f32>,
    // f / aspect, f, width and height in pixels
    lens: vec4<f32>,
    // fs_near, fs_far, fog sigma, point radius rho
    arcs: vec4<f32>,
    // least disc radius in pixels, half an edge's width in pixels, particle radius, how much faces
    // are lit by a lamp at the eye
    sizes: vec4<f32>,
    // the depth mapping's A and S, how much nearer edges are drawn (in depth), unused
    depth: vec4<f32>,
}

@group(0) @binding(0) var<uniform> picture: Picture;

// A point, or one end of an edge: GpuVertex.
struct Corner {
    position: vec4<f32>,
    colour: vec4<f32>,
}

// Faces (three corners each), edges (two each) or points, whichever the entry point draws.
@group(1) @binding(0) var<storage, read> corners: array<Corner>;
// The particles' positions and their distances from the eye.
@group(1) @binding(0) var<storage, read> particle_positions: array<vec4<f32>>;
@group(1) @binding(1) var<storage, read> particle_distances: array<f32>;

const PI: f32 = 3.14159265358979;

// Below this fraction of its length ahead of the eye, an edge's end is moved along the edge: the
// piece cut off lies about 90 degrees off the axis, outside any picture narrower than 8192:1.
const EDGE_AHEAD: f32 = 1e-4;

struct Edge {
    @builtin(position) clip: vec4<f32>,
    @location(0) camera: vec4<f32>,
    @location(1) colour: vec4<f32>,
    // signed distance from the edge's middle line, in pixels
    @location(2) @interpolate(linear) across: f32,
}

struct Face {
    @builtin(position) clip: vec4<f32>,
    @location(0) camera: vec4<f32>,
    @location(1) @interpolate(flat) colour: vec4<f32>,
    @location(2) @interpolate(flat) facing: f32,
}

struct Disc {
    @builtin(position) clip: vec4<f32>,
    @location(0) uv: vec2<f32>,
    @location(1) @interpolate(flat) colour: vec4<f32>,
    // t of the centre, the sphere's radius rho, and k of its line of sight
    @location(2) @interpolate(flat) arcs: vec3<f32>,
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

// Clip coordinates of c, with the depth mapping, `lift` nearer in depth.
fn clip_of(c: vec4<f32>, lift: f32) -> vec4<f32> {
    let ahead = -c.z;
    return vec4<f32>(
        picture.lens.x * c.x,
        picture.lens.y * c.y,
        (picture.depth.x - lift) * ahead - picture.depth.y * c.w,
        ahead
    );
}

// atan(x) for 0 <= x <= 1, within 2e-6 rad (a minimax polynomial in x^2).
fn atan_unit(x: f32) -> f32 {
    let x2 = x * x;
    return x * (0.99997726 + x2 * (-0.33262347 + x2 * (0.19354346 + x2 * (-0.11643287 +
        x2 * (0.05265332 - 0.0117212 * x2)))));
}

// atan2(s, w) for s >= 0, without branches: the fragment stages' arc, far cheaper than the
// general atan2 where the device is a CPU.
fn arc_from(s: f32, w: f32) -> f32 {
    let aw = abs(w);
    let a = atan_unit(min(s, aw) / max(max(s, aw), 1e-30));
    let octant = select(a, 0.5 * PI - a, s > aw);
    return select(octant, PI - octant, w < 0.0);
}

// The arc along the line of sight of the copy in front (c.z < 0).
fn arc_of(c: vec4<f32>) -> f32 {
    return arc_from(length(c.xyz), c.w);
}

fn fogged(colour: vec4<f32>, t: f32) -> vec4<f32> {
    return vec4<f32>(colour.rgb * exp(-picture.arcs.z * t), 1.0);
}

fn copy_sign(copy: u32) -> f32 {
    return select(1.0, -1.0, copy == 1u);
}

fn det3(a: vec3<f32>, b: vec3<f32>, c: vec3<f32>) -> f32 {
    return dot(a, cross(b, c));
}

// The vector orthogonal to a, b and c in R^4 (their generalised cross product).
fn cross4(a: vec4<f32>, b: vec4<f32>, c: vec4<f32>) -> vec4<f32> {
    return vec4<f32>(
        det3(a.yzw, b.yzw, c.yzw),
        -det3(a.xzw, b.xzw, c.xzw),
        det3(a.xyw, b.xyw, c.xyw),
        -det3(a.xyz, b.xyz, c.xyz)
    );
}

// A face is three corners of `corners`, drawn twice: instance 0 as +q, instance 1 as -q. It is lit
// by a lamp at the eye: the cosine between the face's normal and the line of sight at a point of
// it is |n.w| / sin t, for the unit normal n in camera coordinates (orthogonal to the span of its
// corners) and the eye at (0, 0, 0, 1); |n.w| is the same all over the face.
@vertex
fn face_vertex(@builtin(vertex_index) vertex: u32, @builtin(instance_index) copy: u32) -> Face {
    let first = 3u * (vertex / 3u);
    let s = copy_sign(copy);
    let a = camera_of(corners[first].position);
    let b = camera_of(corners[first + 1u].position);
    let c = camera_of(corners[first + 2u].position);
    let n = cross4(a, b, c);
    let n_len = length(n);
    let corner = corners[vertex];
    let at = s * camera_of(corner.position);
    var out: Face;
    out.clip = clip_of(at, 0.0);
    out.camera = at;
    out.colour = corner.colour;
    out.facing = select(1.0, abs(n.w) / n_len, n_len > 0.0);
    return out;
}

@fragment
fn face_fragment(input: Face) -> @location(0) vec4<f32> {
    let c = input.camera;
    let s = length(c.xyz);
    let t = arc_from(s, c.w);
    // (1 - k) + k cos, with cos = |n.w| / sin t and sin t = s / |c|.
    let k = picture.sizes.w;
    let facing = min(input.facing * length(c) / max(s, 1e-30), 1.0);
    let light = exp(-picture.arcs.z * t) * ((1.0 - k) + k * facing);
    return vec4<f32>(input.colour.rgb * light, 1.0);
}

// How much of a pixel `across` pixels from an edge's middle line the edge covers: the edge is
// 2 sizes.y pixels wide, its rim smoothed over one pixel.
fn edge_coverage(input: Edge) -> f32 {
    return clamp(picture.sizes.y + 0.5 - abs(input.across), 0.0, 1.0);
}

// An edge's core, the pixels it covers whole: opaque, and the depth it leaves hides what lies
// behind it.
@fragment
fn edge_core_fragment(input: Edge) -> @location(0) vec4<f32> {
    if (edge_coverage(input) < 1.0) {
        discard;
    }
    return fogged(input.colour, arc_of(input.camera));
}

// An edge's rim, the pixels it covers in part: blended over what is there by its coverage.
@fragment
fn edge_rim_fragment(input: Edge) -> @location(0) vec4<f32> {
    let k = edge_coverage(input);
    if (k >= 1.0) {
        discard;
    }
    return vec4<f32>(fogged(input.colour, arc_of(input.camera)).rgb, k);
}

// An edge is twelve vertices: a screen-space quad along the chord from a to b for +q (vertices 0
// to 5) and one for -q (6 to 11). Each copy keeps the part of its chord in front of the eye; the
// quad is the projected segment widened by sizes.y + 0.5 pixels on either side (the edge and its
// smoothed rim), with the offsets taken in clip space (scaled by each end's w) so that c
// interpolates along it exactly. Edges are drawn depth.z nearer than they are, so that an edge
// shows on the faces it borders.
@vertex
fn edge_vertex(@builtin(vertex_index) vertex: u32) -> Edge {
    let edge = vertex / 12u;
    let index = vertex % 12u;
    let end_a = corners[2u * edge];
    let end_b = corners[2u * edge + 1u];
    let s = select(1.0, -1.0, index >= 6u);
    var quad = array<u32, 6>(0u, 1u, 2u, 0u, 2u, 3u);
    let corner = quad[index % 6u];
    var ca = s * camera_of(end_a.position);
    var cb = s * camera_of(end_b.position);
    var colour_a = end_a.colour;
    var colour_b = end_b.colour;
    let least = EDGE_AHEAD * max(length(ca), length(cb));
    let za = -ca.z;
    let zb = -cb.z;
    var out: Edge;
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
    let clip_a = clip_of(ca, picture.depth.z);
    let clip_b = clip_of(cb, picture.depth.z);
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
    let reach = side * (picture.sizes.y + 0.5);
    let offset = reach * normal / to_pixels;
    out.clip = end + vec4<f32>(offset * end.w, 0.0, 0.0);
    out.across = reach;
    out.camera = select(ca, cb, at_b);
    out.colour = select(colour_a, colour_b, at_b);
    return out;
}

// A point's sphere of radius rho at camera coordinates c: a disc of its apparent radius alpha,
// sin(alpha) = sin(rho) / sin(t), at least sizes.x pixels, centred on the projection of the copy
// in front. No disc when that copy does not exist (c.z = 0), lies outside the arc cuts, or the
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
    var quad = array<vec2<f32>, 6>(
        vec2<f32>(-1.0, -1.0), vec2<f32>(1.0, -1.0), vec2<f32>(1.0, 1.0),
        vec2<f32>(-1.0, -1.0), vec2<f32>(1.0, 1.0), vec2<f32>(-1.0, 1.0)
    );
    // The quad reaches a pixel beyond the disc, so that every pixel whose centre the disc holds
    // is covered by all its samples: the disc's rim is that of its pixels, never a blend.
    let reach = radius + 1.0;
    let corner = quad[index];
    out.clip = vec4<f32>(centre + corner * (2.0 * reach) / picture.lens.zw, 0.5, 1.0);
    out.uv = corner * (reach / radius);
    out.colour = fogged(colour, t);
    out.arcs = vec3<f32>(t, rho, -c.z / length(c.xyz));
    return out;
}

@vertex
fn point_vertex(@builtin(vertex_index) vertex: u32) -> Disc {
    let point = corners[vertex / 6u];
    return disc(vertex % 6u, point.position, point.colour, picture.arcs.w);
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
fn particle_vertex(@builtin(vertex_index) vertex: u32) -> Disc {
    let i = vertex / 6u;
    let colour = distance_colour(particle_distances[i]);
    return disc(vertex % 6u, particle_positions[i], colour, picture.sizes.z);
}

// Inside the disc, the sphere's near surface: the arc t - rho sqrt(1 - r^2) at the fraction r of
// the radius, at the depth the mapping gives it on the centre's line of sight (clamped to the
// depth range, whose ends the sphere's centre lies within).
@fragment
fn disc_fragment(input: Disc) -> Shaded {
    let r2 = dot(input.uv, input.uv);
    if (r2 > 1.0) {
        discard;
    }
    let t = max(input.arcs.x - input.arcs.y * sqrt(1.0 - r2), 1e-6);
    var out: Shaded;
    out.colour = input.colour;
    out.depth = clamp(picture.depth.x - picture.depth.y * cos(t) / (sin(t) * input.arcs.z), 0.0, 1.0);
    return out;
}

// ---------------------------------------------------------------------------------------------
// Meshes: a model's triangles, placed in the world (their vertices are unit 4-vectors with the
// surface's unit tangent normal at each), drawn once for each of its copies (rotations of R^4:
// instance i is copy i / 2, as +q for even i and -q for odd i), shaded by the lights and fogged.

struct MeshVertex {
    position: vec4<f32>,
    normal: vec4<f32>,
    colour: vec4<f32>,
    uv: vec4<f32>,
}

const MAX_LIGHTS: u32 = 8u;

struct Lighting {
    // r, g, b of the ambient light, and how many point lights there are
    ambient: vec4<f32>,
    // r, g, b of the light at the eye
    headlight: vec4<f32>,
    // the point lights, in camera coordinates, and their colours
    positions: array<vec4<f32>, MAX_LIGHTS>,
    colours: array<vec4<f32>, MAX_LIGHTS>,
}

struct Material {
    base_colour: vec4<f32>,
    unused: vec4<f32>,
}

@group(0) @binding(1) var<uniform> lighting: Lighting;
@group(1) @binding(0) var<storage, read> mesh_vertices: array<MeshVertex>;
@group(1) @binding(1) var<storage, read> copies: array<mat4x4<f32>>;
@group(2) @binding(0) var<uniform> material: Material;
@group(2) @binding(1) var base_texture: texture_2d<f32>;
@group(2) @binding(2) var base_sampler: sampler;

struct Surface {
    @builtin(position) clip: vec4<f32>,
    @location(0) camera: vec4<f32>,
    @location(1) normal: vec4<f32>,
    @location(2) colour: vec4<f32>,
    @location(3) uv: vec2<f32>,
}

// The copies are rotations and so is the camera's map, so the normal moves as the point does.
@vertex
fn mesh_vertex(@builtin(vertex_index) vertex: u32, @builtin(instance_index) instance: u32)
    -> Surface {
    let copy = copies[instance / 2u];
    let s = copy_sign(instance % 2u);
    let v = mesh_vertices[vertex];
    let at = s * camera_of(copy * v.position);
    var out: Surface;
    out.clip = clip_of(at, 0.0);
    out.camera = at;
    out.normal = s * camera_of(copy * v.normal);
    out.colour = v.colour;
    out.uv = v.uv.xy;
    return out;
}

// The light that reaches the side of the surface the eye sees at c (camera coordinates of the
// copy in front). The headlight's light comes along the line of sight itself, which is unblocked
// since the eye sees c along it; a point light's along the shorter arc from it, at the cosine of
// its direction with the normal. Light is not spread out with distance (fog dims what is far).
fn mesh_light(c: vec4<f32>, normal: vec4<f32>) -> vec3<f32> {
    let p = c / length(c);
    // The direction at p along the line of sight back to the eye at (0, 0, 0, 1).
    let back = vec4<f32>(0.0, 0.0, 0.0, 1.0) - p.w * p;
    let v = back / max(length(back), 1e-30);
    var n = normal - dot(normal, p) * p;
    let n_len = length(n);
    if (n_len <= 0.0) {
        // No normal to shade by: lit as if facing every light.
        return lighting.ambient.rgb + lighting.headlight.rgb;
    }
    n = n / n_len;
    if (dot(n, v) < 0.0) {
        n = -n;
    }
    var light = lighting.ambient.rgb + lighting.headlight.rgb * dot(n, v);
    let count = min(u32(lighting.ambient.w), MAX_LIGHTS);
    for (var i = 0u; i < count; i++) {
        var l = lighting.positions[i];
        l = select(l, -l, dot(l, p) < 0.0);
        let towards = l - dot(l, p) * p;
        let len = length(towards);
        if (len > 0.0) {
            light += lighting.colours[i].rgb * max(dot(n, towards) / len, 0.0);
        }
    }
    return light;
}

fn mesh_shaded(input: Surface, albedo: vec3<f32>) -> vec4<f32> {
    let c = input.camera;
    let t = arc_from(length(c.xyz), c.w);
    let light = mesh_light(c, input.normal);
    let colour = min(albedo * light, vec3<f32>(1.0)) * exp(-picture.arcs.z * t);
    return vec4<f32>(colour, 1.0);
}

@fragment
fn mesh_fragment(input: Surface) -> @location(0) vec4<f32> {
    return mesh_shaded(input, material.base_colour.rgb * input.colour.rgb);
}

@fragment
fn mesh_textured_fragment(input: Surface) -> @location(0) vec4<f32> {
    let texel = textureSample(base_texture, base_sampler, input.uv).rgb;
    return mesh_shaded(input, material.base_colour.rgb * input.colour.rgb * texel);
}
