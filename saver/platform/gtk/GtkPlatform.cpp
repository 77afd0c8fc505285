#include "saver/platform/gtk/GtkPlatform.h"

#include <X11/Xlib.h>
#include <gdk/gdkx.h>
#include <gtk/gtkx.h>

#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <string>
#include <utility>

#include "saver/platform/gtk/DirectPaint.h"
#include "saver/platform/gtk/PlayerScript.h"
#include "saver/platform/gtk/WebKitSpecialScheme.h"

namespace {

// The configuration sheet: the dialog the interface file describes.
class GtkSheet : public SheetWindow {
 public:
  GtkSheet(GtkWidget* dialog, std::unique_ptr<GtkSaverWebView> webView)
      : m_dialog(dialog), m_webView(std::move(webView)) {}
  ~GtkSheet() override {
    m_webView.reset();
    gtk_widget_destroy(m_dialog);
    g_object_unref(m_dialog);
  }
  GtkWidget* dialog() const { return m_dialog; }
  GtkSaverWebView& webView() { return *m_webView; }

 private:
  GtkWidget* m_dialog;  // one reference of ours
  std::unique_ptr<GtkSaverWebView> m_webView;
};

void OnOkClicked(GtkButton* button, gpointer owner) {
  static_cast<SheetOwner*>(owner)->onOkClick(button);
}

// What the page may load without --network: the player and the programs
// (special:), and what it makes itself (data:, blob:); inline script and
// eval, which the player and the programs' calls into the page need.
// ConfigureSheet.ui gives the sheet's web view the same.
constexpr char kNoNetworkPolicy[] =
    "default-src special: data: blob: 'unsafe-inline' 'unsafe-eval'";

// Nothing the person sees may be brighter than the screen the host has
// just faded to black, until the player draws its first frame: the
// windows, the web views under the page and the X windows themselves.
constexpr GdkRGBA kBlack = {0, 0, 0, 1};
constexpr char kDarkStyle[] =
    "window, plug, webkitwebview { background-color: #000; }\n"
    "window > box > label { color: #ddd; }\n";

void InstallDarkStyle() {
  GdkScreen* screen = gdk_screen_get_default();
  if (screen == nullptr) return;
  GtkCssProvider* provider = gtk_css_provider_new();
  gtk_css_provider_load_from_data(provider, kDarkStyle, -1, nullptr);
  gtk_style_context_add_provider_for_screen(screen, GTK_STYLE_PROVIDER(provider),
                                            GTK_STYLE_PROVIDER_PRIORITY_APPLICATION);
  g_object_unref(provider);
}

// What the X server shows in a window before the toolkit first paints it.
void OnRealizeBlack(GtkWidget* widget, gpointer) {
  GdkWindow* window = gtk_widget_get_window(widget);
  if (window == nullptr || !GDK_IS_X11_WINDOW(window)) return;
  Display* display = GDK_WINDOW_XDISPLAY(window);
  XSetWindowBackground(display, GDK_WINDOW_XID(window), BlackPixel(display, DefaultScreen(display)));
}

void PaintBlackFromTheStart(GtkWidget* window) {
  if (gtk_widget_get_realized(window))
    OnRealizeBlack(window, nullptr);
  else
    g_signal_connect(window, "realize", G_CALLBACK(OnRealizeBlack), nullptr);
}

void AddUserScript(WebKitUserContentManager* content, const std::string& source,
                   WebKitUserScriptInjectionTime when) {
  WebKitUserScript* script =
      webkit_user_script_new(source.c_str(), WEBKIT_USER_CONTENT_INJECT_TOP_FRAME, when,
                             nullptr, nullptr);
  webkit_user_content_manager_add_script(content, script);
  webkit_user_script_unref(script);
}

}  // namespace

GtkSaverWebView::GtkSaverWebView(WebKitWebView* view) : m_view(view) {
  g_object_ref_sink(m_view);
}

GtkSaverWebView::~GtkSaverWebView() {
  GtkWidget* widget = GTK_WIDGET(m_view);
  if (GtkWidget* parent = gtk_widget_get_parent(widget))
    gtk_container_remove(GTK_CONTAINER(parent), widget);
  g_object_unref(m_view);
}

