// FetchUrl called from many threads at once, as the search jobs call it: each call gets its own
// answer, cookies and conversion, and a server that never answers holds only the calls made to it.
// Also run under ThreadSanitizer (preset linux-tsan).
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

#include <cstdio>
#include <fstream>
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

// Peak memory of the process so far, in KB: resident (working set) and address space taken
// (virtual size on Linux, committed private memory on Windows).
struct PeakMemory {
  long residentKb = 0;
  long spaceKb = 0;
};

PeakMemory Peaks() {
  PeakMemory peaks;
#ifdef _WIN32
  PROCESS_MEMORY_COUNTERS counters{};
  GetProcessMemoryInfo(GetCurrentProcess(), &counters, sizeof counters);
  peaks.residentKb = static_cast<long>(counters.PeakWorkingSetSize / 1024);
  peaks.spaceKb = static_cast<long>(counters.PeakPagefileUsage / 1024);
#else
  rusage usage{};
  getrusage(RUSAGE_SELF, &usage);
  peaks.residentKb = usage.ru_maxrss;
  std::ifstream status("/proc/self/status");
  for (std::string line; std::getline(status, line);) {
    if (line.starts_with("VmPeak:")) peaks.spaceKb = std::stol(line.substr(7));
  }
#endif
  return peaks;
}

// Twenty searches at once against a server that announces 2 GB bodies and sends them slowly:
// nothing is taken on the server's word, every call ends at its deadline with what arrived, and
// the next request works. The peak memory is printed for the record.
TEST_F(FetchConcurrencyTest, TwentyHostileBodiesAtOnceTakeOnlyWhatArrived) {
  // The deadline leaves a loaded machine (sanitizers, parallel suites) time to accept all twenty.
  SetHttpTimeouts({.connectMs = 5000, .idleMs = 2000, .totalMs = 6000});
  LoopbackServer hostile([](const ReceivedRequest&) {
    Reply reply = Respond("200 OK", "Content-Type: text/html\r\n", "");
    reply.bytes.replace(reply.bytes.find("Content-Length: 0"), 17, "Content-Length: 2147483648");
    reply.fillerBytes = std::size_t{1} << 30;  // (as much as fits a 32-bit size)
    reply.fillerPiece = 16 * 1024;
    reply.fillerPauseMs = 50;  // about 320 KB a second
    return reply;
  });
  LoopbackServer healthy([](const ReceivedRequest&) { return Respond("200 OK", "", "fine"); });

  constexpr int Searches = 20;
  const PeakMemory before = Peaks();
  std::vector<std::size_t> sizes(Searches), capacities(Searches);
  std::vector<std::thread> threads;
  for (int i = 0; i < Searches; ++i) {
    threads.emplace_back([&, i] {
      const ByteBuffer body = FetchUrl(hostile.Url("/?q=" + std::to_string(i)));
      sizes[i] = body.size();
      capacities[i] = body.capacity();
    });
  }
  for (std::thread& thread : threads)
    thread.join();
  const PeakMemory after = Peaks();
  std::printf(
      "20 hostile searches: peak resident +%ld KB (%ld KB), peak address space +%ld KB "
      "(%ld KB)\n",
      after.residentKb - before.residentKb, after.residentKb, after.spaceKb - before.spaceKb,
      after.spaceKb);

  for (int i = 0; i < Searches; ++i) {
    SCOPED_TRACE(i);
    EXPECT_GT(sizes[i], 0u);  // what arrived before the deadline
    EXPECT_LT(sizes[i], std::size_t{8} << 20);
    // Room grows with the bytes: at most twice what arrived, never the announced length.
    EXPECT_LE(capacities[i], 2 * sizes[i] + 1024);
  }
  const ByteBuffer body = FetchUrl(healthy.Url("/"));
  EXPECT_EQ(std::string(body.begin(), body.end()), "fine");
}

}  // namespace
