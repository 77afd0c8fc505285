// Public SWF programs with reference pictures (the shared corpus), played
// through the whole chain: packed by vello, plain or protected, shown by
// lumetta under Xvfb at the stage's size, and the web view's picture after
// the first frame compared with the reference.

#include <gtest/gtest.h>

#include <nlohmann/json.hpp>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <map>
#include <memory>
#include <ostream>
#include <string>
#include <utility>
#include <vector>

#include "tests/lumetta/DemoPixels_test.h"
#include "tests/lumetta/LumettaProcess_test.h"
#include "tools/vello/VelloRun_test.h"

namespace {

using namespace std::chrono_literals;

// Generous: WebGL on a software rasteriser is slow, and the machine may be
// busy building.
constexpr auto kPlayLimit = 120s;
constexpr auto kStopLimit = 20s;
// lumetta saves its snapshot this long after the first frame it sees.
constexpr double kSnapshotDelaySeconds = 0.5;

const std::filesystem::path kCorpus = LUMETTA_SWF_CORPUS;

// Under the sanitizers only lumetta's own process is instrumented: the
// player draws in the web engine's process, the same with or without them.
// One case in each renderer (plain in one, protected in the other) covers
// lumetta's paths there; the rest would only cost time.
#if defined(__SANITIZE_ADDRESS__)
constexpr bool kSanitized = true;
#else
constexpr bool kSanitized = false;
#endif
constexpr const char kSanitizedCase[] = "rf-avm2-simple-shapes";

struct CorpusCase {
  const char* name;
  bool canvasMatches;  // what the canvas renderer draws today
};

// With WebGL every case matches. The canvas renderer draws gradients'
// focal points and spreads, drop shadows and blurs wrong or not at all.
const CorpusCase kCases[] = {
    {"rf-avm1-gradient-fill", false}, {"rf-avm1-drop-shadow", false},
    {"rf-avm2-blur-quality", false},  {"rf-avm2-radial-gradient", true},
    {"rf-avm2-simple-shapes", true},  {"rf-avm1-masks", true},
    {"rf-avm2-bitmap-fill", true},
};

struct Stage {
  int width = 0, height = 0;
  double fps = 0;
  int numFrames = 1;  // the reference was taken after this many frames
  int tolerance = 0;
};

Stage ReadStage(const std::string& name) {
  std::ifstream in(kCorpus / name / "meta.json");
  const nlohmann::json meta = nlohmann::json::parse(in);
  Stage stage;
  stage.width = static_cast<int>(meta["swf"]["width"].get<double>());
  stage.height = static_cast<int>(meta["swf"]["height"].get<double>());
  stage.fps = meta["swf"]["fps"].get<double>();
  stage.numFrames = meta.value("num_frames", 1);
  stage.tolerance = meta.value("tolerance", 0);
  return stage;
}

// How much of a capture agrees with the reference: a pixel agrees when
// each channel lies within the tolerance of the range its reference
// pixel's 3x3 neighbourhood spans (antialiased edges fall in that range).
// "detail" counts only where the reference differs from its own
// background (its most common colour), so that a blank stage cannot pass
// for a picture of a few small shapes.
struct Agreement {
  double all = 0;
  double detail = 0;
  bool matches() const { return all >= 0.99 && detail >= 0.95; }
};

unsigned Key(const Rgb& c) { return (unsigned{c.red} << 16) | (unsigned{c.green} << 8) | c.blue; }

// The most common colour of the image, and how many pixels have it.
std::pair<unsigned, long> Background(const Pixels& image) {
  std::map<unsigned, long> colours;
  for (int y = 0; y < image.height(); ++y)
    for (int x = 0; x < image.width(); ++x) ++colours[Key(image.at(x, y))];
  return *std::max_element(colours.begin(), colours.end(),
                           [](const auto& a, const auto& b) { return a.second < b.second; });
}

Agreement Compare(const Pixels& capture, const Pixels& reference, int ownTolerance) {
  const int tolerance = std::max(32, ownTolerance);
  const int w = reference.width(), h = reference.height();
  // The stage's area of the capture (letterboxed when the shapes differ)
  // at the reference's size.
  const double scale = std::min(capture.width() / double(w), capture.height() / double(h));
  const int sw = static_cast<int>(w * scale + 0.5), sh = static_cast<int>(h * scale + 0.5);
  GdkPixbuf* stage = gdk_pixbuf_new_subpixbuf(capture.pixbuf, (capture.width() - sw) / 2,
                                              (capture.height() - sh) / 2, sw, sh);
  const Pixels seen(gdk_pixbuf_scale_simple(stage, w, h, GDK_INTERP_BILINEAR));
  g_object_unref(stage);

  const unsigned background = Background(reference).first;

  long agree = 0, details = 0, detailsAgree = 0;
  for (int y = 0; y < h; ++y) {
    for (int x = 0; x < w; ++x) {
      int low[3] = {255, 255, 255}, high[3] = {0, 0, 0};
      for (int ny = std::max(0, y - 1); ny <= std::min(h - 1, y + 1); ++ny)
        for (int nx = std::max(0, x - 1); nx <= std::min(w - 1, x + 1); ++nx) {
          const Rgb r = reference.at(nx, ny);
          const int channels[3] = {r.red, r.green, r.blue};
          for (int i = 0; i < 3; ++i) {
            low[i] = std::min(low[i], channels[i]);
            high[i] = std::max(high[i], channels[i]);
          }
        }
      const Rgb c = seen.at(x, y);
      const int channels[3] = {c.red, c.green, c.blue};
      bool ok = true;
      for (int i = 0; i < 3; ++i)
        ok = ok && channels[i] >= low[i] - tolerance && channels[i] <= high[i] + tolerance;
      agree += ok;
      if (Key(reference.at(x, y)) != background) {
        ++details;
        detailsAgree += ok;
      }
    }
  }
  Agreement a;
  a.all = agree / double(w * h);
  a.detail = details == 0 ? 1.0 : detailsAgree / double(details);
  return a;
}

// Share of pixels unlike the picture's most common colour.
double DrawnShare(const Pixels& image) {
  return 1.0 - Background(image).second / double(image.width() * image.height());
}

class CorpusTest : public XvfbTest {
 protected:
  void SetUp() override {
    if (!std::filesystem::is_directory(kCorpus))
      GTEST_SKIP() << "no SWF corpus at " << kCorpus << " (it sits in shared/ beside the checkout)";
    XvfbTest::SetUp();
    if (IsSkipped()) return;
    std::string name = ::testing::UnitTest::GetInstance()->current_test_info()->name();
    std::replace(name.begin(), name.end(), '/', '-');
    m_snapshot = SnapshotDir() + "/corpus-" + name + ".png";
    m_output = SnapshotDir() + "/corpus-" + name + ".log";
  }

