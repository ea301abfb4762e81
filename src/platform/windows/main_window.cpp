// MainWindow on Win32: a plain top-level window with a fixed dialog frame and its controls. The
// process is DPI aware, per monitor where the system offers it: the window lays its controls out
// itself for the DPI of its monitor, scaling the layout's 96-DPI sizes, and again when it is moved
// to a monitor of another DPI.
#include "platform/main_window.h"

#include "platform/windows/main_window_win32.h"
#include "platform/windows/wide_text.h"

#include <commctrl.h>
#include <ole2.h>
#include <windows.h>

#include <array>
#include <atomic>
#include <string>

// Newer than the Windows 7 headers this file is compiled against.
#ifndef WM_DPICHANGED
#define WM_DPICHANGED 0x02E0
#endif

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
      // A tab stop itself: the focus it receives goes on to the browser control inside it.
      return {L"PelvaroBrowserHost", Child | WS_TABSTOP | WS_CLIPCHILDREN, 0};
  }
  return {};
}

const WindowLayout* layout = nullptr;
WindowHandlers handlers;

// Read by workers (RunOnUiThread) while the user-interface thread may be destroying the window.
std::atomic<HWND> mainWindow = nullptr;
std::array<HWND, ControlCount> controls{};
HMENU menu = nullptr;  // the hidden top-level entry whose items pop up
DWORD uiThread = 0;
HWND lastFocus = nullptr;  // the control that had the focus when the window was deactivated

// The layout as applied now: the DPI, the outer width at 96 DPI (narrow or wide) and the fonts
// made for that DPI.
int currentDpi = WindowLayout::Dpi;
int outerWidth = 0;
HFONT guiFont = nullptr;
HFONT pageFont = nullptr;

// A function of a newer Windows, looked up by name: Windows 7 lacks every DPI function used here
// but SetProcessDPIAware.
template <typename Function>
Function SystemFunction(const wchar_t* library, const char* name) {
  HMODULE module = GetModuleHandleW(library);
  if (module == nullptr) module = LoadLibraryW(library);
  if (module == nullptr) return nullptr;
  return reinterpret_cast<Function>(reinterpret_cast<void*>(GetProcAddress(module, name)));
}

// The awareness the manifest declares, asked for again at run time for a start in which the
// manifest was not read; once awareness is set each of these calls fails and changes nothing.
void DeclareDpiAwareness() {
  using SetContext = BOOL(WINAPI*)(HANDLE);
  const auto perMonitorV2 = reinterpret_cast<HANDLE>(static_cast<INT_PTR>(-4));
  if (const auto setContext =
          SystemFunction<SetContext>(L"user32.dll", "SetProcessDpiAwarenessContext")) {
    if (setContext(perMonitorV2) || GetLastError() == ERROR_ACCESS_DENIED) return;
  }
  using SetAwareness = HRESULT(WINAPI*)(int);
  constexpr int perMonitor = 2;  // PROCESS_PER_MONITOR_DPI_AWARE
  if (const auto setAwareness =
          SystemFunction<SetAwareness>(L"shcore.dll", "SetProcessDpiAwareness")) {
    const HRESULT result = setAwareness(perMonitor);
    if (SUCCEEDED(result) || result == E_ACCESSDENIED) return;
  }
  SetProcessDPIAware();  // Windows 7: aware of the system's one DPI
}

// The DPI the screen had when the process started; the stock fonts are made for it.
int SystemDpi() {
  const HDC screen = GetDC(nullptr);
  const int dpi = screen != nullptr ? GetDeviceCaps(screen, LOGPIXELSY) : WindowLayout::Dpi;
  if (screen != nullptr) ReleaseDC(nullptr, screen);
  return dpi > 0 ? dpi : WindowLayout::Dpi;
}

// The DPI of a monitor: its own since Windows 8.1, the system's one DPI before.
int MonitorDpi(HMONITOR monitor) {
  using ForMonitor = HRESULT(WINAPI*)(HMONITOR, int, UINT*, UINT*);
  if (const auto forMonitor = SystemFunction<ForMonitor>(L"shcore.dll", "GetDpiForMonitor")) {
    UINT x = 0;
    UINT y = 0;
    constexpr int effectiveDpi = 0;  // MDT_EFFECTIVE_DPI
    if (SUCCEEDED(forMonitor(monitor, effectiveDpi, &x, &y)) && y > 0) return static_cast<int>(y);
  }
  return SystemDpi();
}

// The DPI of the monitor a window is on, as the system tells the window itself on Windows 10.
int DpiOf(HWND window) {
  using ForWindow = UINT(WINAPI*)(HWND);
  if (const auto forWindow = SystemFunction<ForWindow>(L"user32.dll", "GetDpiForWindow")) {
    if (const UINT dpi = forWindow(window)) return static_cast<int>(dpi);
  }
  return MonitorDpi(MonitorFromWindow(window, MONITOR_DEFAULTTOPRIMARY));
}

