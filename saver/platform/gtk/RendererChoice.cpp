#include "saver/platform/gtk/RendererChoice.h"

#include <X11/Xlib.h>
#include <dlfcn.h>

#include <algorithm>
#include <cctype>
#include <cstring>

namespace {

// A string that is about to be searched case-blind.
std::string Lower(std::string text) {
  std::transform(text.begin(), text.end(), text.begin(),
                 [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
  return text;
}

bool HasExtension(Display* display, const char* name) {
  int opcode = 0, event = 0, error = 0;
  return XQueryExtension(display, name, &opcode, &event, &error) != 0;
}

// The few GLX and GL names used, taken at run time so that a system
// without libGL still starts (and draws with canvas).
constexpr int kGlxRendererDeviceIdMesa = 0x8184;
constexpr int kGlxDrawableType = 0x8010;
constexpr int kGlxRenderType = 0x8011;
constexpr int kGlxRgbaBit = 0x1;
constexpr int kGlxPbufferBit = 0x4;
constexpr int kGlxRgbaType = 0x8014;
constexpr int kGlxPbufferHeight = 0x8040;
constexpr int kGlxPbufferWidth = 0x8041;
constexpr unsigned kGlRenderer = 0x1F01;

using GlxFbConfig = void*;
using GlxContext = void*;
using QueryRendererString = const char* (*)(Display*, int, int, int);
using GetProcAddress = void* (*)(const unsigned char*);
using QueryExtensionsString = const char* (*)(Display*, int);
using ChooseFbConfig = GlxFbConfig* (*)(Display*, int, const int*, int*);
using CreateNewContext = GlxContext (*)(Display*, GlxFbConfig, int, GlxContext, int);
using CreatePbuffer = XID (*)(Display*, GlxFbConfig, const int*);
using MakeContextCurrent = int (*)(Display*, XID, XID, GlxContext);
using DestroyContext = void (*)(Display*, GlxContext);
using DestroyPbuffer = void (*)(Display*, XID);
using GetString = const unsigned char* (*)(unsigned);

template <typename F>
F Symbol(void* library, const char* name) {
  return reinterpret_cast<F>(dlsym(library, name));
}

int s_xErrors = 0;
int CountXError(Display*, XErrorEvent*) {
  ++s_xErrors;
  return 0;
}

// GL_RENDERER from a context made current on a 1x1 pbuffer: for drivers
// without GLX_MESA_query_renderer.
std::string RendererOfAContext(void* gl, Display* display, int screen) {
  const auto choose = Symbol<ChooseFbConfig>(gl, "glXChooseFBConfig");
  const auto create = Symbol<CreateNewContext>(gl, "glXCreateNewContext");
  const auto pbufferOf = Symbol<CreatePbuffer>(gl, "glXCreatePbuffer");
  const auto makeCurrent = Symbol<MakeContextCurrent>(gl, "glXMakeContextCurrent");
  const auto destroyContext = Symbol<DestroyContext>(gl, "glXDestroyContext");
  const auto destroyPbuffer = Symbol<DestroyPbuffer>(gl, "glXDestroyPbuffer");
  const auto getString = Symbol<GetString>(gl, "glGetString");
  if (!choose || !create || !pbufferOf || !makeCurrent || !destroyContext || !destroyPbuffer ||
      !getString)
    return "";
  const int configAttributes[] = {kGlxDrawableType, kGlxPbufferBit, kGlxRenderType, kGlxRgbaBit,
                                  0};
  int count = 0;
  GlxFbConfig* configs = choose(display, screen, configAttributes, &count);
  if (configs == nullptr) return "";
  std::string renderer;
  if (count > 0) {
    const int pbufferAttributes[] = {kGlxPbufferWidth, 1, kGlxPbufferHeight, 1, 0};
    GlxContext context = create(display, configs[0], kGlxRgbaType, nullptr, True);
    const XID pbuffer = context ? pbufferOf(display, configs[0], pbufferAttributes) : 0;
    if (pbuffer != 0 && makeCurrent(display, pbuffer, pbuffer, context)) {
      if (const unsigned char* text = getString(kGlRenderer))
        renderer = reinterpret_cast<const char*>(text);
      makeCurrent(display, 0, 0, nullptr);
    }
    if (pbuffer != 0) destroyPbuffer(display, pbuffer);
    if (context != nullptr) destroyContext(display, context);
  }
  XFree(configs);
  return renderer;
}

std::string DriverRenderer(Display* display) {
  // Never closed: the driver it loads registers itself with the display.
  void* gl = dlopen("libGL.so.1", RTLD_NOW | RTLD_LOCAL);
  if (gl == nullptr) return "";
  const int screen = DefaultScreen(display);
  const auto extensions = Symbol<QueryExtensionsString>(gl, "glXQueryExtensionsString");
  const auto procAddress = Symbol<GetProcAddress>(gl, "glXGetProcAddressARB");
  if (extensions == nullptr || procAddress == nullptr) return "";

  // A failing GLX request must not end the process through the toolkit's
  // handler; the previous handler comes back afterwards.
  XSync(display, False);
  s_xErrors = 0;
  const auto previous = XSetErrorHandler(CountXError);
  std::string renderer;
  const char* names = extensions(display, screen);
  if (names != nullptr && std::strstr(names, "GLX_MESA_query_renderer") != nullptr) {
    // Needs no context: the driver states its device.
    const auto query = reinterpret_cast<QueryRendererString>(
        procAddress(reinterpret_cast<const unsigned char*>("glXQueryRendererStringMESA")));
    if (query != nullptr)
      if (const char* text = query(display, screen, 0, kGlxRendererDeviceIdMesa)) renderer = text;
  }
  if (renderer.empty()) renderer = RendererOfAContext(gl, display, screen);
  XSync(display, False);
  XSetErrorHandler(previous);
  return s_xErrors == 0 ? renderer : "";
}

}  // namespace

std::string SoftwareRasteriser(const std::string& glRenderer) {
  const std::string text = Lower(glRenderer);
  for (const char* name : {"llvmpipe", "softpipe", "swrast"})
    if (text.find(name) != std::string::npos) return name;
  // Mesa's classic swrast driver calls itself so.
  if (text.find("software rasterizer") != std::string::npos) return "swrast";
  return "";
}

RendererDecision DecideRenderer(WindowRenderer asked, const DisplayOpenGL& gl) {
  RendererDecision decision;
  if (asked != WindowRenderer::automatic) {
    decision.renderer = asked == WindowRenderer::webgl ? PlayerRenderer::webgl : PlayerRenderer::canvas;
    decision.reason = std::string("asked for with --renderer ") +
                      (asked == WindowRenderer::webgl ? "webgl" : "canvas");
  } else if (!gl.glx) {
    decision.reason = "no OpenGL: the display has no GLX";
  } else if (!gl.renderer.empty()) {
    const std::string software = SoftwareRasteriser(gl.renderer);
    if (software.empty()) {
      decision.renderer = PlayerRenderer::webgl;
      decision.reason = "hardware OpenGL: " + gl.renderer;
    } else {
      decision.reason = "software OpenGL: " + software;
    }
  } else if (!gl.direct) {
    decision.reason = "software OpenGL only: the display offers no direct rendering";
  } else {
    decision.reason = "no OpenGL: the display's driver names no renderer";
  }
  decision.compositing = decision.renderer == PlayerRenderer::webgl;
  return decision;
}

std::string DescribeDecision(const RendererDecision& decision) {
  return std::string("player: ") +
         (decision.renderer == PlayerRenderer::webgl ? "webgl" : "canvas") + " renderer (" +
         decision.reason + ")";
}

DisplayOpenGL ProbeDisplayOpenGL(Display* display, bool askDriverAnyway) {
  DisplayOpenGL gl;
  if (display == nullptr) return gl;
  gl.glx = HasExtension(display, "GLX");
  if (!gl.glx) return gl;
  gl.direct = HasExtension(display, "DRI3") || HasExtension(display, "DRI2") ||
              HasExtension(display, "NV-GLX");
  if (gl.direct || askDriverAnyway) gl.renderer = DriverRenderer(display);
  return gl;
}
