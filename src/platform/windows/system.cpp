#include "platform/system.h"

#include "platform/web_address.h"
#include "platform/windows/wide_text.h"

#include <shellapi.h>
#include <windows.h>

#include <memory>

namespace {

DWORD WINAPI RunWorker(LPVOID parameter) {
  const std::unique_ptr<std::function<void()>> job(static_cast<std::function<void()>*>(parameter));
  (*job)();
  return 0;
}

#ifdef PELVARO_TEST_BUILD
// A test program's harness captures standard error (a file or a pipe) and reads the text there; a
// box would wait for a click that never comes. Only test programs are built with this: the
// program as shipped shows the box, whatever its standard error is.
HANDLE CapturedStandardError() {
  const HANDLE handle = GetStdHandle(STD_ERROR_HANDLE);
  if (handle == nullptr || handle == INVALID_HANDLE_VALUE) return nullptr;
  const DWORD type = GetFileType(handle);
  return type == FILE_TYPE_DISK || type == FILE_TYPE_PIPE ? handle : nullptr;
}
#endif

}  // namespace

bool StartDetachedWorker(std::function<void()> job) {
  auto* owned = new std::function<void()>(std::move(job));
  const HANDLE thread = CreateThread(nullptr, 0, RunWorker, owned, 0, nullptr);
  if (thread == nullptr) {
    delete owned;  // a worker that cannot be started is not reported
    return false;
  }
  CloseHandle(thread);
  return true;
}

// Only web addresses reach the shell: a page could put a program or a file path in a link.
void OpenInDefaultBrowser(const AnsiText& address) {
  if (!IsWebAddress(address)) return;
  ShellExecuteW(nullptr, L"open", ToWide(address).c_str(), nullptr, nullptr, SW_SHOWNORMAL);
}

void ShowFatalErrorBox(const AnsiText& text, const AnsiText& title) {
#ifdef PELVARO_TEST_BUILD
  if (const HANDLE standardError = CapturedStandardError()) {
    const std::string utf8 = FromWide(ToWide(text + "\n"), CP_UTF8);
    DWORD written = 0;
    WriteFile(standardError, utf8.data(), static_cast<DWORD>(utf8.size()), &written, nullptr);
    return;
  }
#endif
  MessageBoxW(nullptr, ToWide(text).c_str(), ToWide(title).c_str(),
              MB_OK | MB_ICONERROR | MB_TASKMODAL);
}

void EndProcess(int code) {
  ExitProcess(static_cast<UINT>(code));
}
