#include "encryption/BaseEncode.h"

#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <functional>
#include <limits>
#include <random>
#include <stdexcept>
#include <string>
#include <vector>

#include "encryption/BaseDecode.h"

namespace {

using CodecFn = std::size_t (*)(void*, const void*, std::size_t);
using LengthFn = std::size_t (*)(std::size_t);

struct Codec {
  const char* name;
  const char* command;  // the coreutils peer
  CodecFn encode;
  LengthFn length;
  CodecFn decode;
};

const Codec kBase16{"Base16", "basenc --base16 -w0", BaseEncode::Base16Encode,
                    BaseEncode::Base16EncodeGetLength, BaseDecode::Base16Decode};
const Codec kBase32{"Base32", "base32 -w0", BaseEncode::Base32Encode,
                    BaseEncode::Base32EncodeGetLength, BaseDecode::Base32Decode};
const Codec kBase64{"Base64", "base64 -w0", BaseEncode::Base64Encode,
                    BaseEncode::Base64EncodeGetLength, BaseDecode::Base64Decode};

std::string Encode(const Codec& c, const std::string& data) {
  // A guard byte past the predicted length catches overruns.
  std::string out(c.length(data.size()) + 1, '#');
  std::size_t n = c.encode(out.data(), data.data(), data.size());
  EXPECT_EQ(n, c.length(data.size()));
  EXPECT_EQ(out.back(), '#') << "wrote past GetLength";
  out.resize(n);
  return out;
}

std::string ErrorOf(const std::function<void()>& call) {
  try {
    call();
  } catch (const std::runtime_error& e) {
    return e.what();
  }
  return "no error";
}

// RFC 4648 section 10, both ways (the decode count discounts the padding).
TEST(BaseEncodeTest, Rfc4648VectorsBothWays) {
  const char* vectors[][4] = {
      {"", "", "", ""},
      {"f", "66", "MY======", "Zg=="},
      {"fo", "666F", "MZXQ====", "Zm8="},
      {"foo", "666F6F", "MZXW6===", "Zm9v"},
      {"foob", "666F6F62", "MZXW6YQ=", "Zm9vYg=="},
      {"fooba", "666F6F6261", "MZXW6YTB", "Zm9vYmE="},
      {"foobar", "666F6F626172", "MZXW6YTBOI======", "Zm9vYmFy"},
  };
  for (const auto& v : vectors) {
    const Codec* codecs[] = {&kBase16, &kBase32, &kBase64};
    for (int i = 0; i < 3; ++i) {
      const char* text = v[i + 1];
      EXPECT_EQ(Encode(*codecs[i], v[0]), text);
      std::string out(std::strlen(text), '\0');
      out.resize(codecs[i]->decode(out.data(), text, std::strlen(text)));
      EXPECT_EQ(out, v[0]) << text;
    }
  }
}

TEST(BaseEncodeTest, InvalidParameters) {
  // Sizes whose encoding cannot be counted are refused, not wrapped.
  const std::size_t huge = std::numeric_limits<std::size_t>::max();
  char buf[8];
  for (const Codec* c : {&kBase16, &kBase32, &kBase64}) {
    EXPECT_EQ(ErrorOf([&] { c->length(huge); }), "Invalid parameter") << c->name;
    // Null pointers are refused even for a size of 0.
    for (std::size_t size : {std::size_t{0}, std::size_t{1}}) {
      EXPECT_EQ(ErrorOf([&] { c->encode(nullptr, "x", size); }), "Invalid parameter");
      EXPECT_EQ(ErrorOf([&] { c->encode(buf, nullptr, size); }), "Invalid parameter");
    }
    EXPECT_EQ(c->encode(buf, "x", 0), 0u);
  }
}

// ---- Against the coreutils commands ----

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

TEST_P(BaseEncodeCommandTest, RandomBytesEncodeAsTheCommandDoes) {
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
  }
}

INSTANTIATE_TEST_SUITE_P(Coreutils, BaseEncodeCommandTest,
                         ::testing::Values(&kBase16, &kBase32, &kBase64),
                         [](const auto& info) { return std::string(info.param->name); });

}  // namespace
