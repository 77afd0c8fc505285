#pragma once

#include <ostream>
#include <string>

#include "saver/SaverPlatform.h"

// A platform without a display: it reports on a stream what a real desktop
// would show (the pages loaded into web views, the fills, the sheet).
class HeadlessPlatform : public SaverPlatform {
 public:
  // resourceDir is where the package is read from; out receives the report.
  HeadlessPlatform(std::string resourceDir, std::ostream& out);

  bool initSaverView(const Rect& frame, bool isPreview) override;
  void startAnimation() override;
  void stopAnimation() override;
  void setAnimationTimeInterval(double seconds) override;

  // Where the report goes from now on.
  void setOutput(std::ostream& out) { m_out = &out; }

  std::string resourcePath() override { return m_resourceDir; }
  // $TMPDIR when set and not empty, else "/tmp".
  std::string temporaryDirectory() override;

  std::unique_ptr<WebView> createWebView(const Rect& frame) override;
  void addSubview(WebView& webView) override;
  void loadHTMLString(WebView& webView, const std::string& html) override;

  bool loadNibNamed(const std::string& name, SheetOwner& owner, SheetOutlets& outlets) override;
  void endSheet(SheetWindow& sheet) override;

  void fillRect(const Rect& rect, const Color& color) override;

 private:
  std::string m_resourceDir;
  std::ostream* m_out;
  int m_webViewCount = 0;
};

// What a headless web view was last asked to show.
class HeadlessWebView : public WebView {
 public:
  HeadlessWebView(int number, const Rect& frame) : m_number(number), m_frame(frame) {}
  int number() const { return m_number; }
  const Rect& frame() const { return m_frame; }
  const std::string& page() const { return m_page; }
  void setPage(const std::string& page) { m_page = page; }

 private:
  int m_number;
  Rect m_frame;
  std::string m_page;
};
