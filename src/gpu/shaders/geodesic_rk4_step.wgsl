@group(0) @binding(0) var<storage, read> states_in: array<GeodesicState>;
@group(0) @binding(1) var<storage, read_write> states_out: array<GeodesicState>;
@group(0) @binding(2) var<uniform> params: RK4Params;

struct RK4Params {
    dt: f32,
    _pad0: f32,
    _pad1: f32,
    _pad2: f32,
}

// q' = v, v' = -|v|^2 q: motion along a great circle of S^3 when |q| = 1 and q . v = 0.
fn geodesic_rhs(s: GeodesicState) -> GeodesicState {
    let k = s.vx * s.vx + s.vy * s.vy + s.vz * s.vz + s.vw * s.vw;
    return GeodesicState(
        s.vx, s.vy, s.vz, s.vw,
        -k * s.qx, -k * s.qy, -k * s.qz, -k * s.qw
    );
}

fn add_state(a: GeodesicState, b: GeodesicState) -> GeodesicState {
    return GeodesicState(
        a.qx + b.qx, a.qy + b.qy, a.qz + b.qz, a.qw + b.qw,
        a.vx + b.vx, a.vy + b.vy, a.vz + b.vz, a.vw + b.vw
    );
}

fn scale_state(s: GeodesicState, k: f32) -> GeodesicState {
    return GeodesicState(
        s.qx * k, s.qy * k, s.qz * k, s.qw * k,
        s.vx * k, s.vy * k, s.vz * k, s.vw * k
    );
}

// One classical Runge-Kutta step; the result is not projected back onto S^3.
@compute @workgroup_size(64)
fn geodesic_rk4_step(@builtin(global_invocation_id) id: vec3<u32>) {
    let i = id.x;
    if (i >= arrayLength(&states_in)) {
        return;
    }
    let y = states_in[i];
    let h = params.dt;
    let k1 = geodesic_rhs(y);
    let k2 = geodesic_rhs(add_state(y, scale_state(k1, 0.5 * h)));
    let k3 = geodesic_rhs(add_state(y, scale_state(k2, 0.5 * h)));
    let k4 = geodesic_rhs(add_state(y, scale_state(k3, h)));
    let combined = add_state(
        add_state(k1, scale_state(k2, 2.0)),
        add_state(scale_state(k3, 2.0), k4)
    );
    states_out[i] = add_state(y, scale_state(combined, h / 6.0));
}