GtkPlatform::GtkPlatform(GtkPlatformOptions options) : m_options(std::move(options)) {
  prepareEngine();
  makeSettings();
  addPlayerContent();
  // The web process takes about half a second to start: the first view's
  // starts now, while the view extracts its programs, not once the page is
  // loaded. A script, not a page: a page would load the player twice.
  m_readyView = makeWebView();
  g_object_ref_sink(m_readyView);
  webkit_web_view_evaluate_javascript(m_readyView, "0", -1, nullptr, nullptr, nullptr, nullptr,
                                      nullptr);
}

void GtkPlatform::prepareEngine() {
  // The web process inherits this. Its baseline WebAssembly compiler spends
  // about two seconds of CPU on the player's 14 MB core before the first
  // frame; the interpreter starts at once and hot code still reaches the
  // optimising tier. A value the person set wins.
  g_setenv("JSC_useBBQJIT", "0", FALSE);
  // Compiling that core is the longest step before the first frame, and
  // JavaScriptCore gives it one thread on two cores: give it all of them.
  const std::string cores = std::to_string(std::max(1L, sysconf(_SC_NPROCESSORS_ONLN)));
  g_setenv("JSC_numberOfWasmCompilerThreads", cores.c_str(), FALSE);
  InstallDarkStyle();
  m_context = webkit_web_context_get_default();
  // With a C or POSIX locale the player does not start; it needs a
  // language it knows.
  const gchar* languages[] = {"en-US", nullptr};
  webkit_web_context_set_preferred_languages(m_context, languages);
  RegisterSpecialScheme(m_context, m_options.scheme, m_options.host);
}

void GtkPlatform::makeSettings() {
  m_settings = webkit_settings_new();
  g_object_ref_sink(m_settings);
  // WebGL draws through the compositor. Without WebGL the compositor costs
  // several times the CPU under a software display and gains nothing for
  // one canvas; WebGL is then switched off so that nothing starts OpenGL.
  const bool webgl = m_options.renderer.renderer == PlayerRenderer::webgl;
  webkit_settings_set_hardware_acceleration_policy(
      m_settings, m_options.renderer.compositing ? WEBKIT_HARDWARE_ACCELERATION_POLICY_ALWAYS
                                                 : WEBKIT_HARDWARE_ACCELERATION_POLICY_NEVER);
  webkit_settings_set_enable_webgl(m_settings, webgl ? TRUE : FALSE);
  webkit_settings_set_enable_javascript(m_settings, TRUE);
  // Muted, the player needs no audio at all. With an audio context that
  // cannot run (no sound server, no gesture) the player hides itself and
  // waits 0.2 s before it asks for the program.
  webkit_settings_set_enable_webaudio(m_settings, m_options.sound ? TRUE : FALSE);
  webkit_settings_set_media_playback_requires_user_gesture(m_settings, FALSE);
}

void GtkPlatform::addPlayerContent() {
  m_content = webkit_user_content_manager_new();
  // The page's own embed element, until the player takes its place, would
  // show the engine's grey box for a missing plug-in.
  WebKitUserStyleSheet* unseen = webkit_user_style_sheet_new(
      "embed, object { visibility: hidden !important; }", WEBKIT_USER_CONTENT_INJECT_TOP_FRAME,
      WEBKIT_USER_STYLE_LEVEL_USER, nullptr, nullptr);
  webkit_user_content_manager_add_style_sheet(m_content, unseen);
  webkit_user_style_sheet_unref(unseen);
  const bool webgl = m_options.renderer.renderer == PlayerRenderer::webgl;
  AddUserScript(m_content, PlayerConfigScript(m_options.sound ? 1.0 : 0.0, !webgl),
                WEBKIT_USER_SCRIPT_INJECT_AT_DOCUMENT_START);
  AddUserScript(m_content, PlayerLoaderScript(), WEBKIT_USER_SCRIPT_INJECT_AT_DOCUMENT_END);
  WebKitUserScript* reporter = webkit_user_script_new_for_world(
      PlayerReportScript(m_token).c_str(), WEBKIT_USER_CONTENT_INJECT_TOP_FRAME,
      WEBKIT_USER_SCRIPT_INJECT_AT_DOCUMENT_START, kPlayerScriptWorld, nullptr, nullptr);
  webkit_user_content_manager_add_script(m_content, reporter);
  webkit_user_script_unref(reporter);
  const std::string signal = std::string("script-message-received::") + kPlayerMessageHandler;
  g_signal_connect(m_content, signal.c_str(), G_CALLBACK(OnScriptMessage), this);
  // Only in the reporter's world: no script of the page can post to it.
  webkit_user_content_manager_register_script_message_handler_in_world(
      m_content, kPlayerMessageHandler, kPlayerScriptWorld);
}

