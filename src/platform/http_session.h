// HTTP session seam. A thin mirror of the platform's internet client calls that the request
// routine makes (open a session, connect, open a request, send, read in pieces, query the raw
// header block, close), so the routine's failure rules (which step failed, which outputs are
// already written) are the same on every platform. Every handle is opaque and is released with
// HttpCloseHandle; closing them in any order is safe.
#pragma once

#include <cstdint>
#include <string_view>

struct HttpHandle;

// Request flags, with the values of the Windows internet client.
inline constexpr std::uint32_t HttpFlagReload = 0x80000000;             // INTERNET_FLAG_RELOAD
inline constexpr std::uint32_t HttpFlagNeedFile = 0x10;                 // INTERNET_FLAG_NEED_FILE
inline constexpr std::uint32_t HttpFlagNoCookies = 0x80000;             // INTERNET_FLAG_NO_COOKIES
inline constexpr std::uint32_t HttpFlagNoAutoRedirect = 0x200000;       // ..._NO_AUTO_REDIRECT
inline constexpr std::uint32_t HttpFlagSecure = 0x800000;               // INTERNET_FLAG_SECURE
inline constexpr std::uint32_t HttpFlagIgnoreRedirectToHttps = 0x4000;  // ..._TO_HTTPS

// Opens a session that sends agent as its User-Agent. proxyList null: direct. Otherwise proxy
// mode with that list and an empty bypass list; an entry "http=host:port" is the proxy for plain
// HTTP requests (https requests go direct). Null on failure.
HttpHandle* HttpOpenSession(std::string_view agent, const char* proxyList);

// A connection to host (no port, no scheme) and port. No network traffic yet. Null on failure.
HttpHandle* HttpConnect(HttpHandle* session, std::string_view host, std::int32_t port);

// A request for verb and path (path and query, beginning with "/") over HTTP/1.1. flags: the
// HttpFlag values above. HttpFlagNoCookies keeps the request out of the process-wide cookie
// store; without it, cookies the store holds for the host are sent and those set are kept.
// Null on failure.
HttpHandle* HttpOpenRequest(HttpHandle* connection, std::string_view verb, std::string_view path,
                            std::uint32_t flags);

// Sends the request with headers (lines separated by "\r\n", sent as given) and size bytes of
// body (none when size is 0) and waits for the response to begin. False when no response came.
// Unless the request was opened with HttpFlagNoAutoRedirect, a redirect answer is followed as
// platform/http_redirect.h lays down (the same on every platform); more than MaxRedirectHops of
// them in a row end the request as failed, with no response.
bool HttpSendRequest(HttpHandle* request, std::string_view headers, const std::uint8_t* body,
                     std::uint32_t size);

// Reads the next piece of the response body into buffer, at most capacity bytes. Returns the
// count read; 0 at the end of the body and after any failure (reset, timeout).
std::uint32_t HttpReadFile(HttpHandle* request, std::uint8_t* buffer, std::uint32_t capacity);

// The raw header block of the final response: the status line and each header line, each ending
// with "\r\n", then an empty line "\r\n", then a zero byte. *length is the buffer's capacity in
// bytes; on success it becomes the count written before the zero byte. Fails, writing nothing,
// when no response was received or the block and its zero byte do not fit; *length is then the
// size needed (0 without a response).
bool HttpQueryRawHeaders(HttpHandle* request, char* buffer, std::uint32_t* length);

// Releases a session, connection or request handle; null is ignored.
void HttpCloseHandle(HttpHandle* handle);

// No call waits forever: connecting (name resolution and TLS included) gives up after connectMs;
// a send or read that sees no progress, sending or receiving, for idleMs ends the transfer as
// failed (the platform's connect, send and receive timeouts); and a request, the redirects the
// transport follows for it included, ends totalMs after it was sent however steadily bytes come.
// A transfer that ends early keeps what arrived before: the reads hand it out, then give 0.
// Process-wide; applies to requests opened afterwards. Only tests change them, to keep a silent
// or trickling server quick.
struct HttpTimeouts {
  std::int32_t connectMs = 10000;
  std::int32_t idleMs = 30000;
  std::int32_t totalMs = 60000;
};
void SetHttpTimeouts(const HttpTimeouts& timeouts);
HttpTimeouts CurrentHttpTimeouts();
