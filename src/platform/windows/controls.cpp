// The control operations on Win32. Each runs on the user-interface thread (RunOnUiThread), so a
// worker waits until its operation has taken effect.
#include "platform/controls.h"

#include "platform/windows/main_window_win32.h"
#include "platform/windows/wide_text.h"

#include <commctrl.h>
#include <windows.h>

#include <cstring>
#include <string>

namespace {

HWND Table() {
  return ControlHandle(Control::ResultTable);
}

void SetCell(HWND table, int row, int column, const AnsiText& text) {
  std::wstring wide = ToWide(text);
  LVITEMW item{};
  item.iSubItem = column;
  item.pszText = wide.data();
  SendMessageW(table, LVM_SETITEMTEXTW, static_cast<WPARAM>(row), reinterpret_cast<LPARAM>(&item));
}

}  // namespace

AnsiText KeywordBoxText() {
  AnsiText text;
  RunOnUiThread([&] {
    const HWND box = ControlHandle(Control::KeywordBox);
    std::wstring wide(static_cast<std::size_t>(GetWindowTextLengthW(box)) + 1, L'\0');
    wide.resize(
        static_cast<std::size_t>(GetWindowTextW(box, wide.data(), static_cast<int>(wide.size()))));
    text = FromWide(wide);
  });
  return text;
}

void SetLabelText(Control label, const AnsiText& text) {
  RunOnUiThread([&] { SetWindowTextW(ControlHandle(label), ToWide(text).c_str()); });
}

void SetButtonEnabled(Control button, bool enabled) {
  RunOnUiThread([&] { EnableWindow(ControlHandle(button), enabled ? TRUE : FALSE); });
}

bool IsChecked(Control checkBox) {
  bool checked = false;
  RunOnUiThread(
      [&] { checked = SendMessageW(ControlHandle(checkBox), BM_GETCHECK, 0, 0) == BST_CHECKED; });
  return checked;
}

// The width comes at 96 DPI, as in the layout; the window scales it to its monitor's DPI.
void SetWindowWidth(int outerWidth) {
  RunOnUiThread([&] { SetOuterWidth(outerWidth); });
}

void DeleteAllRows() {
  RunOnUiThread([] { SendMessageW(Table(), LVM_DELETEALLITEMS, 0, 0); });
}

void AppendRow(const TableRow& row) {
  RunOnUiThread([&] {
    const HWND table = Table();
    std::wstring name = ToWide(row[0]);
    LVITEMW item{};
    item.mask = LVIF_TEXT;
    item.iItem = static_cast<int>(SendMessageW(table, LVM_GETITEMCOUNT, 0, 0));
    item.pszText = name.data();
    const int index =
        static_cast<int>(SendMessageW(table, LVM_INSERTITEMW, 0, reinterpret_cast<LPARAM>(&item)));
    if (index < 0) return;
    for (int column = 1; column < static_cast<int>(row.size()); ++column) {
      SetCell(table, index, column, row[static_cast<std::size_t>(column)]);
    }
  });
}

int RowCount() {
  int count = 0;
  RunOnUiThread([&] { count = static_cast<int>(SendMessageW(Table(), LVM_GETITEMCOUNT, 0, 0)); });
  return count;
}

int FirstSelectedRow() {
  int row = -1;
  RunOnUiThread([&] {
    row = static_cast<int>(
        SendMessageW(Table(), LVM_GETNEXTITEM, static_cast<WPARAM>(-1), LVNI_SELECTED));
  });
  return row;
}

AnsiText CellText(int row, int column) {
  AnsiText text;
  RunOnUiThread([&] {
    const HWND table = Table();
    if (row < 0 || row >= static_cast<int>(SendMessageW(table, LVM_GETITEMCOUNT, 0, 0))) return;
    // The list view copies at most the buffer's size: grow it until the whole text fits.
    std::wstring wide(256, L'\0');
    for (;;) {
      LVITEMW item{};
      item.iSubItem = column;
      item.pszText = wide.data();
      item.cchTextMax = static_cast<int>(wide.size());
      const auto length = static_cast<std::size_t>(SendMessageW(
          table, LVM_GETITEMTEXTW, static_cast<WPARAM>(row), reinterpret_cast<LPARAM>(&item)));
      if (length + 1 < wide.size()) {
        wide.resize(length);
        break;
      }
      wide.resize(wide.size() * 2);
    }
    text = FromWide(wide);
  });
  return text;
}

MenuChoice ShowPopupMenuAtPointer() {
  MenuChoice choice = MenuChoice::None;
  RunOnUiThread([&] {
    const HWND window = MainWindowHandle();
    POINT pointer;
    if (!GetCursorPos(&pointer)) return;
    // The menu closes on a click elsewhere only while its owner is the foreground window.
    SetForegroundWindow(window);
    const UINT item = static_cast<UINT>(TrackPopupMenu(
        PopupMenuHandle(),
        TPM_LEFTALIGN | TPM_TOPALIGN | TPM_RIGHTBUTTON | TPM_RETURNCMD | TPM_NONOTIFY, pointer.x,
        pointer.y, 0, window, nullptr));
    PostMessageW(window, WM_NULL, 0, 0);
    choice = MenuItemChoice(item);
  });
  return choice;
}

// A box of the calling thread, not of the window's: from a worker it leaves the window usable.
void ShowMessageBox(const AnsiText& text, const AnsiText& title) {
  MessageBoxW(nullptr, ToWide(text).c_str(), ToWide(title).c_str(), MB_OK | MB_TASKMODAL);
}

void CopyToClipboard(const AnsiText& text) {
  RunOnUiThread([&] {
    const std::wstring wide = ToWide(text);
    const SIZE_T bytes = (wide.size() + 1) * sizeof(wchar_t);
    const HGLOBAL memory = GlobalAlloc(GMEM_MOVEABLE, bytes);
    if (memory == nullptr) return;
    void* target = GlobalLock(memory);
    if (target != nullptr) {
      std::memcpy(target, wide.c_str(), bytes);
      GlobalUnlock(memory);
    }
    if (target == nullptr || !OpenClipboard(MainWindowHandle())) {
      GlobalFree(memory);
      return;
    }
    EmptyClipboard();
    if (SetClipboardData(CF_UNICODETEXT, memory) == nullptr) GlobalFree(memory);
    CloseClipboard();
  });
}
