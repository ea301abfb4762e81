// The HTTP session seam on libcurl. Each request runs its own easy handle on its own multi handle,
// which the reads drive: the transfer advances only while a caller waits for the response to begin
// or for the next piece of the body, so the body is handed out in pieces without being held whole.
// Redirects are followed here, not by libcurl, so that both platforms follow one policy
// (platform/http_redirect.h). Nothing in the environment changes a request: every setting that
// libcurl would otherwise take from an environment variable is set explicitly.
#include "platform/http_session.h"

#include "platform/http_redirect.h"

#include <curl/curl.h>
#include <dlfcn.h>

#include <algorithm>
#include <atomic>
#include <cstring>
#include <memory>
#include <mutex>
#include <string>

#include <time.h>

namespace {

// Milliseconds on the monotonic clock (<chrono> cannot be compiled for the execution code page).
std::int64_t NowMs() {
  timespec now{};
  clock_gettime(CLOCK_MONOTONIC, &now);
  return std::int64_t{now.tv_sec} * 1000 + now.tv_nsec / 1000000;
}

// A header block beyond this size ends the transfer: no response needs one, and it bounds memory.
constexpr std::size_t MaxHeaderBlock = 1 << 20;

std::atomic<std::int32_t> connectTimeoutMs{HttpTimeouts{}.connectMs};
std::atomic<std::int32_t> idleTimeoutMs{HttpTimeouts{}.idleMs};
std::atomic<std::int32_t> totalTimeoutMs{HttpTimeouts{}.totalMs};

// libcurl's global state and the process-wide cookie store, which stands in for the platform's
// own: cookies a response sets are sent with later requests to that host unless a request opts out.
struct CurlProcess {
  bool ready = false;
  CURLSH* share = nullptr;
  std::mutex locks[CURL_LOCK_DATA_LAST];
};

CurlProcess* Process() {
  // Initialised once, on first use, from whichever thread comes first; never torn down, since
  // detached workers may still be fetching when the process ends.
  static CurlProcess* const process = [] {
    auto* p = new CurlProcess;
    if (curl_global_init(CURL_GLOBAL_DEFAULT) != CURLE_OK) return p;
    p->share = curl_share_init();
    if (p->share == nullptr) return p;
    curl_share_setopt(
        p->share, CURLSHOPT_LOCKFUNC,
        +[](CURL*, curl_lock_data data, curl_lock_access, void* user) {
          static_cast<CurlProcess*>(user)->locks[data].lock();
        });
    curl_share_setopt(
        p->share, CURLSHOPT_UNLOCKFUNC, +[](CURL*, curl_lock_data data, void* user) {
          static_cast<CurlProcess*>(user)->locks[data].unlock();
        });
    curl_share_setopt(p->share, CURLSHOPT_USERDATA, p);
    curl_share_setopt(p->share, CURLSHOPT_SHARE, CURL_LOCK_DATA_COOKIE);
    p->ready = true;
    return p;
  }();
  return process;
}

struct Request {
  CURL* easy = nullptr;
  CURLM* multi = nullptr;
  curl_slist* headerList = nullptr;
  // What asking again, for a followed redirect, needs.
  std::string agent;
  std::string httpProxy;
  std::string httpsProxy;
  bool cookieStore = false;  // cookies of the process-wide store are sent and kept
  bool follow = false;
  WebAddress origin;  // the address asked for
  std::string verb;
  std::string url;     // of the transfer running
  bool usable = true;  // false: the address cannot be requested, so sending fails at once
  bool sent = false;
  bool done = false;
  // The header block of the response being received; complete once its empty line arrived.
  std::string headers;
  bool headersComplete = false;
  // Body bytes received and not yet read.
  std::string pending;
  std::size_t pendingRead = 0;
  std::int64_t lastProgress = 0;  // NowMs of the last byte sent or received
  std::int64_t deadline = 0;      // NowMs at which the request ends, however it is going
  curl_off_t uploaded = 0;

