// FetchUrl against real HTTP on loopback: the scripted server records the exact request bytes.
#include "http/fetch.h"

#include "loopback_server.h"
#include "platform/http_session.h"
#include "text/text_ops.h"

#include <gtest/gtest.h>

#ifdef _WIN32
#include <windows.h>
// After windows.h, which it builds on.
#include <psapi.h>
#else
#include <sys/resource.h>
#endif

#include <algorithm>
#include <atomic>
#include <cstdlib>
#include <string>
#include <vector>

namespace {

// The UTF-8 bytes of "名称" and the same two characters in code page 936 (the literal's form).
constexpr char Utf8Name[] = "\xE5\x90\x8D\xE7\xA7\xB0";
constexpr char GbkName[] = "名称";

std::string Text(const ByteBuffer& bytes) {
  return std::string(bytes.begin(), bytes.end());
}

Reply Ok(std::string_view body, std::string_view headerLines = "") {
  return Respond("200 OK", headerLines, body);
}

// The header block as the transport puts it on the wire. libcurl sends the caller's lines as they
// stand. WinInet keeps one line per header name: a later line takes the place of an earlier one of
// the same name, whatever its letter case.
std::string WireBlock(std::string_view block) {
  std::vector<std::string> lines;
  for (std::size_t start = 0; start <= block.size();) {
    const std::size_t end = std::min(block.find("\r\n", start), block.size());
    const std::string line(block.substr(start, end - start));
    start = end + 2;
#ifdef _WIN32
    const auto name = [](const std::string& l) { return ToLowerText(l.substr(0, l.find(':'))); };
    const auto same = std::find_if(lines.begin(), lines.end(),
                                   [&](const std::string& l) { return name(l) == name(line); });
    if (same != lines.end()) {
      *same = line;
      continue;
    }
#endif
    lines.push_back(line);
  }
  std::string wire;
  for (const std::string& line : lines)
    wire += (wire.empty() ? "" : "\r\n") + line;
  return wire;
}

// Wine's WinInet parts from Windows' in a few places the tests name.
bool UnderWine() {
#ifdef _WIN32
  const HMODULE ntdll = GetModuleHandleA("ntdll.dll");
  return ntdll != nullptr && GetProcAddress(ntdll, "wine_get_version") != nullptr;
#else
  return false;
#endif
}

class FetchUrlTest : public testing::Test {
 protected:
  // Short enough that a silent server costs a second, long enough for a loaded machine.
  void SetUp() override { SetHttpTimeouts({.connectMs = 3000, .idleMs = 1000}); }
  void TearDown() override { SetHttpTimeouts({}); }
};

TEST(HeaderValueTest, TakesTheTrimmedTextAfterTheFirstColon) {
  const std::pair<const char*, const char*> cases[] = {
      {"Location:  http://x/a ", "http://x/a"},
      {"a:b:c", "b:c"},
      {"NoColon", ""},
      {"Key:", ""},
      {" : v \t", "v \t"},  // only spaces are trimmed
  };
  for (const auto& [line, value] : cases)
    EXPECT_EQ(HeaderValue(line), value) << line;
}

TEST_F(FetchUrlTest, SendsTheDefaultHeaderBlockAndAgent) {
  LoopbackServer server([](const ReceivedRequest&) { return Ok("hello"); });
  const std::string address = server.Url("/search?q=%E5%90%8D&page=1");
  AnsiText headers;
  const ByteBuffer body = FetchUrl(address, {.extraHeaders = &headers});

  EXPECT_EQ(Text(body), "hello");
  const std::string block = "Referer: " + address +
                            "\r\nAccept: */*\r\nAccept-Language: zh-cn"
                            "\r\nContent-Type: application/x-www-form-urlencoded";
  EXPECT_EQ(headers, block);
  const auto requests = server.Requests();
  ASSERT_EQ(requests.size(), 1u);
  EXPECT_EQ(requests[0].head,
            "GET /search?q=%E5%90%8D&page=1 HTTP/1.1\r\n"
            "Host: 127.0.0.1:" +
                std::to_string(server.Port()) +
                "\r\n"
                "User-Agent: " +
                std::string(DefaultUserAgent) + "\r\n" + block + "\r\n\r\n");
}

TEST_F(FetchUrlTest, CompletesTheCallersHeaders) {
  LoopbackServer server([](const ReceivedRequest&) { return Ok(""); });
  const std::string address = server.Url("/");
  struct Case {
    std::string given;
    std::string completed;
    std::string agentLine;  // the one User-Agent line on the wire
  };
  const Case cases[] = {
      {"User-Agent: Tester/1.0",
       "User-Agent: Tester/1.0\r\nReferer: " + address +
           "\r\nAccept: */*\r\nAccept-Language: zh-cn\r\nContent-Type: "
           "application/x-www-form-urlencoded",
       "User-Agent: Tester/1.0\r\n"},
      // Lower case still names the agent, but "referer:" is not the Referer line.
      {"user-agent: Low/2\r\nreferer: http://r/",
       "user-agent: Low/2\r\nreferer: http://r/"
       "\r\nReferer: " +
           address +
           "\r\nAccept: */*\r\nAccept-Language: zh-cn"
           "\r\nContent-Type: application/x-www-form-urlencoded",
       "user-agent: Low/2\r\n"},
      // "Accept-Language:" holds no "Accept:", so the default Accept line is still added.
      {"Referer: http://r/\r\nAccept-Language: en\r\nContent-Type: text/plain",
       "Referer: http://r/\r\nAccept-Language: en\r\nContent-Type: text/plain\r\nAccept: */*",
       "User-Agent: " + std::string(DefaultUserAgent) + "\r\n"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.given);
    AnsiText headers = c.given;
    FetchUrl(address, {.extraHeaders = &headers});
    EXPECT_EQ(headers, c.completed);
    const std::string head = server.Requests().back().head;
    EXPECT_NE(head.find("\r\n" + WireBlock(c.completed) + "\r\n"), std::string::npos) << head;
    EXPECT_NE(head.find("\r\n" + c.agentLine), std::string::npos) << head;
    EXPECT_EQ(ToLowerText(head).find("user-agent:"), ToLowerText(head).rfind("user-agent:"));
  }
}

TEST_F(FetchUrlTest, SendsBodiesByMethod) {
  LoopbackServer server([](const ReceivedRequest&) { return Ok("done"); });
  struct Case {
    std::int32_t method;
    ByteBuffer postBytes;
    const char* verb;
    const char* sent;
    const char* postBytesAfter;
  };
  const Case cases[] = {
      {1, {}, "POST", "a=1", "a=1"},  // filled from postText and written back
      {2, {}, "GET", "a=1", "a=1"},
      {0, {}, "GET", "", ""},                         // no body, and postBytes is left alone
      {1, TextToBytes("raw"), "POST", "raw", "raw"},  // postBytes wins over postText
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.method);
    ByteBuffer postBytes = c.postBytes;
    const ByteBuffer body = FetchUrl(
        server.Url("/form"), {.method = c.method, .postText = "a=1", .postBytes = &postBytes});
    EXPECT_EQ(Text(body), "done");
    EXPECT_EQ(Text(postBytes), c.postBytesAfter);
    const ReceivedRequest request = server.Requests().back();
    EXPECT_EQ(request.head.substr(0, request.head.find(' ')), c.verb);
    EXPECT_EQ(request.body, c.sent);
    const bool hasLength = request.head.find("Content-Length: ") != std::string::npos;
    EXPECT_EQ(hasLength, c.method != 0);
    EXPECT_EQ(request.head.find("Expect:"), std::string::npos);
  }
}