void PrepareGtkForPlayer(bool compositing) {
  // Without the compositor nothing of ours draws with OpenGL; GDK would
  // still load and set up the X display's OpenGL to choose its visuals.
  if (!compositing) g_setenv("GDK_GL", "disable", FALSE);
}

GtkPlatform::~GtkPlatform() {
  if (m_readyView != nullptr) g_object_unref(m_readyView);
  if (m_embedWindow != nullptr) {
    gdk_window_remove_filter(m_embedWindow, OnEmbedWindowEvent, this);
    g_object_unref(m_embedWindow);
  }
  if (m_window != nullptr) gtk_widget_destroy(m_window);
  g_signal_handlers_disconnect_by_data(m_content, this);
  g_object_unref(m_content);
  g_object_unref(m_settings);
}

bool GtkPlatform::initSaverView(const Rect& frame, bool /*isPreview*/) {
  if (m_options.embedWindow != 0) {
    m_window = gtk_plug_new(static_cast<Window>(m_options.embedWindow));
    m_embedWindow = gdk_x11_window_foreign_new_for_display(gdk_display_get_default(),
                                                           m_options.embedWindow);
    if (m_embedWindow == nullptr) return false;
    gdk_window_set_events(m_embedWindow,
                          static_cast<GdkEventMask>(gdk_window_get_events(m_embedWindow) |
                                                    GDK_STRUCTURE_MASK));
    gdk_window_add_filter(m_embedWindow, OnEmbedWindowEvent, this);
  } else {
    m_window = gtk_window_new(GTK_WINDOW_TOPLEVEL);
    gtk_window_set_title(GTK_WINDOW(m_window), "lumetta");
    if (m_options.fullscreen) gtk_window_fullscreen(GTK_WINDOW(m_window));
  }
  g_object_ref_sink(m_window);
  PaintBlackFromTheStart(m_window);
  // The web view covers the whole window, so the window paints no
  // background of its own: the toolkit's buffer for each frame then stays
  // clear under the view, and cairo copies the view's picture into it
  // instead of having the X server blend the whole view over a fill every
  // frame (with the fill, most of a software X server's work). Where the
  // view does not draw, the cleared buffer shows black. Without that buffer
  // (PaintWebViewDirectly) a background would flash under every frame.
  gtk_widget_set_app_paintable(m_window, TRUE);
  gtk_window_set_default_size(GTK_WINDOW(m_window), static_cast<int>(frame.width),
                              static_cast<int>(frame.height));
  gtk_widget_add_events(m_window, GDK_VISIBILITY_NOTIFY_MASK | GDK_STRUCTURE_MASK);
  g_signal_connect(m_window, "visibility-notify-event", G_CALLBACK(OnVisibility), this);
  g_signal_connect(m_window, "window-state-event", G_CALLBACK(OnWindowState), this);
  g_signal_connect(m_window, "delete-event", G_CALLBACK(OnDelete), this);
  return true;
}

void GtkPlatform::startAnimation() {}
void GtkPlatform::stopAnimation() {}
// The player keeps its own frame rate.
void GtkPlatform::setAnimationTimeInterval(double /*seconds*/) {}


