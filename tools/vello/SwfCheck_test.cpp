// The SWF header checks that verify and extract rely on.

#include "tools/vello/SwfCheck.h"

#include <gtest/gtest.h>

#include "tools/vello/VelloRun_test.h"

namespace {

using vellorun::Bytes;

TEST(SwfCheck, HeadersAndTheirLengths) {
  const Bytes fws = vellorun::Fws(300, 9, 1);
  const Bytes cws = vellorun::Cws(fws);
  Bytes cwsPadded = cws;
  cwsPadded.resize(cws.size() + 40, 0);  // as a protected program decodes
  Bytes cwsLying = cws;
  cwsLying[5] = 0;  // 300 is 0x12C: now states 0x2C = 44 bytes uncompressed
  Bytes zws = {'Z', 'W', 'S', 13, 200, 0, 0, 0, 10, 0, 0, 0};
  zws.resize(zws.size() + 5 + 10 + 3, 0);
  Bytes fwsPadded = fws;
  fwsPadded.resize(400, 0);

  const struct {
    const char* what;
    Bytes bytes;
    std::string problem;
    size_t length;
  } cases[] = {
      {"fws", fws, "", 300},
      {"fws then padding", fwsPadded, "", 300},
      {"fws cut", Bytes(fws.begin(), fws.begin() + 299), "states 300 bytes but holds 299 bytes", 300},
      {"cws", cws, "", cws.size()},
      {"cws then padding", cwsPadded, "", cws.size()},
      {"cws with a wrong length", cwsLying, "states 44 bytes uncompressed but inflates to 300 bytes", 0},
      {"cws cut", Bytes(cws.begin(), cws.end() - 3), "has a zlib body that does not inflate", 0},
      {"zws", zws, "", 27},
      {"short", Bytes{'F', 'W', 'S'}, "holds 3 bytes, shorter than an SWF header", 0},
      {"no signature", Bytes(20, 0x41), "has no SWF signature (starts with 41 41 41)", 0},
      {"tiny length", Bytes{'F', 'W', 'S', 9, 7, 0, 0, 0}, "states a length of 7 bytes, shorter than its own header", 0},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    const SwfCheck check = CheckSwf(c.bytes.data(), c.bytes.size());
    EXPECT_EQ(check.problem, c.problem);
    if (c.length != 0) {
      EXPECT_EQ(check.fileLength, c.length);
    }
  }
}

}  // namespace
