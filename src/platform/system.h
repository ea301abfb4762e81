// System seam: threads, the default browser, the fatal error box and process exit.
// One implementation per platform (platform/linux/system.cpp, platform/windows/system.cpp).
#pragma once

#include "text/text_value.h"

#include <functional>

// Starts a detached thread that runs job once; nobody waits for it, stops it or asks for a
// result. A thread that cannot be started is not reported to the user: job is dropped unrun and
// the result is false, so that the caller can forget what it had set aside for that job.
bool StartDetachedWorker(std::function<void()> job);

// Hands an address to the user's default web browser, when IsWebAddress (platform/web_address.h)
// lets it leave the program; anything else is dropped. The outcome is not looked at.
void OpenInDefaultBrowser(const AnsiText& address);

// Shows the runtime-error box (error icon, OK) with the given text and title and waits until it is
// closed. Without a display the text goes to standard error instead. Callable from any thread.
void ShowFatalErrorBox(const AnsiText& text, const AnsiText& title);

// Ends the process at once with the exit code; no exit routine runs.
[[noreturn]] void EndProcess(int code);
