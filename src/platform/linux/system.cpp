#include "platform/system.h"

#include <gio/gio.h>

#include <cstdio>
#include <cstdlib>
#include <system_error>
#include <thread>

void StartDetachedWorker(std::function<void()> job) {
  try {
    std::thread(std::move(job)).detach();
  } catch (const std::system_error&) {
    // A worker that cannot be started is not reported.
  }
}

void OpenInDefaultBrowser(const AnsiText& address) {
  gchar* uri = g_convert(address.data(), static_cast<gssize>(address.size()), "UTF-8", "CP936",
                         nullptr, nullptr, nullptr);
  if (uri == nullptr) return;
  g_app_info_launch_default_for_uri(uri, nullptr, nullptr);
  g_free(uri);
}

void ShowFatalErrorBox(const AnsiText& text) {
  gchar* utf8 = g_convert_with_fallback(text.data(), static_cast<gssize>(text.size()), "UTF-8",
                                        "CP936", "?", nullptr, nullptr, nullptr);
  std::fprintf(stderr, "%s\n", utf8 != nullptr ? utf8 : text.c_str());
  g_free(utf8);
}

void EndProcess(int code) { std::_Exit(code); }