TEST_F(FetchUrlTest, LargePostBodyGoesWithoutContinue) {
  LoopbackServer server([](const ReceivedRequest&) { return Ok("ok"); });
  const std::string big(3 << 20, 'p');
  const ByteBuffer body = FetchUrl(server.Url("/upload"), {.method = 1, .postText = big});
  EXPECT_EQ(Text(body), "ok");
  EXPECT_EQ(server.Requests().back().body.size(), big.size());
  EXPECT_EQ(server.Requests().back().head.find("Expect:"), std::string::npos);
}

TEST_F(FetchUrlTest, SendsAndMergesTheCallersCookies) {
  LoopbackServer server([](const ReceivedRequest& request) {
    if (request.head.starts_with("GET /login")) {
      return Ok("in", "Set-Cookie: sid=abc; Path=/; HttpOnly\r\nSet-Cookie: theme = dark ;x\r\n");
    }
    return Ok("page");
  });
  AnsiText cookies = "lang=zh; sid=old";
  AnsiText returned;
  FetchUrl(server.Url("/login"), {.cookies = &cookies, .returnedCookies = &returned});
  EXPECT_NE(server.Requests()[0].head.find("\r\nCookie: lang=zh; sid=old\r\n"), std::string::npos);
  EXPECT_EQ(cookies, "sid=abc; theme=dark; lang=zh");
  EXPECT_EQ(returned, "sid=abc;theme=dark;");  // spaces gone through the merge

  // The merged text travels with the next call.
  FetchUrl(server.Url("/page"), {.cookies = &cookies});
  EXPECT_NE(server.Requests()[1].head.find("\r\nCookie: sid=abc; theme=dark; lang=zh\r\n"),
            std::string::npos);
}

TEST_F(FetchUrlTest, EmptySuppliedCookiesAddNoLineButStillMerge) {
  LoopbackServer server([](const ReceivedRequest&) { return Ok("", "Set-Cookie: a=1\r\n"); });
  AnsiText cookies;
  AnsiText returned;
  FetchUrl(server.Url("/"), {.cookies = &cookies, .returnedCookies = &returned});
  EXPECT_EQ(server.Requests()[0].head.find("Cookie:"), std::string::npos);
  // A cookie line with no ";" after it yields the empty value: "; " alone.
  EXPECT_EQ(returned, ";");
  EXPECT_EQ(cookies, "");
}

