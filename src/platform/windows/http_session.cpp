// The HTTP session seam on Windows is WinInet. The A functions pass the request's path and header
// bytes through as the system holds them.
#include "platform/http_session.h"

#include <windows.h>
#include <wininet.h>

#include <algorithm>
#include <atomic>
#include <cctype>
#include <charconv>
#include <string>

// WinInet's character-width macros share two of the seam's names.
#undef HttpOpenRequest
#undef HttpSendRequest

// Every seam handle wraps one WinInet handle. A request also keeps what following a redirect
// needs: WinInet's own following knows no bound, so requests are opened without it and the
// redirects are followed here, at most MaxTransportRedirects of them.
struct HttpHandle {
  HINTERNET internet = nullptr;
  HINTERNET session = nullptr;  // a request's session, for the requests its redirects open
  DWORD flags = 0;
  bool follow = false;
  bool failed = false;  // too many redirects: no response counts
};

namespace {

constexpr int MaxTransportRedirects = 10;

std::atomic<std::int32_t> connectTimeoutMs{HttpTimeouts{}.connectMs};
std::atomic<std::int32_t> idleTimeoutMs{HttpTimeouts{}.idleMs};

void SetTimeout(HINTERNET handle, DWORD option, std::int32_t milliseconds) {
  DWORD value = static_cast<DWORD>(milliseconds);
  InternetSetOptionA(handle, option, &value, sizeof value);
}

// No request waits forever: a silent server ends the send or the read as failed. Set on the
// session too, for the requests that following a redirect opens from it.
void SetTimeouts(HINTERNET handle) {
  SetTimeout(handle, INTERNET_OPTION_CONNECT_TIMEOUT, connectTimeoutMs);
  SetTimeout(handle, INTERNET_OPTION_SEND_TIMEOUT, idleTimeoutMs);
  SetTimeout(handle, INTERNET_OPTION_RECEIVE_TIMEOUT, idleTimeoutMs);
}

HttpHandle* Wrap(HINTERNET internet, HINTERNET session = nullptr) {
  return internet != nullptr ? new HttpHandle{.internet = internet, .session = session} : nullptr;
}

DWORD StatusCode(HINTERNET request) {
  DWORD status = 0;
  DWORD size = sizeof status;
  return HttpQueryInfoA(request, HTTP_QUERY_STATUS_CODE | HTTP_QUERY_FLAG_NUMBER, &status, &size,
                        nullptr)
             ? status
             : 0;
}

// The absolute address a redirect answer points to, when it points to one over http or https.
std::string RedirectTarget(HINTERNET request) {
  const DWORD status = StatusCode(request);
  if (status != 301 && status != 302 && status != 303 && status != 307 && status != 308) return {};
  char location[2048];
  DWORD size = sizeof location;
  if (!HttpQueryInfoA(request, HTTP_QUERY_LOCATION, location, &size, nullptr)) return {};
  char current[2048];
  size = sizeof current;
  if (!InternetQueryOptionA(request, INTERNET_OPTION_URL, current, &size)) return {};
  char target[2048];
  size = sizeof target;
  if (!InternetCombineUrlA(current, location, target, &size, ICU_NO_ENCODE)) return {};
  std::string address(target, size);
  std::string scheme = address.substr(0, 8);
  for (char& c : scheme)
    c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  if (!scheme.starts_with("http://") && !scheme.starts_with("https://")) address.clear();
  return address;
}

}  // namespace

HttpHandle* HttpOpenSession(std::string_view agent, const char* proxyList) {
  const std::string agentText(agent);
  const HINTERNET session =
      proxyList != nullptr
          ? InternetOpenA(agentText.c_str(), INTERNET_OPEN_TYPE_PROXY, proxyList, "", 0)
          : InternetOpenA(agentText.c_str(), INTERNET_OPEN_TYPE_DIRECT, nullptr, nullptr, 0);
  if (session != nullptr) SetTimeouts(session);
  return Wrap(session);
}

HttpHandle* HttpConnect(HttpHandle* session, std::string_view host, std::int32_t port) {
  if (session == nullptr) return nullptr;
  const std::string hostText(host);
  return Wrap(
      InternetConnectA(session->internet, hostText.c_str(), static_cast<INTERNET_PORT>(port),
                       nullptr, nullptr, INTERNET_SERVICE_HTTP, 0, 0),
      session->internet);
}

