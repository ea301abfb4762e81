#include "platform/system.h"

#include "platform/linux/toolkit.h"
#include "platform/web_address.h"

#include <gio/gio.h>
#include <gtk/gtk.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <system_error>
#include <thread>

bool StartDetachedWorker(std::function<void()> job) {
  try {
    std::thread(std::move(job)).detach();
    return true;
  } catch (const std::system_error&) {
    return false;  // a worker that cannot be started is not reported
  }
}

void OpenInDefaultBrowser(const AnsiText& address) {
  if (!IsWebAddress(address)) return;
  const std::string uri = Utf8Text(address);
  if (uri.empty()) return;
  g_app_info_launch_default_for_uri(uri.c_str(), nullptr, nullptr);
}

namespace {

// A visible window of ours to keep the box above; the box has no owner of its own.
GtkWindow* AnyShownWindow() {
  GList* windows = gtk_window_list_toplevels();
  GtkWindow* shown = nullptr;
  for (GList* item = windows; item != nullptr && shown == nullptr; item = item->next) {
    GtkWindow* window = GTK_WINDOW(item->data);
    if (gtk_window_get_window_type(window) == GTK_WINDOW_TOPLEVEL &&
        gtk_widget_get_visible(GTK_WIDGET(window))) {
      shown = window;
    }
  }
  g_list_free(windows);
  return shown;
}

}  // namespace

void ShowFatalErrorBox(const AnsiText& text, const AnsiText& title) {
  const std::string utf8 = ToUtf8(text);
  if (!HasUiThread()) {
    std::fprintf(stderr, "%s\n", utf8.c_str());
    return;
  }
  // On the user-interface thread, which owns the toolkit; a worker waits here until it is closed.
  RunOnUiThread([&] {
    GtkWidget* box = gtk_message_dialog_new(AnyShownWindow(), GTK_DIALOG_MODAL, GTK_MESSAGE_ERROR,
                                            GTK_BUTTONS_OK, "%s", utf8.c_str());
    gtk_window_set_title(GTK_WINDOW(box), ToUtf8(title).c_str());
    // GTK's message boxes draw no icon of their own any more; the window carries the error icon.
    gtk_window_set_icon_name(GTK_WINDOW(box), "dialog-error");
    gtk_dialog_run(GTK_DIALOG(box));
    gtk_widget_destroy(box);
  });
}

void EndProcess(int code) {
  std::_Exit(code);
}
