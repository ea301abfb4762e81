// The system seam for the fuzz targets. Nothing here starts threads or opens links, and the fatal
// error stop aborts, so that libFuzzer keeps the input that reached it: no input the core is given
// may make a list index go out of range.
#include "platform/system.h"

#include <cstdio>
#include <cstdlib>

bool StartDetachedWorker(std::function<void()>) {
  return false;
}

void OpenInDefaultBrowser(const AnsiText&) {}

void ShowFatalErrorBox(const AnsiText& text, const AnsiText&) {
  std::fprintf(stderr, "fatal error stop: %s\n", text.c_str());
}

void EndProcess(int) {
  std::abort();
}
