// A scripted HTTP server on 127.0.0.1 for the tests of the request routine. It records the exact
// bytes of every request it receives and answers each with the reply its handler gives. Each
// connection runs on its own thread; the server stops (and drops silent connections) when it is
// destroyed.
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <mutex>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

// A socket: a descriptor on POSIX systems, a SOCKET handle with Winsock.
#ifdef _WIN32
using SocketHandle = std::uintptr_t;
#else
using SocketHandle = int;
#endif

struct ReceivedRequest {
  std::string head;  // request line and header lines through the empty line, as received
  std::string body;  // Content-Length bytes after the head
};

struct Reply {
  std::string bytes{};                  // written as they stand
  std::size_t fillerBytes = 0;          // then this many 'x' bytes, written in pieces
  std::size_t fillerPiece = 64 * 1024;  // bytes a piece
  int fillerPauseMs = 0;                // pause before each piece after the first
  bool reset = false;                   // then the connection is reset rather than closed
  bool silent = false;  // nothing is written; the connection stays open until the end
};

// "HTTP/1.1 " + status, the header lines (each ending in "\r\n"), a Content-Length line and body.
Reply Respond(std::string_view status, std::string_view headerLines, std::string_view body);

// A port on 127.0.0.1 on which nobody listens.
std::uint16_t ClosedLoopbackPort();

struct LoopbackServer {
  using Handler = std::function<Reply(const ReceivedRequest&)>;

  explicit LoopbackServer(Handler handler);
  ~LoopbackServer();
  LoopbackServer(const LoopbackServer&) = delete;
  LoopbackServer& operator=(const LoopbackServer&) = delete;

  std::uint16_t Port() const { return port; }
  // "http://127.0.0.1:<port>" followed by path.
  std::string Url(std::string_view path) const;
  std::vector<ReceivedRequest> Requests() const;
  // Bytes received on connections that did not carry an HTTP request (a TLS handshake, say).
  std::string StrayBytes() const;

 private:
  void Accept();
  void Serve(SocketHandle connection);
  void Record(ReceivedRequest request);

  Handler handler;
  SocketHandle listener;
  std::uint16_t port = 0;
  std::atomic<bool> stopping{false};
  mutable std::mutex mutex;
  std::condition_variable stopped;
  std::vector<ReceivedRequest> requests;
  std::string stray;
  std::vector<SocketHandle> connections;
  std::vector<std::thread> threads;
  std::thread acceptor;
};
