#include "saver/platform/gtk/PlayerScript.h"

#include <sys/random.h>

#include <algorithm>
#include <cstdio>
#include <sstream>

// Hands watch() every player element: those in the page now and those the
// player adds later. Both scripts, each in its own world, need it.
constexpr const char* kWatchEveryPlayer = R"JS(  const scan = (root) => {
    if (!root.querySelectorAll) return;
    if (root.tagName && root.tagName.startsWith("RUFFLE-")) watch(root);
    root.querySelectorAll("ruffle-embed, ruffle-object, ruffle-player").forEach(watch);
  };
  new MutationObserver((changes) => {
    for (const change of changes) change.addedNodes.forEach(scan);
  }).observe(document, { childList: true, subtree: true });
)JS";

std::string PlayerConfigScript(double volume, bool canvas) {
  std::ostringstream js;
  // Runs among the page's scripts: it posts nothing (the handler lives in
  // the reporter's world, PlayerReportScript) and keeps what the host asks
  // for later (the players, the player's first error) on the window.
  js << R"JS((function () {
  "use strict";
  const volume = )JS"
     << volume << R"JS(;
  window.RufflePlayer = window.RufflePlayer || {};
  window.RufflePlayer.config = {
    publicPath: "special:///ruffle/",
    autoplay: "on",
    unmuteOverlay: "hidden",
    splashScreen: false,
    letterbox: "on",)JS"
     << (canvas ? R"JS(
    preferredRenderer: "canvas",)JS" : "")
     << R"JS(
    urlRewriteRules: [
      [/^file:\/\/.*\/ssftemp\.[^\/]*$/, "special:///full.swf"],
      [/^file:\/\/.*\/ssptemp\.[^\/]*$/, "special:///preview.swf"],
      [/^file:\/\/.*\/ssstemp\.[^\/]*$/, "special:///settings.swf"],
    ],
  };
  // The player logs "%cERROR%c <its source file>%c <text>" on the console.
  // The first error of its core (not of its web side, which says so when
  // there is no sound) is why a program shows nothing; it is kept, not
  // sent, since a program may cause one a frame.
  for (const level of ["log", "error", "warn"]) {
    const original = console[level];
    console[level] = function (...args) {
      if (!window.lumettaPlayerError && typeof args[0] === "string") {
        const logged = /^%cERROR%c core\/\S*%c ([\s\S]*)$/.exec(args[0]);
        if (logged) window.lumettaPlayerError = logged[1].replace(/\s+/g, " ").trim();
      }
      return original.apply(console, args);
    };
  }
  const players = new Set();
  // The player draws its stage in white until the program's first frame
  // has set the stage's colour: it stays transparent over the black page
  // until two of the program's frames have passed (at most half a second),
  // or until it shows its error panel (PlayerReportScript).
  const watch = (node) => {
    if (players.has(node)) return;
    players.add(node);
    node.style.opacity = "0";
    node.addEventListener("loadedmetadata", () => { node.volume = volume; });
    node.addEventListener("loadeddata", () => {
      node.volume = volume;
      node.lumettaVolume = String(node.volume);
      const rate = node.metadata && node.metadata.frameRate > 0 ? node.metadata.frameRate : 30;
      setTimeout(() => requestAnimationFrame(() => requestAnimationFrame(() => {
        node.style.opacity = "";
      })), Math.min(500, 2000 / rate));
    });
  };
)JS" << kWatchEveryPlayer << R"JS(  window.lumettaPlayers = players;
})();
)JS";
  return js.str();
}