// The window's outer size at dpi and its place centred on the screen.
RECT CentredBounds(int dpi) {
  const int width = ScaledForDpi(outerWidth, dpi);
  const int height = ScaledForDpi(layout->height, dpi);
  const int left = (GetSystemMetrics(SM_CXSCREEN) - width) / 2;
  const int top = (GetSystemMetrics(SM_CYSCREEN) - height) / 2;
  return {left, top, left + width, top + height};
}

HFONT CreateFontFor(LOGFONTW font, int height, int dpi) {
  font.lfHeight = ScaledForDpi(height, dpi);
  font.lfWidth = 0;
  return CreateFontIndirectW(&font);
}

// The default GUI font at dpi: the stock font's face at its height for 96 DPI, scaled. The stock
// font itself is made for the system's DPI, which may differ from the monitor's.
HFONT CreateGuiFont(int dpi) {
  LOGFONTW font{};
  if (GetObjectW(GetStockObject(DEFAULT_GUI_FONT), sizeof font, &font) == 0) return nullptr;
  return CreateFontFor(font, MulDiv(font.lfHeight, WindowLayout::Dpi, SystemDpi()), dpi);
}

// The page label's own font at dpi.
HFONT CreatePageFont(const FontLayout& layoutFont, int dpi) {
  LOGFONTW font{};
  font.lfWeight = layoutFont.weight;
  font.lfCharSet = static_cast<BYTE>(layoutFont.charset);
  font.lfOutPrecision = OUT_DEFAULT_PRECIS;
  font.lfClipPrecision = CLIP_DEFAULT_PRECIS;
  font.lfQuality = DEFAULT_QUALITY;
  font.lfPitchAndFamily = DEFAULT_PITCH | FF_DONTCARE;
  const std::wstring face = ToWide(layoutFont.face);
  face.copy(font.lfFaceName, LF_FACESIZE - 1);
  return CreateFontFor(font, layoutFont.height, dpi);
}

UINT CommandId(Control control) {
  return FirstControlId + static_cast<UINT>(control);
}

// The control of the window that holds window: itself, or its ancestor among the window's
// controls (the browser control's own windows lie inside the panel's host). Null for any other.
HWND OwnControlOf(HWND window) {
  while (window != nullptr && GetParent(window) != mainWindow)
    window = GetParent(window);
  return window;
}

// Places the window and every control, and sets the fonts and the column widths, for dpi. The
// window keeps topLeft, or is centred on the screen when there is none.
void LayOut(int dpi, const POINT* topLeft) {
  const HFONT oldGui = guiFont;
  const HFONT oldPage = pageFont;
  guiFont = CreateGuiFont(dpi);
  pageFont = CreatePageFont(layout->pageFont, dpi);
  currentDpi = dpi;

  RECT bounds = CentredBounds(dpi);
  if (topLeft != nullptr) OffsetRect(&bounds, topLeft->x - bounds.left, topLeft->y - bounds.top);
  RECT now{};
  GetWindowRect(mainWindow, &now);
  if (!EqualRect(&now, &bounds)) {
    SetWindowPos(mainWindow, nullptr, bounds.left, bounds.top, bounds.right - bounds.left,
                 bounds.bottom - bounds.top, SWP_NOZORDER | SWP_NOACTIVATE | SWP_NOOWNERZORDER);
  }

  const auto stockFont = static_cast<HFONT>(GetStockObject(DEFAULT_GUI_FONT));
  for (const ControlLayout& item : layout->controls) {
    const HWND control = ControlHandle(item.control);
    SetWindowPos(control, nullptr, ScaledForDpi(item.rect.left, dpi),
                 ScaledForDpi(item.rect.top, dpi), ScaledForDpi(item.rect.width, dpi),
                 ScaledForDpi(item.rect.height, dpi), SWP_NOZORDER | SWP_NOACTIVATE);
    HFONT font = item.control == Control::PageLabel ? pageFont : guiFont;
    if (font == nullptr) font = stockFont;
    SendMessageW(control, WM_SETFONT, reinterpret_cast<WPARAM>(font), TRUE);
  }
  const HWND table = ControlHandle(Control::ResultTable);
  for (int index = 0; index < static_cast<int>(ColumnCount); ++index) {
    ListView_SetColumnWidth(table, index, ScaledForDpi(layout->columns[index].width, dpi));
  }
  FitBrowserPanel();

  if (oldGui != nullptr) DeleteObject(oldGui);
  if (oldPage != nullptr) DeleteObject(oldPage);
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
  // Wine has one DPI for every monitor: the probe stands in for the move to a monitor of another
  // DPI with the message the system sends then, the window's top-left corner kept.
  static const UINT dpiChanged = RegisterWindowMessageW(L"PelvaroE2E.DpiChanged");
  if (message == dpiChanged) {
    RECT bounds{};
    GetWindowRect(window, &bounds);
    const int dpi = static_cast<int>(wParam);
    bounds.right = bounds.left + ScaledForDpi(layout->narrowWidth, dpi);
    bounds.bottom = bounds.top + ScaledForDpi(layout->height, dpi);
    SendMessageW(window, WM_DPICHANGED, MAKEWPARAM(dpi, dpi), reinterpret_cast<LPARAM>(&bounds));
    return 0;
  }
  // A control's font height, which the probe cannot read across processes.
  static const UINT fontHeight = RegisterWindowMessageW(L"PelvaroE2E.FontHeight");
  if (message == fontHeight) {
    LOGFONTW font{};
    const auto handle = reinterpret_cast<HGDIOBJ>(
        SendMessageW(GetDlgItem(window, static_cast<int>(wParam)), WM_GETFONT, 0, 0));
    return handle != nullptr && GetObjectW(handle, sizeof font, &font) != 0 ? font.lfHeight : 0;
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
      // Tab and Shift+Tab from IsDialogMessage or from the browser panel; the window is no dialog,
      // so it moves the focus. Inside the panel the focus is on one of the browser control's own
      // windows: the next control is the one after the panel.
      const HWND next = lParam ? reinterpret_cast<HWND>(wParam)
                               : GetNextDlgTabItem(window, OwnControlOf(GetFocus()), wParam != 0);
      if (next != nullptr) SetFocus(next);
      return 0;
    }
    case WM_ACTIVATE:
      // As in a dialog: the focus leaves with the window and comes back to the same control, to
      // the first one in Tab order the first time.
      if (LOWORD(wParam) == WA_INACTIVE) {
        if (const HWND focus = OwnControlOf(GetFocus())) lastFocus = focus;
      } else {
        SetFocus(lastFocus != nullptr && IsWindowEnabled(lastFocus)
                     ? lastFocus
                     : GetNextDlgTabItem(window, nullptr, FALSE));
      }
      return 0;
    case WM_DPICHANGED: {
      // Moved to a monitor of another DPI: laid out anew at the corner the system suggests, in
      // the size this layout has at the new DPI.
      if (layout == nullptr || ControlHandle(Control::BrowserPanel) == nullptr) return 0;
      const auto* suggested = reinterpret_cast<const RECT*>(lParam);
      const POINT corner{suggested->left, suggested->top};
      LayOut(HIWORD(wParam), &corner);
      return 0;
    }
    case WM_DESTROY:
      lastFocus = nullptr;
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
  if (message == WM_SETFOCUS) {
    FocusBrowserPanel();
    return 0;
  }
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
    column.cx = ScaledForDpi(layout->columns[index].width, currentDpi);
    column.pszText = header.data();
    ListView_InsertColumn(table, index, &column);
  }
}

