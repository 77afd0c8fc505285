#pragma once

#include <webkit2/webkit2.h>

#include <string>

#include "saver/platform/WindowLayer.h"

// The program's URL scheme on a WebKitGTK web context: registers it once,
// marks it CORS-enabled (the page has no origin and the player fetches with
// the fetch API) and hands each request to host to answer.
void RegisterSpecialScheme(WebKitWebContext* context, const std::string& scheme,
                           WindowLayerHost& host);

// Called with the URL of each request once it is answered (or refused),
// so a host can show when the page's parts arrived; null for none.
void SetSpecialSchemeObserver(void (*observer)(const std::string& url, bool served));
