#pragma once

#include <optional>
#include <string>
#include <string_view>

// The scripts the web view adds to every page so that the page text stays
// as the view composed it: the player's configuration (set before the page
// runs), the loader of the player, which replaces the page's <embed>, and
// the reporter, which tells lumetta what the players do.
// The player serves its files from special:///ruffle/, and the page's file
// URLs of the extracted programs are rewritten onto the special scheme.

// Name of the script message handler the reporter posts to. Messages:
// "player" once a player replaced the embed, "loaded URL" once it loaded
// its program, "error TEXT" for a script error (the first few only),
// "failed REASON" once when the player gave up on its program and shows its
// error panel (REASON is the panel's text and the player's own error
// message). Each begins with the token the reporter was made with.
inline constexpr const char kPlayerMessageHandler[] = "lumetta";

// The script world the reporter runs in, apart from the page's scripts
// (the programs' calls into the page among them): the handler is
// registered in that world only, so nothing they post leaves the web
// process, and they cannot reach the reporter to post through it.
inline constexpr const char kPlayerScriptWorld[] = "lumetta";

// Before the page, among its scripts: the player's configuration. volume
// is 0 to 1; canvas: the player draws with its canvas renderer, else it
// takes its own order of renderers (WebGL first).
std::string PlayerConfigScript(double volume, bool canvas);

// Before the page, in kPlayerScriptWorld: the reporter, each of whose
// messages begins with token.
std::string PlayerReportScript(const std::string& token);

// A script expression whose value is the volume the first player of the
// page that loaded its program took, as text, or undefined before one did.
std::string PlayerVolumeExpression();

// A token no page can guess: 32 hexadecimal digits from the system's
// random source.
std::string NewPageToken();

// What the host accepts of the messages posted to the handler: those of
// the reporter (they begin with its token), of a kind it sends, at most
// kMaxBytes long, and no more than a burst of kBurst and then kPerSecond a
// second; everything else is dropped without a word. The reporter's world
// already keeps the page's scripts out; this holds should a page still
// find a way in (its text is in the reporter's messages: a script error,
// the player's panel), or the engine change.
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
