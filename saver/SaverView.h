#pragma once

#include <memory>
#include <vector>

#include "saver/SaverPlatform.h"

// The saver view's base class: what a host's screen-saver view provides
// (bounds, preview flag, subviews, animation interval and state), with the
// drawing and timing left to the platform.
class SaverView {
 public:
  explicit SaverView(SaverPlatform& platform);
  virtual ~SaverView();
  SaverView(const SaverView&) = delete;
  SaverView& operator=(const SaverView&) = delete;

  // False when the platform refuses the view; the view is then unusable.
  virtual bool initWithFrame(const Rect& frame, bool isPreview);

  virtual void startAnimation();
  virtual void stopAnimation();
  virtual void animateOneFrame();
  // Paints the background black.
  virtual void drawRect(const Rect& rect);

  void setAnimationTimeInterval(double seconds);
  double animationTimeInterval() const { return m_animationTimeInterval; }
  bool isAnimating() const { return m_animating; }
  bool isPreview() const { return m_isPreview; }
  // The view's own coordinate space: its frame's size at the origin.
  const Rect& bounds() const { return m_bounds; }

  // The view keeps the subview alive for its own lifetime.
  void addSubview(std::unique_ptr<WebView> subview);
  const std::vector<std::unique_ptr<WebView>>& subviews() const { return m_subviews; }

 protected:
  SaverPlatform& platform() const { return m_platform; }

 private:
  SaverPlatform& m_platform;
  Rect m_bounds;
  bool m_isPreview = false;
  bool m_animating = false;
  double m_animationTimeInterval = 0;
  std::vector<std::unique_ptr<WebView>> m_subviews;
};
