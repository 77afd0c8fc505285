#pragma once

#include <optional>
#include <string>
#include <string_view>

// The scripts the web view adds to every page so that the page text stays
// as the view composed it: the player's configuration (set before the page
// runs) and the loader of the player, which replaces the page's <embed>.
// The player serves its files from special:///ruffle/, and the page's file
// URLs of the extracted programs are rewritten onto the special scheme.

// Name of the script message handler the page reports through. Messages:
// "player" once a player replaced the embed, "loaded URL" once it loaded
// its program, "volume V" with the volume it took, "error TEXT" for a
// script error (the first few only), "failed REASON" once when the player
// gave up on its program and shows its error panel (REASON is the panel's
// text and the player's own error message). Each begins with the token
// the script was made with: any script on the page can post to the
// handler, the program's own included, but only ours knows the token.
inline constexpr const char kPlayerMessageHandler[] = "lumetta";

// The script world the reporter runs in, apart from the page's scripts;
// the handler is registered in that world only.
inline constexpr const char kPlayerScriptWorld[] = "lumetta";

// Before the page, among its scripts: the player's configuration. volume
// is 0 to 1; canvas: the player draws with its canvas renderer, else it
// takes its own order of renderers (WebGL first). The last argument is
// not used.
std::string PlayerConfigScript(double volume, bool canvas, const std::string& unused = "");

// Before the page, in kPlayerScriptWorld: the reporter, which posts the
// messages above (but "volume", see PlayerVolumeExpression), each
// beginning with token.
std::string PlayerReportScript(const std::string& token);

// A script expression whose value is the volume the first player of the
// page that loaded its program took, as text, or undefined before one did.
std::string PlayerVolumeExpression();

// A token no page can guess: 32 hexadecimal digits from the system's
// random source.
std::string NewPageToken();

// What the host accepts of the messages posted to the handler: those of
// our script (they begin with its token), of a kind it sends, at most
// kMaxBytes long, and no more than a burst of kBurst and then kPerSecond a
// second. Everything else a page may post (a flood of large messages, say)
// is dropped without a word.
class PageMessages {
 public:
  static constexpr size_t kMaxBytes = 2048;
  static constexpr double kBurst = 32;
  static constexpr double kPerSecond = 4;

  explicit PageMessages(std::string token) : m_token(std::move(token)) {}
  // The message without its token, or nothing. now: seconds on a steady clock.
  std::optional<std::string> accept(std::string_view posted, double now);

 private:
  std::string m_token;
  double m_allowance = kBurst;
  double m_last = -1;
};

// After the page: loads the player.
std::string PlayerLoaderScript();

// Pauses (false) or resumes (true) every player on the page; its value is
// the outcome, "paused" or "playing" ("paused stuck N" when N players still
// say otherwise), or undefined before a player is on the page.
std::string PlayerPlayingScript(bool playing);

// A script expression whose value is the first error the player's core
// logged on this page, or "" when it logged none.
std::string PlayerErrorExpression();