TEST_F(FetchUrlTest, WithoutCookiesTheProcessStoreCarriesThemToTheHost) {
  LoopbackServer server([](const ReceivedRequest& request) {
    if (request.head.starts_with("GET /set")) return Ok("", "Set-Cookie: kept=yes; Path=/\r\n");
    if (request.head.starts_with("GET /clear")) {
      return Ok("", "Set-Cookie: kept=; Path=/; Max-Age=0\r\n");
    }
    return Ok("");
  });
  // "localhost" keeps this cookie away from the other tests' requests to 127.0.0.1.
  const std::string base = "http://localhost:" + std::to_string(server.Port());
  FetchUrl(base + "/set");
  FetchUrl(base + "/next");
  AnsiText cookies;
  FetchUrl(base + "/own", {.cookies = &cookies});  // a supplied cookies text keeps out of the store
  FetchUrl(base + "/clear");
  const auto requests = server.Requests();
  ASSERT_EQ(requests.size(), 4u);
  EXPECT_NE(requests[1].head.find("\r\nCookie: kept=yes\r\n"), std::string::npos);
  EXPECT_EQ(requests[2].head.find("Cookie:"), std::string::npos);
  EXPECT_EQ(cookies, "");  // the stored cookie was not merged in either
}

TEST_F(FetchUrlTest, ProxyCarriesPlainHttpOnly) {
  LoopbackServer proxy([](const ReceivedRequest&) { return Ok("via proxy"); });
  LoopbackServer origin([](const ReceivedRequest&) { return Ok("direct"); });
  const std::string proxyText = "127.0.0.1:" + std::to_string(proxy.Port());

  const ByteBuffer body = FetchUrl("http://origin.example:8080/a?b=c", {.proxy = proxyText});
  EXPECT_EQ(Text(body), "via proxy");
  ASSERT_EQ(proxy.Requests().size(), 1u);
  EXPECT_TRUE(
      proxy.Requests()[0].head.starts_with("GET http://origin.example:8080/a?b=c HTTP/1.1\r\n"))
      << proxy.Requests()[0].head;

  // "http=" names no proxy for https: the secure request goes straight to the origin (where it
  // opens with a TLS handshake that the plain server drops). Wine's WinInet instead tunnels it
  // through the http proxy and then stops the process on an assertion when the handshake fails.
  if (!UnderWine()) {
    const std::string secure = "https://127.0.0.1:" + std::to_string(origin.Port()) + "/";
    EXPECT_TRUE(FetchUrl(secure, {.proxy = proxyText}).empty());
    EXPECT_EQ(proxy.Requests().size(), 1u);
    ASSERT_FALSE(origin.StrayBytes().empty());
    EXPECT_EQ(origin.StrayBytes()[0], '\x16');
  }

  // A supplied but empty proxy text means no proxy for plain HTTP either.
  EXPECT_EQ(Text(FetchUrl(origin.Url("/"), {.proxy = AnsiText()})), "direct");
}

TEST_F(FetchUrlTest, CapitalSchemeStillSecures) {
  LoopbackServer server([](const ReceivedRequest&) { return Ok("plain"); });
  AnsiText raw;
  const ByteBuffer body =
      FetchUrl("HTTPS://127.0.0.1:" + std::to_string(server.Port()) + "/", {.rawHeaders = &raw});
  EXPECT_TRUE(body.empty());
  EXPECT_TRUE(server.Requests().empty());
  EXPECT_EQ(server.StrayBytes().substr(0, 1), "\x16");
  EXPECT_EQ(raw, std::string(5000, ' '));
}

TEST_F(FetchUrlTest, TransportFollowsRedirectsUnlessTold) {
  LoopbackServer server([](const ReceivedRequest& request) {
    if (request.head.starts_with("GET /old")) {
      return Respond("302 Found", "Location: /new\r\n", "moved");
    }
    if (request.head.starts_with("GET /loop")) {
      return Respond("302 Found", "Location: /loop\r\n", "again");
    }
    if (request.head.starts_with("GET /file")) {
      return Respond("302 Found", "Location: file:///etc/passwd\r\n", "moved");
    }
    return Ok("new page");
  });
  AnsiText raw;
  EXPECT_EQ(Text(FetchUrl(server.Url("/old"), {.rawHeaders = &raw})), "new page");
  EXPECT_EQ(raw, "HTTP/1.1 200 OK\r\nContent-Length: 8\r\n\r\n");  // the final answer's block

  AnsiText location;
  EXPECT_EQ(Text(FetchUrl(server.Url("/old"), {.location = &location, .noRedirect = true})),
            "moved");
  EXPECT_EQ(location, "/new");

  // The transport gives up on an endless chain, and never follows to a local file.
  const auto before = server.Requests().size();
  EXPECT_TRUE(FetchUrl(server.Url("/loop")).empty());
  EXPECT_LE(server.Requests().size() - before, 12u);
  EXPECT_EQ(Text(FetchUrl(server.Url("/file"))).find("root:"), std::string::npos);
}