  Request() = default;
  Request(const Request&) = delete;
  Request& operator=(const Request&) = delete;
  ~Request() {
    EndTransfer();
    if (multi != nullptr) curl_multi_cleanup(multi);
  }

  void EndTransfer() {
    if (multi != nullptr && easy != nullptr) curl_multi_remove_handle(multi, easy);
    if (easy != nullptr) curl_easy_cleanup(easy);
    easy = nullptr;
    curl_slist_free_all(headerList);
    headerList = nullptr;
  }
};

enum class HandleKind { Session, Connection, Request };

}  // namespace

struct HttpHandle {
  HandleKind kind;
  std::string agent;
  std::string httpProxy;   // proxy for plain HTTP; empty: direct
  std::string httpsProxy;  // proxy for https; empty: direct
  std::string host;
  std::int32_t port = 0;
  std::unique_ptr<Request> request;
};

namespace {

bool IsHostByte(unsigned char c) {
  return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '.' ||
         c == '-' || c == '_';
}

bool IsRequestable(const WebAddress& address) {
  const std::string& host = address.host;
  return !host.empty() &&
         std::all_of(host.begin(), host.end(),
                     [](char c) { return IsHostByte(static_cast<unsigned char>(c)); }) &&
         address.port > 0 && address.port < 65536;
}

// libcurl opens the file that SSLKEYLOGFILE names when it starts and writes the secrets of every
// TLS session to it. No variable of the environment may do that to our requests: each TLS
// context forgets that writer before its handshake.
CURLcode ForgetKeyLog(CURL*, void* sslContext, void*) {
  using SetKeyLog = void (*)(void*, void*);
  static const auto setKeyLog =
      reinterpret_cast<SetKeyLog>(dlsym(RTLD_DEFAULT, "SSL_CTX_set_keylog_callback"));
  if (setKeyLog != nullptr) setKeyLog(sslContext, nullptr);
  return CURLE_OK;
}

// The platform's proxy list: entries separated by spaces or ";", each "scheme=proxy" or a bare
// proxy for every scheme.
void ReadProxyList(std::string_view list, HttpHandle& session) {
  while (!list.empty()) {
    const std::size_t end = std::min(list.find_first_of(" ;"), list.size());
    const std::string_view entry = list.substr(0, end);
    list.remove_prefix(std::min(end + 1, list.size()));
    const std::size_t equals = entry.find('=');
    if (equals == std::string_view::npos) {
      if (entry.empty()) continue;
      session.httpProxy = session.httpsProxy = entry;
    } else if (entry.substr(0, equals) == "http") {
      session.httpProxy = entry.substr(equals + 1);
    } else if (entry.substr(0, equals) == "https") {
      session.httpsProxy = entry.substr(equals + 1);
    }
  }
}

// The URL parser refuses spaces and control bytes, which the request line would carry as they
// stand; they travel percent-encoded instead.
std::string RequestablePath(std::string_view path) {
  static constexpr char Hex[] = "0123456789ABCDEF";
  std::string out;
  out.reserve(path.size());
  for (const char c : path) {
    const auto byte = static_cast<unsigned char>(c);
    if (byte <= 0x20 || byte == 0x7F) {
      out += '%';
      out += Hex[byte >> 4];
      out += Hex[byte & 0xF];
    } else {
      out += c;
    }
  }
  return out;
}

void Touch(Request& r) {
  r.lastProgress = NowMs();
}

std::size_t OnHeaderLine(char* data, std::size_t size, std::size_t count, void* user) {
  auto& r = *static_cast<Request*>(user);
  const std::size_t total = size * count;
  std::string_view line(data, total);
  Touch(r);
  if (line.starts_with("HTTP/")) {
    // A new response (after an interim one or a followed redirect): its block replaces the last.
    r.headers.clear();
    r.headersComplete = false;
  } else if (r.headersComplete) {
    return total;  // trailers after a chunked body are no part of the block
  }
  while (!line.empty() && (line.back() == '\n' || line.back() == '\r'))
    line.remove_suffix(1);
  if (r.headers.size() + line.size() + 2 > MaxHeaderBlock) return 0;
  r.headers.append(line).append("\r\n");
  if (line.empty()) r.headersComplete = true;
  return total;
}

std::size_t OnBodyData(char* data, std::size_t size, std::size_t count, void* user) {
  auto& r = *static_cast<Request*>(user);
  const std::size_t total = size * count;
  Touch(r);
  if (r.pendingRead == r.pending.size()) {
    r.pending.clear();
    r.pendingRead = 0;
  }
  r.pending.append(data, total);
  return total;
}

int OnProgress(void* user, curl_off_t, curl_off_t, curl_off_t, curl_off_t uploaded) {
  auto& r = *static_cast<Request*>(user);
  if (uploaded != r.uploaded) {
    r.uploaded = uploaded;
    Touch(r);
  }
  return 0;
}

bool HasPending(const Request& r) {
  return r.pendingRead < r.pending.size();
}

// Advances the transfer until body bytes wait to be read or the transfer has ended. A call that
// sees no progress for the idle timeout, or reaches the request's deadline, ends the transfer;
// what arrived before stays to be read.
void Pump(Request& r) {
  const std::int64_t idle = idleTimeoutMs.load();
  Touch(r);  // the wait is counted per call, not across the caller's own pauses
  while (!r.done && !HasPending(r)) {
    int running = 0;
    if (curl_multi_perform(r.multi, &running) != CURLM_OK || running == 0) {
      r.done = true;
      break;
    }
    if (HasPending(r)) break;
    const std::int64_t now = NowMs();
    const std::int64_t waited = now - r.lastProgress;
    if (waited >= idle || now >= r.deadline) {
      r.done = true;
      break;
    }
    const std::int64_t wait = std::min({idle - waited, r.deadline - now, std::int64_t{1000}});
    curl_multi_poll(r.multi, nullptr, 0, static_cast<int>(wait), nullptr);
  }
}

// A request that ends without a response: nothing to read, no header block.
void Fail(Request& r) {
  r.EndTransfer();
  r.done = true;
  r.headers.clear();
  r.headersComplete = false;
  r.pending.clear();
  r.pendingRead = 0;
}

// Header lines as libcurl takes them, plus the lines that keep libcurl from adding headers of its
// own that the platform's client would not send.
curl_slist* HeaderList(std::string_view block) {
  curl_slist* list = nullptr;
  const auto add = [&list](const std::string& line) {
    if (curl_slist* longer = curl_slist_append(list, line.c_str())) list = longer;
  };
  while (!block.empty()) {
    const std::size_t end = std::min(block.find_first_of("\r\n"), block.size());
    if (end > 0) add(std::string(block.substr(0, end)));
    block.remove_prefix(end);
    while (!block.empty() && (block.front() == '\r' || block.front() == '\n'))
      block.remove_prefix(1);
  }
  // An empty value removes libcurl's default; a line the caller gave is still sent.
  add("Accept:");
  add("Content-Type:");
  add("Expect:");
  return list;
}

}  // namespace

