// MainWindow on Win32: the handles that the window, its control operations and the browser panel
// share. All of them belong to the user-interface thread.
#pragma once

#include "platform/controls.h"
#include "platform/main_window.h"

#include <windows.h>

#include <type_traits>

inline constexpr UINT RunOnUiThreadMessage = WM_APP + 1;
inline constexpr UINT FirstMenuItemId = 2001;  // the popup menu's items follow in layout order

// The live handles; null before CreateMainWindow and after the window is destroyed.
HWND MainWindowHandle();
HWND ControlHandle(Control control);
HMENU PopupMenuHandle();  // the items of the popup menu
DWORD UiThreadId();
// The choice behind a popup menu item's id; None for 0 (the menu closed without a choice).
MenuChoice MenuItemChoice(UINT item);
// The handlers MainWindow was created with.
const WindowHandlers& Handlers();

// A call carried to the user-interface thread by RunOnUiThreadMessage.
struct UiCall {
  void (*run)(void* operation);
  void* operation;
};

// Runs operation on the user-interface thread and returns once it has run. From a worker it is one
// SendMessage, so an operation made of several control messages is never interleaved with
// another's. Once the window is gone nothing runs.
template <typename Operation>
void RunOnUiThread(Operation&& operation) {
  if (GetCurrentThreadId() == UiThreadId()) {
    operation();
    return;
  }
  using Callable = std::remove_reference_t<Operation>;
  UiCall call{[](void* callable) { (*static_cast<Callable*>(callable))(); }, &operation};
  if (const HWND window = MainWindowHandle()) {
    SendMessageW(window, RunOnUiThreadMessage, 0, reinterpret_cast<LPARAM>(&call));
  }
}

// The browser panel in its host window: the system web-browser control loading address.
bool CreateBrowserPanel(HWND host, const wchar_t* address);
// Lets the browser control handle a keystroke meant for it (typing into a page).
bool BrowserPanelTranslateKey(MSG& message);
void DestroyBrowserPanel();
#ifdef PELVARO_E2E_HOOKS
// The end-to-end test build only: raises the panel's new-window event (Wine shows no pages).
void FireBrowserPanelNewWindow();
#endif