TEST_F(FetchUrlTest, FollowsA301ItselfWithThePathAppended) {
  std::string target;
  LoopbackServer server([&target](const ReceivedRequest& request) {
    if (request.head.starts_with("GET /old")) {
      return Respond("301 Moved Permanently", "Location: " + target + "\r\n", "gone");
    }
    return Ok("arrived");
  });
  target = server.Url("/moved");
  AnsiText location, headers, raw;
  const ByteBuffer body = FetchUrl(
      server.Url("/old?x=1"),
      {.extraHeaders = &headers, .location = &location, .noRedirect = true, .rawHeaders = &raw});
  EXPECT_EQ(Text(body), "arrived");
  const auto requests = server.Requests();
  ASSERT_EQ(requests.size(), 2u);
  // The location's own path stays and the old path and query follow it.
  EXPECT_TRUE(requests[1].head.starts_with("GET /moved/old?x=1 HTTP/1.1\r\n")) << requests[1].head;
  // The repeated request sends the block the first one completed, first Referer included.
  EXPECT_NE(requests[1].head.find("\r\n" + headers + "\r\n"), std::string::npos);
  EXPECT_NE(headers.find("Referer: " + server.Url("/old?x=1")), std::string::npos);
  EXPECT_EQ(headers.find("Referer:"), headers.rfind("Referer:"));
  // The last answer had no location line: location is its header block.
  EXPECT_TRUE(raw.starts_with("HTTP/1.1 200 OK"));
  EXPECT_EQ(location, raw);
}

TEST_F(FetchUrlTest, FollowsNoOtherStatusItself) {
  struct Case {
    const char* statusLine;
    bool followed;
  };
  const Case cases[] = {
      {"HTTP/1.1 302 Moved Temporarily", false},
      {"HTTP/1.0 301 Moved Permanently", false},  // only "HTTP/1.1 " counts
      {"HTTP/1.1 301 Moved Permanently", true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.statusLine);
    std::string target;
    LoopbackServer server([&](const ReceivedRequest& request) {
      Reply reply;
      if (request.head.starts_with("GET /a")) {
        reply.bytes = std::string(c.statusLine) + "\r\nLocation: " + target + "\r\n\r\nfirst";
      } else {
        reply.bytes = "HTTP/1.1 200 OK\r\n\r\nsecond";
      }
      return reply;
    });
    target = server.Url("/b");  // followed, the request goes to /b/a
    AnsiText location;
    const ByteBuffer body = FetchUrl(server.Url("/a"), {.location = &location, .noRedirect = true});
    EXPECT_EQ(Text(body), c.followed ? "second" : "first");
    EXPECT_EQ(server.Requests().size(), c.followed ? 2u : 1u);
    if (!c.followed) {
      EXPECT_EQ(location, target);
    }
  }
}

TEST_F(FetchUrlTest, AnEndless301ChainEndsWithTheLastAnswer) {
  std::string target;
  std::atomic<int> served{0};
  LoopbackServer server([&](const ReceivedRequest&) {
    const int n = ++served;
    return Respond("301 Moved Permanently", "Location: " + target + "\r\n",
                   "answer " + std::to_string(n));
  });
  target = server.Url("");  // location + path: the same address again, forever
  const ByteBuffer body = FetchUrl(server.Url("/loop"), {.noRedirect = true});
  // Ten moves followed, the eleventh answer taken as it stands.
  EXPECT_EQ(served.load(), 11);
  EXPECT_EQ(Text(body), "answer 11");
}

TEST_F(FetchUrlTest, Repeated301RequestCountsEveryArgumentAsSupplied) {
  std::string target;
  LoopbackServer server([&](const ReceivedRequest& request) {
    if (request.head.starts_with("GET /first")) {
      return Respond("301 Moved Permanently",
                     "Set-Cookie: step=1; Path=/\r\nLocation: " + target + "\r\n", "");
    }
    if (request.head.starts_with("GET /clear")) {
      return Ok("", "Set-Cookie: step=; Path=/; Max-Age=0\r\n");
    }
    return Ok("end", "Set-Cookie: step=2; Path=/\r\n");
  });
  const std::string base = "http://localhost:" + std::to_string(server.Port());
  target = base + "/moved";
  // No cookies argument: the first request uses the process store, which keeps step=1. The
  // repeated request counts its cookies as supplied: it neither sends nor keeps stored cookies.
  FetchUrl(base + "/first", {.noRedirect = true});
  FetchUrl(base + "/check");
  FetchUrl(base + "/clear");
  const auto requests = server.Requests();
  ASSERT_EQ(requests.size(), 4u);
  EXPECT_TRUE(requests[1].head.starts_with("GET /moved/first HTTP/1.1")) << requests[1].head;
  EXPECT_EQ(requests[1].head.find("Cookie:"), std::string::npos) << requests[1].head;
#ifdef _WIN32
  // Wine's cookie store keeps a cookie that an earlier test cleared with Max-Age=0 as an empty one.
  EXPECT_NE(requests[2].head.find("step=1\r\n"), std::string::npos) << requests[2].head;
#else
  EXPECT_NE(requests[2].head.find("Cookie: step=1\r\n"), std::string::npos) << requests[2].head;
#endif
}

