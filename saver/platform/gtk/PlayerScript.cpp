#include "saver/platform/gtk/PlayerScript.h"

#include <sstream>

std::string PlayerConfigScript(double volume, bool canvas) {
  std::ostringstream js;
  js << R"JS((function () {
  const post = (text) => {
    try { window.webkit.messageHandlers.)JS"
     << kPlayerMessageHandler << R"JS(.postMessage(String(text)); } catch (e) {}
  };
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
  window.addEventListener("error", (e) => post("error " + e.message));
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
    reveal(node);
    const details = panel.querySelector("#panic-details-content");
    const message = details && /Error message: ([^\n]*)/.exec(details.textContent);
    post("failed " + (text("#panic-body") || text("#panic-title")) +
         (message ? " (" + message[1].trim() + ")" : ""));
  };
  // The player draws its stage in white until the program's first frame
  // has set the stage's colour: it stays transparent over the black page
  // until then (two of the program's frames), or until it shows its panel.
  const reveal = (node) => { node.style.opacity = ""; };
  const watch = (node) => {
    if (players.has(node)) return;
    players.add(node);
    node.style.opacity = "0";
    post("player");
    if (node.shadowRoot) {
      new MutationObserver(() => reportFailure(node))
          .observe(node.shadowRoot, { childList: true, subtree: true });
    }
    node.addEventListener("loadedmetadata", () => { node.volume = volume; });
    node.addEventListener("loadeddata", () => {
      const rate = node.metadata && node.metadata.frameRate > 0 ? node.metadata.frameRate : 30;
      setTimeout(() => requestAnimationFrame(() => requestAnimationFrame(() => reveal(node))),
                 Math.min(500, 2000 / rate));
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
  return "(() => { const players = window.lumettaPlayers; if (!players || !players.size) return;"
         " let stuck = 0; players.forEach((p) => { try { p." + verb +
         "(); } catch (e) {} if (p.isPlaying !== " + (playing ? "true" : "false") +
         ") ++stuck; });"
         " window.webkit.messageHandlers." + kPlayerMessageHandler + ".postMessage(stuck ? \"" +
         state + " stuck " + "\" + stuck : \"" + state + "\"); })();";
}

std::string PlayerErrorExpression() { return "window.lumettaPlayerError || \"\""; }
