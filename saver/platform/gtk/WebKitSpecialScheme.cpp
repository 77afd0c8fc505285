#include "saver/platform/gtk/WebKitSpecialScheme.h"

#include <gio/gio.h>

#include <string>

namespace {

void (*g_observer)(const std::string&, bool) = nullptr;
bool g_registered = false;

std::string UriOf(WebKitURISchemeRequest* request) {
  const char* uri = webkit_uri_scheme_request_get_uri(request);
  return uri != nullptr ? uri : "";
}

std::string OriginOf(WebKitURISchemeRequest* request) {
  SoupMessageHeaders* headers = webkit_uri_scheme_request_get_http_headers(request);
  const char* origin = headers != nullptr ? soup_message_headers_get_one(headers, "Origin") : nullptr;
  return origin != nullptr ? origin : "";
}

void Fail(WebKitURISchemeRequest* request, const std::string& reason) {
  GError* error = g_error_new_literal(G_IO_ERROR, G_IO_ERROR_NOT_FOUND, reason.c_str());
  webkit_uri_scheme_request_finish_error(request, error);
  g_error_free(error);
}

// WebKit takes the whole response in one call.
void Finish(WebKitURISchemeRequest* request, const SchemeAnswer& answer) {
  // The bytes stay alive as long as WebKit reads from the stream.
  using Bytes = std::shared_ptr<const std::vector<unsigned char>>;
  auto* keep = new Bytes(answer.bytes);
  GBytes* bytes = g_bytes_new_with_free_func(
      answer.bytes ? answer.bytes->data() : nullptr, answer.bytes ? answer.bytes->size() : 0,
      [](gpointer p) { delete static_cast<Bytes*>(p); }, keep);
  GInputStream* stream = g_memory_input_stream_new_from_bytes(bytes);
  WebKitURISchemeResponse* response =
      webkit_uri_scheme_response_new(stream, static_cast<gint64>(g_bytes_get_size(bytes)));
  webkit_uri_scheme_response_set_content_type(response, answer.mimeType.c_str());
  SoupMessageHeaders* headers = soup_message_headers_new(SOUP_MESSAGE_HEADERS_RESPONSE);
  for (const auto& [name, value] : answer.headers)
    soup_message_headers_append(headers, name.c_str(), value.c_str());
  webkit_uri_scheme_response_set_http_headers(response, headers);  // takes the headers
  webkit_uri_scheme_request_finish_with_response(request, response);
  g_object_unref(response);
  g_object_unref(stream);
  g_bytes_unref(bytes);
}

void ServeRequest(WebKitURISchemeRequest* request, gpointer host) {
  // The URL is read now: once the request is finished WebKit lets go of
  // it, and asking it anything afterwards reads freed or null memory.
  const std::string url = UriOf(request);
  SchemeAnswer answer;
  static_cast<WindowLayerHost*>(host)->answer(url, OriginOf(request), answer);
  const bool served = answer.failure.empty();
  if (served)
    Finish(request, answer);
  else
    Fail(request, answer.failure);
  if (g_observer != nullptr) g_observer(url, served);
}

}  // namespace

void SetSpecialSchemeObserver(void (*observer)(const std::string&, bool)) {
  g_observer = observer;
}

void RegisterSpecialScheme(WebKitWebContext* context, const std::string& scheme,
                           WindowLayerHost& host) {
  // The context is the process's default one, which keeps a scheme for good.
  if (g_registered) return;
  g_registered = true;
  webkit_web_context_register_uri_scheme(context, scheme.c_str(), ServeRequest, &host, nullptr);
  webkit_security_manager_register_uri_scheme_as_cors_enabled(
      webkit_web_context_get_security_manager(context), scheme.c_str());
}
