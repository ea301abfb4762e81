#include "loopback_server.h"

#ifdef _WIN32
#include <winsock2.h>
#include <ws2tcpip.h>
#else
#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>
#endif

#include <algorithm>
#include <cctype>

namespace {

// The few calls in which Winsock differs from POSIX sockets.
#ifdef _WIN32
constexpr int SendFlags = 0;
constexpr int ShutBoth = SD_BOTH;
bool IsSocket(SocketHandle socket) {
  return socket != INVALID_SOCKET;
}
void CloseSocket(SocketHandle socket) {
  ::closesocket(socket);
}
// Whether bytes (or the end) wait on the socket, within a twentieth of a second.
bool Readable(SocketHandle socket) {
  fd_set set;
  FD_ZERO(&set);
  FD_SET(socket, &set);
  timeval wait{0, 50'000};
  return ::select(0, &set, nullptr, nullptr, &wait) != 0;
}
// Winsock is started once per server and ended with it (the calls count).
void PauseMs(int milliseconds) {
  ::Sleep(static_cast<DWORD>(milliseconds));
}
struct SocketLibrary {
  SocketLibrary() {
    WSADATA data;
    if (::WSAStartup(MAKEWORD(2, 2), &data) != 0) std::abort();
  }
  ~SocketLibrary() { ::WSACleanup(); }
};
#else
constexpr int SendFlags = MSG_NOSIGNAL;
constexpr int ShutBoth = SHUT_RDWR;
bool IsSocket(SocketHandle socket) {
  return socket >= 0;
}
void CloseSocket(SocketHandle socket) {
  ::close(socket);
}
bool Readable(SocketHandle socket) {
  pollfd wait{socket, POLLIN, 0};
  return ::poll(&wait, 1, 50) != 0;
}
void PauseMs(int milliseconds) {
  ::poll(nullptr, 0, milliseconds);
}
struct SocketLibrary {};
#endif

bool SendAll(SocketHandle socket, std::string_view bytes) {
  while (!bytes.empty()) {
    const int piece = static_cast<int>(std::min<std::size_t>(bytes.size(), 1 << 20));
    const auto sent = ::send(socket, bytes.data(), piece, SendFlags);
    if (sent <= 0) return false;
    bytes.remove_prefix(static_cast<std::size_t>(sent));
  }
  return true;
}

std::string Lower(std::string_view text) {
  std::string lower(text);
  std::transform(lower.begin(), lower.end(), lower.begin(),
                 [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
  return lower;
}

std::size_t ContentLength(std::string_view head) {
  const std::string lower = Lower(head);
  const std::size_t at = lower.find("\ncontent-length:");
  if (at == std::string::npos) return 0;
  return std::stoul(lower.substr(at + 16));
}

// Bound to port 0, the system picks a free port.
SocketHandle BindLoopback(std::uint16_t& port) {
  const SocketHandle socket = ::socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t size = sizeof address;
  if (!IsSocket(socket) || ::bind(socket, reinterpret_cast<sockaddr*>(&address), size) != 0 ||
      ::getsockname(socket, reinterpret_cast<sockaddr*>(&address), &size) != 0) {
    std::abort();
  }
  port = ntohs(address.sin_port);
  return socket;
}

}  // namespace

std::uint16_t ClosedLoopbackPort() {
  [[maybe_unused]] const SocketLibrary library;
  std::uint16_t port = 0;
  CloseSocket(BindLoopback(port));
  return port;
}

Reply Respond(std::string_view status, std::string_view headerLines, std::string_view body) {
  Reply reply;
  reply.bytes.append("HTTP/1.1 ").append(status).append("\r\n").append(headerLines);
  reply.bytes.append("Content-Length: ").append(std::to_string(body.size())).append("\r\n\r\n");
  reply.bytes.append(body);
  return reply;
}

LoopbackServer::LoopbackServer(Handler handler) : handler(std::move(handler)) {
  [[maybe_unused]] static const SocketLibrary library;
  listener = BindLoopback(port);
  if (::listen(listener, 16) != 0) std::abort();
  acceptor = std::thread(&LoopbackServer::Accept, this);
}

LoopbackServer::~LoopbackServer() {
  {
    std::lock_guard lock(mutex);
    stopping = true;
    for (const SocketHandle connection : connections)
      ::shutdown(connection, ShutBoth);
  }
  stopped.notify_all();
  // A connection of our own wakes the acceptor, which sees that the server stops.
  const SocketHandle wake = ::socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  address.sin_port = htons(port);
  ::connect(wake, reinterpret_cast<sockaddr*>(&address), sizeof address);
  acceptor.join();
  CloseSocket(wake);
  CloseSocket(listener);
  for (std::thread& thread : threads)
    thread.join();
}

std::string LoopbackServer::Url(std::string_view path) const {
  return "http://127.0.0.1:" + std::to_string(port) + std::string(path);
}

std::vector<ReceivedRequest> LoopbackServer::Requests() const {
  std::lock_guard lock(mutex);
  return requests;
}

std::string LoopbackServer::StrayBytes() const {
  std::lock_guard lock(mutex);
  return stray;
}

void LoopbackServer::Accept() {
  for (;;) {
    const SocketHandle connection = ::accept(listener, nullptr, nullptr);
    if (!IsSocket(connection)) return;
    std::lock_guard lock(mutex);
    if (stopping) {
      CloseSocket(connection);
      return;
    }
    connections.push_back(connection);
    threads.emplace_back(&LoopbackServer::Serve, this, connection);
  }
}

void LoopbackServer::Record(ReceivedRequest request) {
  std::lock_guard lock(mutex);
  requests.push_back(std::move(request));
}

void LoopbackServer::Serve(SocketHandle connection) {
  std::string buffer;
  char piece[4096];
  const auto receive = [&]() {
    // Waits in short steps: Winsock's shutdown does not end a pending recv, and a client may keep
    // its connection open for reuse after the last request.
    while (!Readable(connection)) {
      if (stopping) return false;
    }
    const auto got = ::recv(connection, piece, sizeof piece, 0);
    if (got <= 0) return false;
    buffer.append(piece, static_cast<std::size_t>(got));
    return true;
  };
  bool open = true;
  while (open) {
    std::size_t headEnd;
    while ((headEnd = buffer.find("\r\n\r\n")) == std::string::npos) {
      // Anything but a request line (a TLS handshake) is kept aside and the connection dropped.
      if (!buffer.empty() && !std::isupper(static_cast<unsigned char>(buffer[0]))) break;
      if (!receive()) break;
    }
    if (headEnd == std::string::npos) {
      if (!buffer.empty()) {
        std::lock_guard lock(mutex);
        stray += buffer;
      }
      break;
    }
    ReceivedRequest request;
    request.head = buffer.substr(0, headEnd + 4);
    const std::size_t bodySize = ContentLength(request.head);
    while (buffer.size() < headEnd + 4 + bodySize && receive()) {
    }
    request.body = buffer.substr(headEnd + 4, bodySize);
    buffer.erase(0, std::min(buffer.size(), headEnd + 4 + bodySize));
    Record(request);

    const Reply reply = handler(request);
    if (reply.silent) {
      std::unique_lock lock(mutex);
      stopped.wait(lock, [this] { return stopping.load(); });
      break;
    }
    open = SendAll(connection, reply.bytes);
    const std::string filler(std::max<std::size_t>(reply.fillerPiece, 1), 'x');
    for (std::size_t left = reply.fillerBytes; open && left > 0;) {
      for (int paused = 0; left != reply.fillerBytes && paused < reply.fillerPauseMs; paused += 20)
        PauseMs(20);
      if (stopping) break;
      const std::size_t n = std::min(left, filler.size());
      open = SendAll(connection, std::string_view(filler).substr(0, n));
      left -= n;
    }
    if (reply.reset) {
      const linger abort{1, 0};
      ::setsockopt(connection, SOL_SOCKET, SO_LINGER, reinterpret_cast<const char*>(&abort),
                   sizeof abort);
      break;
    }
    // A reply without a length ends with the connection; one with a length may be followed by
    // the next request.
    const std::size_t headSize = reply.bytes.find("\r\n\r\n");
    if (Lower(std::string_view(reply.bytes).substr(0, headSize)).find("\ncontent-length:") ==
        std::string::npos) {
      break;
    }
  }
  std::lock_guard lock(mutex);
  connections.erase(std::find(connections.begin(), connections.end(), connection));
  CloseSocket(connection);
}