TEST_F(FetchUrlTest, ScansLocationAndCookieLines) {
  LoopbackServer server([](const ReceivedRequest& request) {
    if (request.head.starts_with("GET /two")) {
      // Expired at once, so the process store keeps neither.
      return Ok("",
                "Content-Location: /first\r\nLocation: /second\r\n"
                "Set-Cookie: a=1; Max-Age=0\r\nSet-Cookie: b=2; Max-Age=0\r\n");
    }
    return Ok("", "Content-Location: /only\r\n");
  });
  AnsiText location, returned;
  FetchUrl(server.Url("/two"), {.returnedCookies = &returned, .location = &location});
  EXPECT_EQ(location, "/second");  // the last location line wins
  EXPECT_EQ(returned, "a=1; b=2; ");

  location.clear();
  FetchUrl(server.Url("/one"), {.location = &location});
  EXPECT_EQ(location, "/only");  // Content-Location counts as a location line

  LoopbackServer plain([](const ReceivedRequest&) { return Ok(""); });
  location = "kept";
  FetchUrl(plain.Url("/"), {.location = &location});
  EXPECT_EQ(location, "kept");
}

TEST_F(FetchUrlTest, ConvertsUtf8BodiesOnly) {
  struct Case {
    std::string headerLines;
    std::string body;
    std::string expected;
  };
  const std::string pad498(498, '.');
  const Case cases[] = {
      {"Content-Type: text/html; charset=utf-8\r\n", Utf8Name, GbkName},
      {"", "<meta charset=utf-8>" + std::string(Utf8Name),
       "<meta charset=utf-8>" + std::string(GbkName)},
      {"Content-Type: text/html; charset=gbk\r\n", GbkName, GbkName},
      {"Content-Type: text/html; charset=UTF-8\r\n", Utf8Name,
       Utf8Name},  // upper case: neither test
      // The body's marker counts when it starts at byte 499, not at 500 ...
      {"", pad498 + "charset=utf-8" + Utf8Name, pad498 + "charset=utf-8" + GbkName},
      {"", pad498 + ".charset=utf-8" + Utf8Name, pad498 + ".charset=utf-8" + Utf8Name},
      // ... unless the header block names it.
      {"X-Page: charset=utf-8\r\n", pad498 + ".charset=utf-8" + Utf8Name,
       pad498 + ".charset=utf-8" + GbkName},
      {"Content-Type: text/html; charset=utf-8\r\n", "", ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.headerLines + c.body.substr(0, 40));
    LoopbackServer server([&c](const ReceivedRequest&) { return Ok(c.body, c.headerLines); });
    EXPECT_EQ(Text(FetchUrl(server.Url("/"))), c.expected);
  }
}

TEST_F(FetchUrlTest, InvalidUtf8WithAUtf8CharsetStillConverts) {
  const std::string bad = "ok \xFF\xFE\xC3 end";
  LoopbackServer server([&bad](const ReceivedRequest&) {
    return Ok(bad, "Content-Type: text/plain; charset=utf-8\r\n");
  });
  const std::string body = Text(FetchUrl(server.Url("/")));
  EXPECT_TRUE(body.starts_with("ok ")) << body;
  EXPECT_TRUE(body.ends_with(" end")) << body;
}

TEST_F(FetchUrlTest, HeaderBlockMustFitIn5000BytesWithItsZero) {
  // Padding header lines sized so that the whole block is 4999 or 5000 bytes. Each stays under a
  // kilobyte: WinInet cuts a header line of 4 KB.
  const auto blockOf = [](std::size_t size) {
    const std::string tail = "Content-Length: 2\r\n\r\n";
    Reply reply;
    reply.bytes = "HTTP/1.1 200 OK\r\nSet-Cookie: big=1; Max-Age=0\r\n";
    for (int i = 0; i < 4; ++i)
      reply.bytes += "X-Pad: " + std::string(990, 'p') + "\r\n";
    reply.bytes += "X-Pad: " + std::string(size - reply.bytes.size() - tail.size() - 9, 'p') +
                   "\r\n" + tail + "hi";
    return reply;
  };
  for (const std::size_t size : {4999u, 5000u}) {
    SCOPED_TRACE(size);
    LoopbackServer server([&](const ReceivedRequest&) { return blockOf(size); });
    AnsiText raw, returned, location;
    const ByteBuffer body = FetchUrl(
        server.Url("/"), {.returnedCookies = &returned, .location = &location, .rawHeaders = &raw});
    EXPECT_EQ(Text(body), "hi");
    if (size == 4999) {
      EXPECT_EQ(raw.size(), 4999u);
      EXPECT_EQ(returned, "big=1; ");
    } else {
      EXPECT_EQ(raw, std::string(5000, ' '));
      EXPECT_EQ(returned, "");
      EXPECT_EQ(location, raw);
    }
  }
}

