// orv-view's command line and what loadInputs does with it before any device: -h, --overwrite and
// the frames that an output directory already holds.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <set>
#include <string>
#include <vector>

#include "picture_support.hpp"
#include "view/input_script.hpp"
#include "view/options.hpp"
#include "view/view_inputs.hpp"

namespace orv::view {
namespace {

namespace fs = std::filesystem;
using test_support::Scratch;

OptionsParse parse(const std::vector<std::string>& args) {
  const std::vector<std::string_view> views(args.begin(), args.end());
  return parseOptions(views, AppConfig{});
}

InputsLoad load(const std::vector<std::string>& args) {
  const std::vector<std::string_view> views(args.begin(), args.end());
  return loadInputs(views, AppConfig{});
}

TEST(ViewOptions, ShortHelpIsHelp) {
  const struct {
    std::vector<std::string> args;
    const char* error;  // the whole message; empty: accepted as a request for help
  } cases[] = {
      {{"-h"}, ""},
      {{"--help"}, ""},
      {{"--headless", "-h"}, ""},  // no --frames or --out needed
      {{"--record", "dir", "-h", "--no-vsync"}, ""},
      {{"-h", "--help"}, "--help: given twice"},
      {{"--help", "-h"}, "-h: given twice"},
      {{"-h=1"}, "'-h=1': unexpected argument"},
      {{"-H"}, "'-H': unexpected argument"},
      {{"-help"}, "'-help': unexpected argument"},
      {{"-hh"}, "'-hh': unexpected argument"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.args.front() + (c.args.size() > 1 ? " " + c.args[1] : ""));
    const OptionsParse r = parse(c.args);
    EXPECT_EQ(r.error.value_or(""), c.error);
    if (*c.error == '\0') {
      EXPECT_TRUE(r.options.help);
    }
  }
}

TEST(ViewOptions, OverwriteIsAFlagOfBothModes) {
  const struct {
    std::vector<std::string> args;
    bool overwrite;
    const char* error;
  } cases[] = {
      {{"--headless", "--frames", "1", "--out", "d"}, false, ""},
      {{"--headless", "--frames", "1", "--out", "d", "--overwrite"}, true, ""},
      {{"--overwrite", "--headless", "--out=d", "--frames=2"}, true, ""},
      {{"--record", "d", "--overwrite"}, true, ""},
      {{"--overwrite"}, true, ""},
      {{"--overwrite=yes", "--record", "d"}, false, "--overwrite: takes no value"},
      {{"--overwrite", "--overwrite"}, true, "--overwrite: given twice"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.args.front() + " ... (" + std::to_string(c.args.size()) + " arguments)");
    const OptionsParse r = parse(c.args);
    EXPECT_EQ(r.error.value_or(""), c.error);
    EXPECT_EQ(r.options.overwrite, c.overwrite);
  }
}

TEST(ViewOptions, OutputsAreVideosOrFoldersAndStillsTakeASizeAndAPngFile) {
  const Scratch scratch("orv-view-options");
  const std::string dotted = scratch.path("run.v2");  // an existing folder with a dot
  fs::create_directory(dotted);
  const struct {
    std::vector<std::string> args;
    const char* error;  // the whole message; empty: accepted
    OutputKind kind;
    std::optional<int> crf;
    std::uint32_t frames;
  } cases[] = {
      {{"--headless", "--frames", "3", "--out", "f.mp4"}, "", OutputKind::mp4, {}, 3},
      {{"--headless", "--frames", "3", "--out", "F.MP4"}, "", OutputKind::mp4, {}, 3},
      {{"--headless", "--frames", "3", "--out", "a/b.webm", "--crf", "63"},
       "",
       OutputKind::webm,
       63,
       3},
      {{"--headless", "--frames", "3", "--out", "frames"}, "", OutputKind::frames, {}, 3},
      {{"--headless", "--frames", "3", "--out", "frames.v2/"}, "", OutputKind::frames, {}, 3},
      {{"--headless", "--frames", "3", "--out", dotted}, "", OutputKind::frames, {}, 3},
      {{"--headless", "--frames", "3", "--out", "../up"}, "", OutputKind::frames, {}, 3},
      {{"--headless", "--frames", "3", "--out", ".hidden"}, "", OutputKind::frames, {}, 3},
      {{"--record", "flight.webm", "--crf", "0"}, "", OutputKind::webm, 0, 0},
      {{"--headless", "--frames", "3", "--out", "f.avi"},
       "--out: 'f.avi': unknown extension '.avi' (a video is FILE.mp4 or FILE.webm; PNG frames go "
       "into a folder: a path without an extension, ending in '/', or an existing folder)",
       OutputKind::frames,
       {},
       3},
      {{"--record", "frames.v3"},
       "--record: 'frames.v3': unknown extension '.v3' (a video is "
       "FILE.mp4 or FILE.webm; PNG frames go into a folder: a path "
       "without an extension, ending in '/', or an existing folder)",
       OutputKind::frames,
       {},
       0},
      {{"--headless", "--frames", "3", "--out", "f.mp4", "--crf", "52"},
       "--crf: 52 is outside H.264's range 0..51",
       OutputKind::mp4,
       52,
       3},
      {{"--headless", "--frames", "3", "--out", "f.webm", "--crf", "64"},
       "--crf: 64 is outside VP9's range 0..63",
       OutputKind::webm,
       64,
       3},
      {{"--headless", "--frames", "3", "--out", "f.mp4", "--crf", "-1"},
       "--crf: '-1' is not an integer",
       OutputKind::mp4,
       {},
       3},
      {{"--headless", "--frames", "3", "--out", "d", "--crf", "20"},
       "--crf: only for a video (--out or --record FILE.mp4 or FILE.webm)",
       OutputKind::frames,
       20,
       3},
      {{"--crf", "20"},
       "--crf: only for a video (--out or --record FILE.mp4 or FILE.webm)",
       OutputKind::frames,
       20,
       0},
      {{"--headless", "--frames", "3", "--out", "f.webm", "--dt", "0.0005"},
       "--dt: a video needs a time step of at least 0.001 s (1000 frames a second at most), not "
       "0.0005",
       OutputKind::webm,
       {},
       3},
      {{"--headless", "--frames", "3", "--out", "d", "--dt", "0"}, "", OutputKind::frames, {}, 3},
      // A still alone is one frame's view; with --frames, the last frame's.
      {{"--headless", "--still", "3840x2160", "s.png"}, "", OutputKind::frames, {}, 1},
      {{"--headless", "--frames", "9", "--still=64x48", "s.PNG"}, "", OutputKind::frames, {}, 9},
      {{"--headless"}, "--out: required (or --still WxH FILE.png)", OutputKind::frames, {}, 0},
      {{"--headless", "--still", "64x48"},
       "--still: missing FILE.png after '64x48'",
       OutputKind::frames,
       {},
       0},
      {{"--still", "64x48", "s.jpg"},
       "--still: 's.jpg' is not FILE.png (a still is written as PNG)",
       OutputKind::frames,
       {},
       0},
      {{"--still", "64x48", "dir/.png"},
       "--still: 'dir/.png' is not FILE.png (a still is written as PNG)",
       OutputKind::frames,
       {},
       0},
      {{"--still", "0x48", "s.png"},
       "--still: '0x48' is not WxH with W and H integers in 1..65536",
       OutputKind::frames,
       {},
       0},
      {{"--still", "64x48", "s.png", "--still", "8x8", "t.png"},
       "--still: given twice",
       OutputKind::frames,
       {},
       0},
  };
  for (const auto& c : cases) {
    std::string shown;
    for (const std::string& a : c.args)
      shown += a + " ";
    SCOPED_TRACE(shown);
    const OptionsParse r = parse(c.args);
    EXPECT_EQ(r.error.value_or(""), c.error);
    if (r.error) continue;
    EXPECT_EQ(r.options.out_kind, c.kind);
    EXPECT_EQ(r.options.crf, c.crf);
    EXPECT_EQ(r.options.frames, c.frames);
  }
  const OptionsParse still = parse({"--headless", "--still", "3840x2160", "poster.png"});
  ASSERT_TRUE(still.options.still);
  EXPECT_EQ(still.options.still->width, 3840u);
  EXPECT_EQ(still.options.still->height, 2160u);
  EXPECT_EQ(still.options.still->path, "poster.png");
}

TEST(ViewOptions, UsageNamesEveryKeyAndEveryOption) {
  const std::string usage(usageText());
  const auto has_word = [&](const std::string& word) {
    for (std::size_t at = usage.find(word); at != std::string::npos;
         at = usage.find(word, at + 1)) {
      const char before = at == 0 ? ' ' : usage[at - 1];
      const char after = at + word.size() == usage.size() ? ' ' : usage[at + word.size()];
      if ((before == ' ' || before == '\n') && (after == ' ' || after == '\n')) return true;
    }
    return false;
  };
  for (const Key key : namedKeys()) {
    const std::string name(keyName(key));
    SCOPED_TRACE(name);
    EXPECT_TRUE(has_word(name));
  }
  EXPECT_NE(usage.find("in any case"), std::string::npos);
  for (const char* option :
       {"--overwrite", "--headless", "--frames", "--out", "--scene", "--input", "--size", "--dt",
        "--record", "--no-vsync", "--adapter", "--crf", "--still"}) {
    SCOPED_TRACE(option);
    EXPECT_NE(usage.find(option), std::string::npos);
  }
  EXPECT_NE(usage.find("-h, --help"), std::string::npos);
  EXPECT_TRUE(usage.ends_with("\n"));
}

// The names in `dir`, directories with a trailing '/'.
std::set<std::string> listing(const std::string& dir) {
  std::set<std::string> names;
  for (const fs::directory_entry& e : fs::directory_iterator(dir)) {
    names.insert(e.path().filename().string() + (e.is_directory() ? "/" : ""));
  }
  return names;
}

TEST(ViewInputs, OutputDirectoryWithFramesIsRefusedUnlessOverwrite) {
  const std::set<std::string> mixed{"frame_00000.png",  "frame_1.png",     "frame_.png",
                                    "notes.png",        "frame_00000.bak", "Frame_00001.png",
                                    "xframe_00002.png", "frame_00003.PNG", "frame_dir.png/"};
  const std::set<std::string> mixed_kept{"notes.png",        "frame_00000.bak", "Frame_00001.png",
                                         "xframe_00002.png", "frame_00003.PNG", "frame_dir.png/"};
  const struct {
    const char* name;
    std::vector<std::string> args;  // OUT: the directory, SCENE: a scene file
    std::set<std::string> files;    // in OUT beforehand
    const char* error;              // the message after "'OUT' " (OUT as quoted); "" for none
    std::set<std::string> kept;     // in OUT afterwards
  } cases[] = {
      {"headless, frames",
       {"--headless", "--frames", "1", "--out", "OUT"},
       {"frame_00000.png", "frame_00001.png", "notes.txt"},
       "--out: OUT already holds frames (frame_00000.png and 1 more): use --overwrite to replace "
       "them",
       {"frame_00000.png", "frame_00001.png", "notes.txt"}},
      {"window, one frame",
       {"--record", "OUT"},
       {"frame_00007.png"},
       "--record: OUT already holds frames (frame_00007.png): use --overwrite to replace them",
       {"frame_00007.png"}},
      {"any frame_*.png counts",
       {"--record", "OUT"},
       {"frame_x.png"},
       "--record: OUT already holds frames (frame_x.png): use --overwrite to replace them",
       {"frame_x.png"}},
      {"headless, --overwrite removes frame_*.png and nothing else",
       {"--headless", "--frames", "1", "--out", "OUT", "--overwrite"},
       mixed,
       "",
       mixed_kept},
      {"window, --overwrite", {"--overwrite", "--record", "OUT"}, mixed, "", mixed_kept},
      {"no frames", {"--headless", "--frames", "1", "--out", "OUT"}, mixed_kept, "", mixed_kept},
      {"an empty directory", {"--record", "OUT"}, {}, "", {}},
      {"--help prepares nothing",
       {"--record", "OUT", "--help"},
       {"frame_00000.png"},
       "",
       {"frame_00000.png"}},
      {"a refused scene file removes nothing",
       {"--headless", "--frames", "1", "--out", "OUT", "--overwrite", "--scene", "SCENE"},
       {"frame_00000.png"},
       "SCENE: the scene has no point and no mesh (a scene file needs at least one of them)",
       {"frame_00000.png"}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    const Scratch scratch("orv-view-options");
    const std::string out = scratch.path("out");
    const std::string scene = scratch.write("scene.txt", "# no point\n");
    fs::create_directory(out);
    for (const std::string& f : c.files) {
      if (f.ends_with("/")) {
        fs::create_directory(out + "/" + f);
        std::ofstream(out + "/" + f + "frame_00000.png") << "inside a directory\n";
      } else {
        std::ofstream(out + "/" + f) << "old\n";
      }
    }
    std::vector<std::string> args;
    for (const std::string& a : c.args)
      args.push_back(a == "OUT" ? out : a == "SCENE" ? scene : a);
    const InputsLoad r = load(args);
    std::string expected = c.error;
    for (const auto& [from, to] :
         {std::pair<std::string, std::string>{"OUT", "'" + out + "'"}, {"SCENE", scene}}) {
      if (const std::size_t at = expected.find(from); at != std::string::npos) {
        expected.replace(at, from.size(), to);
      }
    }
    EXPECT_EQ(r.error.value_or(""), expected);
    EXPECT_EQ(listing(out), c.kept);
    if (c.files.contains("frame_dir.png/")) {
      EXPECT_TRUE(fs::exists(out + "/frame_dir.png/frame_00000.png"));  // not looked into
    }
  }
}

TEST(ViewInputs, OverwriteRemovesALinkNamedLikeAFrameButNotItsTarget) {
  const Scratch scratch("orv-view-options");
  const std::string out = scratch.path("out");
  const std::string target = scratch.write("keep.png", "not a frame\n");
  fs::create_directory(out);
  fs::create_symlink(target, out + "/frame_00000.png");
  const InputsLoad refused = load({"--record", out});
  EXPECT_TRUE(refused.error.value_or("").ends_with("use --overwrite to replace them"));
  const InputsLoad r = load({"--record", out, "--overwrite"});
  EXPECT_FALSE(r.error) << *r.error;
  EXPECT_TRUE(listing(out).empty());
  EXPECT_TRUE(fs::exists(target));
}

TEST(ViewInputs, FileProblemsNameTheLineUnlessTheyAreOfTheWholeFile) {
  const Scratch scratch("orv-view-options");
  const std::string out = scratch.path("out");
  const struct {
    const char* scene;
    const char* error;  // after "SCENE"
  } cases[] = {
      {"", ": the scene has no point and no mesh (a scene file needs at least one of them)"},
      {"point 1 0 0 0\npoint 0 1 0 0\nedge 0 1\n",
       ":3: edge 0 1: points 0 and 1 are a quarter circle apart, so the edge has no shorter arc"},
      {"point 1 0 0 0\nfog -1\n", ":2: fog SIGMA = -1 is negative"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.scene);
    const std::string scene = scratch.write("scene.txt", c.scene);
    const InputsLoad r = load({"--headless", "--frames", "1", "--out", out, "--scene", scene});
    EXPECT_EQ(r.error.value_or(""), scene + c.error);
  }
  const std::string script = scratch.write("input.txt", "0 key LEFT_SHIFT press\n2 key F1 press\n");
  const InputsLoad r = load({"--headless", "--frames", "1", "--out", out, "--input", script});
  ASSERT_FALSE(r.error) << *r.error;
  ASSERT_EQ(r.inputs.script.size(), 2u);
  EXPECT_EQ(r.inputs.script[1].event.payload.key.key, Key::f1);
}

TEST(ViewInputs, VideoAndStillFilesAreCheckedBeforeAnythingIsDrawn) {
  const Scratch scratch("orv-view-options");
  const std::string old_video = scratch.write("old.mp4", "an earlier flight\n");
  const std::string old_still = scratch.write("old.png", "an earlier still\n");
  fs::create_directory(scratch.path("folder.mp4"));
  const struct {
    std::vector<std::string> args;
    std::string error;
  } cases[] = {
      {{"--headless", "--frames", "1", "--out", old_video},
       "--out: '" + old_video + "' already exists: use --overwrite to replace it"},
      {{"--headless", "--frames", "1", "--out", old_video, "--overwrite"}, ""},
      {{"--record", scratch.path("folder.mp4")},
       "--record: '" + scratch.path("folder.mp4") + "' is a folder"},
      {{"--record", old_video + "/x.webm"}, "--record: cannot create '" + old_video + "': "},
      {{"--headless", "--still", "8x8", old_still},
       "--still: '" + old_still + "' already exists: use --overwrite to replace it"},
      {{"--headless", "--still", "8x8", scratch.path("new/deeper/s.png")}, ""},
      {{"--record", scratch.path("new.webm"), "--still", "8x8", old_still, "--overwrite"}, ""},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.args.back());
    const InputsLoad r = load(c.args);
    if (c.error.empty()) {
      EXPECT_FALSE(r.error) << *r.error;
    } else {
      EXPECT_TRUE(r.error.value_or("").starts_with(c.error)) << r.error.value_or("");
    }
  }
  // An existing file is replaced only when the new one is complete: preparing leaves it, and
  // leaves no other trace.
  EXPECT_EQ(listing(scratch.path(".")),
            (std::set<std::string>{"folder.mp4/", "new/", "old.mp4", "old.png"}));
  EXPECT_TRUE(fs::exists(scratch.path("new/deeper")));
}

}  // namespace
}  // namespace orv::view
