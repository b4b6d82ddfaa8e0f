// What the browser tests compare with, computed by the native build:
//   orv-web-fixture trace SCENE SCRIPT FRAMES WIDTH HEIGHT OUT   the flight trace (flightTrace)
//   orv-web-fixture images SCENE WIDTH HEIGHT                    where the picture's rule puts
//                                                                the scene's points at the start,
//                                                                as JSON lines
// SCENE and SCRIPT are files ("-" for an empty text: the default scene, no events).
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <string>
#include <variant>

#include "orv/app.hpp"
#include "web/web_session.hpp"

namespace {

std::string readFile(const std::string& path) {
  if (path == "-") return {};
  std::ifstream in(path, std::ios::binary);
  if (!in) {
    std::fprintf(stderr, "orv-web-fixture: cannot read %s\n", path.c_str());
    std::exit(2);
  }
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

std::uint32_t number(const char* text) {
  return static_cast<std::uint32_t>(std::strtoul(text, nullptr, 10));
}

int trace(char** argv) {
  const orv::web::FlightTrace t = orv::web::flightTrace(
      readFile(argv[2]), readFile(argv[3]), number(argv[4]), number(argv[5]), number(argv[6]));
  if (!t.problem.empty()) {
    std::fprintf(stderr, "orv-web-fixture: %s\n", t.problem.c_str());
    return 1;
  }
  std::ofstream out(argv[7], std::ios::binary);
  out.write(reinterpret_cast<const char*>(t.bytes.data()),
            static_cast<std::streamsize>(t.bytes.size()));
  return out ? 0 : 1;
}

// One line per point of the scene: its index, its colour (0–255) and its image for the camera at
// the start, in the picture's pixels.
int images(char** argv) {
  auto scene = orv::web::pageScene(readFile(argv[2]));
  if (auto* problem = std::get_if<std::string>(&scene)) {
    std::fprintf(stderr, "orv-web-fixture: %s\n", problem->c_str());
    return 1;
  }
  const orv::view::ViewScene& s = std::get<orv::view::ViewScene>(scene);
  const orv::OrvCamera camera;
  const auto p = orv::PictureProjection::of(camera, number(argv[3]), number(argv[4]));
  const orv::PGL4 w = camera.worldToCamera();
  for (std::size_t i = 0; i < s.lists.points.size(); ++i) {
    const orv::GpuVertex& v = s.lists.points[i];
    const orv::PointImage image =
        orv::imageOfPoint(p, w, orv::gpuToHomVec4(v.position), s.style.point_radius);
    std::printf(
        "{\"index\": %zu, \"rgb\": [%ld, %ld, %ld], \"x\": %.6f, \"y\": %.6f, \"radius\": %.6f, "
        "\"far\": %s, \"drawn\": %s}\n",
        i, std::lround(v.colour[0] * 255.0f), std::lround(v.colour[1] * 255.0f),
        std::lround(v.colour[2] * 255.0f), image.x, image.y, image.radius_px,
        image.far ? "true" : "false", image.drawn ? "true" : "false");
  }
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  const std::string mode = argc > 1 ? argv[1] : "";
  if (mode == "trace" && argc == 8) return trace(argv);
  if (mode == "images" && argc == 5) return images(argv);
  std::fprintf(stderr,
               "usage: orv-web-fixture trace SCENE SCRIPT FRAMES WIDTH HEIGHT OUT\n"
               "       orv-web-fixture images SCENE WIDTH HEIGHT\n");
  return 2;
}
