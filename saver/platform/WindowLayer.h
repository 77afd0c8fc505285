#pragma once

#include <memory>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "saver/SaverPlatform.h"

// What lumetta and a window layer (a module it loads only to show a
// window) say to each other. The program keeps the options, the package,
// the extraction, the view, the stop signals and the reports; a layer holds
// only toolkit and web-engine work. Neither calls the other's functions by
// name: the program finds one C entry in the module and checks its ABI
// number, and from then on both sides call through the interfaces below.
// Any change to this file that a built module would notice (a field, a
// virtual function, their order) raises kWindowLayerAbi.

inline constexpr int kWindowLayerAbi = 1;

// The module's file name, and its one exported symbol: a
// WindowLayerEntry.
inline constexpr char kWindowLayerModuleName[] = "lumetta-gtk.so";
inline constexpr char kWindowLayerEntryName[] = "lumetta_window_layer";

enum class WindowRenderer : int {
  automatic,  // as the display allows
  webgl,
  canvas,
};

// How to show the view: plain data.
struct WindowLayerOptions {
  const char* resources = "";           // folder holding vello.dat
  const char* shareFolder = "";         // holds ruffle/ and ConfigureSheet.ui
  const char* temporaryDirectory = "";  // where the programs are extracted
  const char* scheme = "";              // the URL scheme WindowLayerHost::answer serves
  const char* snapshot = "";            // PNG of the web view once drawn; empty for none
  WindowRenderer renderer = WindowRenderer::automatic;
  int width = 0;  // 0: 800x600, or 200x150 for a preview
  int height = 0;
  bool preview = false;
  bool fullscreen = false;
  bool sound = false;
  bool network = false;
  bool verbose = false;
  double seconds = -1;             // below 0: until closed or stopped
  unsigned long embedWindow = 0;   // an X window to draw in; 0 for a window of our own
  bool embedRoot = false;          // draw in the root window (embedWindow is 0)
  int stopFd = -1;  // becomes readable once a stop signal arrived; -1 for none
};

// One answer of the program's URL scheme.
struct SchemeAnswer {
  std::string failure;  // empty when served
  std::string mimeType;
  std::vector<std::pair<std::string, std::string>> headers;
  std::shared_ptr<const std::vector<unsigned char>> bytes;  // may be null: no bytes
};

// What the program does for the layer.
class WindowLayerHost {
 public:
  // A line for the person, without its newline: on standard error when
  // error is set, else on standard output.
  virtual void report(bool error, std::string_view line) = 0;
  // Answers a request of the scheme (origin: the asking document's Origin
  // header, empty when it sent none).
  virtual void answer(const std::string& url, const std::string& origin, SchemeAnswer& answer) = 0;
  // Called before each page is loaded into a web view: the programs the
  // scheme serves are fixed from then on.
  virtual void pageWillLoad() = 0;
  // The window is gone under us and the toolkit is about to end the
  // process: deletes the programs, says why and ends with status 1.
  [[noreturn]] virtual void fail(std::string_view why) = 0;

 protected:
  ~WindowLayerHost() = default;
};

// What the layer gives back: a platform for the view, and its loop.
class WindowLayer {
 public:
  virtual ~WindowLayer() = default;
  virtual SaverPlatform& platform() = 0;
  // The view's frame: the size asked for, or the X window's given.
  virtual Rect frame() const = 0;
  // A preview was asked for, or the window given is a settings dialog's.
  virtual bool preview() const = 0;
  virtual bool embedded() const = 0;
  // The view shows its page: from now on watch the window and the frames.
  virtual void viewShown() = 0;
  // Text in place of a sheet's web view.
  virtual void showSheetNotice(SheetWindow& sheet, const std::string& text) = 0;
  // Runs until the window is closed, a stop arrives on stopFd or the time
  // is up; says which. The exit status: 1 when the player failed or the
  // snapshot was not saved, else 0.
  virtual int run() = 0;
};

// The symbol kWindowLayerEntryName. abi comes first and stays first: the
// program reads it before anything else, from a module of any age.
struct WindowLayerEntry {
  int abi;
  // Starts the toolkit and makes the platform; null, having said why
  // through host, when it cannot (no display, no such X window).
  WindowLayer* (*open)(WindowLayerHost& host, const WindowLayerOptions& options);
};
