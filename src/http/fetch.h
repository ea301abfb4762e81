// One complete HTTP exchange in a single call.
#pragma once

#include "text/text_value.h"

#include <cstdint>
#include <optional>
#include <string_view>

inline constexpr char DefaultUserAgent[] =
    "Mozilla/4.0 (compatible; MSIE 9.0; Windows NT 6.1; TOLVA; .NET CLR 2.0.50727; "
    ".NET CLR 3.0.04506.648; .NET CLR 3.5.21022)";

// The optional arguments of FetchUrl. In/out and out arguments point at the caller's variables; a
// null pointer means not supplied (the call then works on a variable of its own). Every member
// has an initializer, so designated initializers may leave any of them out.
struct FetchOptions {
  std::int32_t method = 0;              // 1: "POST"; any other: "GET"; not 0: a body is sent
  AnsiText postText{};                  // body text, used when postBytes is empty
  AnsiText* cookies = nullptr;          // in/out: sent as "Cookie:"; receives the merged cookies
  AnsiText* returnedCookies = nullptr;  // out: the response's cookies, each followed by "; "
  AnsiText* extraHeaders = nullptr;     // in/out: extra request lines; receives the completed block
  AnsiText* location = nullptr;         // in/out: the response's last location line
  bool noRedirect = false;              // the transport does not follow redirects
  ByteBuffer* postBytes = nullptr;      // in/out: body bytes; filled from postText when empty
  std::optional<AnsiText> proxy{};      // proxy for plain HTTP, as "http=" + proxy
  AnsiText* rawHeaders = nullptr;       // out: the raw response header block
};

// Returns the response body, converted to code page 936 when it is recognised as UTF-8, or an
// empty buffer when the request could not be made.
ByteBuffer FetchUrl(std::string_view address, const FetchOptions& options = {});

// What the routine takes from a response's raw header block once its exchange has closed:
// location becomes the value of the last line holding "Location:" (it keeps what it held when no
// line does, and takes the whole block when it is still empty then); returnedCookies the value of
// every "Set-Cookie" line, each followed by "; ", merged into *cookies when that is given. True
// when the block answers a "301" ("HTTP/1.1 301 Moved").
bool ScanResponseHeaders(const AnsiText& rawHeaders, AnsiText& location, AnsiText& returnedCookies,
                         AnsiText* cookies);

// Whether a response body is UTF-8: "charset=utf-8" starts within its first 499 bytes or stands
// in its header block (letter case significant both times).
bool IsUtf8Response(const ByteBuffer& body, std::string_view rawHeaders);

// The bytes after the line's first ":", trimmed; empty when the line holds no ":".
AnsiText HeaderValue(std::string_view line);