void SetHttpTimeouts(const HttpTimeouts& timeouts) {
  connectTimeoutMs = timeouts.connectMs;
  idleTimeoutMs = timeouts.idleMs;
  totalTimeoutMs = timeouts.totalMs;
}

HttpTimeouts CurrentHttpTimeouts() {
  return {connectTimeoutMs.load(), idleTimeoutMs.load(), totalTimeoutMs.load()};
}

HttpHandle* HttpOpenSession(std::string_view agent, const char* proxyList) {
  if (!Process()->ready) return nullptr;
  auto* session = new HttpHandle{HandleKind::Session, std::string(agent), {}, {}, {}, 0, {}};
  if (proxyList != nullptr) ReadProxyList(proxyList, *session);
  return session;
}

HttpHandle* HttpConnect(HttpHandle* session, std::string_view host, std::int32_t port) {
  if (session == nullptr || session->kind != HandleKind::Session) return nullptr;
  return new HttpHandle{HandleKind::Connection,
                        session->agent,
                        session->httpProxy,
                        session->httpsProxy,
                        std::string(host),
                        port,
                        {}};
}

HttpHandle* HttpOpenRequest(HttpHandle* connection, std::string_view verb, std::string_view path,
                            std::uint32_t flags) {
  if (connection == nullptr || connection->kind != HandleKind::Connection) return nullptr;
  auto r = std::make_unique<Request>();
  r->multi = curl_multi_init();
  if (r->multi == nullptr) return nullptr;
  r->origin = {.secure = (flags & HttpFlagSecure) != 0,
               .host = connection->host,
               .port = connection->port,
               .path = std::string(path)};
  r->usable = IsRequestable(r->origin);
  r->verb = verb;
  r->agent = connection->agent;
  r->httpProxy = connection->httpProxy;
  r->httpsProxy = connection->httpsProxy;
  r->cookieStore = (flags & HttpFlagNoCookies) == 0;
  r->follow = (flags & HttpFlagNoAutoRedirect) == 0;
  return new HttpHandle{HandleKind::Request, {}, {}, {}, {}, 0, std::move(r)};
}

