// Compiled, never run: pglFromHomogeneous(diag(2, 3, 4, ORV_CORNER)) must build for a non-zero
// corner and fail the build for a zero one (the matrix is then singular). The two builds differ
// in that one number only, so a failure can come from nothing but the refusal.
#include "orv/kernel.hpp"

#ifndef ORV_CORNER
#error "define ORV_CORNER, element (3, 3) of the matrix"
#endif

constexpr orv::PGL4 m = orv::pglFromHomogeneous({{{2.0, 0.0, 0.0, 0.0},
                                                  {0.0, 3.0, 0.0, 0.0},
                                                  {0.0, 0.0, 4.0, 0.0},
                                                  {0.0, 0.0, 0.0, ORV_CORNER}}});
static_assert(m.det() == 24.0 * ORV_CORNER);
