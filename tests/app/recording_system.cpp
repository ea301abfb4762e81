#include "recording_system.h"

#include "platform/system.h"
#include "platform/web_address.h"

#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <mutex>
#include <thread>

namespace recording {
namespace {

struct System {
  std::mutex mutex;
  std::condition_variable workerEnded;
  std::vector<std::thread> workers;
  int started = 0;
  int running = 0;
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
}

int WorkersStarted() {
  System& s = TheSystem();
  std::lock_guard lock(s.mutex);
  return s.started;
}

bool JoinWorkers(int timeoutMs) {
  System& s = TheSystem();
  std::vector<std::thread> workers;
  bool ended;
  {
    std::unique_lock lock(s.mutex);
    ended = s.workerEnded.wait_for(lock, std::chrono::milliseconds(timeoutMs),
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

void StartDetachedWorker(std::function<void()> job) {
  recording::System& s = recording::TheSystem();
  std::lock_guard lock(s.mutex);
  ++s.started;
  ++s.running;
  s.workers.emplace_back([&s, job = std::move(job)] {
    job();
    std::lock_guard ended(s.mutex);
    --s.running;
    s.workerEnded.notify_all();
  });
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