WebKitWebView* GtkPlatform::makeWebView() {
  // Without --network the page reaches only what the player and the
  // programs are served from; a policy the engine applies to every load of
  // the page, before anything is sent.
  WebKitWebView* view = WEBKIT_WEB_VIEW(g_object_new(
      WEBKIT_TYPE_WEB_VIEW, "web-context", m_context, "user-content-manager", m_content,
      "settings", m_settings, "default-content-security-policy",
      m_options.network ? nullptr : kNoNetworkPolicy, nullptr));
  // Under the page, which sets no colour of its own, until the stage draws.
  webkit_web_view_set_background_color(view, &kBlack);
  confine(view);
  return view;
}

void GtkPlatform::confine(WebKitWebView* view) {
  g_signal_connect(view, "decide-policy", G_CALLBACK(OnDecidePolicy), this);
  g_signal_connect(view, "create", G_CALLBACK(OnCreate), this);
}

namespace {

// The documents a view may show: the page it was given (a string, so
// about:blank) and the empty or inline frames of that page.
bool IsOwnDocument(const char* uri) {
  const std::string_view url = uri != nullptr ? uri : "";
  const std::string_view blank = "about:blank";
  return url == "about:srcdoc" ||
         (url.rfind(blank, 0) == 0 && (url.size() == blank.size() || url[blank.size()] == '#'));
}

}  // namespace

gboolean GtkPlatform::OnDecidePolicy(WebKitWebView*, WebKitPolicyDecision* decision,
                                     WebKitPolicyDecisionType type, gpointer self) {
  if (type == WEBKIT_POLICY_DECISION_TYPE_RESPONSE) return FALSE;
  WebKitNavigationAction* action = webkit_navigation_policy_decision_get_navigation_action(
      WEBKIT_NAVIGATION_POLICY_DECISION(decision));
  const char* uri = webkit_uri_request_get_uri(webkit_navigation_action_get_request(action));
  if (type == WEBKIT_POLICY_DECISION_TYPE_NAVIGATION_ACTION && IsOwnDocument(uri)) return FALSE;
  webkit_policy_decision_ignore(decision);
  auto* platform = static_cast<GtkPlatform*>(self);
  if (platform->m_leaveListener) platform->m_leaveListener(uri != nullptr ? uri : "");
  return TRUE;
}

GtkWidget* GtkPlatform::OnCreate(WebKitWebView*, WebKitNavigationAction* action, gpointer self) {
  auto* platform = static_cast<GtkPlatform*>(self);
  const char* uri = webkit_uri_request_get_uri(webkit_navigation_action_get_request(action));
  if (platform->m_leaveListener) platform->m_leaveListener(uri != nullptr ? uri : "");
  return nullptr;
}

std::unique_ptr<WebView> GtkPlatform::createWebView(const Rect& /*frame*/) {
  // The view fills its window, which has the frame's size.
  if (m_readyView == nullptr) return std::make_unique<GtkSaverWebView>(makeWebView());
  auto view = std::make_unique<GtkSaverWebView>(m_readyView);
  g_object_unref(m_readyView);
  m_readyView = nullptr;
  return view;
}

void GtkPlatform::addSubview(WebView& webView) {
  WebKitWebView* view = static_cast<GtkSaverWebView&>(webView).widget();
  if (m_mainView == nullptr) {
    m_mainView = view;
    // Without the compositor the engine's picture is in memory; the
    // compositor draws with OpenGL through the toolkit's own path.
    if (!m_options.renderer.compositing) PaintWebViewDirectly(m_window, view);
  }
  gtk_container_add(GTK_CONTAINER(m_window), GTK_WIDGET(view));
  gtk_widget_show_all(m_window);
  if (m_embedWindow != nullptr) {
    // The daemon's window speaks no embedding protocol, so nobody maps the
    // plug for us.
    GdkWindow* plug = gtk_widget_get_window(m_window);
    XMapWindow(GDK_WINDOW_XDISPLAY(plug), GDK_WINDOW_XID(plug));
    followEmbedWindowSize();
  }
}

void GtkPlatform::loadHTMLString(WebView& webView, const std::string& html) {
  m_options.host.pageWillLoad();
  webkit_web_view_load_html(static_cast<GtkSaverWebView&>(webView).widget(), html.c_str(),
                            nullptr);
}

