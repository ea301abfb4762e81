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

// The window is laid out for the dots per inch of the monitor it is on: every size of the layout,
// given for WindowLayout::Dpi, is scaled by this one rule (MulDiv rounds halves away from zero),
// so that each rectangle at any DPI is the 96-DPI one scaled.
inline int ScaledForDpi(int size, int dpi) {
  return MulDiv(size, dpi, WindowLayout::Dpi);
}
// Sets the outer width, given at 96 DPI like every size of the layout; left edge, top edge and
// height stay, and the window is not activated. The width is kept across a change of DPI.
void SetOuterWidth(int width);

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
// Fits the browser control to its host window after the host has been moved or resized.
void FitBrowserPanel();
// Gives the browser control the keyboard focus (the host received it, by Tab or Shift+Tab).
void FocusBrowserPanel();
// Lets the browser control handle a keystroke meant for it (typing into a page, Tab between the
// links of a page). A Tab the page does not take moves on to the window's next control.
bool BrowserPanelTranslateKey(MSG& message);
void DestroyBrowserPanel();
#ifdef PELVARO_E2E_HOOKS
// The end-to-end test build only: raises the panel's new-window event (Wine shows no pages).
void FireBrowserPanelNewWindow();
#endif
