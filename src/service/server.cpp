#include "service/server.h"

#include "service/index.h"
#include "service/pages.h"
#include "service/query.h"

#include <microhttpd.h>

#include <arpa/inet.h>
#include <netdb.h>
#include <netinet/in.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <memory>
#include <string_view>

namespace service {

namespace {

const ServeOptions* serving = nullptr;

// Each of the server's threads reads through its own connection to the database.
thread_local std::unique_ptr<Index> threadIndex;

Index* ThreadIndex() {
  if (!threadIndex) {
    std::string error;
    threadIndex = OpenIndex(serving->database, false, error);
    if (!threadIndex) std::fprintf(stderr, "pelvaro-service: %s\n", error.c_str());
  }
  return threadIndex.get();
}

// The raw address of each request, query string still encoded, kept from the moment its request
// line arrives until the request is done.
struct Request {
  std::string rawAddress;
  bool headerSeen = false;
};

void* KeepRawAddress(void*, const char* uri, struct MHD_Connection*) {
  return new Request{uri};
}

void ForgetRawAddress(void*, struct MHD_Connection*, void** requestContext,
                      enum MHD_RequestTerminationCode) {
  delete static_cast<Request*>(*requestContext);
  *requestContext = nullptr;
}

enum MHD_Result Send(struct MHD_Connection* connection, unsigned status, const std::string& body,
                     bool resultPage) {
  struct MHD_Response* response = MHD_create_response_from_buffer(
      body.size(), const_cast<char*>(body.data()), MHD_RESPMEM_MUST_COPY);
  if (response == nullptr) return MHD_NO;
  MHD_add_response_header(response, MHD_HTTP_HEADER_CONTENT_TYPE, "text/html; charset=utf-8");
  MHD_add_response_header(response, "X-Content-Type-Options", "nosniff");
  if (resultPage) {
    // Names are printed as imported, unescaped, for Pelvaro's parser: a browser that opens the
    // page anyway runs nothing from it.
    MHD_add_response_header(response, "Content-Security-Policy", "default-src 'none'");
    MHD_add_response_header(response, MHD_HTTP_HEADER_CACHE_CONTROL, "no-store");
  }
  const enum MHD_Result queued = MHD_queue_response(connection, status, response);
  MHD_destroy_response(response);
  return queued;
}

enum MHD_Result Answer(void*, struct MHD_Connection* connection, const char* url,
                       const char* method, const char*, const char*, size_t* uploadSize,
                       void** requestContext) {
  const std::string_view verb = method;
  if (verb != MHD_HTTP_METHOD_GET && verb != MHD_HTTP_METHOD_HEAD) {
    struct MHD_Response* response =
        MHD_create_response_from_buffer(0, nullptr, MHD_RESPMEM_PERSISTENT);
    if (response == nullptr) return MHD_NO;
    MHD_add_response_header(response, MHD_HTTP_HEADER_ALLOW, "GET, HEAD");
    const enum MHD_Result queued =
        MHD_queue_response(connection, MHD_HTTP_METHOD_NOT_ALLOWED, response);
    MHD_destroy_response(response);
    return queued;
  }
  auto* request = static_cast<Request*>(*requestContext);
  if (request == nullptr) return MHD_NO;
  // The first call comes with the header alone; answering only once the request is read whole
  // keeps the connection open for the next request.
  if (!request->headerSeen) {
    request->headerSeen = true;
    return MHD_YES;
  }
  if (*uploadSize != 0) {
    *uploadSize = 0;  // a body on a GET is read and dropped
    return MHD_YES;
  }

  const std::string_view path = url;
  if (path == "/support") return Send(connection, MHD_HTTP_OK, SupportPage(), false);
  if (path == "/support/thanks") return Send(connection, MHD_HTTP_OK, ThanksPage(), false);
  if (path != "/") return Send(connection, MHD_HTTP_NOT_FOUND, NotFoundPage(), false);

  std::string_view rawQuery;
  const std::size_t question = request->rawAddress.find('?');
  if (question != std::string::npos)
    rawQuery = std::string_view(request->rawAddress).substr(question + 1);
  SearchQuery query;
  switch (ParseSearchQuery(rawQuery, query)) {
    case QueryParse::BadEncoding:
      return Send(connection, MHD_HTTP_BAD_REQUEST,
                  BadRequestPage("The query string holds a malformed percent escape."), false);
    case QueryParse::BadPage:
      return Send(connection, MHD_HTTP_BAD_REQUEST, BadRequestPage("page must be a whole number."),
                  false);
    case QueryParse::Ok:
      break;
  }
  Index* index = ThreadIndex();
  std::vector<Share> shares;
  bool morePages = false;
  std::string error;
  if (index == nullptr ||
      !FindShares(*index, query.keyword, query.page, shares, morePages, error)) {
    if (!error.empty()) std::fprintf(stderr, "pelvaro-service: search failed: %s\n", error.c_str());
    return Send(connection, MHD_HTTP_SERVICE_UNAVAILABLE,
                BadRequestPage("The catalogue cannot be read just now."), false);
  }
  return Send(connection, MHD_HTTP_OK,
              ResultPage(query.keyword, query.page, shares, morePages, serving->shareDomain), true);
}

int OpenListeningSocket(const std::string& address, const std::string& port, std::string& shown) {
  addrinfo hints{};
  hints.ai_family = AF_UNSPEC;
  hints.ai_socktype = SOCK_STREAM;
  hints.ai_flags = AI_NUMERICHOST | AI_NUMERICSERV | AI_PASSIVE;
  addrinfo* found = nullptr;
  const int looked = getaddrinfo(address.c_str(), port.c_str(), &hints, &found);
  if (looked != 0) {
    std::fprintf(stderr, "pelvaro-service: cannot listen on %s:%s: %s\n", address.c_str(),
                 port.c_str(), gai_strerror(looked));
    return -1;
  }
  const int fd = socket(found->ai_family, SOCK_STREAM | SOCK_CLOEXEC, 0);
  const int yes = 1;
  if (fd < 0 || setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &yes, sizeof yes) != 0 ||
      bind(fd, found->ai_addr, found->ai_addrlen) != 0 || listen(fd, 4096) != 0) {
    std::fprintf(stderr, "pelvaro-service: cannot listen on %s:%s: %s\n", address.c_str(),
                 port.c_str(), std::strerror(errno));
    if (fd >= 0) close(fd);
    freeaddrinfo(found);
    return -1;
  }
  freeaddrinfo(found);
  sockaddr_storage bound{};
  socklen_t length = sizeof bound;
  getsockname(fd, reinterpret_cast<sockaddr*>(&bound), &length);
  char text[INET6_ADDRSTRLEN] = "";
  int boundPort = 0;
  if (bound.ss_family == AF_INET6) {
    const auto* six = reinterpret_cast<const sockaddr_in6*>(&bound);
    inet_ntop(AF_INET6, &six->sin6_addr, text, sizeof text);
    boundPort = ntohs(six->sin6_port);
    shown = "[" + std::string(text) + "]:" + std::to_string(boundPort);
  } else {
    const auto* four = reinterpret_cast<const sockaddr_in*>(&bound);
    inet_ntop(AF_INET, &four->sin_addr, text, sizeof text);
    boundPort = ntohs(four->sin_port);
    shown = std::string(text) + ":" + std::to_string(boundPort);
  }
  return fd;
}

// Every connection holds a descriptor: allow as many as the system lets this process have.
void RaiseDescriptorLimit() {
  rlimit limit{};
  if (getrlimit(RLIMIT_NOFILE, &limit) == 0 && limit.rlim_cur < limit.rlim_max) {
    limit.rlim_cur = limit.rlim_max;
    setrlimit(RLIMIT_NOFILE, &limit);
  }
}

}  // namespace

