#pragma once

#include <memory>
#include <string>

// What the saver view needs from the desktop it runs on. The view's logic
// (lumettaView) talks to the platform only through this interface, so the
// same logic runs headless, under a real toolkit and inside the tests'
// recording double.

// A rectangle in view coordinates.
struct Rect {
  double x = 0;
  double y = 0;
  double width = 0;
  double height = 0;
  bool operator==(const Rect&) const = default;
};

// An RGBA colour, components from 0 to 1.
struct Color {
  double red = 0;
  double green = 0;
  double blue = 0;
  double alpha = 1;
  bool operator==(const Color&) const = default;

  static constexpr Color redColor() { return Color{1, 0, 0, 1}; }
  static constexpr Color blackColor() { return Color{0, 0, 0, 1}; }
};

// A web view made by the platform; each layer derives its own.
class WebView {
 public:
  virtual ~WebView() = default;
};

// The configuration sheet window made by the platform. It owns the web view
// inside it.
class SheetWindow {
 public:
  virtual ~SheetWindow() = default;
};

// The object that receives the sheet's OK action.
class SheetOwner {
 public:
  virtual void onOkClick(const void* sender) = 0;

 protected:
  ~SheetOwner() = default;
};

// The connections a loaded configuration sheet makes to its owner.
struct SheetOutlets {
  std::unique_ptr<SheetWindow> configSheet;
  WebView* configWebView = nullptr;  // lives inside configSheet
};

class SaverPlatform {
 public:
  virtual ~SaverPlatform() = default;

  // Base-class behaviour of a saver view. initSaverView returns false when
  // the host refuses the view.
  virtual bool initSaverView(const Rect& frame, bool isPreview) = 0;
  virtual void startAnimation() = 0;
  virtual void stopAnimation() = 0;
  virtual void setAnimationTimeInterval(double seconds) = 0;

  // Folders, as UTF-8 paths: where the package lives, where the programs
  // are extracted to (inserted into the file-name templates as returned).
  virtual std::string resourcePath() = 0;
  virtual std::string temporaryDirectory() = 0;

  // Web views. A created web view is shown once added as a subview; the
  // page is loaded with no base URL.
  virtual std::unique_ptr<WebView> createWebView(const Rect& frame) = 0;
  virtual void addSubview(WebView& webView) = 0;
  virtual void loadHTMLString(WebView& webView, const std::string& html) = 0;

  // Loads the interface file of that name with owner as the target of its
  // OK control and fills outlets; false when it does not load.
  virtual bool loadNibNamed(const std::string& name, SheetOwner& owner,
                            SheetOutlets& outlets) = 0;
  virtual void endSheet(SheetWindow& sheet) = 0;

  virtual void fillRect(const Rect& rect, const Color& color) = 0;
};
