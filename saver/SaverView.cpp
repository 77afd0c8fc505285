#include "saver/SaverView.h"

#include <utility>

SaverView::SaverView(SaverPlatform& platform) : m_platform(platform) {}

SaverView::~SaverView() = default;

bool SaverView::initWithFrame(const Rect& frame, bool isPreview) {
  if (!m_platform.initSaverView(frame, isPreview)) return false;
  m_bounds = Rect{0, 0, frame.width, frame.height};
  m_isPreview = isPreview;
  return true;
}

void SaverView::startAnimation() {
  m_animating = true;
  m_platform.startAnimation();
}

void SaverView::stopAnimation() {
  m_animating = false;
  m_platform.stopAnimation();
}

void SaverView::animateOneFrame() {}

void SaverView::drawRect(const Rect& rect) { m_platform.fillRect(rect, Color::blackColor()); }

void SaverView::setAnimationTimeInterval(double seconds) {
  m_animationTimeInterval = seconds;
  m_platform.setAnimationTimeInterval(seconds);
}

void SaverView::addSubview(std::unique_ptr<WebView> subview) {
  if (subview == nullptr) return;
  m_platform.addSubview(*subview);
  m_subviews.push_back(std::move(subview));
}
