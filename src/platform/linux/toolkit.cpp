#include "platform/linux/toolkit.h"

#include "platform/codepage.h"

#include <glib.h>

#include <algorithm>
#include <atomic>
#include <climits>
#include <condition_variable>
#include <mutex>
#include <thread>

namespace {

std::atomic<bool> uiReady{false};
std::thread::id uiThread;  // written once, before uiReady is set

struct PendingCall {
  void (*run)(void*) = nullptr;
  void* context = nullptr;
  std::mutex mutex;
  std::condition_variable ran;
  bool done = false;
};

gboolean RunPendingCall(gpointer data) {
  auto* call = static_cast<PendingCall*>(data);
  call->run(call->context);
  // Notify under the lock: the waiting worker owns the call and may drop it as soon as it sees
  // done.
  const std::lock_guard lock(call->mutex);
  call->done = true;
  call->ran.notify_one();
  return G_SOURCE_REMOVE;
}

}  // namespace

void MarkUiThread() {
  uiThread = std::this_thread::get_id();
  uiReady.store(true, std::memory_order_release);
}

bool HasUiThread() {
  return uiReady.load(std::memory_order_acquire);
}

// Without a user-interface thread the caller is the only one that may touch the toolkit.
bool OnUiThread() {
  return !HasUiThread() || std::this_thread::get_id() == uiThread;
}

void InvokeOnUiThreadAndWait(void (*run)(void*), void* context) {
  PendingCall call;
  call.run = run;
  call.context = context;
  g_main_context_invoke(nullptr, RunPendingCall, &call);
  std::unique_lock lock(call.mutex);
  call.ran.wait(lock, [&] { return call.done; });
}

// Both directions go through the code page seam, like every other conversion of the program:
// code page 936 to UTF-16 to UTF-8 and back.
std::string Utf8Text(std::string_view text) {
  return CodePageFromWide(CodePageUtf8,
                          WideFromCodePage(CodePageGbk, text.substr(0, text.find('\0'))));
}

std::string ToUtf8(std::string_view text) {
  std::string utf8 = Utf8Text(text);
  std::size_t kept = 0;
  for (std::size_t i = 0; i < utf8.size(); ++i) {
    if (utf8[i] == '\r' && i + 1 < utf8.size() && utf8[i + 1] == '\n') continue;
    utf8[kept++] = utf8[i];
  }
  utf8.resize(kept);
  return utf8;
}

AnsiText FromUtf8(std::string_view utf8) {
  AnsiText text = CodePageFromWide(CodePageGbk,
                                   WideFromCodePage(CodePageUtf8, utf8.substr(0, utf8.find('\0'))));
  text.resize(std::min(text.size(), text.find('\0')));  // a text holds no zero byte
  return text;
}
