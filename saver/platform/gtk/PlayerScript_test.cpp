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
  const struct {
    std::string posted;
    std::optional<std::string> taken;
  } cases[] = {
      {token + "player", "player"},
      {token + "loaded special:///full.swf", "loaded special:///full.swf"},
      {token + "volume 0", "volume 0"},
      {token + "failed Not a valid swf", "failed Not a valid swf"},
      {token + "error boom", "error boom"},
      {token + "paused", "paused"},
      {token + "playing stuck 1", "playing stuck 1"},
      // Another kind, no token, a wrong one, or too long.
      {token + "players", std::nullopt},
      {token + "hello", std::nullopt},
      {"failed forged", std::nullopt},
      {std::string(token.size(), '0') + "player", std::nullopt},
      {token.substr(1) + "player", std::nullopt},
      {token + "error " + std::string(PageMessages::kMaxBytes, 'x'), std::nullopt},
  };
  for (const auto& c : cases) EXPECT_EQ(messages.accept(c.posted, 0.0), c.taken) << c.posted;

  // The burst is spent (the messages taken above count); then kPerSecond
  // a second.
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
