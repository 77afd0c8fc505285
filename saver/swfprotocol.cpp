#include "saver/swfprotocol.h"

#include <fcntl.h>
#include <strings.h>
#include <unistd.h>

#include <utility>

#include "saver/SwfFiles.h"

namespace {

bool g_registered = false;
std::string g_playerFolder;

bool EndsWith(const std::string& text, const std::string& end) {
  return text.size() >= end.size() && text.compare(text.size() - end.size(), end.size(), end) == 0;
}

// A name the player asks for is one plain file inside its folder: nothing
// that climbs out or hides.
bool IsPlainFileName(const std::string& name) {
  return !name.empty() && name[0] != '.' && name.find('/') == std::string::npos &&
         name.find('\\') == std::string::npos;
}

// The regular file of that name right inside the folder, in one read of
// the size it has (the player's 14 MB core read byte by byte held its start
// back by about 0.1 s). Opened below the folder's own descriptor without
// following a link, so nothing outside the folder is served, and without
// waiting on a FIFO.
SwfData ReadFileInFolder(const std::string& folder, const std::string& name) {
  const int dir = open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (dir < 0) return nullptr;
  const int fd = openat(dir, name.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
  close(dir);
  if (fd < 0) return nullptr;
  SwfData bytes = ReadWholeFile(fd);
  close(fd);
  return bytes;
}

}  // namespace

void SpecialProtocol::registerSpecialProtocol(URLProtocolRegistry& registry) {
  if (g_registered) return;
  registry.registerScheme(specialProtocolScheme());
  g_registered = true;
}

bool SpecialProtocol::isRegistered() { return g_registered; }

bool SpecialProtocol::canInitWithRequest(const std::string& url) {
  return strcasecmp(SchemeOfURL(url).c_str(), specialProtocolScheme().c_str()) == 0;
}

void SpecialProtocol::setPlayerFolder(const std::string& folder) { g_playerFolder = folder; }

void SpecialProtocol::startLoading() {
  // The programs may be protected ones, deciphered: no other page gets them.
  const std::string origin = m_request.origin();
  if (!origin.empty() && origin != "null") {
    m_request.didFailWithError("special: serves the saver's own page only, not " + origin);
    return;
  }
  const std::string path = PathOfURL(m_request.url());
  if (path.rfind(kPlayerPathPrefix, 0) == 0) {
    servePlayerFile(path.substr(std::char_traits<char>::length(kPlayerPathPrefix)));
    return;
  }
  SwfData program = ProgramForPath(path);
  // Empty data handed over as success would leave the player waiting for a
  // program that never comes; say it is not there instead.
  if (program == nullptr) {
    m_request.didFailWithError("no program is served at " + path);
    return;
  }
  serve(kMimeType, std::move(program));
}

void SpecialProtocol::servePlayerFile(const std::string& name) {
  const std::string mimeType = PlayerFileMimeType(name);
  if (g_playerFolder.empty() || !IsPlainFileName(name) || mimeType.empty()) {
    m_request.didFailWithError("no player file is served as " + name);
    return;
  }
  SwfData bytes = ReadFileInFolder(g_playerFolder, name);
  if (bytes == nullptr) {
    m_request.didFailWithError("the player file " + g_playerFolder + "/" + name +
                               " cannot be read");
    return;
  }
  serve(mimeType, std::move(bytes));
}

void SpecialProtocol::serve(const std::string& mimeType, SwfData data) {
  SpecialResponse response;
  response.url = m_request.url();
  response.mimeType = mimeType;
  // The player fetches with the fetch API from a page of no origin, which
  // refuses answers without these.
  response.headers.emplace("Content-Type", mimeType);
  response.headers.emplace("Access-Control-Allow-Origin", "*");
  m_request.didReceiveResponse(response);
  m_request.didLoadData(std::move(data));
  m_request.didFinishLoading();
}

std::string SchemeOfURL(const std::string& url) {
  const size_t colon = url.find(':');
  if (colon == std::string::npos) return "";
  const std::string scheme = url.substr(0, colon);
  if (scheme.find_first_of("/?#") != std::string::npos) return "";
  return scheme;
}

std::string PathOfURL(const std::string& url) {
  std::string rest = url;
  const size_t colon = url.find(':');
  if (colon != std::string::npos && !SchemeOfURL(url).empty()) rest = url.substr(colon + 1);
  rest = rest.substr(0, rest.find_first_of("?#"));
  if (rest.rfind("//", 0) == 0) {
    const size_t slash = rest.find('/', 2);
    rest = slash == std::string::npos ? "" : rest.substr(slash);
  }
  return rest;
}

SwfData ProgramForPath(const std::string& path) {
  if (path.find("full.swf") != std::string::npos) return g_swfFull;
  if (path.find("settings.swf") != std::string::npos) return g_swfSettings;
  if (path.find("preview.swf") != std::string::npos) return g_swfPreview;
  return nullptr;
}

void LoadProgramsIntoMemory() {
  g_swfFull = ReadMadeSwfFile(g_full);
  g_swfPreview = ReadMadeSwfFile(g_preview);
  g_swfSettings = ReadMadeSwfFile(g_settings);
}

std::string PlayerFileMimeType(const std::string& name) {
  if (EndsWith(name, ".js")) return "text/javascript";
  // Streaming compilation of WebAssembly insists on this type.
  if (EndsWith(name, ".wasm")) return "application/wasm";
  return "";
}
