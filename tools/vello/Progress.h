#pragma once

#include <cstdint>
#include <string>

// A progress bar on standard error for long work: shown only when the work
// is over 8 MiB, standard error is a terminal and the user did not ask for
// quiet. Otherwise every call does nothing. The line is cleared when the
// object goes away.
class Progress {
 public:
  static constexpr uint64_t kThreshold = 8ull << 20;

  Progress(const std::string& label, uint64_t total);
  ~Progress();
  Progress(const Progress&) = delete;
  Progress& operator=(const Progress&) = delete;

  void Advance(uint64_t bytes);
  // Moves the bar to done bytes of the total, when that is further on:
  // for work whose own count of bytes differs from the one planned.
  void AdvanceTo(uint64_t done);

  // Set once from --quiet, which also silences the line saying what a
  // command wrote.
  static void SetQuiet(bool quiet);
  static bool Quiet();

 private:
  void Draw();

  std::string m_label;
  uint64_t m_total;
  uint64_t m_done = 0;
  int m_shownPercent = -1;
  bool m_enabled;
};
