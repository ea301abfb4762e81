// Placeholder until the HTTP routine lands.
#include "http/fetch.h"

ByteBuffer FetchUrl(std::string_view, const FetchOptions&) { return {}; }
AnsiText HeaderValue(std::string_view) { return {}; }
