#include "saver/platform/headless/HeadlessPlatform.h"

#include <algorithm>
#include <string_view>

#include "saver/platform/TerminalText.h"

#include <cstdlib>
#include <utility>

#include "saver/platform/ResourceFolders.h"

namespace {

std::ostream& operator<<(std::ostream& out, const Rect& rect) {
  return out << "(" << rect.x << ", " << rect.y << ") " << rect.width << "x" << rect.height;
}

const char* ColorName(const Color& color) {
  if (color == Color::redColor()) return "red";
  if (color == Color::blackColor()) return "black";
  return "a colour";
}

// The sheet has nothing to show but its web view's page.
class HeadlessSheet : public SheetWindow {
 public:
  explicit HeadlessSheet(std::unique_ptr<HeadlessWebView> webView) : m_webView(std::move(webView)) {}
  HeadlessWebView& webView() { return *m_webView; }

 private:
  std::unique_ptr<HeadlessWebView> m_webView;
};

}  // namespace

HeadlessPlatform::HeadlessPlatform(std::string resourceDir, std::ostream& out)
    : m_resourceDir(std::move(resourceDir)), m_out(&out) {}

bool HeadlessPlatform::initSaverView(const Rect& frame, bool isPreview) {
  *m_out << "view: " << frame << (isPreview ? ", preview" : ", full screen") << "\n";
  return true;
}

void HeadlessPlatform::startAnimation() { *m_out << "view: animation started\n"; }

void HeadlessPlatform::stopAnimation() { *m_out << "view: animation stopped\n"; }

void HeadlessPlatform::setAnimationTimeInterval(double seconds) {
  *m_out << "view: one frame every " << seconds << " s\n";
}

std::string HeadlessPlatform::temporaryDirectory() { return UserTemporaryDirectory(); }

std::unique_ptr<WebView> HeadlessPlatform::createWebView(const Rect& frame) {
  return std::make_unique<HeadlessWebView>(++m_webViewCount, frame);
}

void HeadlessPlatform::addSubview(WebView& webView) {
  auto& view = static_cast<HeadlessWebView&>(webView);
  *m_out << "web view " << view.number() << ": shown over " << view.frame() << "\n";
}

void HeadlessPlatform::loadHTMLString(WebView& webView, const std::string& html) {
  auto& view = static_cast<HeadlessWebView&>(webView);
  view.setPage(html);
  *m_out << "web view " << view.number() << ": loads this page (" << html.size()
        << " bytes, no base URL):\n";
  // Line by line, each shown as it is but for what would drive a terminal
  // (the paths in it come from $TMPDIR).
  for (size_t at = 0; at < html.size();) {
    const size_t end = std::min(html.find('\n', at), html.size());
    *m_out << Printable(std::string_view(html).substr(at, end - at)) << "\n";
    at = end + 1;
  }
}

bool HeadlessPlatform::loadNibNamed(const std::string& name, SheetOwner& /*owner*/,
                                    SheetOutlets& outlets) {
  // The sheet is a window with one web view and an OK button; headless, it
  // only reports the page and waits for the host to press OK.
  auto webView = std::make_unique<HeadlessWebView>(++m_webViewCount, Rect{0, 0, 400, 300});
  HeadlessWebView* inside = webView.get();
  outlets.configSheet = std::make_unique<HeadlessSheet>(std::move(webView));
  outlets.configWebView = inside;
  *m_out << "sheet: " << name << " loaded, web view " << inside->number() << " inside\n";
  return true;
}

void HeadlessPlatform::endSheet(SheetWindow& /*sheet*/) { *m_out << "sheet: ended\n"; }

void HeadlessPlatform::fillRect(const Rect& rect, const Color& color) {
  *m_out << "view: fills " << rect << " with " << ColorName(color) << "\n";
}
