// FetchUrl of a 100 KB and a 5 MB page over loopback, against a plain libcurl fetch of the same
// address in the same run: the routine's own cost (pieces of 1024 bytes, the header block, the
// header scan, the charset test) should stay within a tenth of the transfer itself.
#include "http/fetch.h"

#include <arpa/inet.h>
#include <benchmark/benchmark.h>
#include <curl/curl.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstdlib>
#include <string>
#include <thread>

namespace {

// A loopback server that answers every request on a connection with one fixed page; GET /100k
// and GET /5m pick the page. It lives as long as the process.
struct PageServer {
  std::string small;
  std::string large;
  std::uint16_t port = 0;
};

std::string Page(std::size_t size) {
  // An HTML page without a charset marker: no conversion, transport and routine only.
  std::string body = "<html><body>";
  while (body.size() < size)
    body += "<li><a href=\"/s/1AbCdE\">file name 0123456789</a></li>\r\n";
  body.resize(size);
  return "HTTP/1.1 200 OK\r\nContent-Type: text/html\r\nContent-Length: " +
         std::to_string(body.size()) + "\r\n\r\n" + body;
}

void Serve(const PageServer* server, int connection) {
  std::string buffer;
  char piece[4096];
  for (;;) {
    std::size_t end;
    while ((end = buffer.find("\r\n\r\n")) == std::string::npos) {
      const ssize_t got = ::recv(connection, piece, sizeof piece, 0);
      if (got <= 0) {
        ::close(connection);
        return;
      }
      buffer.append(piece, static_cast<std::size_t>(got));
    }
    const std::string& page = buffer.find(" /5m ") < end ? server->large : server->small;
    buffer.erase(0, end + 4);
    for (std::size_t sent = 0; sent < page.size();) {
      const ssize_t n = ::send(connection, page.data() + sent, page.size() - sent, MSG_NOSIGNAL);
      if (n <= 0) {
        ::close(connection);
        return;
      }
      sent += static_cast<std::size_t>(n);
    }
  }
}

const PageServer& Server() {
  static const PageServer* const server = [] {
    auto* s = new PageServer{Page(100 * 1024), Page(5 * 1024 * 1024), 0};
    const int listener = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t size = sizeof address;
    if (::bind(listener, reinterpret_cast<sockaddr*>(&address), size) != 0 ||
        ::listen(listener, 64) != 0 ||
        ::getsockname(listener, reinterpret_cast<sockaddr*>(&address), &size) != 0) {
      std::abort();
    }
    s->port = ntohs(address.sin_port);
    std::thread([s, listener] {
      for (;;) {
        const int connection = ::accept(listener, nullptr, nullptr);
        if (connection < 0) return;
        std::thread(Serve, s, connection).detach();
      }
    }).detach();
    return s;
  }();
  return *server;
}

std::string Address(const benchmark::State& state) {
  return "http://127.0.0.1:" + std::to_string(Server().port) + (state.range(0) ? "/5m" : "/100k");
}

std::size_t BodySize(const benchmark::State& state) {
  return state.range(0) ? 5 * 1024 * 1024 : 100 * 1024;
}

void BM_FetchUrl(benchmark::State& state) {
  const std::string address = Address(state);
  for (auto _ : state) {
    const ByteBuffer body = FetchUrl(address);
    if (body.size() != BodySize(state)) state.SkipWithError("short body");
    benchmark::DoNotOptimize(body.data());
  }
  state.SetBytesProcessed(state.iterations() * static_cast<std::int64_t>(BodySize(state)));
}

std::size_t Append(char* data, std::size_t size, std::size_t count, void* user) {
  static_cast<std::string*>(user)->append(data, size * count);
  return size * count;
}

// The same exchange done the ordinary way: one easy handle, one perform, the body appended.
void BM_PlainLibcurl(benchmark::State& state) {
  const std::string address = Address(state);
  for (auto _ : state) {
    std::string body;
    CURL* easy = curl_easy_init();
    curl_easy_setopt(easy, CURLOPT_URL, address.c_str());
    curl_easy_setopt(easy, CURLOPT_NOSIGNAL, 1L);
    curl_easy_setopt(easy, CURLOPT_PROXY, "");
    curl_easy_setopt(easy, CURLOPT_WRITEFUNCTION, Append);
    curl_easy_setopt(easy, CURLOPT_WRITEDATA, &body);
    curl_easy_perform(easy);
    curl_easy_cleanup(easy);
    if (body.size() != BodySize(state)) state.SkipWithError("short body");
    benchmark::DoNotOptimize(body.data());
  }
  state.SetBytesProcessed(state.iterations() * static_cast<std::int64_t>(BodySize(state)));
}

BENCHMARK(BM_FetchUrl)->ArgName("5MB")->Arg(0)->Arg(1)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_PlainLibcurl)->ArgName("5MB")->Arg(0)->Arg(1)->Unit(benchmark::kMicrosecond);

}  // namespace