bool GtkPlatform::loadNibNamed(const std::string& name, SheetOwner& owner,
                               SheetOutlets& outlets) {
  const std::string path = m_options.shareFolder + "/" + name + ".ui";
  g_type_ensure(WEBKIT_TYPE_WEB_VIEW);
  GtkBuilder* builder = gtk_builder_new();
  // The sheet's web view plays through the same player as the view's.
  gtk_builder_expose_object(builder, "lumettaContentManager", G_OBJECT(m_content));
  gtk_builder_expose_object(builder, "lumettaSettings", G_OBJECT(m_settings));
  GError* error = nullptr;
  if (!gtk_builder_add_from_file(builder, path.c_str(), &error)) {
    g_warning("%s", error->message);
    g_error_free(error);
    g_object_unref(builder);
    return false;
  }
  GObject* dialog = gtk_builder_get_object(builder, "configSheet");
  GObject* view = gtk_builder_get_object(builder, "configWebView");
  if (!GTK_IS_WINDOW(dialog) || !WEBKIT_IS_WEB_VIEW(view)) {
    g_object_unref(builder);
    return false;
  }
  gtk_builder_add_callback_symbol(builder, "onOkClick", G_CALLBACK(OnOkClicked));
  gtk_builder_connect_signals(builder, &owner);
  // Ours from here: the dialog, and the web view inside it.
  g_object_ref(dialog);
  PaintBlackFromTheStart(GTK_WIDGET(dialog));
  webkit_web_view_set_background_color(WEBKIT_WEB_VIEW(view), &kBlack);
  confine(WEBKIT_WEB_VIEW(view));
  auto webView = std::make_unique<GtkSaverWebView>(WEBKIT_WEB_VIEW(view));
  g_object_unref(builder);
  if (m_window != nullptr) gtk_window_set_transient_for(GTK_WINDOW(dialog), GTK_WINDOW(m_window));
  outlets.configWebView = webView.get();
  outlets.configSheet = std::make_unique<GtkSheet>(GTK_WIDGET(dialog), std::move(webView));
  gtk_widget_show_all(GTK_WIDGET(dialog));
  return true;
}

void GtkPlatform::endSheet(SheetWindow& sheet) {
  gtk_widget_hide(static_cast<GtkSheet&>(sheet).dialog());
}

void GtkPlatform::showSheetNotice(SheetWindow& sheet, const std::string& text) {
  auto& gtkSheet = static_cast<GtkSheet&>(sheet);
  GtkWidget* view = GTK_WIDGET(gtkSheet.webView().widget());
  GtkWidget* box = gtk_widget_get_parent(view);
  if (box == nullptr || !GTK_IS_BOX(box)) return;
  gtk_widget_hide(view);
  // The page it was given names no program: the player would only fail on
  // it, and say so.
  webkit_web_view_load_html(gtkSheet.webView().widget(), "<html></html>", nullptr);
  GtkWidget* label = gtk_label_new(text.c_str());
  gtk_label_set_line_wrap(GTK_LABEL(label), TRUE);
  gtk_box_pack_start(GTK_BOX(box), label, TRUE, TRUE, 0);
  gtk_box_reorder_child(GTK_BOX(box), label, 0);
  gtk_widget_show(label);
}

void GtkPlatform::fillRect(const Rect& /*rect*/, const Color& /*color*/) {}

void GtkPlatform::setPlaying(bool playing) {
  if (m_mainView == nullptr) return;
  const std::string script = PlayerPlayingScript(playing);
  webkit_web_view_evaluate_javascript(m_mainView, script.c_str(), -1, nullptr, nullptr, nullptr,
                                      OnPlayingOutcome, this);
}

void GtkPlatform::DeliverScriptResult(GObject* view, GAsyncResult* result, gpointer self,
                                      std::string_view kind) {
  JSCValue* value =
      webkit_web_view_evaluate_javascript_finish(WEBKIT_WEB_VIEW(view), result, nullptr);
  if (value == nullptr) return;
  if (jsc_value_is_string(value)) {
    gchar* text = jsc_value_to_string(value);
    auto* platform = static_cast<GtkPlatform*>(self);
    platform->deliver(platform->m_token + std::string(kind) + text);
    g_free(text);
  }
  g_object_unref(value);
}

