#pragma once

#include <memory>

#include "saver/SaverPlatform.h"
#include "saver/SaverView.h"
#include "saver/SwfFiles.h"

// The saver view: extracts the package's first form to temporary files and
// shows the main program (or the preview program in the small preview) in a
// web view over its whole bounds; its configuration sheet shows the settings
// program. Releasing the view deletes the temporary files.
class lumettaView : public SaverView, public SheetOwner {
 public:
  static constexpr double kAnimationTimeInterval = 1.0 / 30.0;
  static constexpr const char* kConfigureSheetName = "ConfigureSheet";

  explicit lumettaView(SaverPlatform& platform);
  ~lumettaView() override;

  // False (and nothing else done) when the base view cannot be made.
  bool initWithFrame(const Rect& frame, bool isPreview) override;

  void startAnimation() override;
  void stopAnimation() override;
  // Nothing to do: the web view and the player draw by themselves.
  void animateOneFrame() override;
  // Red under the web view, which covers the bounds.
  void drawRect(const Rect& rect) override;

  // True when g_swfSettings is set or this view's extraction wrote a
  // settings program.
  bool hasConfigureSheet() const;
  // Loads the sheet and its settings page on the first call; null when the
  // sheet does not load.
  SheetWindow* configureSheet();
  void onOkClick(const void* sender) override;

  // Virtual, like the messages they stand for, so a host or a test can
  // watch or replace them.
  virtual bool unpackSwfs();
  virtual bool disableLocalSecurity();
  virtual void loadSwfOfType(int type, WebView& webView);

  WebView* webView() const { return _webView; }
  WebView* configWebView() const { return _configWebView; }
  // What the last unpackSwfs of this view did; its problem says why the
  // programs cannot be shown, for the host to tell a person.
  const SwfExtractionReport& lastExtraction() const { return m_extraction; }

 private:
  WebView* _webView = nullptr;  // owned by the subviews
  std::unique_ptr<SheetWindow> configSheet;
  WebView* _configWebView = nullptr;  // owned by configSheet

  bool m_initialised = false;
  SwfExtractionReport m_extraction;
};