HttpHandle* HttpOpenRequest(HttpHandle* connection, std::string_view verb, std::string_view path,
                            std::uint32_t flags) {
  if (connection == nullptr) return nullptr;
  const std::string verbText(verb);
  const std::string pathText(path);
  const DWORD own = flags | INTERNET_FLAG_NO_AUTO_REDIRECT;
  HttpHandle* request =
      Wrap(HttpOpenRequestA(connection->internet, verbText.c_str(), pathText.c_str(), "HTTP/1.1",
                            nullptr, nullptr, own, 0),
           connection->session);
  if (request != nullptr) {
    SetTimeouts(request->internet);
    request->flags = own;
    request->follow = (flags & HttpFlagNoAutoRedirect) == 0;
  }
  return request;
}

bool HttpSendRequest(HttpHandle* request, std::string_view headers, const std::uint8_t* body,
                     std::uint32_t size) {
  if (request == nullptr) return false;
  const std::string headerText(headers);
  const char* headerBytes = headers.empty() ? nullptr : headerText.c_str();
  const DWORD headerLength = static_cast<DWORD>(headers.size());
  if (!HttpSendRequestA(request->internet, headerBytes, headerLength,
                        size == 0 ? nullptr : const_cast<std::uint8_t*>(body), size)) {
    return false;
  }
  if (!request->follow) return true;
  // A followed redirect asks for its target with the same headers, as a GET without a body.
  for (int redirects = 0;; ++redirects) {
    const std::string target = RedirectTarget(request->internet);
    if (target.empty()) return true;
    if (redirects == MaxTransportRedirects) {
      request->failed = true;
      return false;
    }
    // The target's scheme decides whether the request is secure.
    const HINTERNET next =
        InternetOpenUrlA(request->session, target.c_str(), headerBytes, headerLength,
                         request->flags & ~static_cast<DWORD>(INTERNET_FLAG_SECURE), 0);
    if (next == nullptr) {
      request->failed = true;
      return false;
    }
    InternetCloseHandle(request->internet);
    request->internet = next;
  }
}

std::uint32_t HttpReadFile(HttpHandle* request, std::uint8_t* buffer, std::uint32_t capacity) {
  // A read waits until its whole buffer is filled and loses what it gathered when the server falls
  // silent first, so each read asks for no more than has arrived.
  DWORD available = 0;
  DWORD read = 0;
  if (request == nullptr || request->failed ||
      !InternetQueryDataAvailable(request->internet, &available, 0, 0) || available == 0 ||
      !InternetReadFile(request->internet, buffer, std::min<DWORD>(available, capacity), &read)) {
    return 0;
  }
  return read;
}

bool HttpQueryRawHeaders(HttpHandle* request, char* buffer, std::uint32_t* length) {
  // Without a response (a send that failed) WinInet may still give a block of its own, an empty
  // line; only a status line makes a response.
  if (request == nullptr || request->failed || StatusCode(request->internet) < 100) {
    *length = 0;
    return false;
  }
  DWORD size = *length;
  if (HttpQueryInfoA(request->internet, HTTP_QUERY_RAW_HEADERS_CRLF, buffer, &size, nullptr)) {
    *length = size;
    return true;
  }
  *length = GetLastError() == ERROR_INSUFFICIENT_BUFFER ? size : 0;
  return false;
}

std::int64_t HttpQueryContentLength(HttpHandle* request) {
  char digits[32];
  DWORD size = sizeof digits;
  if (request == nullptr || request->failed ||
      !HttpQueryInfoA(request->internet, HTTP_QUERY_CONTENT_LENGTH, digits, &size, nullptr)) {
    return -1;
  }
  std::int64_t length = -1;
  const auto [end, error] = std::from_chars(digits, digits + size, length);
  return error == std::errc() && end == digits + size && length >= 0 ? length : -1;
}

void HttpCloseHandle(HttpHandle* handle) {
  if (handle == nullptr) return;
  InternetCloseHandle(handle->internet);
  delete handle;
}

void SetHttpTimeouts(const HttpTimeouts& timeouts) {
  connectTimeoutMs = timeouts.connectMs;
  idleTimeoutMs = timeouts.idleMs;
}

HttpTimeouts CurrentHttpTimeouts() {
  return {connectTimeoutMs, idleTimeoutMs};
}
