#include "system/ByteRun.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

namespace {

// The VmFlags line of the mapping that holds address, or "" when no
// mapping holds it.
std::string MappingFlags(const void* address) {
  const auto at = reinterpret_cast<std::uintptr_t>(address);
  std::ifstream smaps("/proc/self/smaps");
  std::string line;
  bool inside = false;
  while (std::getline(smaps, line)) {
    std::uintptr_t from = 0, to = 0;
    char dash = 0;
    std::istringstream range(line);
    if (range >> std::hex >> from >> dash >> to && dash == '-' && line.find(':') > line.find(' ')) {
      inside = from <= at && at < to;
      continue;
    }
    if (inside && line.rfind("VmFlags:", 0) == 0) return line;
  }
  return "";
}

}  // namespace

TEST(ByteRunTest, LargeRunsHaveWholeHugePagesOfTheirOwnAndGiveThemBack) {
#if defined(__SANITIZE_ADDRESS__)
  GTEST_SKIP() << "under the address sanitizer every run comes from the heap";
#endif
  ByteRun run = NewByteRun(3 * kByteRunPage + 5);
  const unsigned char* start = run.get();
  EXPECT_EQ(reinterpret_cast<std::uintptr_t>(start) % kByteRunPage, 0u);
  // Advised for huge pages (where the kernel has them) from its first
  // byte to the end of its last page.
  const bool kernelHasThem = std::filesystem::exists("/sys/kernel/mm/transparent_hugepage/enabled");
  for (const unsigned char* at : {start, start + 4 * kByteRunPage - 1}) {
    const std::string flags = MappingFlags(at);
    ASSERT_FALSE(flags.empty());
    if (kernelHasThem) {
      EXPECT_NE(flags.find(" hg"), std::string::npos) << flags;
    }
  }
  // A run of a smaller size is not given a mapping of its own.
  const ByteRun small = NewByteRun(kByteRunPage - 1);
  EXPECT_EQ(MappingFlags(small.get()).find(" hg"), std::string::npos);

  run.reset();
  EXPECT_EQ(MappingFlags(start), "") << "the mapping is released with the run";

  // Containers over run memory get the same.
  const unsigned char* held = nullptr;
  {
    RunBytes bytes(2 * kByteRunPage + 1, 0x5A);
    held = bytes.data();
    EXPECT_EQ(reinterpret_cast<std::uintptr_t>(held) % kByteRunPage, 0u);
    if (kernelHasThem) {
      EXPECT_NE(MappingFlags(held).find(" hg"), std::string::npos);
    }
    EXPECT_EQ(bytes.back(), 0x5A);
  }
  EXPECT_EQ(MappingFlags(held), "");
}
