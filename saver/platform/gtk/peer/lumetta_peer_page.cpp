// lumetta_peer_page BASE_URL: prints the page lumetta shows for its main
// program, with the player's configuration and loader that lumetta's web
// view adds, as one page a browser can load from BASE_URL (which serves
// ruffle/ and full.swf). scripts/measure-lumetta.sh compares lumetta with a
// browser playing exactly this.

#include <iostream>
#include <string>

#include "saver/SaverGlobals.h"
#include "saver/SwfFiles.h"
#include "saver/SwfPage.h"
#include "saver/platform/gtk/PlayerScript.h"

namespace {

// The scripts name the special scheme; the browser reaches the same files
// over HTTP.
std::string Rebased(std::string text, const std::string& base) {
  const std::string scheme = "special:///";
  for (size_t at = text.find(scheme); at != std::string::npos;
       at = text.find(scheme, at + base.size()))
    text.replace(at, scheme.size(), base);
  return text;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2 || std::string(argv[1]).empty() || std::string(argv[1]).back() != '/') {
    std::cerr << "usage: lumetta_peer_page BASE_URL/   (e.g. http://127.0.0.1:8000/)\n";
    return 2;
  }
  const std::string base = argv[1];
  // A path the player's rewrite rules map onto full.swf, as they map the
  // extracted file's.
  g_full = "/tmp/ssftemp.peer";
  std::string page = ComposeSwfPage(kSwfFull);
  // lumetta injects the configuration at document start and the loader at
  // document end.
  page.insert(page.find("<body"),
              "<script>\n" + Rebased(PlayerConfigScript(0.0, /*canvas=*/true), base) + "</script>\n");
  page.insert(page.rfind("</body>"), "<script>\n" + Rebased(PlayerLoaderScript(), base) + "</script>");
  std::cout << page;
  return 0;
}