std::string PlayerReportScript(const std::string& token) {
  std::ostringstream js;
  // In a world of its own: the page's scripts see neither this script nor
  // the handler, so whatever they post never leaves the web process. What
  // it reads of the players is the page's document, shared by the worlds.
  js << R"JS((function () {
  "use strict";
  const token = ")JS" << token << R"JS(";
  const handler = window.webkit.messageHandlers.)JS"
     << kPlayerMessageHandler << R"JS(;
  const post = (message) => {
    try { handler.postMessage(token + String(message).slice(0, 1500)); } catch (e) {}
  };
  // A page may raise errors by the thousand; the first few say enough.
  let errors = 0;
  window.addEventListener("error", (e) => { if (++errors <= 5) post("error " + e.message); });
  const players = new Set();
  // The player shows a panel instead of the program when it gives up (not
  // a SWF, a program it cannot run, its own failure); the person at the
  // screen only sees that panel, so say once what it says.
  const reportFailure = (node) => {
    const root = node.shadowRoot;
    const panel = root && root.querySelector("#panic");
    if (!panel || node.lumettaFailed) return;
    node.lumettaFailed = true;
    const text = (selector) => {
      const found = panel.querySelector(selector);
      // innerText keeps the panel's line breaks as white space.
      return found ? (found.innerText || found.textContent).replace(/\s+/g, " ").trim() : "";
    };
    node.style.opacity = "";  // hidden until the first frames (PlayerConfigScript)
    const details = panel.querySelector("#panic-details-content");
    const message = details && /Error message: ([^\n]*)/.exec(details.textContent);
    post("failed " + (text("#panic-body") || text("#panic-title")) +
         (message ? " (" + message[1].trim() + ")" : ""));
  };
  const watch = (node) => {
    if (players.has(node)) return;
    players.add(node);
    post("player");
    const observe = () => {
      if (!node.shadowRoot || node.lumettaObserved) return;
      node.lumettaObserved = true;
      new MutationObserver(() => reportFailure(node))
          .observe(node.shadowRoot, { childList: true, subtree: true });
      reportFailure(node);
    };
    observe();
    setTimeout(observe, 0);
    node.addEventListener("loadeddata", () => {
      observe();
      post("loaded " + (node.getAttribute("src") || node.getAttribute("data") || ""));
    });
  };
)JS" << kWatchEveryPlayer << R"JS(})();
)JS";
  return js.str();
}

std::string PlayerVolumeExpression() {
  return "\"use strict\"; (() => { const players = window.lumettaPlayers;"
         " if (!players) return undefined;"
         " for (const p of players) if (typeof p.lumettaVolume === \"string\") return p.lumettaVolume;"
         " return undefined; })();";
}

std::string PlayerLoaderScript() {
  return R"JS((function () {
  const script = document.createElement("script");
  script.src = "special:///ruffle/ruffle.js";
  (document.head || document.documentElement).appendChild(script);
})();
)JS";
}

std::string PlayerPlayingScript(bool playing) {
  const std::string verb = playing ? "play" : "pause";
  const std::string state = playing ? "playing" : "paused";
  // The report says what the players say of themselves afterwards, so a
  // pause that did not take shows as "stuck".
  return "\"use strict\"; (() => { const players = window.lumettaPlayers;"
         " if (!players || !players.size) return undefined;"
         " let stuck = 0; players.forEach((p) => { try { p." + verb +
         "(); } catch (e) {} if (p.isPlaying !== " + (playing ? "true" : "false") +
         ") ++stuck; });"
         " return stuck ? \"" + state + " stuck \" + stuck : \"" + state + "\"; })();";
}

std::string NewPageToken() {
  unsigned char bytes[16] = {};
  size_t got = 0;
  while (got < sizeof bytes) {
    const ssize_t n = getrandom(bytes + got, sizeof bytes - got, 0);
    if (n > 0) got += static_cast<size_t>(n);
  }
  std::string token;
  for (unsigned char byte : bytes) {
    char hex[3];
    std::snprintf(hex, sizeof hex, "%02x", byte);
    token += hex;
  }
  return token;
}

std::optional<std::string> PageMessages::accept(std::string_view posted, double now) {
  if (posted.size() > kMaxBytes || posted.size() < m_token.size() ||
      posted.compare(0, m_token.size(), m_token) != 0)
    return std::nullopt;
  const std::string_view message = posted.substr(m_token.size());
  const auto is = [&](std::string_view kind) { return message == kind; };
  const auto starts = [&](std::string_view kind) { return message.rfind(kind, 0) == 0; };
  if (!is("player") && !is("paused") && !is("playing") && !starts("paused stuck ") &&
      !starts("playing stuck ") && !starts("loaded ") && !starts("volume ") &&
      !starts("failed ") && !starts("error "))
    return std::nullopt;
  if (m_last >= 0) m_allowance = std::min(kBurst, m_allowance + (now - m_last) * kPerSecond);
  m_last = now;
  if (m_allowance < 1) return std::nullopt;
  m_allowance -= 1;
  return std::string(message);
}

std::string PlayerErrorExpression() { return "window.lumettaPlayerError || \"\""; }
