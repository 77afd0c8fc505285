#include "saver/platform/gtk/WebKitSpecialScheme.h"

#include <gio/gio.h>

#include <string>

#include "saver/swfprotocol.h"

namespace {

void (*g_observer)(const std::string&, bool) = nullptr;

// One request of the web engine, answered through SpecialProtocol. The
// response parts arrive in order and are handed to WebKit when loading is
// finished, since WebKit takes them in one call.
class WebKitRequest : public SpecialRequest {
 public:
  // The URL is read now: once the request is finished WebKit lets go of
  // it, and asking it anything afterwards reads freed or null memory.
  explicit WebKitRequest(WebKitURISchemeRequest* request)
      : m_request(request), m_url(UriOf(request)), m_origin(OriginOf(request)) {}

  std::string url() const override { return m_url; }
  std::string origin() const override { return m_origin; }

  void didReceiveResponse(const SpecialResponse& response) override { m_response = response; }

  void didLoadData(SwfData data) override { m_data = std::move(data); }

  void didFinishLoading() override {
    // The bytes stay alive as long as WebKit reads from the stream.
    auto* keep = new SwfData(m_data);
    GBytes* bytes = g_bytes_new_with_free_func(
        m_data ? m_data->data() : nullptr, m_data ? m_data->size() : 0,
        [](gpointer p) { delete static_cast<SwfData*>(p); }, keep);
    GInputStream* stream = g_memory_input_stream_new_from_bytes(bytes);
    WebKitURISchemeResponse* response =
        webkit_uri_scheme_response_new(stream, static_cast<gint64>(g_bytes_get_size(bytes)));
    webkit_uri_scheme_response_set_content_type(response, m_response.mimeType.c_str());
    SoupMessageHeaders* headers = soup_message_headers_new(SOUP_MESSAGE_HEADERS_RESPONSE);
    for (const auto& [name, value] : m_response.headers)
      soup_message_headers_append(headers, name.c_str(), value.c_str());
    webkit_uri_scheme_response_set_http_headers(response, headers);  // takes the headers
    webkit_uri_scheme_request_finish_with_response(m_request, response);
    m_request = nullptr;
    g_object_unref(response);
    g_object_unref(stream);
    g_bytes_unref(bytes);
    if (g_observer != nullptr) g_observer(m_url, true);
  }

  void didFailWithError(const std::string& reason) override {
    GError* error = g_error_new_literal(G_IO_ERROR, G_IO_ERROR_NOT_FOUND, reason.c_str());
    webkit_uri_scheme_request_finish_error(m_request, error);
    m_request = nullptr;
    g_error_free(error);
    if (g_observer != nullptr) g_observer(m_url, false);
  }

 private:
  static std::string UriOf(WebKitURISchemeRequest* request) {
    const char* uri = webkit_uri_scheme_request_get_uri(request);
    return uri != nullptr ? uri : "";
  }

  static std::string OriginOf(WebKitURISchemeRequest* request) {
    SoupMessageHeaders* headers = webkit_uri_scheme_request_get_http_headers(request);
    const char* origin = headers != nullptr ? soup_message_headers_get_one(headers, "Origin") : nullptr;
    return origin != nullptr ? origin : "";
  }

  WebKitURISchemeRequest* m_request;  // null once finished
  const std::string m_url;
  const std::string m_origin;
  SpecialResponse m_response;
  SwfData m_data;
};

void ServeRequest(WebKitURISchemeRequest* request, gpointer /*unused*/) {
  WebKitRequest adapter(request);
  if (!SpecialProtocol::canInitWithRequest(adapter.url())) {
    adapter.didFailWithError("not a special URL");
    return;
  }
  SpecialProtocol protocol(adapter);
  protocol.startLoading();
}

class WebContextRegistry : public URLProtocolRegistry {
 public:
  explicit WebContextRegistry(WebKitWebContext* context) : m_context(context) {}
  void registerScheme(const std::string& scheme) override {
    webkit_web_context_register_uri_scheme(m_context, scheme.c_str(), ServeRequest, nullptr,
                                           nullptr);
    webkit_security_manager_register_uri_scheme_as_cors_enabled(
        webkit_web_context_get_security_manager(m_context), scheme.c_str());
  }

 private:
  WebKitWebContext* m_context;
};

}  // namespace

void SetSpecialSchemeObserver(void (*observer)(const std::string&, bool)) {
  g_observer = observer;
}

void RegisterSpecialScheme(WebKitWebContext* context) {
  WebContextRegistry registry(context);
  SpecialProtocol::registerSpecialProtocol(registry);
}
