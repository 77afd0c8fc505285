#include "saver/lumettaView.h"

#include <gtest/gtest.h>

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

 private:
  RecordingPlatform& m_log;
};

class LumettaViewTest : public SaverTest {
 protected:
  void SetUp() override {
    SaverTest::SetUp();
    platform.resources = resources;
    platform.temporary = temp;
  }
  void Package(const FormContent& form) { ASSERT_TRUE(SavePackage(resources, {form})); }

  RecordingPlatform platform;
  const Rect frame{10, 20, 640, 480};
};

class LumettaViewModeTest : public LumettaViewTest, public ::testing::WithParamInterface<bool> {};

TEST_P(LumettaViewModeTest, InitialiserRunsItsStepsInOrder) {
  const bool preview = GetParam();
  Package({kMain, kPreview, kSettings});
  WatchedView view(platform);
  ASSERT_TRUE(view.initWithFrame(frame, preview));

  const Calls expected = {
      std::string("initSaverView 10,20,640,480 ") + (preview ? "preview" : "full"),
      "unpackSwfs",
      "resourcePath",
      "temporaryDirectory",
      "disableLocalSecurity -> false",  // no player plug-in on this machine
      "createWebView 0,0,640,480",      // over the bounds, not the frame
      "addSubview 1",
      "loadHTMLString 1",
      "disableLocalSecurity -> false",
      "setAnimationTimeInterval",
  };
  EXPECT_EQ(platform.calls, expected);
  EXPECT_EQ(platform.interval, 1.0 / 30.0);
  EXPECT_EQ(platform.pages[1], Calls{ComposeSwfPage(preview ? kSwfPreview : kSwfFull)});
}

INSTANTIATE_TEST_SUITE_P(FullAndPreview, LumettaViewModeTest, ::testing::Bool());

TEST_F(LumettaViewTest, FormWithOnlyAMainProgramShowsItAndDeletesItOnRelease) {
  Package({kMain, std::nullopt, std::nullopt});
  g_settings = "/earlier/view/ssstemp.abcdef";
  {
    lumettaView view(platform);
    ASSERT_TRUE(view.initWithFrame(frame, true));
    EXPECT_EQ(g_preview, g_full);
    EXPECT_EQ(platform.pages[1], Calls{ComposeSwfPage(kSwfFull)});
    EXPECT_EQ(FileCount(temp), 1u);
    // A settings path left by another view offers no sheet.
    EXPECT_FALSE(view.hasConfigureSheet());
    g_swfSettings = std::make_shared<const Bytes>(kSettings);
    EXPECT_TRUE(view.hasConfigureSheet());
  }
  EXPECT_EQ(FileCount(temp), 0u);
  EXPECT_FALSE(g_full.empty());  // the paths themselves stay
}

TEST_F(LumettaViewTest, RefusedViewDoesNothingAndLeavesAnotherViewsFilesAlone) {
  Package({kMain, kPreview, kSettings});
  lumettaView shown(platform);
  ASSERT_TRUE(shown.initWithFrame(frame, false));
  const std::string full = g_full;
  platform.calls.clear();
  platform.initResult = false;
  {
    WatchedView refused(platform);
    EXPECT_FALSE(refused.initWithFrame(frame, false));
  }
  EXPECT_EQ(platform.calls, Calls{"initSaverView 10,20,640,480 full"});
  EXPECT_EQ(g_full, full);
  EXPECT_EQ(FileCount(temp), 3u);
}

// No package, or a temporary folder that cannot hold files: the view is
// still made, its page naming no file and no template.
TEST_F(LumettaViewTest, FailedExtractionStillMakesTheViewWithAnEmptySource) {
  for (const bool packaged : {false, true}) {
    SCOPED_TRACE(packaged ? "no temporary folder" : "no package");
    if (packaged) {
      Package({kMain, kPreview, kSettings});
      platform.temporary = temp + "/gone";
    }
    lumettaView view(platform);
    ASSERT_TRUE(view.initWithFrame(frame, false));
    EXPECT_EQ(platform.calls.back(), "setAnimationTimeInterval");
    EXPECT_FALSE(view.unpackSwfs());
    EXPECT_EQ(view.lastExtraction().loaded, packaged);
    EXPECT_NE(view.lastExtraction().problem.find(
                  packaged ? platform.temporary : "the package " + resources + "/vello.dat was not found"),
              std::string::npos);
    const std::string& page = platform.pages.rbegin()->second.at(0);
    EXPECT_NE(page.find("<embed src=\"file://\""), std::string::npos);
    EXPECT_EQ(page.find("XXXXXX"), std::string::npos);
    EXPECT_EQ(FileCount(temp), 0u);
  }
}

