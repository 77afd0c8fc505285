#include "saver/lumettaView.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <string>
#include <vector>

#include "saver/RecordingPlatform_test.h"
#include "saver/SaverGlobals.h"
#include "saver/SaverTestSupport_test.h"
#include "saver/SwfPage.h"

namespace {

using Calls = std::vector<std::string>;

const Bytes kMain = BytesOf("FWS\x0a main");
const Bytes kPreview = BytesOf("FWS\x0a preview");
const Bytes kSettings = BytesOf("FWS\x0a settings");

// Notes the view's messages to itself in the platform's log, so their place
// among the platform calls shows.
class WatchedView : public lumettaView {
 public:
  explicit WatchedView(RecordingPlatform& platform) : lumettaView(platform), m_log(platform) {}

  bool unpackSwfs() override {
    m_log.Note("unpackSwfs");
    return lumettaView::unpackSwfs();
  }
  bool disableLocalSecurity() override {
    const bool result = lumettaView::disableLocalSecurity();
    m_log.Note(std::string("disableLocalSecurity -> ") + (result ? "true" : "false"));
    return result;
  }
  void loadSwfOfType(int type, WebView& webView) override {
    m_log.Note("loadSwfOfType " + std::to_string(type) + " " +
               std::to_string(RecordingPlatform::Number(webView)));
    lumettaView::loadSwfOfType(type, webView);
  }

 private:
  RecordingPlatform& m_log;
};

class LumettaViewTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ResetSaverGlobals();
    ASSERT_FALSE(scratch.path().empty());
    platform.resources = scratch.Make("Resources");
    platform.temporary = scratch.Make("T");
  }
  void TearDown() override { ResetSaverGlobals(); }

  void Package(const FormContent& form) {
    ASSERT_TRUE(SavePackage(platform.resources, {form}));
  }

  ScratchFolder scratch;
  RecordingPlatform platform;
  const Rect frame{10, 20, 640, 480};
};

TEST_F(LumettaViewTest, InitialiserRunsItsStepsInOrder) {
  Package({kMain, kPreview, kSettings});
  WatchedView view(platform);
  ASSERT_TRUE(view.initWithFrame(frame, false));

  const Calls expected = {
      "initSaverView 10,20,640,480 full",
      "unpackSwfs",
      "resourcePath",
      "temporaryDirectory",
      "disableLocalSecurity -> false",  // no player plug-in on this machine
      "createWebView 0,0,640,480 -> 1",  // over the bounds, not the frame
      "addSubview 1",
      "loadSwfOfType 0 1",
      "loadHTMLString 1",
      "disableLocalSecurity -> false",
      "setAnimationTimeInterval",
  };
  EXPECT_EQ(platform.calls, expected);
  ASSERT_EQ(platform.intervals.size(), 1u);
  EXPECT_EQ(platform.intervals[0], 1.0 / 30.0);
  EXPECT_EQ(platform.intervals[0], 0.03333333333333333);
  EXPECT_EQ(view.animationTimeInterval(), 1.0 / 30.0);

  ASSERT_EQ(platform.pages[1].size(), 1u);
  EXPECT_EQ(platform.pages[1][0], ComposeSwfPage(kSwfFull));
  EXPECT_NE(platform.pages[1][0].find("src=\"file://" + g_full + "\""), std::string::npos);
  EXPECT_EQ(ReadBytes(g_full), kMain);
  ASSERT_EQ(view.subviews().size(), 1u);
  EXPECT_EQ(view.webView(), view.subviews()[0].get());
}

TEST_F(LumettaViewTest, PreviewViewLoadsThePreviewPage) {
  Package({kMain, kPreview, kSettings});
  WatchedView view(platform);
  ASSERT_TRUE(view.initWithFrame(frame, true));
  EXPECT_EQ(platform.calls[0], "initSaverView 10,20,640,480 preview");
  EXPECT_NE(std::find(platform.calls.begin(), platform.calls.end(), "loadSwfOfType 1 1"),
            platform.calls.end());
  ASSERT_EQ(platform.pages[1].size(), 1u);
  EXPECT_NE(platform.pages[1][0].find("src=\"file://" + g_preview + "\""), std::string::npos);
  EXPECT_EQ(ReadBytes(g_preview), kPreview);
}

