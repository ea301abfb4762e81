// MainWindow on Win32: a plain top-level window with a fixed dialog frame and its controls, laid
// out in client pixels. The manifest makes the process DPI aware, so pixels stay pixels.
#include "platform/main_window.h"

#include "platform/windows/main_window_win32.h"
#include "platform/windows/wide_text.h"

#include <commctrl.h>
#include <ole2.h>
#include <windows.h>

#include <array>
#include <atomic>
#include <string>

namespace {

constexpr UINT FirstControlId = 1001;  // clear of IDOK and IDCANCEL, which the dialog keys send

constexpr DWORD Child = WS_CHILD | WS_VISIBLE;

struct WindowClass {
  const wchar_t* name;
  DWORD style;
  DWORD extendedStyle;
};

// Each kind of control as a window class with its styles.
WindowClass ClassOf(const ControlLayout& control) {
  switch (control.kind) {
    case ControlKind::Label:
      return {L"STATIC",
              Child | (control.align == TextAlign::Center ? SS_CENTER : SS_LEFT) | SS_CENTERIMAGE |
                  SS_NOPREFIX,
              0};
    case ControlKind::EditBox:
      return {L"EDIT", Child | WS_TABSTOP | ES_LEFT | ES_AUTOHSCROLL, WS_EX_CLIENTEDGE};
    case ControlKind::PushButton:
      return {L"BUTTON", Child | WS_TABSTOP | BS_PUSHBUTTON | BS_CENTER | BS_VCENTER | BS_MULTILINE,
              0};
    case ControlKind::CheckBox:
      return {L"BUTTON", Child | WS_TABSTOP | BS_AUTOCHECKBOX | BS_LEFT | BS_VCENTER, 0};
    case ControlKind::Table:
      return {WC_LISTVIEWW, Child | WS_TABSTOP | LVS_REPORT | LVS_SHOWSELALWAYS, WS_EX_CLIENTEDGE};
    case ControlKind::BrowserPanel:
      return {L"PelvaroBrowserHost", Child | WS_CLIPCHILDREN, 0};
  }
  return {};
}

const WindowLayout* layout = nullptr;
WindowHandlers handlers;

// Read by workers (RunOnUiThread) while the user-interface thread may be destroying the window.
std::atomic<HWND> mainWindow = nullptr;
std::array<HWND, ControlCount> controls{};
HMENU menu = nullptr;  // the hidden top-level entry whose items pop up
HFONT pageFont = nullptr;
DWORD uiThread = 0;

UINT CommandId(Control control) {
  return FirstControlId + static_cast<UINT>(control);
}

void Close() {
  PostMessageW(mainWindow, WM_CLOSE, 0, 0);
}

void OnCommand(UINT id) {
  switch (id) {
    case IDCANCEL:  // Esc, from any control
      Close();
      return;
  }
  if (id < FirstControlId || id >= FirstControlId + ControlCount) return;
  const auto* handler = ClickHandler(handlers, static_cast<Control>(id - FirstControlId));
  if (handler != nullptr && *handler) (*handler)();
}

LRESULT CALLBACK MainWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
#ifdef PELVARO_E2E_HOOKS
  // Sent by the end-to-end test's probe; the real program has no such message.
  static const UINT fireNewWindow = RegisterWindowMessageW(L"PelvaroE2E.FireNewWindow");
  if (message == fireNewWindow) {
    FireBrowserPanelNewWindow();
    return 0;
  }
#endif
  switch (message) {
    case RunOnUiThreadMessage: {
      const auto* call = reinterpret_cast<const UiCall*>(lParam);
      call->run(call->operation);
      return 0;
    }
    case WM_COMMAND:
      if (HIWORD(wParam) == BN_CLICKED) OnCommand(LOWORD(wParam));
      return 0;
    case WM_NOTIFY: {
      const auto* header = reinterpret_cast<const NMHDR*>(lParam);
      if (header->hwndFrom == ControlHandle(Control::ResultTable) && header->code == NM_RCLICK &&
          handlers.tableRightClick) {
        handlers.tableRightClick();
      }
      return 0;
    }
    case WM_CTLCOLORSTATIC: {
      // The labels and the check box are drawn on the window's own background.
      const auto dc = reinterpret_cast<HDC>(wParam);
      SetBkMode(dc, TRANSPARENT);
      SetTextColor(dc, RGB(0, 0, 0));
      return reinterpret_cast<LRESULT>(GetSysColorBrush(COLOR_BTNFACE));
    }
    case WM_NEXTDLGCTL: {
      // Tab and Shift+Tab from IsDialogMessage; the window is no dialog, so it moves the focus.
      const HWND next = lParam ? reinterpret_cast<HWND>(wParam)
                               : GetNextDlgTabItem(window, GetFocus(), wParam != 0);
      if (next != nullptr) SetFocus(next);
      return 0;
    }
    case WM_DESTROY:
      DestroyBrowserPanel();
      mainWindow = nullptr;
      controls.fill(nullptr);
      PostQuitMessage(0);
      return 0;
  }
  return DefWindowProcW(window, message, wParam, lParam);
}