namespace {

// Starts one transfer of the request: to target, with verb, the header block and the body (none
// when body is null), replacing the transfer before it. False when it cannot start.
bool StartTransfer(Request& r, const WebAddress& target, const std::string& verb,
                   std::string_view headers, const std::string* body) {
  r.EndTransfer();
  r.done = false;
  r.headers.clear();
  r.headersComplete = false;
  r.pending.clear();
  r.pendingRead = 0;
  r.uploaded = 0;
  if (!IsRequestable(target)) return false;
  r.easy = curl_easy_init();
  if (r.easy == nullptr) return false;
  r.url = (target.secure ? "https://" : "http://") + target.host + ":" +
          std::to_string(target.port) + RequestablePath(target.path);

  CURL* easy = r.easy;
  curl_easy_setopt(easy, CURLOPT_URL, r.url.c_str());
  curl_easy_setopt(easy, CURLOPT_PROTOCOLS_STR, "http,https");
  curl_easy_setopt(easy, CURLOPT_PATH_AS_IS, 1L);
  curl_easy_setopt(easy, CURLOPT_DISALLOW_USERNAME_IN_URL, 1L);
  curl_easy_setopt(easy, CURLOPT_HTTP_VERSION, CURL_HTTP_VERSION_1_1);
  curl_easy_setopt(easy, CURLOPT_NOSIGNAL, 1L);
  curl_easy_setopt(easy, CURLOPT_USERAGENT, r.agent.c_str());
  // Both set, also when empty: libcurl reads http_proxy, HTTPS_PROXY, ALL_PROXY and NO_PROXY
  // (in either letter case) from the environment for whichever of them is not set.
  curl_easy_setopt(easy, CURLOPT_PROXY, (target.secure ? r.httpsProxy : r.httpProxy).c_str());
  curl_easy_setopt(easy, CURLOPT_NOPROXY, "");
  curl_easy_setopt(easy, CURLOPT_SSL_CTX_FUNCTION, ForgetKeyLog);
  curl_easy_setopt(easy, CURLOPT_FOLLOWLOCATION, 0L);
  if (r.cookieStore) {
    curl_easy_setopt(easy, CURLOPT_SHARE, Process()->share);
    curl_easy_setopt(easy, CURLOPT_COOKIEFILE, "");  // switches the cookie engine on, reads no file
  }
  curl_easy_setopt(easy, CURLOPT_CONNECTTIMEOUT_MS, static_cast<long>(connectTimeoutMs.load()));
  curl_easy_setopt(easy, CURLOPT_HEADERFUNCTION, OnHeaderLine);
  curl_easy_setopt(easy, CURLOPT_HEADERDATA, &r);
  curl_easy_setopt(easy, CURLOPT_WRITEFUNCTION, OnBodyData);
  curl_easy_setopt(easy, CURLOPT_WRITEDATA, &r);
  curl_easy_setopt(easy, CURLOPT_XFERINFOFUNCTION, OnProgress);
  curl_easy_setopt(easy, CURLOPT_XFERINFODATA, &r);
  curl_easy_setopt(easy, CURLOPT_NOPROGRESS, 0L);

  r.headerList = HeaderList(headers);
  curl_easy_setopt(easy, CURLOPT_HTTPHEADER, r.headerList);
  const bool post = verb == "POST" || (body != nullptr && !body->empty());
  if (post) {
    const std::size_t size = body != nullptr ? body->size() : 0;
    curl_easy_setopt(easy, CURLOPT_POSTFIELDSIZE_LARGE, static_cast<curl_off_t>(size));
    curl_easy_setopt(easy, CURLOPT_COPYPOSTFIELDS, size > 0 ? body->data() : "");
  } else {
    curl_easy_setopt(easy, CURLOPT_HTTPGET, 1L);
  }
  if (verb != (post ? "POST" : "GET")) curl_easy_setopt(easy, CURLOPT_CUSTOMREQUEST, verb.c_str());
  return curl_multi_add_handle(r.multi, easy) == CURLM_OK;
}

}  // namespace

