// MainWindow on Win32: a plain top-level window with a fixed dialog frame and its controls, laid
// out in client pixels. The manifest makes the process DPI aware, so pixels stay pixels.
#include "platform/main_window.h"

#include "app/commands.h"
#include "pelvaro_config.h"
#include "platform/windows/main_window_win32.h"
#include "platform/windows/wide_text.h"

#include <commctrl.h>
#include <ole2.h>
#include <windows.h>

#include <array>
#include <atomic>

namespace {

constexpr int WindowHeight = 374;
constexpr UINT FirstControlId = 1001;  // clear of IDOK and IDCANCEL, which the dialog keys send

struct ControlLayout {
  ControlId control;
  const wchar_t* windowClass;
  const char* text;
  DWORD style;
  DWORD extendedStyle;
  int left, top, width, height;
};

constexpr DWORD Child = WS_CHILD | WS_VISIBLE;
constexpr DWORD PushButton =
    Child | WS_TABSTOP | BS_PUSHBUTTON | BS_CENTER | BS_VCENTER | BS_MULTILINE;

// In creation order, which is also the Tab order.
const std::array<ControlLayout, 11> Layout{{
    {ControlId::透明标签1, L"STATIC", "名称：", Child | SS_LEFT | SS_CENTERIMAGE | SS_NOPREFIX, 0,
     13, 8, 32, 24},
    {ControlId::编辑框1, L"EDIT", "", Child | WS_TABSTOP | ES_LEFT | ES_AUTOHSCROLL,
     WS_EX_CLIENTEDGE, 53, 8, 419, 24},
    {ControlId::按钮1, L"BUTTON", "搜搜搜", PushButton | WS_DISABLED, 0, 477, 8, 48, 24},
    {ControlId::超级列表框1, WC_LISTVIEWW, "", Child | WS_TABSTOP | LVS_REPORT | LVS_SHOWSELALWAYS,
     WS_EX_CLIENTEDGE, 8, 40, 520, 264},
    {ControlId::按钮3, L"BUTTON", "上一页", PushButton, 0, 8, 312, 72, 24},
    {ControlId::透明标签2, L"STATIC", "1", Child | SS_CENTER | SS_CENTERIMAGE | SS_NOPREFIX, 0, 86,
     312, 58, 24},
    {ControlId::按钮2, L"BUTTON", "下一页", PushButton, 0, 152, 312, 72, 24},
    {ControlId::选择框1, L"BUTTON", "是否删除当前页",
     Child | WS_TABSTOP | BS_AUTOCHECKBOX | BS_LEFT | BS_VCENTER, 0, 240, 312, 112, 24},
    {ControlId::按钮4, L"BUTTON", "刷新", PushButton, 0, 368, 312, 48, 24},
    {ControlId::按钮5, L"BUTTON", "支持作者", PushButton, 0, 432, 312, 96, 24},
    {ControlId::超文本浏览框1, L"PelvaroBrowserHost", "", Child | WS_CLIPCHILDREN, 0, 536, 8, 304,
     320},
}};

struct Column {
  const char* header;
  int width;
};
constexpr std::array<Column, 4> Columns{
    {{"名称", 200}, {"大小", 80}, {"共享者", 120}, {"地址", 100}}};

// Read by workers (RunOnUiThread) while the user-interface thread may be destroying the window.
std::atomic<HWND> mainWindow = nullptr;
std::array<HWND, Layout.size()> controls{};
HMENU menu = nullptr;  // the hidden top-level entry "右键菜单"
HFONT pageFont = nullptr;
DWORD uiThread = 0;

UINT CommandId(ControlId control) {
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
  if (id == CommandId(ControlId::按钮1)) OnSearchClicked();
  if (id == CommandId(ControlId::按钮3)) OnPreviousPageClicked();
  if (id == CommandId(ControlId::按钮2)) OnNextPageClicked();
  if (id == CommandId(ControlId::按钮4)) OnRefreshClicked();
  if (id == CommandId(ControlId::按钮5)) OnShowPanelClicked();
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
      if (header->hwndFrom == controls[static_cast<int>(ControlId::超级列表框1)] &&
          header->code == NM_RCLICK) {
        OnTableRightClick();
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
  AppendMenuW(items, MF_STRING, OpenLinkItem, ToWide("打开链接").c_str());
  AppendMenuW(items, MF_STRING, CopyLinkItem, ToWide("复制链接").c_str());
  // The window owns the menu but never shows it as a menu bar.
  return AppendMenuW(menu, MF_POPUP, reinterpret_cast<UINT_PTR>(items), ToWide("右键菜单").c_str());
}

void AddColumns(HWND table) {
  ListView_SetExtendedListViewStyle(table, LVS_EX_FULLROWSELECT | LVS_EX_GRIDLINES);
  for (int index = 0; index < static_cast<int>(Columns.size()); ++index) {
    std::wstring header = ToWide(Columns[index].header);
    LVCOLUMNW column{};
    column.mask = LVCF_FMT | LVCF_WIDTH | LVCF_TEXT;
    column.fmt = LVCFMT_LEFT;
    column.cx = Columns[index].width;
    column.pszText = header.data();
    ListView_InsertColumn(table, index, &column);
  }
}

bool CreateControls(HINSTANCE instance) {
  const auto guiFont = static_cast<HFONT>(GetStockObject(DEFAULT_GUI_FONT));
  pageFont = CreateFontW(-16, 0, 0, 0, FW_NORMAL, FALSE, FALSE, FALSE, GB2312_CHARSET,
                         OUT_DEFAULT_PRECIS, CLIP_DEFAULT_PRECIS, DEFAULT_QUALITY,
                         DEFAULT_PITCH | FF_DONTCARE, ToWide("黑体").c_str());
  for (const ControlLayout& layout : Layout) {
    const HWND control = CreateWindowExW(
        layout.extendedStyle, layout.windowClass, ToWide(layout.text).c_str(), layout.style,
        layout.left, layout.top, layout.width, layout.height, mainWindow,
        reinterpret_cast<HMENU>(static_cast<UINT_PTR>(CommandId(layout.control))), instance,
        nullptr);
    if (control == nullptr) return false;
    controls[static_cast<int>(layout.control)] = control;
    const bool isPageLabel = layout.control == ControlId::透明标签2 && pageFont != nullptr;
    SendMessageW(control, WM_SETFONT, reinterpret_cast<WPARAM>(isPageLabel ? pageFont : guiFont),
                 FALSE);
  }
  SendMessageW(ControlHandle(ControlId::编辑框1), EM_SETLIMITTEXT, 0, 0);  // the platform's maximum
  AddColumns(ControlHandle(ControlId::超级列表框1));

  return CreateBrowserPanel(ControlHandle(ControlId::超文本浏览框1),
                            ToWide(StartPageAddress).c_str());
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
HWND ControlHandle(ControlId control) {
  return controls[static_cast<int>(control)];
}
HMENU PopupMenuHandle() {
  return GetSubMenu(menu, 0);
}
DWORD UiThreadId() {
  return uiThread;
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

bool CreateMainWindow() {
  const HINSTANCE instance = GetModuleHandleW(nullptr);
  if (!RegisterClasses(instance) || !CreatePopupMenuItems()) return false;
  const int left = (GetSystemMetrics(SM_CXSCREEN) - NarrowWindowWidth) / 2;
  const int top = (GetSystemMetrics(SM_CYSCREEN) - WindowHeight) / 2;
  mainWindow =
      CreateWindowExW(WS_EX_CONTROLPARENT, L"PelvaroMainWindow", ToWide("PelvaroV2.0").c_str(),
                      WS_OVERLAPPED | WS_CAPTION | WS_SYSMENU | WS_CLIPCHILDREN, left, top,
                      NarrowWindowWidth, WindowHeight, nullptr, nullptr, instance, nullptr);
  if (mainWindow == nullptr || !CreateControls(instance)) return false;
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
