#include "saver/platform/gtk/PlayerScript.h"

#include <gtest/gtest.h>

#include <optional>
#include <string>

namespace {

// Only our script's messages, of the kinds it sends, short, and not too
// many at once.
TEST(PageMessages, TakesOurScriptsMessagesOnlyBoundedInSizeAndRate) {
  const std::string token = NewPageToken();
  ASSERT_EQ(token.size(), 32u);
  EXPECT_NE(token, NewPageToken());

  PageMessages messages(token);
  for (const std::string kind : {"player", "loaded special:///full.swf", "volume 0", "failed Not a valid swf",
                                 "error boom", "paused", "playing stuck 1"})
    EXPECT_EQ(messages.accept(token + kind, 0.0), kind);
  // Another kind, no token, a wrong one, or too long.
  for (const std::string& posted : {token + "players", token + "hello", std::string("failed forged"),
                                    std::string(token.size(), '0') + "player", token.substr(1) + "player",
                                    token + "error " + std::string(PageMessages::kMaxBytes, 'x')})
    EXPECT_EQ(messages.accept(posted, 0.0), std::nullopt) << posted;

  // A fresh page's burst is spent at once; then kPerSecond a second.
  PageMessages rate(token);
  int taken = 0;
  for (int i = 0; i < 1000; ++i) taken += rate.accept(token + "player", 10.0).has_value();
  EXPECT_EQ(taken, static_cast<int>(PageMessages::kBurst));
  // Two seconds of a flood, a hundred messages every quarter of a second.
  taken = 0;
  for (int step = 1; step <= 8; ++step)
    for (int i = 0; i < 100; ++i) taken += rate.accept(token + "player", 10.0 + step * 0.25).has_value();
  EXPECT_EQ(taken, static_cast<int>(2 * PageMessages::kPerSecond));
}

}  // namespace