  // The program, plain or protected, packed by vello over the package
  // packed before, with the renderer in a window of the stage's size.
  std::unique_ptr<LumettaProcess> Play(const std::string& program, bool protect,
                                       const std::string& renderer, const Stage& stage) {
    std::vector<std::string> pack = {"pack", "-q", "--force", "-o", m_package.File("vello.dat"),
                                     "--main", program};
    if (protect) pack.push_back("--protect");
    const vellorun::Result packed = vellorun::Vello(m_package, pack);
    EXPECT_EQ(packed.exitCode, 0) << packed.err;
    if (packed.exitCode != 0) return nullptr;
    // Left from an earlier run, they would be taken for this run's.
    std::filesystem::remove(m_snapshot);
    std::filesystem::remove(m_output);
    return std::make_unique<LumettaProcess>(
        std::vector<std::string>{"--renderer", renderer, "--window-size",
                                 std::to_string(stage.width) + "x" + std::to_string(stage.height),
                                 "--platform", "gtk", "--verbose", "--resources", m_package.path().string(),
                                 "--snapshot", m_snapshot, "--seconds", "300"},
        s_server->display(), m_temp.path().string(), m_output);
  }

  // Waits for the snapshot and stops lumetta; false when there is none.
  bool Snapshot(LumettaProcess& lumetta, const std::string& renderer) {
    const bool saved = lumetta.waitForOutput("snapshot: ", kPlayLimit);
    EXPECT_TRUE(saved) << lumetta.output();
    EXPECT_EQ(lumetta.count("player: " + renderer + " renderer (asked for with --renderer " +
                            renderer + ")"),
              1u)
        << lumetta.output();
    EXPECT_EQ(lumetta.count("lumetta: the player cannot show the program"), 0u) << lumetta.output();
    EXPECT_EQ(lumetta.stopWith(SIGTERM, kStopLimit), 0) << lumetta.output();
    return saved;
  }

