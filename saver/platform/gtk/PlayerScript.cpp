#include "saver/platform/gtk/PlayerScript.h"

#include <sys/random.h>

#include <algorithm>
#include <cstdio>
#include <sstream>

std::string PlayerConfigScript(double volume, bool canvas, const std::string& token) {
  std::ostringstream js;
  // Strict, so that no function the page hands us can reach ours through
  // .caller. What it needs of the handler is taken before any script of
  // the page runs and could replace it.
  js << R"JS((function () {
  "use strict";
  const token = ")JS" << token << R"JS(";
  const handlers = window.webkit && window.webkit.messageHandlers;
  const handler = handlers && handlers.)JS"
     << kPlayerMessageHandler << R"JS(;
  const send = handler ? handler.postMessage.bind(handler) : null;
  // The page's own scripts (the programs' calls into it among them) never
  // see the handler: a flood of messages from them would otherwise cross
  // into lumetta's process, each one copied.
  try {
    Object.defineProperty(window, "webkit", { value: undefined, writable: false, configurable: false });
  } catch (e) {}
  const text = String;
  const post = (message) => {
    try { if (send) send(token + text(message)); } catch (e) {}
  };
  let errors = 0;
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
  // A page may raise errors by the thousand; the first few say enough.
  window.addEventListener("error", (e) => { if (++errors <= 5) post("error " + e.message); });
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
    const details = panel.querySelector("#panic-details-content");
    const message = details && /Error message: ([^\n]*)/.exec(details.textContent);
    post("failed " + (text("#panic-body") || text("#panic-title")) +
         (message ? " (" + message[1].trim() + ")" : ""));
  };
  const watch = (node) => {
    if (players.has(node)) return;
    players.add(node);
    post("player");
    if (node.shadowRoot) {
      new MutationObserver(() => reportFailure(node))
          .observe(node.shadowRoot, { childList: true, subtree: true });
    }
    node.addEventListener("loadedmetadata", () => { node.volume = volume; });
    node.addEventListener("loadeddata", () => {
      node.volume = volume;
      post("loaded " + (node.loadedSwf || node.getAttribute("src") || ""));
      // What the player took, so that muting can be seen from outside.
      post("volume " + node.volume);
    });
  };
  const scan = (root) => {
    if (!root.querySelectorAll) return;
    if (root.tagName && root.tagName.startsWith("RUFFLE-")) watch(root);
    root.querySelectorAll("ruffle-embed, ruffle-object, ruffle-player").forEach(watch);
  };
  new MutationObserver((changes) => {
    for (const change of changes) change.addedNodes.forEach(scan);
  }).observe(document, { childList: true, subtree: true });
  window.lumettaPlayers = players;
})();
)JS";
  return js.str();
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