LRESULT CALLBACK BrowserHostProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  if (message == WM_ERASEBKGND) return 1;  // the browser control covers the whole host
  return DefWindowProcW(window, message, wParam, lParam);
}

HICON LoadAppIcon(HINSTANCE instance, int sizeMetricX, int sizeMetricY) {
  return static_cast<HICON>(LoadImageW(instance, L"DEFAULT_ICON", IMAGE_ICON,
                                       GetSystemMetrics(sizeMetricX), GetSystemMetrics(sizeMetricY),
                                       LR_DEFAULTCOLOR | LR_SHARED));
}

bool RegisterClasses(HINSTANCE instance) {
  WNDCLASSEXW mainClass{};
  mainClass.cbSize = sizeof mainClass;
  mainClass.lpfnWndProc = MainWindowProc;
  mainClass.hInstance = instance;
  mainClass.hIcon = LoadAppIcon(instance, SM_CXICON, SM_CYICON);
  mainClass.hIconSm = LoadAppIcon(instance, SM_CXSMICON, SM_CYSMICON);
  mainClass.hCursor = LoadCursorW(nullptr, IDC_ARROW);
  mainClass.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_BTNFACE + 1);
  mainClass.lpszClassName = L"PelvaroMainWindow";

  WNDCLASSEXW hostClass{};
  hostClass.cbSize = sizeof hostClass;
  hostClass.lpfnWndProc = BrowserHostProc;
  hostClass.hInstance = instance;
  hostClass.hCursor = LoadCursorW(nullptr, IDC_ARROW);
  hostClass.lpszClassName = L"PelvaroBrowserHost";
  return RegisterClassExW(&mainClass) != 0 && RegisterClassExW(&hostClass) != 0;
}

bool CreatePopupMenuItems() {
  menu = CreateMenu();
  const HMENU items = CreatePopupMenu();
  if (menu == nullptr || items == nullptr) return false;
  UINT id = FirstMenuItemId;
  for (const MenuItemLayout& item : layout->menuItems) {
    AppendMenuW(items, MF_STRING, id++, ToWide(item.caption).c_str());
  }
  // The window owns the menu but never shows it as a menu bar.
  return AppendMenuW(menu, MF_POPUP, reinterpret_cast<UINT_PTR>(items),
                     ToWide(layout->menuName).c_str());
}

void AddColumns(HWND table) {
  ListView_SetExtendedListViewStyle(table, LVS_EX_FULLROWSELECT | LVS_EX_GRIDLINES);
  for (int index = 0; index < static_cast<int>(ColumnCount); ++index) {
    std::wstring header = ToWide(layout->columns[index].header);
    LVCOLUMNW column{};
    column.mask = LVCF_FMT | LVCF_WIDTH | LVCF_TEXT;
    column.fmt = LVCFMT_LEFT;
    column.cx = layout->columns[index].width;
    column.pszText = header.data();
    ListView_InsertColumn(table, index, &column);
  }
}

// In layout order, which is also the Tab order.
bool CreateControls(HINSTANCE instance, std::string_view startPage) {
  const auto guiFont = static_cast<HFONT>(GetStockObject(DEFAULT_GUI_FONT));
  const FontLayout& font = layout->pageFont;
  pageFont = CreateFontW(font.height, 0, 0, 0, font.weight, FALSE, FALSE, FALSE,
                         static_cast<BYTE>(font.charset), OUT_DEFAULT_PRECIS, CLIP_DEFAULT_PRECIS,
                         DEFAULT_QUALITY, DEFAULT_PITCH | FF_DONTCARE, ToWide(font.face).c_str());
  for (const ControlLayout& place : layout->controls) {
    const WindowClass windowClass = ClassOf(place);
    const HWND control =
        CreateWindowExW(windowClass.extendedStyle, windowClass.name, ToWide(place.caption).c_str(),
                        windowClass.style | (place.enabled ? 0 : WS_DISABLED), place.rect.left,
                        place.rect.top, place.rect.width, place.rect.height, mainWindow,
                        reinterpret_cast<HMENU>(static_cast<UINT_PTR>(CommandId(place.control))),
                        instance, nullptr);
    if (control == nullptr) return false;
    controls[static_cast<std::size_t>(place.control)] = control;
    const bool ownFont = place.control == Control::PageLabel && pageFont != nullptr;
    SendMessageW(control, WM_SETFONT, reinterpret_cast<WPARAM>(ownFont ? pageFont : guiFont),
                 FALSE);
  }
  SendMessageW(ControlHandle(Control::KeywordBox), EM_SETLIMITTEXT, 0,
               0);  // the platform's maximum
  AddColumns(ControlHandle(Control::ResultTable));

  return CreateBrowserPanel(ControlHandle(Control::BrowserPanel), ToWide(startPage).c_str());
}

