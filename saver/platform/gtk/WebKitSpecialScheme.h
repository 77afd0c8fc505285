#pragma once

#include <webkit2/webkit2.h>

// The special URL scheme on a WebKitGTK web context: registers it once,
// marks it CORS-enabled (the page has no origin and the player fetches with
// the fetch API) and hands each request to SpecialProtocol.
void RegisterSpecialScheme(WebKitWebContext* context);
