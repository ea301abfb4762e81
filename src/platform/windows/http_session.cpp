// The HTTP session seam on Windows is WinInet. The A functions pass the request's path and header
// bytes through as the system holds them.
#include "platform/http_session.h"

#include "platform/http_redirect.h"

#include <windows.h>
#include <wininet.h>

#include <algorithm>
#include <atomic>
#include <cctype>
#include <string>

// WinInet's character-width macros share two of the seam's names.
#undef HttpOpenRequest
#undef HttpSendRequest

// Every seam handle wraps one WinInet handle. A request also keeps what following a redirect
// needs: WinInet's own following resends every header line to any host, so requests are opened
// without it and redirects are followed here, by the policy both platforms share.
struct HttpHandle {
  HINTERNET internet = nullptr;
  HINTERNET session = nullptr;        // a request's session, for the requests its redirects open
  HINTERNET hopConnection = nullptr;  // the connection of a followed redirect's request
  std::string host;                   // a connection's host and port
  INTERNET_PORT port = 0;
  WebAddress origin;  // a request's address
  std::string verb;
  DWORD flags = 0;
  bool follow = false;
  bool failed = false;  // too many redirects, or one that could not be asked: no response counts
  bool ended = false;   // the deadline passed: the body ends here
  ULONGLONG deadline = 0;
};

namespace {

std::atomic<std::int32_t> connectTimeoutMs{HttpTimeouts{}.connectMs};
std::atomic<std::int32_t> idleTimeoutMs{HttpTimeouts{}.idleMs};
std::atomic<std::int32_t> totalTimeoutMs{HttpTimeouts{}.totalMs};

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

// Milliseconds left until the request's deadline (0 once it has passed). Each wait of the
// request is cut to them, so a server that keeps sending a byte now and then cannot hold it.
std::int32_t TimeLeft(HttpHandle* request) {
  const ULONGLONG now = GetTickCount64();
  return now >= request->deadline ? 0 : static_cast<std::int32_t>(request->deadline - now);
}

bool WaitNoLongerThanTheDeadline(HttpHandle* request) {
  const std::int32_t left = TimeLeft(request);
  if (left == 0) return false;
  const std::int32_t wait = std::min<std::int32_t>(idleTimeoutMs, left);
  SetTimeout(request->internet, INTERNET_OPTION_SEND_TIMEOUT, wait);
  SetTimeout(request->internet, INTERNET_OPTION_RECEIVE_TIMEOUT, wait);
  return true;
}

HttpHandle* Wrap(HINTERNET internet, HINTERNET session = nullptr) {
  if (internet == nullptr) return nullptr;
  auto* handle = new HttpHandle;
  handle->internet = internet;
  handle->session = session;
  return handle;
}

DWORD StatusCode(HINTERNET request) {
  DWORD status = 0;
  DWORD size = sizeof status;
  return HttpQueryInfoA(request, HTTP_QUERY_STATUS_CODE | HTTP_QUERY_FLAG_NUMBER, &status, &size,
                        nullptr)
             ? status
             : 0;
}

// The response's raw header block, read by the same rules on every platform for its status and
// its Location; empty without a response.
std::string RawHeaderBlock(HINTERNET request) {
  std::string block(8192, '\0');
  DWORD size = static_cast<DWORD>(block.size());
  if (!HttpQueryInfoA(request, HTTP_QUERY_RAW_HEADERS_CRLF, block.data(), &size, nullptr)) {
    if (GetLastError() != ERROR_INSUFFICIENT_BUFFER) return {};
    block.assign(size + 1, '\0');
    if (!HttpQueryInfoA(request, HTTP_QUERY_RAW_HEADERS_CRLF, block.data(), &size, nullptr)) {
      return {};
    }
  }
  block.resize(size);
  return block;
}

// The request flags for an address: secure or not by its scheme, the rest as first asked.
DWORD FlagsFor(const WebAddress& address, DWORD flags) {
  flags &= ~static_cast<DWORD>(INTERNET_FLAG_SECURE | INTERNET_FLAG_IGNORE_REDIRECT_TO_HTTPS);
  return flags | (address.secure ? INTERNET_FLAG_SECURE : INTERNET_FLAG_IGNORE_REDIRECT_TO_HTTPS);
}

bool Send(HttpHandle* request, const std::string& headers, const std::uint8_t* body,
          std::uint32_t size) {
  if (!WaitNoLongerThanTheDeadline(request)) return false;
  return HttpSendRequestA(request->internet, headers.empty() ? nullptr : headers.c_str(),
                          static_cast<DWORD>(headers.size()),
                          size == 0 ? nullptr : const_cast<std::uint8_t*>(body), size);
}

// Replaces the request's WinInet request with one for hop.target, on a connection of its own.
bool OpenHop(HttpHandle* request, const RedirectHop& hop) {
  std::string host = hop.target.host;
  if (host.starts_with("[") && host.ends_with("]")) host = host.substr(1, host.size() - 2);
  const HINTERNET connection =
      InternetConnectA(request->session, host.c_str(), static_cast<INTERNET_PORT>(hop.target.port),
                       nullptr, nullptr, INTERNET_SERVICE_HTTP, 0, 0);
  if (connection == nullptr) return false;
  const HINTERNET next =
      HttpOpenRequestA(connection, hop.verb.c_str(), hop.target.path.c_str(), "HTTP/1.1", nullptr,
                       nullptr, FlagsFor(hop.target, request->flags), 0);
  if (next == nullptr) {
    InternetCloseHandle(connection);
    return false;
  }
  SetTimeouts(next);
  InternetCloseHandle(request->internet);
  if (request->hopConnection != nullptr) InternetCloseHandle(request->hopConnection);
  request->internet = next;
  request->hopConnection = connection;
  return true;
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
  HttpHandle* connection =
      Wrap(InternetConnectA(session->internet, hostText.c_str(), static_cast<INTERNET_PORT>(port),
                            nullptr, nullptr, INTERNET_SERVICE_HTTP, 0, 0),
           session->internet);
  if (connection != nullptr) {
    connection->host = hostText;
    connection->port = static_cast<INTERNET_PORT>(port);
  }
  return connection;
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
    request->verb = verbText;
    request->origin = {.secure = (flags & HttpFlagSecure) != 0,
                       .host = connection->host,
                       .port = connection->port,
                       .path = pathText};
    for (char& c : request->origin.host)
      c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  }
  return request;
}