  TempDir m_package;  // the package lumetta reads
  TempDir m_temp;     // lumetta's TMPDIR
  std::string m_snapshot;
  std::string m_output;
};

struct FidelityCase {
  CorpusCase corpus;
  const char* renderer;
  bool protect;
};

std::vector<FidelityCase> FidelityCases() {
  std::vector<FidelityCase> cases;
  bool protect = false;
  for (const char* renderer : {"webgl", "canvas"})
    for (const CorpusCase& c : kCases) {
      if (!kSanitized || std::string(c.name) == kSanitizedCase) cases.push_back({c, renderer, protect});
      protect = !protect;  // each case plain in one renderer, protected in the other
    }
  return cases;
}

void PrintTo(const FidelityCase& c, std::ostream* out) {
  *out << c.corpus.name << " with " << c.renderer << (c.protect ? ", protected" : ", plain");
}

class CorpusFidelity : public CorpusTest, public ::testing::WithParamInterface<FidelityCase> {};

TEST_P(CorpusFidelity, DrawsLikeTheReference) {
  const FidelityCase& c = GetParam();
  const Stage stage = ReadStage(c.corpus.name);
  // The snapshot comes a moment after the first frame; the reference must
  // have been taken within that moment.
  ASSERT_LE((stage.numFrames - 1) / stage.fps, kSnapshotDelaySeconds)
      << "this reference needs a capture later than lumetta's snapshot";
  const std::filesystem::path folder = kCorpus / c.corpus.name;
  auto lumetta = Play((folder / "program.swf").string(), c.protect, c.renderer, stage);
  ASSERT_TRUE(lumetta);
  ASSERT_TRUE(Snapshot(*lumetta, c.renderer));

  const Pixels capture(m_snapshot), reference((folder / "expected.png").string());
  ASSERT_NE(capture.pixbuf, nullptr) << m_snapshot;
  ASSERT_NE(reference.pixbuf, nullptr);
  const Agreement agreement = Compare(capture, reference, stage.tolerance);
  const bool expected = std::string(c.renderer) == "webgl" || c.corpus.canvasMatches;
  std::cout << "fidelity: " << c.corpus.name << " " << c.renderer << " "
            << (c.protect ? "protected" : "plain") << ": " << agreement.all * 100 << " % of pixels, "
            << agreement.detail * 100 << " % of the drawn ones agree: "
            << (agreement.matches() ? "matches" : "differs") << "\n";
  EXPECT_EQ(agreement.matches(), expected)
      << c.corpus.name << " with " << c.renderer << ": " << agreement.all * 100 << " % of pixels and "
      << agreement.detail * 100 << " % of those unlike the background agree (a match needs 99 % "
      << "and 95 %); expected it to " << (expected ? "match" : "differ") << ". Snapshot: " << m_snapshot;
}

std::string FidelityName(const ::testing::TestParamInfo<FidelityCase>& info) {
  std::string name = std::string(info.param.corpus.name) + "_" + info.param.renderer;
  std::replace(name.begin(), name.end(), '-', '_');
  return name;
}

INSTANTIATE_TEST_SUITE_P(Corpus, CorpusFidelity, ::testing::ValuesIn(FidelityCases()), FidelityName);

// No reference picture: the tiger must play and be drawn, not blank.
TEST_F(CorpusTest, TigerPlaysInBothRenderers) {
  if (kSanitized) GTEST_SKIP() << "the sanitizer build plays one case per renderer only";
  const Stage stage = ReadStage("sh-avm2-tiger");
  for (const char* renderer : {"webgl", "canvas"}) {
    SCOPED_TRACE(renderer);
    auto lumetta = Play((kCorpus / "sh-avm2-tiger" / "program.swf").string(),
                        std::string(renderer) == "canvas", renderer, stage);
    ASSERT_TRUE(lumetta);
    ASSERT_TRUE(Snapshot(*lumetta, renderer));
    const Pixels capture(m_snapshot);
    ASSERT_NE(capture.pixbuf, nullptr);
    EXPECT_GT(DrawnShare(capture), 0.10) << "the tiger is (nearly) blank: " << m_snapshot;
  }
}

}  // namespace
