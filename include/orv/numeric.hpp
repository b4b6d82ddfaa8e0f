// The thresholds of ORV's numeric fallbacks, each named once. A comparison against one of them has
// the sense written where it is used (`<` or `>`), and is an ordinary IEEE comparison: false when
// an operand is NaN. The WGSL kernels compare against the same values; the build checks that their
// texts carry them.
#pragma once

namespace orv {

// Below this |w| a point counts as being at infinity when it is dehomogenised.
inline constexpr double W_EPS = 1e-6;

// A 4-vector whose norm is below this counts as zero: it has no unit representative and no
// distance to anything.
inline constexpr double NORM_FLOOR = 1e-15;

// A matrix whose |det| is below this counts as singular: its determinant is not normalised.
inline constexpr double DET_FLOOR = 1e-15;

// The squared length in f32 below which a four-lane vector is not normalised.
inline constexpr float SQUARED_LENGTH_FLOOR_F32 = 1e-15f;

// The Newton–Schulz inverse has converged once every element of m_reg·X − I is below this in
// magnitude.
inline constexpr double INVERSE_RESIDUAL = 1e-12;

// Lengths and angles at or below this count as zero in the camera and the input direction: the
// normalisation, move or turn is skipped.
inline constexpr double LENGTH_FLOOR = 1e-10;

}  // namespace orv
