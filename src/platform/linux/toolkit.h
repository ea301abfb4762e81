// The GTK boundary shared by the window, its control operations and the fatal error box: the
// user-interface thread, and text crossing between code page 936 and the toolkit's UTF-8.
#pragma once

#include "text/text_value.h"

#include <string>
#include <string_view>
#include <type_traits>

// Called once by the thread that opened the display; it becomes the user-interface thread.
void MarkUiThread();
// True once a display is open and a user-interface thread exists.
bool HasUiThread();
bool OnUiThread();

// Runs run(context) on the user-interface thread and returns once it has run there.
void InvokeOnUiThreadAndWait(void (*run)(void*), void* context);

// Runs work on the user-interface thread, which owns every widget, and returns when it is done;
// on that thread it simply calls it.
template <typename Work>
void RunOnUiThread(Work&& work) {
  if (OnUiThread()) {
    work();
    return;
  }
  using Callable = std::remove_reference_t<Work>;
  InvokeOnUiThreadAndWait([](void* context) { (*static_cast<Callable*>(context))(); }, &work);
}

// The UTF-8 of a code page 936 text, character for character (a link handed to the desktop).
std::string Utf8Text(std::string_view text);
// UTF-8 for the toolkit. A byte sequence that is not code page 936 shows as U+FFFD; a line break
// "\r\n" becomes "\n".
std::string ToUtf8(std::string_view text);
// Code page 936 from the toolkit's UTF-8; a character the code page lacks becomes "?".
AnsiText FromUtf8(std::string_view utf8);