bool IsEnterKey(const MSG& message) {
  return (message.message == WM_KEYDOWN || message.message == WM_CHAR) &&
         message.wParam == VK_RETURN;
}

// A control of the window itself, not a window inside the browser panel.
bool IsOwnControl(HWND window) {
  return window != nullptr && GetParent(window) == mainWindow;
}

}  // namespace

HWND MainWindowHandle() {
  return mainWindow;
}
HWND ControlHandle(Control control) {
  return controls[static_cast<std::size_t>(control)];
}
HMENU PopupMenuHandle() {
  return GetSubMenu(menu, 0);
}
DWORD UiThreadId() {
  return uiThread;
}
MenuChoice MenuItemChoice(UINT item) {
  if (layout == nullptr || item < FirstMenuItemId) return MenuChoice::None;
  const std::size_t index = item - FirstMenuItemId;
  return index < layout->menuItems.size() ? layout->menuItems[index].choice : MenuChoice::None;
}
const WindowHandlers& Handlers() {
  return handlers;
}

void InitPlatform() {
  // A portable exe runs from download folders: libraries are loaded from the system directory only.
  // Looked up by name, since Windows 7 without its loader update lacks the function.
  using SetDirectories = BOOL(WINAPI*)(DWORD);
  if (const HMODULE kernel = GetModuleHandleW(L"kernel32.dll")) {
    if (const auto setDirectories = reinterpret_cast<SetDirectories>(
            reinterpret_cast<void*>(GetProcAddress(kernel, "SetDefaultDllDirectories")))) {
      setDirectories(LOAD_LIBRARY_SEARCH_SYSTEM32);
    }
  }
  HeapSetInformation(nullptr, HeapEnableTerminationOnCorruption, nullptr, 0);
  uiThread = GetCurrentThreadId();
  OleInitialize(nullptr);  // the browser panel needs OLE on this thread
  INITCOMMONCONTROLSEX common{sizeof common, ICC_LISTVIEW_CLASSES | ICC_STANDARD_CLASSES};
  InitCommonControlsEx(&common);
}

bool CreateMainWindow(const WindowLayout& windowLayout, WindowHandlers windowHandlers,
                      std::string_view startPage) {
  layout = &windowLayout;
  handlers = std::move(windowHandlers);
  const HINSTANCE instance = GetModuleHandleW(nullptr);
  if (!RegisterClasses(instance) || !CreatePopupMenuItems()) return false;
  const int left = (GetSystemMetrics(SM_CXSCREEN) - layout->narrowWidth) / 2;
  const int top = (GetSystemMetrics(SM_CYSCREEN) - layout->height) / 2;
  mainWindow =
      CreateWindowExW(WS_EX_CONTROLPARENT, L"PelvaroMainWindow", ToWide(layout->title).c_str(),
                      WS_OVERLAPPED | WS_CAPTION | WS_SYSMENU | WS_CLIPCHILDREN, left, top,
                      layout->narrowWidth, layout->height, nullptr, nullptr, instance, nullptr);
  if (mainWindow == nullptr || !CreateControls(instance, startPage)) return false;
  ShowWindow(mainWindow, SW_SHOWNORMAL);
  UpdateWindow(mainWindow);
  return true;
}

void RunEventLoop() {
  MSG message;
  while (GetMessageW(&message, nullptr, 0, 0) > 0) {
    // Enter neither presses a button nor moves the focus: no button is a default button.
    if (IsEnterKey(message) && IsOwnControl(message.hwnd)) continue;
    if (BrowserPanelTranslateKey(message)) continue;
    if (mainWindow != nullptr && IsDialogMessageW(mainWindow, &message)) continue;
    TranslateMessage(&message);
    DispatchMessageW(&message);
  }
  if (menu != nullptr) DestroyMenu(menu);
  if (pageFont != nullptr) DeleteObject(pageFont);
  OleUninitialize();
}