TEST_F(FetchUrlTest, FailedRequestsGiveTheEmptyBody) {
  LoopbackServer silent([](const ReceivedRequest&) { return Reply{.silent = true}; });
  LoopbackServer closing([](const ReceivedRequest&) { return Reply{}; });
  LoopbackServer garbage([](const ReceivedRequest&) { return Reply{.bytes = "not http at all"}; });
  const std::string addresses[] = {"http://127.0.0.1:" + std::to_string(ClosedLoopbackPort()) + "/",
                                   silent.Url("/"),
                                   closing.Url("/"),
                                   garbage.Url("/"),
                                   "http://bad host/",
                                   "http://user@127.0.0.1:" + std::to_string(silent.Port()) + "/"};
  for (const std::string& address : addresses) {
    SCOPED_TRACE(address);
    AnsiText raw, location, returned = "stale", headers;
    const ByteBuffer body = FetchUrl(address, {.returnedCookies = &returned,
                                               .extraHeaders = &headers,
                                               .location = &location,
                                               .rawHeaders = &raw});
    EXPECT_TRUE(body.empty());
    EXPECT_EQ(raw, std::string(5000, ' '));
    EXPECT_EQ(location, raw);
    EXPECT_EQ(returned, "");
    EXPECT_TRUE(headers.starts_with("Referer: ")) << "the request was opened, so headers completed";
  }
}

TEST_F(FetchUrlTest, ResetMidBodyKeepsWhatArrived) {
  LoopbackServer server([](const ReceivedRequest&) {
    Reply reply = Respond("200 OK", "", std::string(100000, 'b'));
    reply.bytes.resize(reply.bytes.size() - 60000);
    reply.reset = true;
    return reply;
  });
  AnsiText raw;
  const std::string body = Text(FetchUrl(server.Url("/"), {.rawHeaders = &raw}));
  EXPECT_LE(body.size(), 40000u);
  EXPECT_EQ(body, std::string(body.size(), 'b'));
  EXPECT_TRUE(raw.starts_with("HTTP/1.1 200 OK"));
}

TEST_F(FetchUrlTest, SilentAfterPartOfTheBodyEndsWithinTheIdleTimeout) {
  LoopbackServer server([](const ReceivedRequest&) {
    Reply reply = Respond("200 OK", "", std::string(5000, 's'));
    reply.bytes.resize(reply.bytes.size() - 1000);
    return reply;
  });
  // The server keeps the connection open after 4000 of 5000 bytes: the idle timeout ends it.
  const std::string body = Text(FetchUrl(server.Url("/")));
  EXPECT_EQ(body, std::string(4000, 's'));
}

long PeakKilobytes() {
#ifdef _WIN32
  PROCESS_MEMORY_COUNTERS counters{};
  GetProcessMemoryInfo(GetCurrentProcess(), &counters, sizeof counters);
  return static_cast<long>(counters.PeakWorkingSetSize / 1024);
#else
  rusage usage{};
  getrusage(RUSAGE_SELF, &usage);
  return usage.ru_maxrss;
#endif
}

// Bodies up to 8 MiB are taken whole, larger ones not at all: the call stops reading at the cap
// and returns the empty body.
TEST_F(FetchUrlTest, BodyArrivesWholeUpToItsCapAndNotBeyond) {
  constexpr std::size_t cap = 8u << 20;
  for (const std::size_t size : {cap, cap + 1}) {
    SCOPED_TRACE(size);
    LoopbackServer server([size](const ReceivedRequest&) {
      Reply reply = Respond("200 OK", "Content-Type: application/octet-stream\r\n", "");
      reply.bytes.replace(reply.bytes.find("Content-Length: 0"), 17,
                          "Content-Length: " + std::to_string(size));
      reply.fillerBytes = size;
      return reply;
    });
    const long before = PeakKilobytes();
    const ByteBuffer body = FetchUrl(server.Url("/big"));
    const long grown = PeakKilobytes() - before;
    if (size > cap) {
      EXPECT_TRUE(body.empty());
      continue;
    }
    ASSERT_EQ(body.size(), size);
    EXPECT_EQ(body.front(), 'x');
    EXPECT_EQ(body.back(), 'x');
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
    (void)grown;  // a sanitizer's shadow memory and quarantine make the figure meaningless
#else
    // The body while it grows, and a little more: never a second whole copy.
    EXPECT_LT(grown, long{3 * 8 * 1024});
#endif
  }
}

// A server that keeps sending a byte now and then, each well within the idle timeout, still ends
// at the request's deadline; what arrived is the body, as for a body cut short.
TEST_F(FetchUrlTest, ATricklingBodyEndsAtTheDeadline) {
  SetHttpTimeouts({.connectMs = 3000, .idleMs = 1000, .totalMs = 2000});
  LoopbackServer server([](const ReceivedRequest&) {
    Reply reply = Respond("200 OK", "", "");
    reply.bytes.replace(reply.bytes.find("Content-Length: 0"), 17, "Content-Length: 1000");
    reply.fillerBytes = 1000;  // a byte every 300 ms: five minutes for the whole body
    reply.fillerPiece = 1;
    reply.fillerPauseMs = 300;
    return reply;
  });
  AnsiText raw;
  const std::string body = Text(FetchUrl(server.Url("/"), {.rawHeaders = &raw}));
  EXPECT_FALSE(body.empty());
  EXPECT_LT(body.size(), 100u);
  EXPECT_EQ(body, std::string(body.size(), 'x'));
  EXPECT_TRUE(raw.starts_with("HTTP/1.1 200 OK"));
}

