#include "encryption/BaseEncode.h"

#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <limits>
#include <random>
#include <string>
#include <vector>

#include "encryption/BaseCodec_test.h"

namespace {

using namespace basecodec;

std::string Encode(const Codec& c, const std::string& data) {
  // A guard byte past the predicted length catches overruns.
  std::string out(c.encodeLength(data.size()) + 1, '#');
  std::size_t n = c.encode(out.data(), data.data(), data.size());
  EXPECT_EQ(n, c.encodeLength(data.size()));
  EXPECT_EQ(out.back(), '#') << "wrote past GetLength";
  out.resize(n);
  return out;
}

// RFC 4648 section 10, both ways (the decode count discounts the padding).
TEST(BaseEncodeTest, Rfc4648VectorsBothWays) {
  for (const auto& v : kRfc4648) {
    for (int i = 0; i < 3; ++i) {
      const char* text = v[i + 1];
      EXPECT_EQ(Encode(*kCodecs[i], v[0]), text);
      EXPECT_EQ(Decode(*kCodecs[i], text), v[0]) << text;
    }
  }
}

// Null pointers are refused before the size is looked at, even 0, both
// ways; a size whose encoding cannot be counted is refused, not wrapped.
TEST(BaseEncodeTest, InvalidParameters) {
  const std::size_t huge = std::numeric_limits<std::size_t>::max();
  char buf[8];
  for (const Codec* c : kCodecs) {
    SCOPED_TRACE(c->name);
    EXPECT_EQ(ErrorOf([&] { c->encodeLength(huge); }), "Invalid parameter");
    for (std::size_t size : {std::size_t{0}, std::size_t{1}}) {
      for (CodecFn fn : {c->encode, c->decode}) {
        EXPECT_EQ(ErrorOf([&] { fn(nullptr, "AAAA", size); }), "Invalid parameter");
        EXPECT_EQ(ErrorOf([&] { fn(buf, nullptr, size); }), "Invalid parameter");
      }
    }
    EXPECT_EQ(c->encode(buf, "x", 0), 0u);
    EXPECT_EQ(c->decode(buf, "", 0), 0u);
  }
}

// Runs `command` on `input` (in a temporary file); exit status 127 means
// the command is not installed.
std::string RunCommand(const std::string& command, const std::string& input, int& status) {
  char path[] = "/tmp/vello-codec-XXXXXX";
  const int fd = mkstemp(path);
  EXPECT_GE(fd, 0);
  EXPECT_EQ(write(fd, input.data(), input.size()), static_cast<ssize_t>(input.size()));
  close(fd);
  FILE* pipe = popen((command + " " + path + " 2>/dev/null").c_str(), "r");
  std::string out;
  char chunk[4096];
  for (std::size_t n; pipe != nullptr && (n = std::fread(chunk, 1, sizeof chunk, pipe)) > 0;)
    out.append(chunk, n);
  status = pipe != nullptr ? pclose(pipe) : -1;
  unlink(path);
  return out;
}

class BaseEncodeCommandTest : public ::testing::TestWithParam<const Codec*> {};

TEST_P(BaseEncodeCommandTest, RandomBytesEncodeAsTheCommandDoesAndDecodeBack) {
  const Codec& c = *GetParam();
  std::mt19937 rng(42);
  std::vector<std::size_t> sizes = {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 63, 64, 65, 1000, 4097};
  for (int i = 0; i < 5; ++i) sizes.push_back(rng() % 100000);
  for (std::size_t size : sizes) {
    std::string data(size, '\0');
    for (auto& ch : data) ch = static_cast<char>(rng());
    int status = 0;
    const std::string expected = RunCommand(c.command, data, status);
    if (WIFEXITED(status) && WEXITSTATUS(status) == 127) GTEST_SKIP() << c.command << " missing";
    ASSERT_EQ(status, 0) << c.command;
    ASSERT_EQ(Encode(c, data), expected) << c.command << " on " << size << " bytes";
    ASSERT_EQ(Decode(c, expected), data) << c.command << " on " << size << " bytes";
  }
}

INSTANTIATE_TEST_SUITE_P(Coreutils, BaseEncodeCommandTest, ::testing::ValuesIn(kCodecs),
                         [](const auto& info) { return std::string(info.param->name); });

}  // namespace