TEST_F(LumettaViewTest, PreviewWithoutItsOwnProgramShowsTheMainFile) {
  Package({kMain, std::nullopt, std::nullopt});
  lumettaView view(platform);
  ASSERT_TRUE(view.initWithFrame(frame, true));
  EXPECT_EQ(g_preview, g_full);
  EXPECT_NE(platform.pages[1][0].find("src=\"file://" + g_full + "\""), std::string::npos);
}

TEST_F(LumettaViewTest, RefusedBaseViewDoesNothingElse) {
  Package({kMain, kPreview, kSettings});
  g_full = "/other/view/ssftemp.aaaaaa";
  platform.initResult = false;
  {
    WatchedView view(platform);
    EXPECT_FALSE(view.initWithFrame(frame, false));
  }
  EXPECT_EQ(platform.calls, Calls{"initSaverView 10,20,640,480 full"});
  EXPECT_TRUE(FilesIn(platform.temporary).empty());
  EXPECT_EQ(g_full, "/other/view/ssftemp.aaaaaa");
}

TEST_F(LumettaViewTest, RefusedViewLeavesAnotherViewsFilesAlone) {
  Package({kMain, kPreview, kSettings});
  lumettaView shown(platform);
  ASSERT_TRUE(shown.initWithFrame(frame, false));
  platform.initResult = false;
  { lumettaView refused(platform); EXPECT_FALSE(refused.initWithFrame(frame, false)); }
  EXPECT_EQ(ReadBytes(g_full), kMain);
  EXPECT_EQ(FilesIn(platform.temporary).size(), 3u);
}

TEST_F(LumettaViewTest, MissingPackageStillMakesTheViewWithAnEmptySource) {
  WatchedView view(platform);
  ASSERT_TRUE(view.initWithFrame(frame, false));
  EXPECT_FALSE(view.lastExtraction().loaded);
  EXPECT_EQ(platform.calls.back(), "setAnimationTimeInterval");
  EXPECT_NE(platform.pages[1][0].find("<embed src=\"file://\""), std::string::npos);
  EXPECT_TRUE(FilesIn(platform.temporary).empty());
}

TEST_F(LumettaViewTest, ReleaseDeletesTheFilesOnceEvenWhenPreviewRepeatsMain) {
  Package({kMain, std::nullopt, kSettings});
  {
    lumettaView view(platform);
    ASSERT_TRUE(view.initWithFrame(frame, false));
    ASSERT_EQ(g_preview, g_full);
    EXPECT_EQ(FilesIn(platform.temporary).size(), 2u);
  }
  EXPECT_TRUE(FilesIn(platform.temporary).empty());
  EXPECT_FALSE(g_full.empty());  // the paths themselves stay
}

TEST_F(LumettaViewTest, TwoViewsShareThePathsAndEitherReleaseDeletesTheCurrentFiles) {
  Package({kMain, kPreview, kSettings});
  auto first = std::make_unique<lumettaView>(platform);
  ASSERT_TRUE(first->initWithFrame(frame, false));
  const std::string firstFull = g_full;
  auto second = std::make_unique<lumettaView>(platform);
  ASSERT_TRUE(second->initWithFrame(frame, true));
  EXPECT_NE(g_full, firstFull);
  EXPECT_EQ(FilesIn(platform.temporary).size(), 6u);

  // Releasing the first view deletes what the paths name now: the second
  // view's files. The first view's own files stay behind.
  first.reset();
  EXPECT_EQ(FilesIn(platform.temporary).size(), 3u);
  EXPECT_EQ(ReadBytes(firstFull), kMain);
  EXPECT_FALSE(ReadBytes(g_full).has_value());
  second.reset();
  EXPECT_EQ(FilesIn(platform.temporary).size(), 3u);
}

