#include "saver/platform/WindowHost.h"

#include <unistd.h>

#include <cstdlib>
#include <iostream>
#include <memory>
#include <string>

#include "saver/SwfFiles.h"
#include "saver/lumettaView.h"
#include "saver/platform/ResourceFolders.h"
#include "saver/platform/Session.h"
#include "saver/platform/StopSignals.h"
#include "saver/platform/TerminalText.h"
#include "saver/swfprotocol.h"

namespace {

// One request of the scheme, answered at once by SpecialProtocol.
class CollectedRequest : public SpecialRequest {
 public:
  CollectedRequest(const std::string& url, const std::string& origin, SchemeAnswer& answer)
      : m_url(url), m_origin(origin), m_answer(answer) {}
  std::string url() const override { return m_url; }
  std::string origin() const override { return m_origin; }
  void didReceiveResponse(const SpecialResponse& response) override {
    m_answer.mimeType = response.mimeType;
    m_answer.headers.assign(response.headers.begin(), response.headers.end());
  }
  void didLoadData(SwfData data) override { m_answer.bytes = std::move(data); }
  void didFinishLoading() override {}
  void didFailWithError(const std::string& reason) override { m_answer.failure = reason; }

 private:
  const std::string& m_url;
  const std::string& m_origin;
  SchemeAnswer& m_answer;
};

class Host : public WindowLayerHost {
 public:
  void report(bool error, std::string_view line) override {
    (error ? std::cerr : std::cout) << line << '\n';
  }

  void answer(const std::string& url, const std::string& origin, SchemeAnswer& answer) override {
    answer = SchemeAnswer{};
    CollectedRequest request(url, origin, answer);
    if (!SpecialProtocol::canInitWithRequest(url)) {
      request.didFailWithError("not a special URL");
      return;
    }
    SpecialProtocol(request).startLoading();
  }

  void pageWillLoad() override {
    // The page names the extracted files; the player asks for them through
    // the scheme, which serves them from memory.
    LoadProgramsIntoMemory();
    // From here on nothing needs the files by name (a later page reads them
    // through their descriptors): a process killed outright leaves none.
    RemoveMadeSwfFileNames();
  }

  [[noreturn]] void fail(std::string_view why) override {
    std::cerr << "lumetta: " << why << std::endl;
    DeleteSwfFiles();
    _exit(1);
  }
};

class WindowSteps : public SessionSteps {
 public:
  WindowSteps(WindowLayer& layer, const LumettaOptions& options)
      : m_layer(layer), m_options(options) {}

  void show(lumettaView& view, const SwfExtractionReport& extraction) override {
    const Rect frame = m_layer.frame();
    std::cout << "showing the " << (m_layer.preview() ? "preview" : "main") << " program in a "
              << frame.width << "x" << frame.height << " "
              << (m_layer.embedded() ? "X window given to us" : "window") << "\n";
    m_layer.viewShown();
    if (!m_options.configure) return;
    if (SheetWindow* sheet = view.configureSheet()) {
      if (!extraction.settings.unpacked)
        m_layer.showSheetNotice(*sheet, "This package's form has no settings program:\n"
                                        "there is nothing to set.");
    } else {
      std::cerr << "lumetta: the configuration sheet could not be loaded\n";
    }
  }

  int run(lumettaView& view) override {
    view.startAnimation();
    const int status = m_layer.run();
    view.stopAnimation();
    return status;
  }

 private:
  WindowLayer& m_layer;
  const LumettaOptions& m_options;
};

// The X window to draw in, if any: --window-id, else $XSCREENSAVER_WINDOW
// unless --window asks for our own; 0 for none (--root is the layer's).
unsigned long EmbedWindow(const LumettaOptions& options) {
  if (options.windowId) return *options.windowId;
  if (options.window) return 0;
  const char* env = std::getenv("XSCREENSAVER_WINDOW");
  if (env == nullptr) return 0;
  if (const auto id = ParseWindowId(env)) return *id;
  std::cerr << "lumetta: ignoring XSCREENSAVER_WINDOW='" << Printable(env, 100)
            << "', not a window id\n";
  return 0;
}

}  // namespace

int RunWindowLayer(const WindowLayerEntry& entry, const LumettaOptions& options) {
  const std::string shareFolder = ShareFolder();
  const std::string temporaryDirectory = UserTemporaryDirectory();
  const std::string scheme = SpecialProtocol::specialProtocolScheme();
  SpecialProtocol::setPlayerFolder(shareFolder + "/ruffle");

  WindowLayerOptions given;
  given.resources = options.resources.c_str();
  given.shareFolder = shareFolder.c_str();
  given.temporaryDirectory = temporaryDirectory.c_str();
  given.scheme = scheme.c_str();
  given.snapshot = options.snapshot.c_str();
  given.renderer = options.renderer == LumettaRendererChoice::webgl    ? WindowRenderer::webgl
                   : options.renderer == LumettaRendererChoice::canvas ? WindowRenderer::canvas
                                                                       : WindowRenderer::automatic;
  if (options.windowSize) {
    given.width = options.windowSize->width;
    given.height = options.windowSize->height;
  }
  given.preview = options.preview;
  given.fullscreen = options.fullscreen;
  given.sound = options.sound;
  given.network = options.network;
  given.verbose = options.verbose;
  given.seconds = options.seconds.value_or(-1);
  given.embedWindow = EmbedWindow(options);
  given.embedRoot = given.embedWindow == 0 && options.root;
  given.stopFd = InstallStopSignals(true);
  // A window whose loop cannot see a stop would outlive the host that asked
  // for it: none is shown.
  if (given.stopFd < 0) {
    std::cerr << "lumetta: cannot watch for stop signals: no descriptor is left for it\n";
    return 1;
  }

  Host host;
  const std::unique_ptr<WindowLayer> layer(entry.open(host, given));
  if (!layer) return 1;
  WindowSteps steps(*layer, options);
  return RunSession(layer->platform(), layer->frame(), layer->preview(), steps);
}
