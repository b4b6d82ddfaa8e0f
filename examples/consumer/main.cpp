// Moves a point with a projective transformation and measures how far it went on S³.
#include <cstdio>

#include <orv/kernel.hpp>

int main() {
  const orv::HomVec4 p = orv::HomVec4::fromCartesian(1.0, 2.0, 3.0);
  const orv::PGL4 move =
      orv::PGL4::mul(orv::pglTranslate(10.0, 0.0, 0.0), orv::pglScale(2.0, 2.0, 2.0));
  const orv::HomVec4 q = move.apply(p);
  const auto c = q.cartesian3();
  std::printf("(%g, %g, %g) -> (%g, %g, %g), Fubini-Study distance %.6f rad\n", p.x, p.y, p.z, c[0],
              c[1], c[2], orv::fsDistance(p, q));
  return 0;
}