bool SplitListenAddress(const std::string& text, std::string& address, std::string& port) {
  const std::size_t colon = text.rfind(':');
  if (colon == std::string::npos || colon + 1 == text.size()) return false;
  address = text.substr(0, colon);
  port = text.substr(colon + 1);
  if (address.size() >= 2 && address.front() == '[' && address.back() == ']')
    address = address.substr(1, address.size() - 2);
  else if (address.find(':') != std::string::npos)
    return false;  // an IPv6 address needs its brackets
  if (address.empty() || port.find_first_not_of("0123456789") != std::string::npos ||
      port.size() > 5 || std::stoi(port) > 65535)
    return false;
  return true;
}

int Serve(const ServeOptions& options) {
  serving = &options;
  std::string address, port;
  if (!SplitListenAddress(options.listen, address, port)) {
    std::fprintf(stderr, "pelvaro-service: --listen wants ADDRESS:PORT, not \"%s\"\n",
                 options.listen.c_str());
    return 2;
  }
  {
    // Creates an empty catalogue on first start, and says early when the file is unusable.
    std::string error;
    std::unique_ptr<Index> index = OpenIndex(options.database, true, error);
    if (!index) {
      std::fprintf(stderr, "pelvaro-service: %s\n", error.c_str());
      return 1;
    }
    std::fprintf(stderr, "pelvaro-service: %s holds %lld shares\n", options.database.c_str(),
                 static_cast<long long>(CountShares(*index)));
  }
  RaiseDescriptorLimit();
  std::string shown;
  const int listener = OpenListeningSocket(address, port, shown);
  if (listener < 0) return 1;

  // The server's threads inherit this mask; only the main thread takes the stop signals.
  sigset_t stop;
  sigemptyset(&stop);
  sigaddset(&stop, SIGINT);
  sigaddset(&stop, SIGTERM);
  pthread_sigmask(SIG_BLOCK, &stop, nullptr);
  signal(SIGPIPE, SIG_IGN);

  struct MHD_Daemon* daemon = MHD_start_daemon(
      MHD_USE_INTERNAL_POLLING_THREAD | MHD_USE_EPOLL, 0, nullptr, nullptr, &Answer, nullptr,
      MHD_OPTION_LISTEN_SOCKET, listener, MHD_OPTION_THREAD_POOL_SIZE, options.threads,
      MHD_OPTION_CONNECTION_LIMIT, options.maxConnections, MHD_OPTION_CONNECTION_TIMEOUT,
      options.idleTimeoutSeconds, MHD_OPTION_CONNECTION_MEMORY_LIMIT,
      static_cast<size_t>(32 * 1024), MHD_OPTION_URI_LOG_CALLBACK, &KeepRawAddress, nullptr,
      MHD_OPTION_NOTIFY_COMPLETED, &ForgetRawAddress, nullptr, MHD_OPTION_END);
  if (daemon == nullptr) {
    std::fprintf(stderr, "pelvaro-service: the HTTP server could not start on %s\n", shown.c_str());
    close(listener);
    return 1;
  }
  std::fprintf(stderr, "pelvaro-service: listening on http://%s/\n", shown.c_str());
  std::fflush(stderr);

  int received = 0;
  sigwait(&stop, &received);
  MHD_stop_daemon(daemon);
  close(listener);
  std::fprintf(stderr, "pelvaro-service: stopped\n");
  return 0;
}

}  // namespace service
