struct GeodesicState {
    qx: f32, qy: f32, qz: f32, qw: f32,
    vx: f32, vy: f32, vz: f32, vw: f32,
}
