#include "loopback_server.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>

namespace {

bool SendAll(int fd, std::string_view bytes) {
  while (!bytes.empty()) {
    const ssize_t sent = ::send(fd, bytes.data(), bytes.size(), MSG_NOSIGNAL);
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

}  // namespace

Reply Respond(std::string_view status, std::string_view headerLines, std::string_view body) {
  Reply reply;
  reply.bytes.append("HTTP/1.1 ").append(status).append("\r\n").append(headerLines);
  reply.bytes.append("Content-Length: ").append(std::to_string(body.size())).append("\r\n\r\n");
  reply.bytes.append(body);
  return reply;
}

LoopbackServer::LoopbackServer(Handler handler) : handler(std::move(handler)) {
  listener = ::socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t size = sizeof address;
  if (::bind(listener, reinterpret_cast<sockaddr*>(&address), size) != 0 ||
      ::listen(listener, 16) != 0 ||
      ::getsockname(listener, reinterpret_cast<sockaddr*>(&address), &size) != 0) {
    std::abort();
  }
  port = ntohs(address.sin_port);
  acceptor = std::thread(&LoopbackServer::Accept, this);
}

LoopbackServer::~LoopbackServer() {
  {
    std::lock_guard lock(mutex);
    stopping = true;
    for (int connection : connections)
      ::shutdown(connection, SHUT_RDWR);
  }
  stopped.notify_all();
  ::shutdown(listener, SHUT_RDWR);
  acceptor.join();
  ::close(listener);
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
    const int connection = ::accept(listener, nullptr, nullptr);
    if (connection < 0) return;
    std::lock_guard lock(mutex);
    if (stopping) {
      ::close(connection);
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

void LoopbackServer::Serve(int connection) {
  std::string buffer;
  char piece[4096];
  const auto receive = [&]() {
    const ssize_t got = ::recv(connection, piece, sizeof piece, 0);
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
    const std::string filler(64 * 1024, 'x');
    for (std::size_t left = reply.fillerBytes; open && left > 0;) {
      const std::size_t n = std::min(left, filler.size());
      open = SendAll(connection, std::string_view(filler).substr(0, n));
      left -= n;
    }
    if (reply.reset) {
      const linger abort{1, 0};
      ::setsockopt(connection, SOL_SOCKET, SO_LINGER, &abort, sizeof abort);
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
  ::close(connection);
}
