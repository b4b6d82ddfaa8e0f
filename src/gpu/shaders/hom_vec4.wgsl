struct HomVec4 {
    x: f32,
    y: f32,
    z: f32,
    w: f32,
}
