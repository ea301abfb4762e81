// Pelvaro: searches an index of publicly shared cloud-storage files and lists the hits.
#include "app/shared_state.h"
#include "platform/main_window.h"
#include "text/text_value.h"

#include <cstdlib>

int main() {
  InitPlatform();
  std::atexit(ReleaseSharedState);
  if (!CreateMainWindow()) FatalRuntimeError(0, "载入启动窗口失败");
  RunEventLoop();
  return 0;
}