// Sets or removes variables of the process's environment for one test.
class ScopedEnvironment {
 public:
  void Set(const std::string& name, const std::string& value) {
    names.push_back(name);
    Put(name, value);
  }
  ~ScopedEnvironment() {
    for (const std::string& name : names)
      Put(name, "");
  }

 private:
  static void Put(const std::string& name, const std::string& value) {
#ifdef _WIN32
    _putenv((name + "=" + value).c_str());  // an empty value removes the variable
#else
    if (value.empty()) {
      unsetenv(name.c_str());
    } else {
      setenv(name.c_str(), value.c_str(), 1);
    }
#endif
  }
  std::vector<std::string> names;
};

TEST_F(FetchUrlTest, NoEnvironmentVariableChangesWhereARequestGoes) {
  LoopbackServer rogue([](const ReceivedRequest&) { return Ok("rogue proxy"); });
  LoopbackServer proxy([](const ReceivedRequest&) { return Ok("via proxy"); });
  LoopbackServer origin([](const ReceivedRequest&) { return Ok("direct"); });
  ScopedEnvironment environment;
  const std::string rogueAddress = "http://127.0.0.1:" + std::to_string(rogue.Port());
  for (const char* name :
       {"http_proxy", "HTTP_PROXY", "https_proxy", "HTTPS_PROXY", "all_proxy", "ALL_PROXY"}) {
    environment.Set(name, rogueAddress);
  }
  for (const char* name : {"no_proxy", "NO_PROXY"})
    environment.Set(name, "127.0.0.1,localhost");
  for (const char* name : {"CURL_CA_BUNDLE", "SSL_CERT_FILE", "SSL_CERT_DIR"})
    environment.Set(name, "/nonexistent");

  // The proxy given is used, whatever the bypass list of the environment names.
  const std::string originPort = std::to_string(origin.Port());
  EXPECT_EQ(
      Text(FetchUrl(origin.Url("/a"), {.proxy = "127.0.0.1:" + std::to_string(proxy.Port())})),
      "via proxy");
  ASSERT_EQ(proxy.Requests().size(), 1u);
  EXPECT_TRUE(proxy.Requests()[0].head.starts_with("GET http://127.0.0.1:" + originPort + "/a "));
  // Without a proxy, a request goes direct, whatever proxy the environment names.
  EXPECT_EQ(Text(FetchUrl("http://localhost:" + originPort + "/b")), "direct");
  EXPECT_EQ(Text(FetchUrl(origin.Url("/c"))), "direct");
  EXPECT_EQ(origin.Requests().size(), 2u);
  EXPECT_TRUE(rogue.Requests().empty());
}

// A CR or LF of the caller's that would reach the request line or a header line (through the
// address, the header block, the agent taken from it or the cookie text) keeps the request from
// being sent at all: the call fails as for a server that cannot be reached.
TEST_F(FetchUrlTest, LineBreaksOfTheCallersAreNeverSent) {
  LoopbackServer server([](const ReceivedRequest&) { return Ok("page"); });
  struct Case {
    std::string path;
    AnsiText headers;
    const char* cookies;  // null: not supplied
  };
  const Case cases[] = {
      {"/a\r\nX-Injected: 1", "", nullptr},
      {"/a?q=1\nX-Injected: 1", "", nullptr},
      {"/a\rX-Injected: 1", "", nullptr},
      {"/a", "X-Ok: 1\nX-Injected: 1", nullptr},
      {"/a", "X-Ok: 1\rX-Injected: 1", nullptr},
      {"/a", "X-Ok: 1\r", nullptr},
      {"/a", "User-Agent: a\nX-Injected: 1", nullptr},
      // The agent line is the last one and empty: the agent is the rest of the block.
      {"/a", "X-Ok: 1\r\nUser-Agent:", nullptr},
      {"/a", "", "a=1\r\nX-Injected: 1"},
      {"/a", "", "a=1\n"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::PrintToString(c.path + " | " + c.headers + " | " +
                                        (c.cookies != nullptr ? c.cookies : "-")));
    AnsiText headers = c.headers, cookies = c.cookies != nullptr ? c.cookies : "", raw, location;
    const ByteBuffer body =
        FetchUrl(server.Url(c.path), {.cookies = c.cookies != nullptr ? &cookies : nullptr,
                                      .extraHeaders = &headers,
                                      .location = &location,
                                      .rawHeaders = &raw});
    EXPECT_TRUE(body.empty());
    EXPECT_EQ(raw, std::string(5000, ' '));
    EXPECT_EQ(location, raw);
  }
  EXPECT_TRUE(server.Requests().empty());
  EXPECT_EQ(server.StrayBytes(), "");

  // Lines that each end in "\r\n" are sent.
  AnsiText headers = "X-A: 1\r\nX-B: 2";
  EXPECT_EQ(Text(FetchUrl(server.Url("/a"), {.extraHeaders = &headers})), "page");
  ASSERT_EQ(server.Requests().size(), 1u);
  EXPECT_NE(server.Requests()[0].head.find("\r\nX-A: 1\r\nX-B: 2\r\n"), std::string::npos);
}

