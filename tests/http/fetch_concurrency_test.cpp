// FetchUrl called from many threads at once, as the search jobs call it: each call gets its own
// answer, cookies and conversion, and a server that never answers holds only the calls made to it.
// Also run under ThreadSanitizer (preset linux-tsan).
#include "http/fetch.h"

#include "loopback_server.h"
#include "platform/http_session.h"
#include "text/text_ops.h"

#include <gtest/gtest.h>

#include <string>
#include <thread>
#include <vector>

namespace {

class FetchConcurrencyTest : public testing::Test {
 protected:
  void SetUp() override { SetHttpTimeouts({.connectMs = 3000, .idleMs = 1000}); }
  void TearDown() override { SetHttpTimeouts({}); }
};

// The UTF-8 bytes of "名称", and the same two characters in code page 936.
constexpr char Utf8Name[] = "\xE5\x90\x8D\xE7\xA7\xB0";
constexpr char GbkName[] = "名称";

TEST_F(FetchConcurrencyTest, ManyCallsAtOnceEachGetTheirOwnAnswer) {
  // "/n/<i>" answers with i in its body and in a cookie; the cookie expires at once, so the
  // process store is written and read by every call and keeps nothing for other tests.
  LoopbackServer server([](const ReceivedRequest& request) {
    const std::size_t start = request.head.find("/n/") + 3;
    const std::string n = request.head.substr(start, request.head.find(' ', start) - start);
    return Respond(
        "200 OK",
        "Content-Type: text/html; charset=utf-8\r\nSet-Cookie: c" + n + "=" + n + "; Max-Age=0\r\n",
        std::string(Utf8Name) + " " + n + " " + std::string(20000, 'p'));
  });
  LoopbackServer silent([](const ReceivedRequest&) { return Reply{.silent = true}; });

  constexpr int Threads = 12;
  constexpr int CallsEach = 8;
  std::vector<std::vector<std::string>> faults(Threads);
  std::vector<std::thread> threads;
  for (int t = 0; t < Threads; ++t) {
    threads.emplace_back([&, t] {
      for (int call = 0; call < CallsEach; ++call) {
        if (t < 2 && call < 2) {  // two threads also wait on the silent server
          if (!FetchUrl(silent.Url("/hang")).empty()) faults[t].push_back("the silent server");
          continue;
        }
        const std::string n = std::to_string(t * CallsEach + call);
        AnsiText cookies, returned;
        const bool supplied = call % 2 == 0;  // with and without a cookies variable of its own
        const ByteBuffer body =
            FetchUrl(server.Url("/n/" + n),
                     {.cookies = supplied ? &cookies : nullptr, .returnedCookies = &returned});
        const std::string text(body.begin(), body.end());
        if (text != std::string(GbkName) + " " + n + " " + std::string(20000, 'p')) {
          faults[t].push_back("call " + n + " got the body " + text.substr(0, 40));
        }
        if (returned != "c" + n + "=" + n + (supplied ? ";" : "; ")) {
          faults[t].push_back("call " + n + " got the cookies " + returned);
        }
      }
    });
  }
  for (std::thread& thread : threads)
    thread.join();

  for (const std::vector<std::string>& found : faults) {
    for (const std::string& fault : found)
      ADD_FAILURE() << fault;
  }
  EXPECT_EQ(server.Requests().size(), std::size_t{Threads * CallsEach - 4});
}

}  // namespace
