// The HTTP session seam on Windows is WinInet itself; its handles are the seam's handles. The A
// functions pass the request's path and header bytes through as the system holds them.
#include "platform/http_session.h"

#include <windows.h>
#include <wininet.h>

#include <atomic>
#include <charconv>
#include <string>

// WinInet's character-width macros share two of the seam's names.
#undef HttpOpenRequest
#undef HttpSendRequest

namespace {

std::atomic<std::int32_t> connectTimeoutMs{HttpTimeouts{}.connectMs};
std::atomic<std::int32_t> idleTimeoutMs{HttpTimeouts{}.idleMs};

HINTERNET AsInternet(HttpHandle* handle) {
  return reinterpret_cast<HINTERNET>(handle);
}
HttpHandle* AsHandle(HINTERNET handle) {
  return reinterpret_cast<HttpHandle*>(handle);
}

void SetTimeout(HINTERNET handle, DWORD option, std::int32_t milliseconds) {
  DWORD value = static_cast<DWORD>(milliseconds);
  InternetSetOptionA(handle, option, &value, sizeof value);
}

}  // namespace

HttpHandle* HttpOpenSession(std::string_view agent, const char* proxyList) {
  const std::string agentText(agent);
  const HINTERNET session =
      proxyList != nullptr
          ? InternetOpenA(agentText.c_str(), INTERNET_OPEN_TYPE_PROXY, proxyList, "", 0)
          : InternetOpenA(agentText.c_str(), INTERNET_OPEN_TYPE_DIRECT, nullptr, nullptr, 0);
  if (session != nullptr) SetTimeout(session, INTERNET_OPTION_CONNECT_TIMEOUT, connectTimeoutMs);
  return AsHandle(session);
}

HttpHandle* HttpConnect(HttpHandle* session, std::string_view host, std::int32_t port) {
  if (session == nullptr) return nullptr;
  const std::string hostText(host);
  return AsHandle(InternetConnectA(AsInternet(session), hostText.c_str(),
                                   static_cast<INTERNET_PORT>(port), nullptr, nullptr,
                                   INTERNET_SERVICE_HTTP, 0, 0));
}

HttpHandle* HttpOpenRequest(HttpHandle* connection, std::string_view verb, std::string_view path,
                            std::uint32_t flags) {
  if (connection == nullptr) return nullptr;
  const std::string verbText(verb);
  const std::string pathText(path);
  const HINTERNET request =
      HttpOpenRequestA(AsInternet(connection), verbText.c_str(), pathText.c_str(), "HTTP/1.1",
                       nullptr, nullptr, flags, 0);
  if (request != nullptr) {
    // No request waits forever: a silent server ends the send or the read as failed.
    SetTimeout(request, INTERNET_OPTION_CONNECT_TIMEOUT, connectTimeoutMs);
    SetTimeout(request, INTERNET_OPTION_SEND_TIMEOUT, idleTimeoutMs);
    SetTimeout(request, INTERNET_OPTION_RECEIVE_TIMEOUT, idleTimeoutMs);
  }
  return AsHandle(request);
}

bool HttpSendRequest(HttpHandle* request, std::string_view headers, const std::uint8_t* body,
                     std::uint32_t size) {
  if (request == nullptr) return false;
  return HttpSendRequestA(AsInternet(request), headers.empty() ? nullptr : headers.data(),
                          static_cast<DWORD>(headers.size()),
                          size == 0 ? nullptr : const_cast<std::uint8_t*>(body), size) != FALSE;
}

std::uint32_t HttpReadFile(HttpHandle* request, std::uint8_t* buffer, std::uint32_t capacity) {
  DWORD read = 0;
  if (request == nullptr || !InternetReadFile(AsInternet(request), buffer, capacity, &read))
    return 0;
  return read;
}

bool HttpQueryRawHeaders(HttpHandle* request, char* buffer, std::uint32_t* length) {
  DWORD size = *length;
  if (request != nullptr &&
      HttpQueryInfoA(AsInternet(request), HTTP_QUERY_RAW_HEADERS_CRLF, buffer, &size, nullptr)) {
    *length = size;
    return true;
  }
  *length = request != nullptr && GetLastError() == ERROR_INSUFFICIENT_BUFFER ? size : 0;
  return false;
}

std::int64_t HttpQueryContentLength(HttpHandle* request) {
  char digits[32];
  DWORD size = sizeof digits;
  if (request == nullptr ||
      !HttpQueryInfoA(AsInternet(request), HTTP_QUERY_CONTENT_LENGTH, digits, &size, nullptr)) {
    return -1;
  }
  std::int64_t length = -1;
  const auto [end, error] = std::from_chars(digits, digits + size, length);
  return error == std::errc() && end == digits + size && length >= 0 ? length : -1;
}

void HttpCloseHandle(HttpHandle* handle) {
  if (handle != nullptr) InternetCloseHandle(AsInternet(handle));
}

void SetHttpTimeouts(const HttpTimeouts& timeouts) {
  connectTimeoutMs = timeouts.connectMs;
  idleTimeoutMs = timeouts.idleMs;
}

HttpTimeouts CurrentHttpTimeouts() {
  return {connectTimeoutMs, idleTimeoutMs};
}
