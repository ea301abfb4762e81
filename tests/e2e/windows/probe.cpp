// Reads and drives Pelvaro's window from outside its process, in the same Wine prefix, for the
// end-to-end test (windows_test.py). Every text is written as UTF-8, one item a line:
//   probe state              the window, each control (and its font's height), the control that
//                            holds the keyboard focus, the table's columns and cells, and the
//                            message boxes the program shows
//   probe settext ID TEXT    sets a control's text
//   probe click ID           clicks a button (posted: a click that opens a box does not block)
//   probe newwindow          raises the browser panel's new-window event (the test build's hook)
//   probe dpichanged DPI     tells the window it has moved to a monitor of DPI (the test build's
//                            hook: Wine has one DPI for every monitor)
//   probe key tab|shifttab   brings the window to the front and types Tab or Shift+Tab
//   probe setdpi DPI         sets the DPI of the programs started afterwards (Wine reads it from
//                            HKCU\Control Panel\Desktop LogPixels); needs no window
//   probe closebox           presses OK in each message box of the program
//   probe close              closes the window
// Exits 1 when the window is not there.
#include <windows.h>

#include <shellapi.h>

#include <commctrl.h>  // after windows.h, on which it builds

#include <cstdio>
#include <string>
#include <vector>

namespace {

std::string Utf8(const std::wstring& text) {
  if (text.empty()) return {};
  const int size = WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()),
                                       nullptr, 0, nullptr, nullptr);
  std::string bytes(static_cast<std::size_t>(size), '\0');
  WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), bytes.data(), size,
                      nullptr, nullptr);
  return bytes;
}

// A message sent to the program, given up after five seconds when it does not answer (it may be
// starting, or busy), so that the probe never hangs.
LRESULT Ask(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  DWORD_PTR result = 0;
  SendMessageTimeoutW(window, message, wParam, lParam, SMTO_ABORTIFHUNG, 5000, &result);
  return static_cast<LRESULT>(result);
}

// WM_GETTEXT, which is carried across processes: GetWindowTextW would give another process's
// controls their creation text, not what the user typed.
std::wstring WindowText(HWND window) {
  std::wstring text(static_cast<std::size_t>(Ask(window, WM_GETTEXTLENGTH, 0, 0)) + 1, L'\0');
  text.resize(static_cast<std::size_t>(
      Ask(window, WM_GETTEXT, text.size(), reinterpret_cast<LPARAM>(text.data()))));
  return text;
}

std::wstring ClassName(HWND window) {
  wchar_t name[64];
  return std::wstring(name, static_cast<std::size_t>(GetClassNameW(window, name, 64)));
}

void Print(const std::string& line) {
  std::fwrite(line.data(), 1, line.size(), stdout);
  std::fputc('\n', stdout);
}

// Memory in the program's process: a list view message's structure and its text buffer must lie
// there, where the control reads and writes them.
struct Remote {
  HANDLE process;
  void* memory;
  Remote(HANDLE p, std::size_t size)
      : process(p), memory(VirtualAllocEx(p, nullptr, size, MEM_COMMIT, PAGE_READWRITE)) {}
  ~Remote() { VirtualFreeEx(process, memory, 0, MEM_RELEASE); }
  auto Address(std::size_t offset) const { return static_cast<char*>(memory) + offset; }
};

constexpr int TextCapacity = 4096;  // characters

// A cell's text, or a column's header (column >= 0 and row -1).
std::wstring RemoteText(HWND table, const Remote& remote, int row, int column) {
  const auto text =
      remote.Address(sizeof(LVITEMW) > sizeof(LVCOLUMNW) ? sizeof(LVITEMW) : sizeof(LVCOLUMNW));
  if (row >= 0) {
    LVITEMW item{};
    item.iSubItem = column;
    item.pszText = reinterpret_cast<wchar_t*>(text);
    item.cchTextMax = TextCapacity;
    WriteProcessMemory(remote.process, remote.memory, &item, sizeof item, nullptr);
    Ask(table, LVM_GETITEMTEXTW, static_cast<WPARAM>(row), reinterpret_cast<LPARAM>(remote.memory));
  } else {
    LVCOLUMNW header{};
    header.mask = LVCF_TEXT;
    header.pszText = reinterpret_cast<wchar_t*>(text);
    header.cchTextMax = TextCapacity;
    WriteProcessMemory(remote.process, remote.memory, &header, sizeof header, nullptr);
    if (!Ask(table, LVM_GETCOLUMNW, static_cast<WPARAM>(column),
             reinterpret_cast<LPARAM>(remote.memory))) {
      return {};
    }
  }
  std::vector<wchar_t> local(TextCapacity + 1, L'\0');
  ReadProcessMemory(remote.process, text, local.data(), TextCapacity * sizeof(wchar_t), nullptr);
  return local.data();
}

