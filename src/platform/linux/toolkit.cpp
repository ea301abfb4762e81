#include "platform/linux/toolkit.h"

#include <glib.h>

#include <atomic>
#include <cerrno>
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

std::string ToUtf8(std::string_view text) {
  std::string utf8;
  GIConv converter = g_iconv_open("UTF-8", "CP936");
  if (converter == reinterpret_cast<GIConv>(-1)) return utf8;
  utf8.reserve(text.size() + text.size() / 2);
  gchar* in = const_cast<gchar*>(text.data());
  gsize inLeft = text.size();
  gchar piece[1024];
  while (inLeft > 0) {
    gchar* out = piece;
    gsize outLeft = sizeof piece;
    const gsize result = g_iconv(converter, &in, &inLeft, &out, &outLeft);
    const int error = errno;
    utf8.append(piece, static_cast<std::size_t>(out - piece));
    if (result != static_cast<gsize>(-1) || error == E2BIG) continue;
    // A byte that starts no character (or a lead byte at the end) shows as a replacement mark.
    utf8 += "\xEF\xBF\xBD";
    ++in;
    --inLeft;
  }
  g_iconv_close(converter);

  std::size_t kept = 0;
  for (std::size_t i = 0; i < utf8.size(); ++i) {
    if (utf8[i] == '\r' && i + 1 < utf8.size() && utf8[i + 1] == '\n') continue;
    utf8[kept++] = utf8[i];
  }
  utf8.resize(kept);
  return utf8;
}

AnsiText FromUtf8(std::string_view utf8) {
  gchar* text = g_convert_with_fallback(utf8.data(), static_cast<gssize>(utf8.size()), "CP936",
                                        "UTF-8", "?", nullptr, nullptr, nullptr);
  if (text == nullptr) return {};
  AnsiText result(text);
  g_free(text);
  return result;
}