TEST_F(LumettaViewTest, ConfigureSheetLoadsOnceAndShowsTheSettingsProgram) {
  Package({kMain, kPreview, kSettings});
  WatchedView view(platform);
  ASSERT_TRUE(view.initWithFrame(frame, false));
  platform.calls.clear();

  SheetWindow* sheet = view.configureSheet();
  ASSERT_NE(sheet, nullptr);
  EXPECT_EQ(view.configureSheet(), sheet);
  const Calls expected = {"loadNibNamed ConfigureSheet", "loadSwfOfType 2 2", "loadHTMLString 2"};
  EXPECT_EQ(platform.calls, expected);
  EXPECT_EQ(platform.sheetOwner, &view);
  ASSERT_EQ(platform.pages[2].size(), 1u);
  EXPECT_EQ(platform.pages[2][0], ComposeSwfPage(kSwfSettings));
  EXPECT_NE(platform.pages[2][0].find("src=\"file://" + g_settings + "\""), std::string::npos);

  platform.calls.clear();
  platform.sheetOwner->onOkClick(nullptr);  // the sheet's OK button
  EXPECT_EQ(platform.calls, Calls{"endSheet 2"});
}

TEST_F(LumettaViewTest, SheetThatDoesNotLoadGivesNullAndNoPage) {
  Package({kMain, kPreview, kSettings});
  WatchedView view(platform);
  ASSERT_TRUE(view.initWithFrame(frame, false));
  platform.nibResult = false;
  platform.calls.clear();
  EXPECT_EQ(view.configureSheet(), nullptr);
  EXPECT_EQ(view.configureSheet(), nullptr);
  // Nothing is cached on failure: each call tries the file again.
  const Calls expected = {"loadNibNamed ConfigureSheet", "loadNibNamed ConfigureSheet"};
  EXPECT_EQ(platform.calls, expected);
  EXPECT_EQ(platform.pages.count(2), 0u);

  platform.calls.clear();
  view.onOkClick(nullptr);  // no sheet to end
  EXPECT_TRUE(platform.calls.empty());
}

TEST_F(LumettaViewTest, ConfigureSheetIsOfferedWhenTheFormHasSettings) {
  Package({kMain, kPreview, kSettings});
  lumettaView view(platform);
  ASSERT_TRUE(view.initWithFrame(frame, false));
  EXPECT_TRUE(view.hasConfigureSheet());
}

TEST_F(LumettaViewTest, ConfigureSheetIsNotOfferedForALeftOverSettingsPath) {
  Package({kMain, kPreview, std::nullopt});
  g_settings = "/earlier/view/ssstemp.abcdef";
  lumettaView view(platform);
  ASSERT_TRUE(view.initWithFrame(frame, false));
  EXPECT_FALSE(view.hasConfigureSheet());
  g_swfSettings = std::make_shared<const Bytes>(kSettings);
  EXPECT_TRUE(view.hasConfigureSheet());
}

TEST_F(LumettaViewTest, DrawRectPaintsTheBaseThenRedOverTheBounds) {
  lumettaView view(platform);
  ASSERT_TRUE(view.initWithFrame(frame, false));
  platform.calls.clear();
  view.drawRect(Rect{5, 5, 10, 10});
  const Calls expected = {"fillRect 5,5,10,10 black", "fillRect 0,0,640,480 red"};
  EXPECT_EQ(platform.calls, expected);
}

TEST_F(LumettaViewTest, AnimationForwardsToTheBaseAndFramesDoNothing) {
  lumettaView view(platform);
  ASSERT_TRUE(view.initWithFrame(frame, false));
  platform.calls.clear();
  view.startAnimation();
  EXPECT_TRUE(view.isAnimating());
  view.animateOneFrame();
  view.stopAnimation();
  EXPECT_FALSE(view.isAnimating());
  EXPECT_EQ(platform.calls, (Calls{"startAnimation", "stopAnimation"}));
}

TEST_F(LumettaViewTest, WebViewThatCannotBeMadeIsSkipped) {
  Package({kMain, kPreview, kSettings});
  platform.webViewsCreated = false;
  WatchedView view(platform);
  ASSERT_TRUE(view.initWithFrame(frame, false));
  EXPECT_EQ(view.webView(), nullptr);
  EXPECT_TRUE(view.subviews().empty());
  EXPECT_TRUE(platform.pages.empty());
  EXPECT_EQ(platform.calls.back(), "setAnimationTimeInterval");
}

}  // namespace