void PrintTable(HWND table) {
  DWORD processId = 0;
  GetWindowThreadProcessId(table, &processId);
  const HANDLE process =
      OpenProcess(PROCESS_VM_OPERATION | PROCESS_VM_READ | PROCESS_VM_WRITE, FALSE, processId);
  if (process == nullptr) return;
  {
    const Remote remote(process, 512 + (TextCapacity + 1) * sizeof(wchar_t));
    const HWND header = reinterpret_cast<HWND>(Ask(table, LVM_GETHEADER, 0, 0));
    const int columns = static_cast<int>(Ask(header, HDM_GETITEMCOUNT, 0, 0));
    for (int column = 0; column < columns; ++column) {
      Print("column " + std::to_string(column) + " " +
            std::to_string(Ask(table, LVM_GETCOLUMNWIDTH, column, 0)) + " " +
            Utf8(RemoteText(table, remote, -1, column)));
    }
    const int rows = static_cast<int>(Ask(table, LVM_GETITEMCOUNT, 0, 0));
    Print("rows " + std::to_string(rows));
    for (int row = 0; row < rows; ++row) {
      std::string line = "row";
      for (int column = 0; column < columns; ++column)
        line += "\t" + Utf8(RemoteText(table, remote, row, column));
      Print(line);
    }
  }
  CloseHandle(process);
}

struct BoxSearch {
  DWORD processId = 0;
  std::vector<HWND> found;
};

BOOL CALLBACK CollectBox(HWND candidate, LPARAM data) {
  auto& search = *reinterpret_cast<BoxSearch*>(data);
  DWORD processId = 0;
  GetWindowThreadProcessId(candidate, &processId);
  if (processId == search.processId && IsWindowVisible(candidate) &&
      ClassName(candidate) == L"#32770") {
    search.found.push_back(candidate);
  }
  return TRUE;
}

// The message boxes of the program: dialog windows of its process.
std::vector<HWND> Boxes(HWND window) {
  BoxSearch search;
  GetWindowThreadProcessId(window, &search.processId);
  EnumWindows(CollectBox, reinterpret_cast<LPARAM>(&search));
  return search.found;
}

// The window's control (a direct child) that holds the focus or holds the window that does; 0 for
// none, such as when the focus is on the window itself.
int FocusedControl(HWND window) {
  GUITHREADINFO info{};
  info.cbSize = sizeof info;
  if (!GetGUIThreadInfo(GetWindowThreadProcessId(window, nullptr), &info)) return 0;
  HWND focus = info.hwndFocus;
  while (focus != nullptr && GetParent(focus) != window)
    focus = GetParent(focus);
  return focus != nullptr ? GetDlgCtrlID(focus) : 0;
}

void TypeKey(HWND window, bool shift) {
  SetForegroundWindow(window);
  std::vector<INPUT> keys;
  const auto key = [&](WORD code, bool up) {
    INPUT input{};
    input.type = INPUT_KEYBOARD;
    input.ki.wVk = code;
    input.ki.dwFlags = up ? KEYEVENTF_KEYUP : 0;
    keys.push_back(input);
  };
  if (shift) key(VK_SHIFT, false);
  key(VK_TAB, false);
  key(VK_TAB, true);
  if (shift) key(VK_SHIFT, true);
  SendInput(static_cast<UINT>(keys.size()), keys.data(), sizeof(INPUT));
}

