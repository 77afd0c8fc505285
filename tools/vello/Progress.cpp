#include "tools/vello/Progress.h"

#include <unistd.h>

#include <cstdio>

namespace {
bool g_quiet = false;
}

void Progress::SetQuiet(bool quiet) { g_quiet = quiet; }
bool Progress::Quiet() { return g_quiet; }

Progress::Progress(const std::string& label, uint64_t total)
    : m_label(label), m_total(total), m_enabled(!g_quiet && total > kThreshold && isatty(STDERR_FILENO)) {
  Draw();
}

Progress::~Progress() {
  if (m_enabled) std::fprintf(stderr, "\r\033[K");
}

void Progress::Advance(uint64_t bytes) {
  m_done += bytes;
  if (m_done > m_total) m_done = m_total;
  Draw();
}

void Progress::AdvanceTo(uint64_t done) {
  if (done > m_done) Advance(done - m_done);
}

void Progress::Draw() {
  if (!m_enabled) return;
  const int percent = static_cast<int>(m_done * 100 / m_total);
  if (percent == m_shownPercent) return;  // redraw only when it moves
  m_shownPercent = percent;
  constexpr int kWidth = 30;
  const int filled = percent * kWidth / 100;
  std::fprintf(stderr, "\r%s [%.*s%*s] %3d%%", m_label.c_str(), filled,
               "##############################", kWidth - filled, "", percent);
  std::fflush(stderr);
}