// In layout order, which is also the Tab order; placed, sized and given their fonts by LayOut.
bool CreateControls(HINSTANCE instance) {
  for (const ControlLayout& place : layout->controls) {
    const WindowClass windowClass = ClassOf(place);
    const HWND control = CreateWindowExW(
        windowClass.extendedStyle, windowClass.name, ToWide(place.caption).c_str(),
        windowClass.style | (place.enabled ? 0 : WS_DISABLED), 0, 0, 0, 0, mainWindow,
        reinterpret_cast<HMENU>(static_cast<UINT_PTR>(CommandId(place.control))), instance,
        nullptr);
    if (control == nullptr) return false;
    controls[static_cast<std::size_t>(place.control)] = control;
  }
  SendMessageW(ControlHandle(Control::KeywordBox), EM_SETLIMITTEXT, 0,
               0);  // the platform's maximum
  AddColumns(ControlHandle(Control::ResultTable));
  return true;
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

void SetOuterWidth(int width) {
  outerWidth = width;
  RECT bounds;
  if (!GetWindowRect(mainWindow, &bounds)) return;
  SetWindowPos(mainWindow, nullptr, 0, 0, ScaledForDpi(width, currentDpi),
               bounds.bottom - bounds.top,
               SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE | SWP_NOOWNERZORDER);
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
  DeclareDpiAwareness();
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
  outerWidth = layout->narrowWidth;
  // Made in its place for the primary monitor's DPI, centred on that monitor; then laid out for
  // the DPI the system gives the window, in case the two differ.
  const RECT bounds =
      CentredBounds(MonitorDpi(MonitorFromPoint(POINT{0, 0}, MONITOR_DEFAULTTOPRIMARY)));
  mainWindow = CreateWindowExW(
      WS_EX_CONTROLPARENT, L"PelvaroMainWindow", ToWide(layout->title).c_str(),
      WS_OVERLAPPED | WS_CAPTION | WS_SYSMENU | WS_CLIPCHILDREN, bounds.left, bounds.top,
      bounds.right - bounds.left, bounds.bottom - bounds.top, nullptr, nullptr, instance, nullptr);
  if (mainWindow == nullptr || !CreateControls(instance)) return false;
  LayOut(DpiOf(mainWindow), nullptr);
  if (!CreateBrowserPanel(ControlHandle(Control::BrowserPanel), ToWide(startPage).c_str())) {
    return false;
  }
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
  if (guiFont != nullptr) DeleteObject(guiFont);
  OleUninitialize();
}
