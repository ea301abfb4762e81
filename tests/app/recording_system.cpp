#include "recording_system.h"

#include "platform/system.h"
#include "platform/web_address.h"

#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <mutex>
#include <thread>
#include <utility>

namespace recording {
namespace {

struct System {
  std::mutex mutex;
  std::condition_variable changed;  // a worker ended, or the held one was released
  std::vector<std::thread> workers;
  int started = 0;
  int running = 0;
  int failing = 0;
  bool holdNext = false;
  bool released = true;  // false while a held worker waits
  std::vector<AnsiText> opened;
};

System& TheSystem() {
  static System system;
  return system;
}

}  // namespace

void ResetSystem() {
  System& s = TheSystem();
  std::lock_guard lock(s.mutex);
  s.opened.clear();
  s.started = 0;
  s.failing = 0;
  s.holdNext = false;
}

int WorkersStarted() {
  System& s = TheSystem();
  std::lock_guard lock(s.mutex);
  return s.started;
}

void FailWorkerStarts(int count) {
  System& s = TheSystem();
  std::lock_guard lock(s.mutex);
  s.failing = count;
}

void HoldNextWorker() {
  System& s = TheSystem();
  std::lock_guard lock(s.mutex);
  s.holdNext = true;
}

void ReleaseHeldWorker() {
  System& s = TheSystem();
  {
    std::lock_guard lock(s.mutex);
    s.released = true;
  }
  s.changed.notify_all();
}

bool JoinWorkers(int timeoutMs) {
  System& s = TheSystem();
  std::vector<std::thread> workers;
  bool ended;
  {
    std::unique_lock lock(s.mutex);
    ended = s.changed.wait_for(lock, std::chrono::milliseconds(timeoutMs),
                               [&] { return s.running == 0; });
    workers.swap(s.workers);
  }
  for (std::thread& worker : workers) {
    if (ended) {
      worker.join();
    } else {
      worker.detach();
    }
  }
  return ended;
}

std::vector<AnsiText> OpenedAddresses() {
  System& s = TheSystem();
  std::lock_guard lock(s.mutex);
  return s.opened;
}

}  // namespace recording

bool StartDetachedWorker(std::function<void()> job) {
  recording::System& s = recording::TheSystem();
  std::lock_guard lock(s.mutex);
  if (s.failing > 0) {
    --s.failing;
    return false;
  }
  ++s.started;
  ++s.running;
  const bool held = std::exchange(s.holdNext, false);
  if (held) s.released = false;
  s.workers.emplace_back([&s, held, job = std::move(job)] {
    if (held) {
      std::unique_lock lock(s.mutex);
      s.changed.wait(lock, [&] { return s.released; });
    }
    job();
    std::lock_guard ended(s.mutex);
    --s.running;
    s.changed.notify_all();
  });
  return true;
}

// As the seam promises, only web addresses are handed on.
void OpenInDefaultBrowser(const AnsiText& address) {
  if (!IsWebAddress(address)) return;
  recording::System& s = recording::TheSystem();
  std::lock_guard lock(s.mutex);
  s.opened.push_back(address);
}

void ShowFatalErrorBox(const AnsiText& text, const AnsiText&) {
  std::fprintf(stderr, "%s\n", text.c_str());
}

void EndProcess(int code) {
  std::_Exit(code);
}