bool HttpSendRequest(HttpHandle* request, std::string_view headers, const std::uint8_t* body,
                     std::uint32_t size) {
  if (request == nullptr || request->kind != HandleKind::Request) return false;
  Request& r = *request->request;
  if (r.sent) return false;
  r.sent = true;
  r.deadline = NowMs() + totalTimeoutMs.load();
  const std::string headerBlock(headers);
  const std::string bodyBytes =
      body != nullptr ? std::string(reinterpret_cast<const char*>(body), size) : std::string();
  WebAddress current = r.origin;
  std::string verb = r.verb;
  bool withBody = true;
  bool credentials = true;
  for (int hops = 0;; ++hops) {
    if (!r.usable || !StartTransfer(r, current, verb,
                                    credentials ? headerBlock : WithoutCredentials(headerBlock),
                                    withBody ? &bodyBytes : nullptr)) {
      Fail(r);
      return false;
    }
    Pump(r);
    RedirectHop hop;
    if (!r.follow || !r.headersComplete ||
        !NextRedirectHop(ResponseStatus(r.headers), ResponseLocation(r.headers), current, r.origin,
                         verb, hop)) {
      return r.headersComplete;
    }
    if (hops == MaxRedirectHops) {
      Fail(r);
      return false;
    }
    current = std::move(hop.target);
    verb = std::move(hop.verb);
    withBody = withBody && hop.keepBody;
    credentials = hop.keepCredentials;
  }
}

std::uint32_t HttpReadFile(HttpHandle* request, std::uint8_t* buffer, std::uint32_t capacity) {
  if (request == nullptr || request->kind != HandleKind::Request || capacity == 0) return 0;
  Request& r = *request->request;
  if (!r.sent) return 0;
  if (!HasPending(r)) Pump(r);
  const std::size_t count = std::min<std::size_t>(capacity, r.pending.size() - r.pendingRead);
  std::memcpy(buffer, r.pending.data() + r.pendingRead, count);
  r.pendingRead += count;
  return static_cast<std::uint32_t>(count);
}

bool HttpQueryRawHeaders(HttpHandle* request, char* buffer, std::uint32_t* length) {
  if (request == nullptr || request->kind != HandleKind::Request || length == nullptr) return false;
  const Request& r = *request->request;
  if (!r.headersComplete) {
    *length = 0;
    return false;
  }
  const std::size_t needed = r.headers.size() + 1;
  if (buffer == nullptr || *length < needed) {
    *length = static_cast<std::uint32_t>(needed);
    return false;
  }
  std::memcpy(buffer, r.headers.data(), r.headers.size());
  buffer[r.headers.size()] = '\0';
  *length = static_cast<std::uint32_t>(r.headers.size());
  return true;
}

void HttpCloseHandle(HttpHandle* handle) {
  delete handle;
}
