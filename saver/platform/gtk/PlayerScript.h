#pragma once

#include <string>

// The scripts the web view adds to every page so that the page text stays
// as the view composed it: the player's configuration (set before the page
// runs) and the loader of the player, which replaces the page's <embed>.
// The player serves its files from special:///ruffle/, and the page's file
// URLs of the extracted programs are rewritten onto the special scheme.

// Name of the script message handler the page reports through. Messages:
// "player" once a player replaced the embed, "loaded URL" once it loaded
// its program, "error TEXT" for a script error, "failed REASON" once when
// the player gave up on its program and shows its error panel (REASON is
// the panel's text and the player's own error message), and after each
// pause or resume of the players "paused" or "playing" ("paused stuck N"
// when N players still say otherwise).
inline constexpr const char kPlayerMessageHandler[] = "lumetta";

// Before the page: the configuration and the reporting. volume is 0 to 1;
// canvas: the player draws with its canvas renderer, else it takes its own
// order of renderers (WebGL first).
std::string PlayerConfigScript(double volume, bool canvas);

// After the page: loads the player.
std::string PlayerLoaderScript();

// Pauses (false) or resumes (true) every player on the page and reports
// the outcome; does nothing before a player is on the page.
std::string PlayerPlayingScript(bool playing);

// A script expression whose value is the first error the player's core
// logged on this page, or "" when it logged none.
std::string PlayerErrorExpression();
