#pragma once

#include <gtk/gtk.h>
#include <webkit2/webkit2.h>

#include <functional>
#include <string>
#include <string_view>

#include "saver/SaverPlatform.h"
#include "saver/platform/WindowLayer.h"
#include "saver/platform/gtk/PlayerScript.h"
#include "saver/platform/gtk/RendererChoice.h"

// How the gtk layer shows the view.
struct GtkPlatformOptions {
  explicit GtkPlatformOptions(WindowLayerHost& host) : host(host) {}
  WindowLayerHost& host;    // serves the scheme, is told of each page
  std::string resources;    // folder holding vello.dat
  std::string shareFolder;  // holds ruffle/ and ConfigureSheet.ui
  std::string temporaryDirectory;
  std::string scheme;       // the program's URL scheme
  bool fullscreen = false;
  bool sound = false;
  // The page may reach the network; else only its own scheme, data: and
  // blob: URLs.
  bool network = false;
  // Non-zero: draw inside this X window (XScreenSaver's) instead of a
  // window of our own.
  unsigned long embedWindow = 0;
  // How the player draws, and whether the web engine composites.
  RendererDecision renderer;
};

// Before gtk_init: what the toolkit needs to know of the player's drawing.
// compositing: the web engine composites with OpenGL.
void PrepareGtkForPlayer(bool compositing);

// A WebKitWebView the platform made.
class GtkSaverWebView : public WebView {
 public:
  explicit GtkSaverWebView(WebKitWebView* view);
  ~GtkSaverWebView() override;
  WebKitWebView* widget() const { return m_view; }

 private:
  WebKitWebView* m_view;  // one reference of ours
};

// The saver view on GTK 3 and WebKitGTK: a window (or a plug on a foreign
// X window) whose web view covers it and plays the page through the player
// added as a user script.
class GtkPlatform : public SaverPlatform {
 public:
  // gtk_init must have run.
  explicit GtkPlatform(GtkPlatformOptions options);
  ~GtkPlatform() override;
  GtkPlatform(const GtkPlatform&) = delete;
  GtkPlatform& operator=(const GtkPlatform&) = delete;

  bool initSaverView(const Rect& frame, bool isPreview) override;
  void startAnimation() override;
  void stopAnimation() override;
  void setAnimationTimeInterval(double seconds) override;

  std::string resourcePath() override { return m_options.resources; }
  std::string temporaryDirectory() override { return m_options.temporaryDirectory; }

  std::unique_ptr<WebView> createWebView(const Rect& frame) override;
  void addSubview(WebView& webView) override;
  void loadHTMLString(WebView& webView, const std::string& html) override;

  bool loadNibNamed(const std::string& name, SheetOwner& owner, SheetOutlets& outlets) override;
  void endSheet(SheetWindow& sheet) override;

  // The web view draws over the whole window; nothing shows through.
  void fillRect(const Rect& rect, const Color& color) override;

  // Called with each message of our page's script the page posts (see
  // PlayerScript.h), and the outcome of each pause or resume.
  void setMessageListener(std::function<void(const std::string&)> listener) {
    m_listener = std::move(listener);
  }
  // Called with the URL each time a page tries to leave the page the view
  // composed (a navigation elsewhere, in any frame, or a new window); the
  // page stays.
  void setLeaveListener(std::function<void(const std::string&)> listener) {
    m_leaveListener = std::move(listener);
  }
  // Called when the person closes the window.
  void setCloseListener(std::function<void()> listener) { m_closeListener = std::move(listener); }

  // Puts text in place of the sheet's web view: for a form with no
  // settings program, which would leave the sheet blank.
  void showSheetNotice(SheetWindow& sheet, const std::string& text);

  GtkWidget* window() const { return m_window; }
  WebKitWebView* mainWebView() const { return m_mainView; }

 private:
  // The steps of construction: the web engine's process and context, the
  // settings every web view shares, the player's scripts and styles.
  void prepareEngine();
  void makeSettings();
  void addPlayerContent();
  WebKitWebView* makeWebView();
  // Keeps the page the view composed in the web view.
  void confine(WebKitWebView* view);
  void deliver(std::string_view posted);
  void setPlaying(bool playing);
  // Pauses the players while the window is unmapped, iconified or fully
  // covered, and resumes them when it shows again.
  void followVisibility();
  void followEmbedWindowSize();

  static gboolean OnDecidePolicy(WebKitWebView*, WebKitPolicyDecision* decision,
                                 WebKitPolicyDecisionType type, gpointer self);
  static GtkWidget* OnCreate(WebKitWebView*, WebKitNavigationAction* action, gpointer self);
  // An evaluated script's text result, delivered as our page's message of `kind`.
  static void DeliverScriptResult(GObject* view, GAsyncResult* result, gpointer self,
                                  std::string_view kind);
  static void OnPlayingOutcome(GObject* view, GAsyncResult* result, gpointer self);
  static void OnVolume(GObject* view, GAsyncResult* result, gpointer self);
  static void OnScriptMessage(WebKitUserContentManager*, WebKitJavascriptResult* result,
                              gpointer self);
  static gboolean OnVisibility(GtkWidget*, GdkEventVisibility* event, gpointer self);
  static gboolean OnWindowState(GtkWidget*, GdkEventWindowState* event, gpointer self);
  static gboolean OnDelete(GtkWidget*, GdkEvent*, gpointer self);
  static GdkFilterReturn OnEmbedWindowEvent(GdkXEvent* xevent, GdkEvent*, gpointer self);

  GtkPlatformOptions m_options;
  WebKitWebContext* m_context = nullptr;          // the default context, not ours
  WebKitUserContentManager* m_content = nullptr;  // ours
  WebKitSettings* m_settings = nullptr;           // ours
  GtkWidget* m_window = nullptr;                  // ours
  GdkWindow* m_embedWindow = nullptr;             // ours, when embedded
  WebKitWebView* m_mainView = nullptr;            // the first web view added
  WebKitWebView* m_readyView = nullptr;           // ours until the first createWebView
  bool m_obscured = false;
  bool m_hidden = false;
  bool m_playing = true;  // what the players were last told
  std::string m_token = NewPageToken();
  PageMessages m_messages{m_token};
  std::function<void(const std::string&)> m_listener;
  std::function<void(const std::string&)> m_leaveListener;
  std::function<void()> m_closeListener;
};
