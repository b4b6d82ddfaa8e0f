// The two text formats of orv-view: scene files and input scripts, and the line rules they share.
#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <set>
#include <string>

#include "view/input_script.hpp"
#include "view/scene_file.hpp"
#include "view/text_lines.hpp"

namespace orv::view {
namespace {

constexpr double eps = std::numeric_limits<double>::epsilon();

// ---------------------------------------------------------------------------------------------
// Shared line rules

TEST(LineReader, SplitsLinesAndDropsLineEndsAndByteOrderMark) {
  const struct {
    const char* name;
    std::string text;
    std::vector<std::string> lines;
  } cases[] = {
      {"empty text", "", {}},
      {"LF", "a\nb\n", {"a", "b"}},
      {"CRLF", "a\r\nb\r\n", {"a", "b"}},
      {"no final line end", "a\nb", {"a", "b"}},
      {"blank lines kept", "\n\nx\n", {"", "", "x"}},
      {"byte-order mark only at the start", "\xEF\xBB\xBFp\n\xEF\xBB\xBFq", {"p", "\xEF\xBB\xBFq"}},
      {"lone CR inside a line stays", "a\rb\n", {"a\rb"}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    LineReader reader(c.text);
    std::vector<std::string> lines;
    std::string_view line;
    while (reader.next(line)) {
      lines.emplace_back(line);
      EXPECT_EQ(reader.lineNumber(), lines.size());
    }
    EXPECT_EQ(lines, c.lines);
  }
}

TEST(LineText, AcceptsUtf8AndTabsAndRefusesMalformedBytesAndControls) {
  const struct {
    const char* name;
    std::string line;
    bool ok;
  } cases[] = {
      {"ASCII", "point 1 2 3 4", true},
      {"tab", "edge\t0\t1", true},
      {"two-byte", "# caf\xC3\xA9", true},
      {"three-byte", "# \xE2\x82\xAC", true},
      {"four-byte", "# \xF0\x9F\x98\x80", true},
      {"lone continuation byte", "# \x80", false},
      {"truncated sequence", "# \xE2\x82", false},
      {"overlong slash", "# \xC0\xAF", false},
      {"surrogate", "# \xED\xA0\x80", false},
      {"above U+10FFFF", "# \xF4\x90\x80\x80", false},
      {"NUL", std::string("a\0b", 3), false},
      {"carriage return inside", "a\rb", false},
      {"DEL", "a\x7F", false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    const auto problem = checkLineText(c.line);
    EXPECT_EQ(!problem.has_value(), c.ok) << problem.value_or("");
  }
}

TEST(Tokenize, SplitsAtBlanksAndCutsComments) {
  const LineTokens t = tokenize("  point\t1  2 # 3 4");
  ASSERT_EQ(t.count, 3u);
  EXPECT_EQ(t.items[0], "point");
  EXPECT_EQ(t.items[1], "1");
  EXPECT_EQ(t.items[2], "2");
  EXPECT_FALSE(t.too_many);
  EXPECT_EQ(tokenize("#only a comment").count, 0u);
  EXPECT_EQ(tokenize("a#b").count, 1u);
  std::string many;
  for (std::size_t i = 0; i <= max_tokens_per_line; ++i)
    many += "1 ";
  EXPECT_TRUE(tokenize(many).too_many);
}

TEST(ParseNumber, ReadsDecimalsAndNamesNonFiniteValues) {
  const struct {
    const char* token;
    std::optional<double> value;
  } cases[] = {
      {"1", 1.0},          {"-0.5", -0.5},        {"+2e-3", 2e-3}, {".5", 0.5},
      {"1e400", HUGE_VAL}, {"-1e400", -HUGE_VAL}, {"1e-400", 0.0}, {"inf", HUGE_VAL},
      {"abc", {}},         {"1.2.3", {}},         {"", {}},        {"+", {}},
      {"+-1", {}},         {"0x10", {}},          {"1,5", {}},     {"--1", {}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.token);
    EXPECT_EQ(parseNumber(c.token), c.value);
  }
  const auto nan = parseNumber("nan");
  ASSERT_TRUE(nan.has_value());
  EXPECT_TRUE(std::isnan(*nan));
}

TEST(Quoted, EscapesAndShortensForOneLineMessages) {
  EXPECT_EQ(quotedText("abc"), "'abc'");
  EXPECT_EQ(quotedText(std::string("a\nb", 3)), "'a\\x0Ab'");
  EXPECT_EQ(quotedText("\xFF"), "'\\xFF'");
  EXPECT_EQ(quotedText("caf\xC3\xA9"), "'caf\xC3\xA9'");
  EXPECT_EQ(quotedText(std::string(40, 'x')), "'" + std::string(32, 'x') + "...'");
  // A multi-byte character that would straddle the limit is left out whole.
  EXPECT_EQ(quotedText(std::string(31, 'x') + "\xC3\xA9"), "'" + std::string(31, 'x') + "...'");
}

// ---------------------------------------------------------------------------------------------
// Scene files

TEST(SceneFile, ReadsPointsEdgesTrianglesSettingsCommentsAndBlankLines) {
  const SceneParse r = parseScene(
      "\xEF\xBB\xBF# a small scene\r\n"
      "point 0 0 -1 1      # white by default\r\n"
      "\r\n"
      "   point 0 0 -2 -2 1 0 0.5\r\n"
      "edge 0 2  # may name a later point\n"
      "triangle 2 0 3 0.25 0.5 1  # so may a triangle\n"
      "fog 0.75\n"
      "point 3 4 0 1 0 1 0\n"
      "edge 1 2\n"
      "triangle 0 2 3\n"
      "point_radius 0.2\n"
      "point 0 1 0 2\n");
  ASSERT_FALSE(r.error) << r.error->line << ": " << r.error->problem;
  ASSERT_EQ(r.scene.points.size(), 4u);
  const double h = 1.0 / std::sqrt(2.0);
  const auto& p = r.scene.points;
  EXPECT_NEAR(p[0].position.z, -h, eps);
  EXPECT_NEAR(p[0].position.w, h, eps);
  EXPECT_EQ(p[0].colour, white);
  // The sign given is kept: (0, 0, −2, −2) is the same point as (0, 0, 1, 1).
  EXPECT_NEAR(p[1].position.z, -h, eps);
  EXPECT_NEAR(p[1].position.w, -h, eps);
  EXPECT_EQ(p[1].colour, (Colour{1.0f, 0.0f, 0.5f}));
  EXPECT_NEAR(p[2].position.x, 3.0 / std::sqrt(26.0), eps);
  EXPECT_NEAR(p[2].position.w, 1.0 / std::sqrt(26.0), eps);
  ASSERT_EQ(r.scene.edges.size(), 2u);
  EXPECT_EQ(r.scene.edges[0].a, 0u);
  EXPECT_EQ(r.scene.edges[0].b, 2u);
  EXPECT_EQ(r.scene.edges[1].a, 1u);
  EXPECT_EQ(r.scene.edges[1].b, 2u);
  ASSERT_EQ(r.scene.triangles.size(), 2u);
  const SceneTriangle& f = r.scene.triangles[0];
  EXPECT_EQ((std::array{f.a, f.b, f.c}), (std::array{2u, 0u, 3u}));
  EXPECT_EQ(f.colour, (Colour{0.25f, 0.5f, 1.0f}));
  EXPECT_EQ(r.scene.triangles[1].colour, white);
  EXPECT_EQ(r.scene.triangles[1].b, 2u);
  EXPECT_EQ(r.scene.point_radius, 0.2);
  EXPECT_EQ(r.scene.fog, 0.75);
}

TEST(SceneFile, SettingsHaveDefaultsAndTakeEveryValueInRange) {
  const SceneParse plain = parseScene("point 0 0 0 1\n");
  ASSERT_FALSE(plain.error);
  EXPECT_EQ(plain.scene.point_radius, 0.01);
  EXPECT_EQ(plain.scene.fog, 0.0);
  EXPECT_TRUE(plain.scene.triangles.empty());
  const struct {
    const char* line;
    double radius;
    double fog;
  } cases[] = {
      {"point_radius 0.2", 0.2, 0.0},    {"point_radius 4.9e-324", 4.9e-324, 0.0},
      {"point_radius +1e-3", 1e-3, 0.0}, {"fog 0", 0.01, 0.0},
      {"fog 1e300", 0.01, 1e300},        {"fog 2.5", 0.01, 2.5},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.line);
    const SceneParse r = parseScene(std::string(c.line) + "\npoint 1 0 0 0\n");
    ASSERT_FALSE(r.error) << r.error->problem;
    EXPECT_EQ(r.scene.point_radius, c.radius);
    EXPECT_EQ(r.scene.fog, c.fog);
  }
  // −0 is a fog of 0, stored as +0.
  const SceneParse negative_zero = parseScene("fog -0\npoint 1 0 0 0\n");
  ASSERT_FALSE(negative_zero.error);
  EXPECT_FALSE(std::signbit(negative_zero.scene.fog));
}

TEST(SceneFile, FilesWithoutAPointAreRefusedAsAWhole) {
  for (const char* text : {"", "\n\n", "# nothing\n   \t\n", "fog 1\npoint_radius 0.1\n"}) {
    SCOPED_TRACE(text);
    const SceneParse r = parseScene(text);
    ASSERT_TRUE(r.error.has_value());
    EXPECT_EQ(r.error->line, 0u);
    EXPECT_EQ(r.error->problem,
              "the scene has no point and no mesh (a scene file needs at least one of them)");
  }
}

// Points at about 1 µrad are told apart, at 0.01 µrad they count as one; representatives of one
// point given in other scales and signs, which normalise to vectors a few ulps apart, are one.
TEST(SceneFile, EdgesAndTrianglesNeedDistinctProjectivePoints) {
  const struct {
    const char* name;
    const char* p;
    const char* q;
    bool same;
  } cases[] = {
      {"negated", "1 2 3 4", "-1 -2 -3 -4", true},
      {"scaled by 3", "1 2 3 4", "3 6 9 12", true},
      {"scaled by 0.1", "0.1 0.2 0.3 0.7", "1 2 3 7", true},
      {"scaled by 1e-300", "1e-300 -7e-300 3e-300 1e-300", "-1 7 -3 -1", true},
      {"0.01 µrad apart", "1 0 0 0", "1 1e-8 0 0", true},
      {"1 µrad apart", "1 0 0 0", "1 1e-6 0 0", false},
      {"2 µrad apart, negated", "0 0 1 1", "0 2e-6 -1 -1", false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    const std::string points = std::string("point 0 0 0 1 # 0\npoint ") + c.p + "\npoint " + c.q +
                               "\npoint 0.3 0.2 0.1 0.9 # 3\n";
    const SceneParse edge = parseScene(points + "edge 1 2\n");
    const SceneParse face = parseScene(points + "triangle 3 1 2\n");
    if (!c.same) {
      EXPECT_FALSE(edge.error) << edge.error->problem;
      EXPECT_FALSE(face.error) << face.error->problem;
      continue;
    }
    ASSERT_TRUE(edge.error.has_value());
    EXPECT_EQ(edge.error->line, 5u);
    EXPECT_EQ(edge.error->problem,
              "edge 1 2 joins point 1 to itself (points 1 and 2 are the same projective point)");
    ASSERT_TRUE(face.error.has_value());
    EXPECT_EQ(face.error->line, 5u);
    EXPECT_EQ(face.error->problem,
              "triangle 3 1 2 repeats point 1 (points 1 and 2 are the same projective point)");
  }
}

// Only a dot product of exactly 0 leaves an edge without a shorter arc; the smallest non-zero one
// still decides which arc is shorter.
TEST(SceneFile, OnlyPointsExactlyAQuarterCircleApartHaveNoEdge) {
  const struct {
    const char* p;
    const char* q;
    bool ok;
  } cases[] = {
      {"1 0 0 0", "0 1 0 0", false},
      {"0 0 1 1", "0 0 -1 1", false},
      {"3 4 0 0", "-4 3 0 5", false},
      {"1 0 0 0", "1e-300 1 0 0", true},
      {"1 0 0 0", "-1e-300 1 0 0", true},
      {"1 0 0 0", "4.9e-324 0 1 0", true},
      {"0 0 1 1", "0 0 -1 1.0000000000000002", true},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(std::string(c.p) + " | " + c.q);
    const SceneParse r =
        parseScene(std::string("point ") + c.p + "\npoint " + c.q + "\nedge 0 1\n");
    EXPECT_EQ(!r.error.has_value(), c.ok) << (r.error ? r.error->problem : "");
    if (r.error) {
      EXPECT_NE(r.error->problem.find("a quarter circle apart"), std::string::npos);
    }
  }
}

// A triangle is accepted exactly when the product of its three dot products is not negative:
// flipping the sign of one point changes the signs of two, so the product is the invariant.
TEST(SceneFile, TrianglesNeedRepresentativesWithNonNegativeDotProducts) {
  const struct {
    const char* name;
    const char* points;  // three point lines' values
    bool ok;
  } cases[] = {
      {"all dot products positive", "1 1 0 0|0 1 1 0|1 0 1 0", true},
      {"two negative", "1 1 0 0|0 -1 -1 0|1 0 1 0", true},
      {"one negative", "1 1 0 0|0 1 1 0|1 0 -1 0", false},
      {"three negative", "1 1 0 0|0 -1 -1 0|-1 0 1 0", false},
      {"one zero, one negative", "1 0 0 0|0 1 0 0|-1 1 1 0", true},
      // The product, −1e-360, underflows to −0: only the signs tell.
      {"tiny dot products, one negative", "1 0 0 0|1e-120 1 0 0|-1e-120 1e-120 1 0", false},
      {"tiny dot products, none negative", "1 0 0 0|1e-120 1 0 0|1e-120 1e-120 1 0", true},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    std::string text(c.points);
    std::string scene = "point ";
    for (const char ch : text)
      scene += ch == '|' ? std::string("\npoint ") : std::string(1, ch);
    scene += "\n\ntriangle 0 1 2 1 0 0\n";
    const SceneParse r = parseScene(scene);
    if (c.ok) {
      EXPECT_FALSE(r.error) << r.error->problem;
      continue;
    }
    ASSERT_TRUE(r.error.has_value());
    EXPECT_EQ(r.error->line, 5u);
    EXPECT_EQ(r.error->problem,
              "triangle 0 1 2: the shorter arcs between its points do not close into a triangle "
              "(no choice of signs makes all three dot products non-negative)");
  }
}

TEST(SceneFile, EveryErrorNamesItsLineAndProblem) {
  const struct {
    const char* name;
    std::string text;
    std::size_t line;
    const char* problem;  // a part of the message
  } cases[] = {
      {"unknown item", "point 0 0 0 1\nsphere 1\n", 2,
       "unknown item 'sphere' (expected point, edge, triangle, mesh, light, point_radius, fog or "
       "ambient)"},
      {"keyword is case-sensitive", "Point 0 0 0 1\n", 1, "unknown item 'Point'"},
      {"too few coordinates", "point 1 2 3\n", 1, "got 3 values"},
      {"five values", "point 1 2 3 4 1\n", 1, "got 5 values"},
      {"two colour components", "point 1 2 3 4 1 1\n", 1, "got 6 values"},
      {"too many values", "point 1 2 3 4 1 1 1 1\n", 1, "got 8 values"},
      {"not a number", "\npoint 1 two 3 4\n", 2, "coordinate Y is not a number: 'two'"},
      {"NaN coordinate", "point nan 0 0 1\n", 1, "coordinate X is not finite"},
      {"infinite coordinate", "point 0 0 1 inf\n", 1, "coordinate W is not finite"},
      {"overflowing coordinate", "point 0 1e999 0 1\n", 1, "coordinate Y is not finite"},
      {"zero point", "point 0 0 0 0\n", 1, "(0, 0, 0, 0)"},
      {"negative zero point", "point -0 0 -0.0 0 1 1 1\n", 1, "(0, 0, 0, 0)"},
      {"colour above 1", "point 0 0 0 1 1 1.5 0\n", 1,
       "colour component G = 1.5 is outside [0, 1]"},
      {"colour below 0", "point 0 0 0 1 -0.25 0 0\n", 1, "colour component R = -0.25"},
      {"colour NaN", "point 0 0 0 1 0 0 nan\n", 1, "colour component B is not finite"},
      {"edge index out of range", "point 0 0 0 1\npoint 1 0 0 1\n# c\nedge 0 2\n", 4,
       "point index 2 is out of range (the file has 2 points)"},
      {"edge before any point", "edge 0 1\npoint 0 0 0 1\n", 1, "(the file has 1 point)"},
      {"edge to itself", "point 0 0 0 1\nedge 0 0\n", 2, "edge joins point 0 to itself"},
      {"negative index", "edge -1 0\n", 1, "point index '-1' is not an integer"},
      {"fractional index", "edge 0 1.0\n", 1, "point index '1.0'"},
      {"huge index", "edge 0 99999999999999999999\n", 1, "is not an integer in 0..1048575"},
      {"edge with one index", "edge 1\n", 1, "edge takes two point indices I J, got 1"},
      {"invalid UTF-8", "point 0 0 0 1\n# \xC3\x28\n", 2, "invalid UTF-8"},
      {"control character", "point 0 0 0\x01 1\n", 1, "control character \\x01"},
      // Edges once the whole file is read: the first in file order with a problem is named.
      {"quarter circle", "point 1 0 0 0\npoint 0 -3 0 0\nedge 1 0\n", 3,
       "edge 1 0: points 1 and 0 are a quarter circle apart, so the edge has no shorter arc"},
      {"quarter circle after an index out of range",
       "point 1 0 0 0\npoint 0 0 1 0\nedge 0 9\nedge 0 1\n", 3, "point index 9 is out of range"},
      {"triangle problem before an edge's",
       "point 1 0 0 0\npoint 0 0 1 0\ntriangle 0 1 7\nedge 0 1\nedge 0 8\n", 3,
       "point index 7 is out of range (the file has 2 points)"},
      {"edge problem before a triangle's",
       "point 1 0 0 0\npoint 0 0 1 0\nedge 0 1\ntriangle 0 1 7\n", 3, "a quarter circle"},
      // Triangles.
      {"triangle with two indices", "triangle 0 1\n", 1,
       "triangle takes three point indices I J K and optionally R G B, got 2 values"},
      {"triangle with four values", "triangle 0 1 2 1\n", 1, "got 4 values"},
      {"triangle with two colour components", "triangle 0 1 2 1 1\n", 1, "got 5 values"},
      {"triangle with too many values", "triangle 0 1 2 1 1 1 1\n", 1, "got 7 values"},
      {"triangle index not an integer", "triangle 0 x 2\n", 1,
       "point index 'x' is not an integer in 0..1048575"},
      {"triangle index too large", "triangle 0 1 1048576\n", 1, "point index '1048576'"},
      {"triangle index out of range", "point 1 0 0 0\npoint 0 1 0 0\ntriangle 0 1 2\n", 3,
       "point index 2 is out of range (the file has 2 points)"},
      {"triangle repeats an index", "triangle 4 5 4\n", 1, "triangle 4 5 4 repeats point 4"},
      {"triangle repeats the middle index", "triangle 4 5 5 1 1 1\n", 1,
       "triangle 4 5 5 repeats point 5"},
      {"triangle colour above 1", "triangle 0 1 2 0 0 1.25\n", 1,
       "colour component B = 1.25 is outside [0, 1]"},
      {"triangle colour not a number", "triangle 0 1 2 red 0 0\n", 1,
       "colour component R is not a number: 'red'"},
      {"triangle colour NaN", "triangle 0 1 2 0 nan 0\n", 1, "colour component G is not finite"},
      {"triangle keyword is case-sensitive", "Triangle 0 1 2\n", 1, "unknown item 'Triangle'"},
      // point_radius and fog.
      {"radius 0", "point_radius 0\n", 1, "point_radius R = 0 is outside (0, 0.2]"},
      {"radius negative", "point_radius -0.1\n", 1, "point_radius R = -0.1 is outside (0, 0.2]"},
      {"radius above 0.2", "point_radius 0.2000000000000001\n", 1,
       "point_radius R = 0.2000000000000001 is outside (0, 0.2]"},
      {"radius infinite", "point_radius inf\n", 1, "point_radius R is not finite: 'inf'"},
      {"radius NaN", "point_radius nan\n", 1, "point_radius R is not finite: 'nan'"},
      {"radius not a number", "point_radius small\n", 1, "point_radius R is not a number: 'small'"},
      {"radius without value", "point_radius\n", 1, "point_radius takes one value R, got 0 values"},
      {"radius with two values", "point_radius 0.1 0.1\n", 1, "got 2 values"},
      {"radius twice", "point 0 0 0 1\npoint_radius 0.1\n\npoint_radius 0.1\n", 4,
       "point_radius given twice (first on line 2)"},
      {"fog negative", "fog -1e-300\n", 1, "fog SIGMA = -1e-300 is negative"},
      {"fog infinite", "fog 1e999\n", 1, "fog SIGMA is not finite: '1e999'"},
      {"fog NaN", "fog -nan\n", 1, "fog SIGMA is not finite: '-nan'"},
      {"fog not a number", "fog thick\n", 1, "fog SIGMA is not a number: 'thick'"},
      {"fog without value", "fog\n", 1, "fog takes one value SIGMA, got 0 values"},
      {"fog with two values", "fog 1 2\n", 1, "got 2 values"},
      {"fog twice", "fog 0\npoint 0 0 0 1\nfog 0\n", 3, "fog given twice (first on line 1)"},
      {"the first refusal ends the reading", "fog x\nfog 0\n", 1, "fog SIGMA is not a number"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    const SceneParse r = parseScene(c.text);
    ASSERT_TRUE(r.error.has_value());
    EXPECT_EQ(r.error->line, c.line);
    EXPECT_NE(r.error->problem.find(c.problem), std::string::npos) << r.error->problem;
    EXPECT_EQ(r.error->problem.find('\n'), std::string::npos);
  }
}

TEST(SceneFile, EveryNonZeroFiniteVectorHasAUnitRepresentative) {
  const double tiny = std::numeric_limits<double>::denorm_min();
  const double huge = std::numeric_limits<double>::max();
  const struct {
    const char* name;
    std::array<double, 4> v;
  } cases[] = {
      {"axis", {0, 0, 0, 5}},
      {"subnormal", {tiny, 0, 0, 0}},
      {"all largest", {huge, -huge, huge, huge}},
      {"mixed scales", {1e-300, 1e300, 0, -1}},
      {"negative", {-1, -2, -3, -4}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    const auto u = unitRepresentative(c.v[0], c.v[1], c.v[2], c.v[3]);
    ASSERT_TRUE(u.has_value());
    EXPECT_NEAR(u->norm(), 1.0, 4 * eps);
    // Same direction and sign: the dot product with the scaled input is positive.
    const double m = std::fmax(std::fmax(std::fabs(c.v[0]), std::fabs(c.v[1])),
                               std::fmax(std::fabs(c.v[2]), std::fabs(c.v[3])));
    const HomVec4 s{c.v[0] / m, c.v[1] / m, c.v[2] / m, c.v[3] / m};
    EXPECT_NEAR(HomVec4::dot(*u, s), s.norm(), 8 * eps);
  }
  EXPECT_FALSE(unitRepresentative(0, 0, 0, 0));
  EXPECT_FALSE(unitRepresentative(0, HUGE_VAL, 0, 1));
  EXPECT_FALSE(unitRepresentative(0, 0, std::nan(""), 1));
}

// ---------------------------------------------------------------------------------------------
// Input scripts

TEST(InputScript, EveryKeyEnumeratorNameIsAccepted) {
  // Independent of the reader's table: every enumerator of Key with its code.
  const struct {
    const char* name;
    std::uint16_t code;
  } keys[] = {
      {"a", 65},          {"b", 66},           {"c", 67},
      {"d", 68},          {"e", 69},           {"f", 70},
      {"q", 81},          {"r", 82},           {"s", 83},
      {"w", 87},          {"x", 88},           {"z", 90},
      {"space", 32},      {"escape", 256},     {"enter", 257},
      {"tab", 258},       {"left_shift", 340}, {"right_shift", 344},
      {"left_ctrl", 341}, {"right_ctrl", 345}, {"left_alt", 342},
      {"right_alt", 346}, {"up", 265},         {"down", 264},
      {"left", 263},      {"right", 262},      {"f1", 290},
      {"f2", 291},        {"f3", 292},         {"f4", 293},
      {"f5", 294},        {"f12", 301},
  };
  EXPECT_EQ(namedKeys().size(), std::size(keys));
  std::set<std::uint16_t> seen;
  for (const auto& k : keys) {
    SCOPED_TRACE(k.name);
    const ScriptParse r = parseInputScript(std::string("0 key ") + k.name + " press\n");
    ASSERT_FALSE(r.error) << r.error->problem;
    ASSERT_EQ(r.events.size(), 1u);
    EXPECT_EQ(r.events[0].event.kind, InputEventKind::key_press);
    EXPECT_EQ(static_cast<std::uint16_t>(r.events[0].event.payload.key.key), k.code);
    EXPECT_EQ(keyName(static_cast<Key>(k.code)), k.name);
    seen.insert(k.code);
  }
  EXPECT_EQ(seen.size(), std::size(keys));
}

TEST(InputScript, KeyNamesAreReadInAnyCase) {
  const struct {
    const char* name;
    Key key;
  } cases[] = {
      {"F1", Key::f1},
      {"W", Key::w},
      {"Escape", Key::escape},
      {"LEFT_SHIFT", Key::left_shift},
      {"Left_Ctrl", Key::left_ctrl},
      {"sPaCe", Key::space},
      {"F12", Key::f12},
      {"RIGHT_ALT", Key::right_alt},
      {"Up", Key::up},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(keyFromName(c.name), c.key);
    const ScriptParse r = parseInputScript(std::string("3 key ") + c.name + " release\n");
    ASSERT_FALSE(r.error) << r.error->problem;
    ASSERT_EQ(r.events.size(), 1u);
    EXPECT_EQ(r.events[0].event.payload.key.key, c.key);
    EXPECT_EQ(r.events[0].event.kind, InputEventKind::key_release);
  }
  // Names are still lower case, and a name matches whole.
  EXPECT_EQ(keyName(Key::left_shift), "left_shift");
  for (const char* name : {"G", "F1 ", "LEFT_SHIFTS", "ESCAP", "left-shift", "f01", ""}) {
    SCOPED_TRACE(name);
    EXPECT_FALSE(keyFromName(name));
  }
}

TEST(InputScript, ReadsEveryEventKindWithCursorAndModifiers) {
  const ScriptParse r = parseInputScript(
      "# frame kind ...\r\n"
      "0 key left_shift press\r\n"
      "0 key w press\r\n"
      "\r\n"
      "2 move 10 -4\n"
      "2 move 5 1.5\n"
      "2 button right press\n"
      "3 scroll 0 -1\n"
      "3 key w repeat\n"
      "7 key left_shift release\n"
      "7 key w release\n"
      "7 button right release\n");
  ASSERT_FALSE(r.error) << r.error->line << ": " << r.error->problem;
  ASSERT_EQ(r.events.size(), 10u);
  const auto& e = r.events;
  EXPECT_EQ(e[0].frame, 0u);
  EXPECT_EQ(e[0].event.kind, InputEventKind::key_press);
  EXPECT_TRUE(e[0].event.payload.key.mods.shift);  // the shift key itself is down at its event
  EXPECT_EQ(e[1].event.payload.key.key, Key::w);
  EXPECT_TRUE(e[1].event.payload.key.mods.shift);

  EXPECT_EQ(e[2].frame, 2u);
  EXPECT_EQ(e[2].event.kind, InputEventKind::mouse_move);
  EXPECT_EQ(e[2].event.payload.mouse_move.dx, 10.0);
  EXPECT_EQ(e[2].event.payload.mouse_move.dy, -4.0);
  EXPECT_EQ(e[3].event.payload.mouse_move.x, 15.0);  // the cursor adds up from (0, 0)
  EXPECT_EQ(e[3].event.payload.mouse_move.y, -2.5);

  EXPECT_EQ(e[4].event.kind, InputEventKind::mouse_press);
  EXPECT_EQ(e[4].event.payload.mouse_button.button, MouseButton::right);
  EXPECT_EQ(e[4].event.payload.mouse_button.x, 15.0);
  EXPECT_TRUE(e[4].event.payload.mouse_button.mods.shift);

  EXPECT_EQ(e[5].event.kind, InputEventKind::mouse_scroll);
  EXPECT_EQ(e[5].event.payload.mouse_scroll.y_offset, -1.0);
  EXPECT_EQ(e[5].event.payload.mouse_scroll.y, -2.5);
  EXPECT_EQ(e[6].event.kind, InputEventKind::key_repeat);

  EXPECT_EQ(e[7].frame, 7u);
  EXPECT_EQ(e[7].event.kind, InputEventKind::key_release);
  EXPECT_FALSE(e[7].event.payload.key.mods.shift);
  EXPECT_EQ(e[9].event.kind, InputEventKind::mouse_release);
}

TEST(InputScript, EveryErrorNamesItsLineAndProblem) {
  const struct {
    const char* name;
    std::string text;
    std::size_t line;
    const char* problem;
  } cases[] = {
      {"frames decrease", "3 key w press\n2 key w release\n", 2,
       "frame 2 comes after frame 3 (frames must not decrease)"},
      {"negative frame", "-1 key w press\n", 1, "frame '-1' is not an integer"},
      {"frame not a number", "one key w press\n", 1, "frame 'one'"},
      {"frame out of range", "100000001 key w press\n", 1, "0..100000000"},
      {"no event", "4\n", 1, "frame 4 has no event"},
      {"unknown event", "0 wheel 1 1\n", 1, "unknown event 'wheel'"},
      {"unknown key", "0 key hyper press\n", 1,
       "unknown key 'hyper' (key names: see orv-view --help)"},
      {"key name with a space", "0 key f 1 press\n", 1, "key takes NAME and press"},
      {"key name with a non-ASCII letter", "0 key \xC3\x89scape press\n", 1,
       "unknown key '\xC3\x89scape'"},
      {"action is case-sensitive", "0 key w Press\n", 1, "unknown key action 'Press'"},
      {"key name of a code", "0 key 87 press\n", 1, "unknown key '87'"},
      {"unknown key action", "0 key w hold\n", 1, "unknown key action 'hold'"},
      {"key without action", "0 key w\n", 1, "key takes NAME and press, release or repeat"},
      {"unknown button", "0 button back press\n", 1, "unknown button 'back'"},
      {"button repeat", "0 button left repeat\n", 1, "unknown button action 'repeat'"},
      {"move with one value", "0 move 1\n", 1, "move takes DX DY, got 1 values"},
      {"scroll with three values", "0 scroll 1 2 3\n", 1, "scroll takes DX DY, got 3 values"},
      {"move not a number", "0 move 1 x\n", 1, "DY is not a number: 'x'"},
      {"move not finite", "0 move inf 0\n", 1, "DX 'inf' is not a finite value within"},
      {"move NaN", "0 move 0 nan\n", 1, "DY 'nan' is not a finite value within"},
      {"scroll out of range", "0 scroll 0 2e6\n", 1, "DY '2e6' is not a finite value within"},
      {"invalid UTF-8 in a comment", "0 key w press # \xFF\n", 1, "invalid UTF-8"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    const ScriptParse r = parseInputScript(c.text);
    ASSERT_TRUE(r.error.has_value());
    EXPECT_EQ(r.error->line, c.line);
    EXPECT_NE(r.error->problem.find(c.problem), std::string::npos) << r.error->problem;
  }
}

TEST(InputScript, EqualFramesKeepFileOrder) {
  const ScriptParse r = parseInputScript("5 key a press\n5 key a release\n5 key a press\n");
  ASSERT_FALSE(r.error);
  ASSERT_EQ(r.events.size(), 3u);
  EXPECT_EQ(r.events[0].event.kind, InputEventKind::key_press);
  EXPECT_EQ(r.events[1].event.kind, InputEventKind::key_release);
  EXPECT_EQ(r.events[2].event.kind, InputEventKind::key_press);
}

}  // namespace
}  // namespace orv::view
