#pragma once

#include <map>
#include <memory>
#include <string>
#include <vector>

#include "saver/SaverGlobals.h"

// The "special" URL scheme: serves the programs held in memory (g_swfFull,
// g_swfSettings, g_swfPreview) under special:///full.swf, settings.swf and
// preview.swf, and the player's own files under special:///ruffle/NAME from
// the player folder. The logic knows no web engine: the engine's layer
// hands each request in as a SpecialRequest and registers the scheme
// through a URLProtocolRegistry.

// One answer the protocol gives.
struct SpecialResponse {
  std::string url;
  std::string mimeType;
  long long expectedContentLength = -1;  // not known in advance
  std::map<std::string, std::string> headers;
};

// A request the engine asks the protocol to serve, and the client that
// hears the answer. A request is told either response, data, finish (in
// that order) or one failure.
class SpecialRequest {
 public:
  virtual ~SpecialRequest() = default;
  // The whole URL as the page asked for it.
  virtual std::string url() const = 0;
  // The origin of the document that asks (its Origin header): "null" for
  // the saver's own page, which has none of its own; empty when the
  // request says none (a script or media element of the page).
  virtual std::string origin() const { return ""; }

  virtual void didReceiveResponse(const SpecialResponse& response) = 0;
  virtual void didLoadData(SwfData data) = 0;
  virtual void didFinishLoading() = 0;
  // The request names nothing that can be served.
  virtual void didFailWithError(const std::string& reason) = 0;
};

// Where the engine keeps its URL schemes.
class URLProtocolRegistry {
 public:
  virtual ~URLProtocolRegistry() = default;
  virtual void registerScheme(const std::string& scheme) = 0;
};

class SpecialProtocol {
 public:
  static constexpr const char* kMimeType = "application/x-shockwave-flash";
  static constexpr const char* kPlayerPathPrefix = "/ruffle/";

  static std::string specialProtocolScheme() { return "special"; }
  static std::string specialProtocolVarsKey() { return "specialVarsKey"; }

  // Only the saver's page is served: a request from a document of another
  // origin (a web page in a frame, say) fails, whatever it names.

  // Registers the scheme with the registry on the first call of the
  // process; later calls do nothing.
  static void registerSpecialProtocol(URLProtocolRegistry& registry);
  static bool isRegistered();

  // True when the URL's scheme is "special", whatever its case.
  static bool canInitWithRequest(const std::string& url);

  // The folder the player's files are served from; empty serves none. Only
// regular files right inside it are served, never through a link.
  static void setPlayerFolder(const std::string& folder);

  explicit SpecialProtocol(SpecialRequest& request) : m_request(request) {}
  void startLoading();
  void stopLoading() {}

 private:
  void servePlayerFile(const std::string& name);
  void serve(const std::string& mimeType, SwfData data);

  SpecialRequest& m_request;
};

// The scheme of a URL (text before the first ':'), empty when it has none.
std::string SchemeOfURL(const std::string& url);
// The path of a URL: after "scheme://authority", up to any '?' or '#'.
// "special:///full.swf" and "special:full.swf" both give the name.
std::string PathOfURL(const std::string& url);

// The program in memory a path names: the main program when it contains
// "full.swf", else the settings program for "settings.swf", else the
// preview for "preview.swf"; null when it names none of them.
SwfData ProgramForPath(const std::string& path);

// Reads the extracted programs named by g_full, g_preview and g_settings
// into g_swfFull, g_swfPreview and g_swfSettings, through the descriptors
// they were written with (ReadMadeSwfFile); a path that names no file of
// ours leaves its reference null, so the scheme answers "not found".
void LoadProgramsIntoMemory();

// The content type the player's file of that name is served with; empty
// for a kind of file the player never loads.
std::string PlayerFileMimeType(const std::string& name);