bool HttpSendRequest(HttpHandle* request, std::string_view headers, const std::uint8_t* body,
                     std::uint32_t size) {
  if (request == nullptr) return false;
  request->deadline = GetTickCount64() + static_cast<ULONGLONG>(totalTimeoutMs.load());
  const std::string headerText(headers);
  if (!Send(request, headerText, body, size)) return false;
  if (!request->follow) return true;
  WebAddress current = request->origin;
  std::string verb = request->verb;
  bool withBody = true;
  for (int hops = 0;; ++hops) {
    RedirectHop hop;
    const std::string block = RawHeaderBlock(request->internet);
    if (!NextRedirectHop(ResponseStatus(block), ResponseLocation(block), current, request->origin,
                         verb, hop)) {
      return true;
    }
    withBody = withBody && hop.keepBody;
    if (hops == MaxRedirectHops || !OpenHop(request, hop) ||
        !Send(request, hop.keepCredentials ? headerText : WithoutCredentials(headerText),
              withBody ? body : nullptr, withBody ? size : 0)) {
      request->failed = true;
      return false;
    }
    current = std::move(hop.target);
    verb = std::move(hop.verb);
  }
}

std::uint32_t HttpReadFile(HttpHandle* request, std::uint8_t* buffer, std::uint32_t capacity) {
  // A read waits until its whole buffer is filled and loses what it gathered when the server falls
  // silent first, so each read asks for no more than has arrived.
  DWORD available = 0;
  DWORD read = 0;
  if (request == nullptr || request->failed || request->ended) return 0;
  if (!WaitNoLongerThanTheDeadline(request)) {
    request->ended = true;
    return 0;
  }
  if (!InternetQueryDataAvailable(request->internet, &available, 0, 0) || available == 0 ||
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

void HttpCloseHandle(HttpHandle* handle) {
  if (handle == nullptr) return;
  InternetCloseHandle(handle->internet);
  if (handle->hopConnection != nullptr) InternetCloseHandle(handle->hopConnection);
  delete handle;
}

void SetHttpTimeouts(const HttpTimeouts& timeouts) {
  connectTimeoutMs = timeouts.connectMs;
  idleTimeoutMs = timeouts.idleMs;
  totalTimeoutMs = timeouts.totalMs;
}

HttpTimeouts CurrentHttpTimeouts() {
  return {connectTimeoutMs, idleTimeoutMs, totalTimeoutMs};
}
