#pragma once

#include <string>

#include "saver/platform/WindowLayer.h"

// Which of the player's renderers draws, chosen once at start from what
// the X display offers. WebGL draws gradients, filters and blurs right but
// costs several times the CPU of canvas when OpenGL is a software
// rasteriser; canvas is cheap there and wrong on those.

typedef struct _XDisplay Display;

// What the display offers for OpenGL.
struct DisplayOpenGL {
  bool glx = false;     // the server speaks GLX
  bool direct = false;  // it offers direct rendering (DRI3, DRI2 or NVIDIA's)
  // GL_RENDERER as the client's driver states it; empty when not asked or
  // when it could not be had.
  std::string renderer;
};

enum class PlayerRenderer {
  webgl,   // the player's own order of renderers: WebGL first
  canvas,  // the player's 2D canvas renderer
};

struct RendererDecision {
  PlayerRenderer renderer = PlayerRenderer::canvas;
  bool compositing = false;  // the web engine's accelerated compositing
  std::string reason;        // for a person: why this one
};

// The name of the software rasteriser a GL_RENDERER string names
// ("llvmpipe", "softpipe", "swrast"), or empty for a hardware renderer.
std::string SoftwareRasteriser(const std::string& glRenderer);

// The decision for what was asked and what the display offers; gl is only
// looked at for automatic.
RendererDecision DecideRenderer(WindowRenderer asked, const DisplayOpenGL& gl);

// One line for standard error, e.g.
// "player: canvas renderer (software OpenGL: llvmpipe)".
std::string DescribeDecision(const RendererDecision& decision);

// Asks the display. Without direct rendering the only OpenGL a client gets
// is a software rasteriser, so the driver is not loaded to learn its name
// (that costs a large part of a second) unless askDriverAnyway. Loads
// libGL.so.1 when it is there and keeps it.
DisplayOpenGL ProbeDisplayOpenGL(Display* display, bool askDriverAnyway = false);
