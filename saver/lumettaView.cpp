#include "saver/lumettaView.h"

#include <string>
#include <utility>

#include "saver/LocalSecurity.h"
#include "saver/SaverGlobals.h"
#include "saver/SwfPage.h"

lumettaView::lumettaView(SaverPlatform& platform) : SaverView(platform) {}

lumettaView::~lumettaView() {
  // A view the host refused extracted nothing: the files named now belong
  // to another view, which still shows them.
  if (m_initialised) DeleteSwfFiles();
}

bool lumettaView::initWithFrame(const Rect& frame, bool isPreview) {
  if (!SaverView::initWithFrame(frame, isPreview)) return false;
  m_initialised = true;

  unpackSwfs();
  disableLocalSecurity();

  std::unique_ptr<WebView> webView = platform().createWebView(bounds());
  _webView = webView.get();
  addSubview(std::move(webView));
  if (_webView != nullptr) loadSwfOfType(isPreview ? kSwfPreview : kSwfFull, *_webView);

  // Once more after the page is loaded: the player may have started by now.
  disableLocalSecurity();
  setAnimationTimeInterval(kAnimationTimeInterval);
  return true;
}

void lumettaView::startAnimation() { SaverView::startAnimation(); }

void lumettaView::stopAnimation() { SaverView::stopAnimation(); }

void lumettaView::animateOneFrame() {}

void lumettaView::drawRect(const Rect& rect) {
  SaverView::drawRect(rect);
  platform().fillRect(bounds(), Color::redColor());
}

bool lumettaView::hasConfigureSheet() const {
  return g_swfSettings != nullptr || m_extraction.settings.written;
}

SheetWindow* lumettaView::configureSheet() {
  if (configSheet == nullptr) {
    SheetOutlets outlets;
    if (platform().loadNibNamed(kConfigureSheetName, *this, outlets)) {
      configSheet = std::move(outlets.configSheet);
      _configWebView = outlets.configWebView;
      if (_configWebView != nullptr) loadSwfOfType(kSwfSettings, *_configWebView);
    }
  }
  return configSheet.get();
}

void lumettaView::onOkClick(const void* /*sender*/) {
  if (configSheet != nullptr) platform().endSheet(*configSheet);
}

bool lumettaView::unpackSwfs() {
  // Asked in this order: the package first, then where its programs go.
  const std::string resources = platform().resourcePath();
  const std::string temporary = platform().temporaryDirectory();
  return UnpackSwfs(resources, temporary, &m_extraction);
}

bool lumettaView::disableLocalSecurity() {
#if defined(__APPLE__)
  return CallModuleFunction(kFlashPlayerModulePath, kDisableLocalSecuritySymbol);
#else
  // No Flash Player plug-in exists for this platform, so nothing is looked
  // for: loading whatever someone put at that path would run their code in
  // every user's screen saver, twice per view.
  return false;
#endif
}

void lumettaView::loadSwfOfType(int type, WebView& webView) {
  platform().loadHTMLString(webView, ComposeSwfPage(type));
}
