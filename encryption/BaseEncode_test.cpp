#include "encryption/BaseEncode.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>
#include <limits>
#include <optional>
#include <random>
#include <stdexcept>
#include <string>
#include <vector>

extern char** environ;

namespace {

using namespace BaseEncode;

struct Rfc4648Vector {
  const char* data;
  const char* base16;
  const char* base32;
  const char* base64;
};

// RFC 4648 section 10.
const Rfc4648Vector kRfc[] = {
    {"", "", "", ""},
    {"f", "66", "MY======", "Zg=="},
    {"fo", "666F", "MZXQ====", "Zm8="},
    {"foo", "666F6F", "MZXW6===", "Zm9v"},
    {"foob", "666F6F62", "MZXW6YQ=", "Zm9vYg=="},
    {"fooba", "666F6F6261", "MZXW6YTB", "Zm9vYmE="},
    {"foobar", "666F6F626172", "MZXW6YTBOI======", "Zm9vYmFy"},
};

using EncodeFn = std::size_t (*)(void*, const void*, std::size_t);
using LengthFn = std::size_t (*)(std::size_t);

std::string Encode(EncodeFn encode, LengthFn length, const std::string& data) {
  // A guard byte past the predicted length catches overruns.
  std::string out(length(data.size()) + 1, '#');
  std::size_t n = encode(out.data(), data.data(), data.size());
  EXPECT_EQ(n, length(data.size()));
  EXPECT_EQ(out.back(), '#') << "wrote past GetLength";
  out.resize(n);
  return out;
}

TEST(BaseEncodeTest, Rfc4648Vectors) {
  for (const auto& v : kRfc) {
    EXPECT_EQ(Encode(Base16Encode, Base16EncodeGetLength, v.data), v.base16) << v.data;
    EXPECT_EQ(Encode(Base32Encode, Base32EncodeGetLength, v.data), v.base32) << v.data;
    EXPECT_EQ(Encode(Base64Encode, Base64EncodeGetLength, v.data), v.base64) << v.data;
  }
}

TEST(BaseEncodeTest, ConstantsAndAlphabets) {
  EXPECT_EQ(BASE16_INPUT, 1u);
  EXPECT_EQ(BASE16_OUTPUT, 2u);
  EXPECT_EQ(BASE32_INPUT, 5u);
  EXPECT_EQ(BASE32_OUTPUT, 8u);
  EXPECT_EQ(BASE64_INPUT, 3u);
  EXPECT_EQ(BASE64_OUTPUT, 4u);
  EXPECT_STREQ(BASE16_TABLE, "0123456789ABCDEF");
  EXPECT_STREQ(BASE32_TABLE, "ABCDEFGHIJKLMNOPQRSTUVWXYZ234567=");
  EXPECT_STREQ(BASE64_TABLE, "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/=");
  EXPECT_STREQ(c_pszErrorInvalidParameter, "Invalid parameter");
}

TEST(BaseEncodeTest, LengthsAreWholeGroups) {
  const std::size_t sizes[] = {0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 99, 100, 101};
  for (std::size_t s : sizes) {
    EXPECT_EQ(Base16EncodeGetLength(s), 2 * s);
    EXPECT_EQ(Base32EncodeGetLength(s), (s + 4) / 5 * 8);
    EXPECT_EQ(Base64EncodeGetLength(s), (s + 2) / 3 * 4);
  }
  // Sizes whose encoding cannot be counted are refused, not wrapped.
  const std::size_t huge = std::numeric_limits<std::size_t>::max();
  EXPECT_THROW(Base16EncodeGetLength(huge), std::runtime_error);
  EXPECT_THROW(Base32EncodeGetLength(huge), std::runtime_error);
  EXPECT_THROW(Base64EncodeGetLength(huge), std::runtime_error);
}

TEST(BaseEncodeTest, PadCountsOfShortGroups) {
  const std::string data = "\x01\x02\x03\x04\x05";
  const int base64_pads[] = {0, 2, 1};
  const int base32_pads[] = {0, 6, 4, 3, 1};
  for (std::size_t n = 1; n <= 5; ++n) {
    std::string text = Encode(Base32Encode, Base32EncodeGetLength, data.substr(0, n));
    EXPECT_EQ(text.size() - text.find_last_not_of('='), 1u + base32_pads[n % 5]) << n;
  }
  for (std::size_t n = 1; n <= 3; ++n) {
    std::string text = Encode(Base64Encode, Base64EncodeGetLength, data.substr(0, n));
    EXPECT_EQ(text.size() - text.find_last_not_of('='), 1u + base64_pads[n % 3]) << n;
  }
}

TEST(BaseEncodeTest, Base16IsUpperCase) {
  const std::string data = "\xab\xcd\xef\x0f";
  EXPECT_EQ(Encode(Base16Encode, Base16EncodeGetLength, data), "ABCDEF0F");
}

TEST(BaseEncodeTest, NullPointersAreInvalidEvenForSizeZero) {
  char buf[8];
  for (EncodeFn f : {Base16Encode, Base32Encode, Base64Encode}) {
    for (std::size_t size : {std::size_t{0}, std::size_t{1}}) {
      try {
        f(nullptr, "x", size);
        ADD_FAILURE() << "null destination accepted";
      } catch (const std::runtime_error& e) {
        EXPECT_STREQ(e.what(), "Invalid parameter");
      }
      try {
        f(buf, nullptr, size);
        ADD_FAILURE() << "null source accepted";
      } catch (const std::runtime_error& e) {
        EXPECT_STREQ(e.what(), "Invalid parameter");
      }
    }
    EXPECT_EQ(f(buf, "x", 0), 0u);
  }
}

// ---- Against the coreutils commands ----

std::optional<std::string> FindCommand(const std::string& name) {
  const char* path = std::getenv("PATH");
  std::string dirs = path ? path : "/usr/bin:/bin";
  std::size_t start = 0;
  while (start <= dirs.size()) {
    std::size_t end = dirs.find(':', start);
    if (end == std::string::npos) end = dirs.size();
    std::string candidate = dirs.substr(start, end - start) + "/" + name;
    if (access(candidate.c_str(), X_OK) == 0) return candidate;
    start = end + 1;
  }
  return std::nullopt;
}

// Runs `argv` with `input` in a temporary file as its last argument and
// returns what it writes to standard output.
std::string RunOnFile(std::vector<std::string> argv, const std::string& input) {
  char in_path[] = "/tmp/vello-codec-inXXXXXX";
  char out_path[] = "/tmp/vello-codec-outXXXXXX";
  int in_fd = mkstemp(in_path);
  int out_fd = mkstemp(out_path);
  EXPECT_GE(in_fd, 0);
  EXPECT_GE(out_fd, 0);
  EXPECT_EQ(write(in_fd, input.data(), input.size()), static_cast<ssize_t>(input.size()));
  close(in_fd);
  argv.push_back(in_path);
  std::vector<char*> args;
  for (auto& a : argv) args.push_back(a.data());
  args.push_back(nullptr);
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_adddup2(&actions, out_fd, STDOUT_FILENO);
  pid_t pid = 0;
  int rc = posix_spawn(&pid, args[0], &actions, nullptr, args.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  int status = 0;
  if (rc == 0) waitpid(pid, &status, 0);
  close(out_fd);
  EXPECT_EQ(rc, 0);
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << argv[0];
  std::ifstream f(out_path, std::ios::binary);
  std::string out((std::istreambuf_iterator<char>(f)), std::istreambuf_iterator<char>());
  unlink(in_path);
  unlink(out_path);
  return out;
}

struct Tool {
  const char* command;
  std::vector<std::string> options;
  EncodeFn encode;
  LengthFn length;
};

class BaseEncodeCommandTest : public ::testing::TestWithParam<Tool> {};

TEST_P(BaseEncodeCommandTest, RandomBytesEncodeAsTheCommandDoes) {
  const Tool& tool = GetParam();
  std::optional<std::string> path = FindCommand(tool.command);
  if (!path) GTEST_SKIP() << "command '" << tool.command << "' not found on PATH";
  std::mt19937 rng(42);
  std::vector<std::size_t> sizes = {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 63, 64, 65, 1000, 4097};
  for (int i = 0; i < 5; ++i) sizes.push_back(rng() % 100000);
  for (std::size_t size : sizes) {
    std::string data(size, '\0');
    for (auto& c : data) c = static_cast<char>(rng());
    std::vector<std::string> argv{*path};
    argv.insert(argv.end(), tool.options.begin(), tool.options.end());
    ASSERT_EQ(Encode(tool.encode, tool.length, data), RunOnFile(argv, data))
        << tool.command << " on " << size << " bytes";
  }
}

INSTANTIATE_TEST_SUITE_P(
    Coreutils, BaseEncodeCommandTest,
    ::testing::Values(Tool{"base64", {"-w0"}, Base64Encode, Base64EncodeGetLength},
                      Tool{"base32", {"-w0"}, Base32Encode, Base32EncodeGetLength},
                      Tool{"basenc", {"--base16", "-w0"}, Base16Encode, Base16EncodeGetLength}),
    [](const auto& info) { return std::string(info.param.command); });

}  // namespace