void PrintState(HWND window) {
  RECT outer{};
  RECT client{};
  GetWindowRect(window, &outer);
  GetClientRect(window, &client);
  Print("window " + std::to_string(outer.left) + " " + std::to_string(outer.top) + " " +
        std::to_string(outer.right - outer.left) + " " + std::to_string(outer.bottom - outer.top) +
        " client " + std::to_string(client.right) + " " + std::to_string(client.bottom) + " " +
        Utf8(WindowText(window)));
  Print("screen " + std::to_string(GetSystemMetrics(SM_CXSCREEN)) + " " +
        std::to_string(GetSystemMetrics(SM_CYSCREEN)));
  for (HWND control = GetWindow(window, GW_CHILD); control != nullptr;
       control = GetWindow(control, GW_HWNDNEXT)) {
    RECT rect{};
    GetWindowRect(control, &rect);
    MapWindowPoints(nullptr, window, reinterpret_cast<POINT*>(&rect), 2);
    const std::wstring kind = ClassName(control);
    const LRESULT checked = kind == L"Button" ? Ask(control, BM_GETCHECK, 0, 0) : 0;
    Print("control " + std::to_string(GetDlgCtrlID(control)) + " " + Utf8(kind) + " " +
          std::to_string(rect.left) + " " + std::to_string(rect.top) + " " +
          std::to_string(rect.right - rect.left) + " " + std::to_string(rect.bottom - rect.top) +
          " " + (IsWindowEnabled(control) ? "enabled" : "disabled") + " " +
          (IsWindowVisible(control) ? "visible" : "hidden") + " " +
          (checked == BST_CHECKED ? "checked" : "unchecked") + " " + Utf8(WindowText(control)));
    if (kind == WC_LISTVIEWW) PrintTable(control);
  }
  // The test build answers with a control's font height; the program as shipped with 0.
  const UINT fontHeight = RegisterWindowMessageW(L"PelvaroE2E.FontHeight");
  for (HWND control = GetWindow(window, GW_CHILD); control != nullptr;
       control = GetWindow(control, GW_HWNDNEXT)) {
    const int id = GetDlgCtrlID(control);
    Print("font " + std::to_string(id) + " " +
          std::to_string(static_cast<int>(Ask(window, fontHeight, static_cast<WPARAM>(id), 0))));
  }
  Print("focus " + std::to_string(FocusedControl(window)));
  for (HWND box : Boxes(window)) {
    std::wstring text;
    for (HWND part = GetWindow(box, GW_CHILD); part != nullptr;
         part = GetWindow(part, GW_HWNDNEXT)) {
      if (ClassName(part) == L"Static") text += WindowText(part);
    }
    Print("box " + Utf8(WindowText(box)) + "\t" + Utf8(text));
  }
}

}  // namespace

int main() {
  // The wide command line: the narrow one is in the prefix's code page.
  int argc = 0;
  wchar_t** argv = CommandLineToArgvW(GetCommandLineW(), &argc);
  if (argc == 3 && std::wstring(argv[1]) == L"setdpi") {
    const DWORD dpi = static_cast<DWORD>(_wtoi(argv[2]));
    return RegSetKeyValueW(HKEY_CURRENT_USER, L"Control Panel\\Desktop", L"LogPixels", REG_DWORD,
                           &dpi, sizeof dpi) == ERROR_SUCCESS
               ? 0
               : 1;
  }
  const HWND window = FindWindowW(L"PelvaroMainWindow", nullptr);
  if (window == nullptr || argc < 2) return 1;
  const std::wstring command = argv[1];
  const auto control = [&](int index) { return GetDlgItem(window, _wtoi(argv[index])); };
  if (command == L"state") {
    PrintState(window);
  } else if (command == L"settext" && argc == 4) {
    Ask(control(2), WM_SETTEXT, 0, reinterpret_cast<LPARAM>(argv[3]));
  } else if (command == L"click" && argc == 3) {
    PostMessageW(control(2), BM_CLICK, 0, 0);
  } else if (command == L"newwindow") {
    Ask(window, RegisterWindowMessageW(L"PelvaroE2E.FireNewWindow"), 0, 0);
  } else if (command == L"dpichanged" && argc == 3) {
    Ask(window, RegisterWindowMessageW(L"PelvaroE2E.DpiChanged"), _wtoi(argv[2]), 0);
  } else if (command == L"key" && argc == 3) {
    TypeKey(window, std::wstring(argv[2]) == L"shifttab");
  } else if (command == L"closebox") {
    for (HWND box : Boxes(window))
      PostMessageW(box, WM_COMMAND, IDOK, 0);
  } else if (command == L"close") {
    PostMessageW(window, WM_CLOSE, 0, 0);
  } else {
    return 2;
  }
  std::fflush(stdout);
  return 0;
}