TEST_F(LumettaViewTest, TwoViewsShareThePathsAndEitherReleaseDeletesTheCurrentFiles) {
  Package({kMain, kPreview, kSettings});
  auto first = std::make_unique<lumettaView>(platform);
  ASSERT_TRUE(first->initWithFrame(frame, false));
  const std::string firstFull = g_full;
  auto second = std::make_unique<lumettaView>(platform);
  ASSERT_TRUE(second->initWithFrame(frame, true));
  EXPECT_NE(g_full, firstFull);
  EXPECT_EQ(FileCount(temp), 6u);

  // Releasing the first view deletes what the paths name now: the second
  // view's files. The first view's own files stay behind.
  first.reset();
  EXPECT_EQ(FileCount(temp), 3u);
  EXPECT_EQ(ReadBytes(firstFull), kMain);
  EXPECT_FALSE(ReadBytes(g_full).has_value());
  second.reset();
  EXPECT_EQ(FileCount(temp), 3u);
}

// A sheet whose file does not load gives null and no page, and nothing is
// cached on failure: each call tries the file again. Once it loads, it
// loads once and shows the settings program; its OK button ends it.
TEST_F(LumettaViewTest, ConfigureSheetLoadsOnceAndShowsTheSettingsProgram) {
  Package({kMain, kPreview, kSettings});
  lumettaView view(platform);
  ASSERT_TRUE(view.initWithFrame(frame, false));
  EXPECT_TRUE(view.hasConfigureSheet());
  platform.nibResult = false;
  platform.calls.clear();
  EXPECT_EQ(view.configureSheet(), nullptr);
  EXPECT_EQ(view.configureSheet(), nullptr);
  view.onOkClick(nullptr);  // no sheet to end
  EXPECT_EQ(platform.calls, Calls(2, "loadNibNamed ConfigureSheet"));
  EXPECT_EQ(platform.pages.count(2), 0u);

  platform.nibResult = true;
  platform.calls.clear();
  SheetWindow* sheet = view.configureSheet();
  ASSERT_NE(sheet, nullptr);
  EXPECT_EQ(view.configureSheet(), sheet);
  EXPECT_EQ(platform.calls, (Calls{"loadNibNamed ConfigureSheet", "loadHTMLString 2"}));
  EXPECT_EQ(platform.pages[2], Calls{ComposeSwfPage(kSwfSettings)});

  platform.calls.clear();
  ASSERT_EQ(platform.sheetOwner, &view);
  platform.sheetOwner->onOkClick(nullptr);  // the sheet's OK button
  EXPECT_EQ(platform.calls, Calls{"endSheet 2"});
}

// Drawn: the base class's black, then red over the bounds, seen where no web view covers it.
TEST_F(LumettaViewTest, WebViewThatCannotBeMadeIsSkippedTheViewStillDraws) {
  Package({kMain, kPreview, kSettings});
  platform.webViewsCreated = false;
  lumettaView view(platform);
  ASSERT_TRUE(view.initWithFrame(frame, false));
  EXPECT_EQ(view.webView(), nullptr);
  EXPECT_TRUE(view.subviews().empty());
  EXPECT_TRUE(platform.pages.empty());
  EXPECT_EQ(platform.calls.back(), "setAnimationTimeInterval");
  platform.calls.clear();
  view.drawRect(Rect{1, 2, 3, 4});
  EXPECT_EQ(platform.calls, (Calls{"fillRect 1,2,3,4 black", "fillRect 0,0,640,480 red"}));
}

}  // namespace