void GtkPlatform::OnPlayingOutcome(GObject* view, GAsyncResult* result, gpointer self) {
  // The script's result names its kind ("paused", "playing") itself.
  DeliverScriptResult(view, result, self, "");
}

void GtkPlatform::deliver(std::string_view posted) {
  const double now = static_cast<double>(g_get_monotonic_time()) / 1e6;
  const std::optional<std::string> message = m_messages.accept(posted, now);
  if (!message) return;
  if (message->rfind("loaded ", 0) == 0 && m_mainView != nullptr) {
    // A player that arrives while the window is hidden starts paused.
    if (!m_playing) setPlaying(false);
    // What the player took, so that muting can be seen from outside.
    webkit_web_view_evaluate_javascript(m_mainView, PlayerVolumeExpression().c_str(), -1, nullptr,
                                        nullptr, nullptr, OnVolume, this);
  }
  if (m_listener) m_listener(*message);
}

void GtkPlatform::OnVolume(GObject* view, GAsyncResult* result, gpointer self) {
  DeliverScriptResult(view, result, self, "volume ");
}

void GtkPlatform::followEmbedWindowSize() {
  int width = 0;
  int height = 0;
  gdk_window_get_geometry(m_embedWindow, nullptr, nullptr, &width, &height);
  if (width <= 0 || height <= 0) return;
  gtk_window_resize(GTK_WINDOW(m_window), width, height);
  if (GdkWindow* plug = gtk_widget_get_window(m_window))
    XMoveResizeWindow(GDK_WINDOW_XDISPLAY(plug), GDK_WINDOW_XID(plug), 0, 0,
                      static_cast<unsigned>(width), static_cast<unsigned>(height));
}

void GtkPlatform::OnScriptMessage(WebKitUserContentManager*, WebKitJavascriptResult* result,
                                  gpointer self) {
  auto* platform = static_cast<GtkPlatform*>(self);
  JSCValue* value = webkit_javascript_result_get_js_value(result);
  // Our script posts strings only.
  if (!jsc_value_is_string(value)) return;
  gchar* text = jsc_value_to_string(value);
  if (text != nullptr) platform->deliver(text);
  g_free(text);
}

// A locked, blanked or covered screen should cost nothing.
gboolean GtkPlatform::OnVisibility(GtkWidget*, GdkEventVisibility* event, gpointer self) {
  auto* platform = static_cast<GtkPlatform*>(self);
  platform->m_obscured = event->state == GDK_VISIBILITY_FULLY_OBSCURED;
  platform->followVisibility();
  return FALSE;
}

gboolean GtkPlatform::OnWindowState(GtkWidget*, GdkEventWindowState* event, gpointer self) {
  auto* platform = static_cast<GtkPlatform*>(self);
  platform->m_hidden =
      (event->new_window_state & (GDK_WINDOW_STATE_ICONIFIED | GDK_WINDOW_STATE_WITHDRAWN)) != 0;
  platform->followVisibility();
  return FALSE;
}

void GtkPlatform::followVisibility() {
  const bool playing = !m_obscured && !m_hidden;
  if (playing == m_playing) return;
  m_playing = playing;
  setPlaying(playing);
  // A paused player still runs the page's animation frames; the engine
  // stops them only for a view that is not mapped.
  if (m_mainView != nullptr) gtk_widget_set_child_visible(GTK_WIDGET(m_mainView), playing);
}

gboolean GtkPlatform::OnDelete(GtkWidget*, GdkEvent*, gpointer self) {
  auto* platform = static_cast<GtkPlatform*>(self);
  if (platform->m_closeListener) platform->m_closeListener();
  return TRUE;  // the view owns the window's content; it is released first
}

GdkFilterReturn GtkPlatform::OnEmbedWindowEvent(GdkXEvent* xevent, GdkEvent*, gpointer self) {
  if (static_cast<XEvent*>(xevent)->type == ConfigureNotify)
    static_cast<GtkPlatform*>(self)->followEmbedWindowSize();
  return GDK_FILTER_CONTINUE;
}