std::string RequestLine(const ReceivedRequest& request) {
  return request.head.substr(0, request.head.find("\r\n"));
}

bool HasLine(const ReceivedRequest& request, std::string_view line) {
  return request.head.find("\r\n" + std::string(line) + "\r\n") != std::string::npos;
}

// Redirects the transport follows: 301, 302 and 303 go on as GET without a body, 307 and 308 keep
// the method and the body; the caller's Cookie and Authorization lines go to the origin they
// were meant for only, also when a later hop comes back to it.
TEST_F(FetchUrlTest, TransportRedirectsKeepCredentialsAtHomeAndTheMethodByStatus) {
  std::string otherOrigin;  // the second server's address, known once it listens
  std::string status;
  LoopbackServer home([&](const ReceivedRequest& request) {
    if (request.head.find(" /here ") != std::string::npos) {
      return Respond(status, "Location: /landing\r\n", "moved");
    }
    if (request.head.find(" /away ") != std::string::npos) {
      return Respond(status, "Location: " + otherOrigin + "/landing\r\n", "moved");
    }
    if (request.head.find(" /round ") != std::string::npos) {
      return Respond(status, "Location: " + otherOrigin + "/back\r\n", "moved");
    }
    return Ok("landed at home");
  });
  LoopbackServer other([&](const ReceivedRequest& request) {
    if (request.head.find(" /back ") != std::string::npos) {
      return Respond(status, "Location: " + home.Url("/landing") + "\r\n", "moved");
    }
    return Ok("landed elsewhere");
  });
  otherOrigin = "http://127.0.0.1:" + std::to_string(other.Port());
  const std::string cookieLine = "Cookie: sid=1";
  const std::string authorization = "Authorization: Basic dTpw";

  for (const char* code : {"301 Moved Permanently", "302 Found", "303 See Other",
                           "307 Temporary Redirect", "308 Permanent Redirect"}) {
    SCOPED_TRACE(code);
    status = code;
    const bool keepsMethod = status.starts_with("307") || status.starts_with("308");
    const auto fetch = [&](const std::string& path) {
      AnsiText headers = authorization, cookies = "sid=1";
      return Text(FetchUrl(
          home.Url(path),
          {.method = 1, .postText = "a=1", .cookies = &cookies, .extraHeaders = &headers}));
    };
    const auto followed = [&](const ReceivedRequest& request, bool credentials) {
      EXPECT_TRUE(request.head.starts_with(keepsMethod ? "POST " : "GET ")) << RequestLine(request);
      EXPECT_EQ(request.body, keepsMethod ? "a=1" : "");
      EXPECT_EQ(HasLine(request, cookieLine), credentials) << request.head;
      EXPECT_EQ(HasLine(request, authorization), credentials) << request.head;
    };
    const std::size_t homeBefore = home.Requests().size();
    const std::size_t otherBefore = other.Requests().size();

    EXPECT_EQ(fetch("/here"), "landed at home");
    EXPECT_EQ(fetch("/away"), "landed elsewhere");
    EXPECT_EQ(fetch("/round"), "landed at home");

    const auto homeRequests = home.Requests();
    const auto otherRequests = other.Requests();
    ASSERT_EQ(homeRequests.size() - homeBefore, 5u);
    ASSERT_EQ(otherRequests.size() - otherBefore, 2u);
    for (const std::size_t first : {homeBefore, homeBefore + 2, homeBefore + 3}) {
      EXPECT_TRUE(HasLine(homeRequests[first], cookieLine));  // the first request has them all
      EXPECT_TRUE(HasLine(homeRequests[first], authorization));
      EXPECT_EQ(homeRequests[first].body, "a=1");
    }
    followed(homeRequests[homeBefore + 1], true);     // /here to /landing, the same origin
    followed(otherRequests[otherBefore], false);      // /away to the other origin
    followed(otherRequests[otherBefore + 1], false);  // /round, its first hop
    followed(homeRequests[homeBefore + 4], true);     // /round back home
  }
}

// The transport follows ten redirects in a row; the eleventh fails the request.
TEST_F(FetchUrlTest, TransportFollowsTenRedirectsInARow) {
  LoopbackServer server([](const ReceivedRequest& request) {
    const std::size_t at = request.head.find("/chain/");
    const int left = std::stoi(request.head.substr(at + 7));
    if (left == 0) return Ok("end of the chain");
    return Respond("302 Found", "Location: /chain/" + std::to_string(left - 1) + "\r\n", "on");
  });
  AnsiText raw;
  EXPECT_EQ(Text(FetchUrl(server.Url("/chain/10"))), "end of the chain");
  EXPECT_EQ(server.Requests().size(), 11u);
  EXPECT_TRUE(FetchUrl(server.Url("/chain/11"), {.rawHeaders = &raw}).empty());
  EXPECT_EQ(server.Requests().size(), 22u);
  EXPECT_EQ(raw, std::string(5000, ' '));
}

}  // namespace
