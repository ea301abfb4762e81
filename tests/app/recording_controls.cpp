#include "recording_controls.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <condition_variable>
#include <map>
#include <mutex>

namespace recording {
namespace {

struct Window {
  std::mutex mutex;
  std::condition_variable changed;
  std::vector<Operation> log;
  AnsiText keyword;
  std::map<Control, AnsiText> labels;
  std::map<Control, bool> enabled;
  bool checked = false;
  int width = 540;
  std::vector<TableRow> rows;
  std::vector<int> selected;  // ascending
  MenuChoice popupChoice = MenuChoice::None;
  bool popupEmptiesTable = false;
  std::vector<MessageBoxCall> boxes;
  std::vector<AnsiText> copied;
  bool gateClosed = false;
  std::size_t heldReaders = 0;
};

Window& TheWindow() {
  static Window window;
  return window;
}

// Runs change on the window under its lock, logs op and wakes every waiter.
template <typename Change>
auto Record(Operation op, Change change) {
  Window& w = TheWindow();
  std::lock_guard lock(w.mutex);
  w.log.push_back(std::move(op));
  w.changed.notify_all();
  return change(w);
}

template <typename Condition>
bool WaitUntil(int timeoutMs, Condition condition) {
  Window& w = TheWindow();
  std::unique_lock lock(w.mutex);
  return w.changed.wait_for(lock, std::chrono::milliseconds(timeoutMs),
                            [&] { return condition(w); });
}

template <typename Use>
auto Access(Use use) {
  Window& w = TheWindow();
  std::lock_guard lock(w.mutex);
  return use(w);
}

}  // namespace

void ResetWindow() {
  Window& w = TheWindow();
  std::lock_guard lock(w.mutex);
  w.log.clear();
  w.keyword.clear();
  w.labels = {{Control::NameLabel, "名称："}, {Control::PageLabel, "1"}};
  w.enabled = {{Control::SearchButton, false},
               {Control::NextPageButton, true},
               {Control::PreviousPageButton, true},
               {Control::RefreshButton, true},
               {Control::SupportButton, true}};
  w.checked = false;
  w.width = 540;
  w.rows.clear();
  w.selected.clear();
  w.popupChoice = MenuChoice::None;
  w.popupEmptiesTable = false;
  w.boxes.clear();
  w.copied.clear();
  w.gateClosed = false;
  w.changed.notify_all();
}

void TypeKeyword(const AnsiText& text) {
  Access([&](Window& w) { w.keyword = text; });
}

void SetCheckBox(bool checked) {
  Access([&](Window& w) { w.checked = checked; });
}

void SetRows(const std::vector<TableRow>& rows) {
  Access([&](Window& w) { w.rows = rows; });
}

void SelectRows(const std::vector<int>& rows) {
  Access([&](Window& w) {
    w.selected = rows;
    std::ranges::sort(w.selected);
  });
}

void ScriptPopupChoice(MenuChoice choice, bool emptyTable) {
  Access([&](Window& w) {
    w.popupChoice = choice;
    w.popupEmptiesTable = emptyTable;
  });
}

std::vector<Operation> Operations() {
  return Access([](Window& w) { return w.log; });
}

std::vector<Op> OperationKinds() {
  return Access([](Window& w) {
    std::vector<Op> kinds;
    for (const Operation& op : w.log)
      kinds.push_back(op.op);
    return kinds;
  });
}

std::vector<TableRow> Rows() {
  return Access([](Window& w) { return w.rows; });
}

AnsiText LabelText(Control label) {
  return Access([&](Window& w) { return w.labels[label]; });
}

bool ButtonEnabled(Control button) {
  return Access([&](Window& w) { return w.enabled[button]; });
}

int WindowWidth() {
  return Access([](Window& w) { return w.width; });
}

std::vector<MessageBoxCall> MessageBoxes() {
  return Access([](Window& w) { return w.boxes; });
}

std::vector<AnsiText> CopiedTexts() {
  return Access([](Window& w) { return w.copied; });
}

bool WaitForMessageBoxes(std::size_t count, int timeoutMs) {
  return WaitUntil(timeoutMs, [&](Window& w) { return w.boxes.size() >= count; });
}

bool WaitForRows(std::size_t count, int timeoutMs) {
  return WaitUntil(timeoutMs, [&](Window& w) { return w.rows.size() >= count; });
}

void CloseCheckBoxGate() {
  Access([](Window& w) { w.gateClosed = true; });
}

void OpenCheckBoxGate() {
  Access([](Window& w) {
    w.gateClosed = false;
    w.changed.notify_all();
  });
}

bool WaitForHeldReaders(std::size_t count, int timeoutMs) {
  return WaitUntil(timeoutMs, [&](Window& w) { return w.heldReaders >= count; });
}

const char* OpName(Op op) {
  switch (op) {
    case Op::KeywordBoxText:
      return "KeywordBoxText";
    case Op::SetLabelText:
      return "SetLabelText";
    case Op::SetButtonEnabled:
      return "SetButtonEnabled";
    case Op::IsChecked:
      return "IsChecked";
    case Op::SetWindowWidth:
      return "SetWindowWidth";
    case Op::DeleteAllRows:
      return "DeleteAllRows";
    case Op::AppendRow:
      return "AppendRow";
    case Op::RowCount:
      return "RowCount";
    case Op::FirstSelectedRow:
      return "FirstSelectedRow";
    case Op::CellText:
      return "CellText";
    case Op::ShowPopupMenu:
      return "ShowPopupMenu";
    case Op::ShowMessageBox:
      return "ShowMessageBox";
    case Op::CopyToClipboard:
      return "CopyToClipboard";
  }
  return "?";
}

void PrintTo(Op op, std::ostream* out) {
  *out << OpName(op);
}

void PrintTo(const Operation& op, std::ostream* out) {
  *out << OpName(op.op) << "(control " << static_cast<int>(op.control) << ", "
       << testing::PrintToString(op.text) << ", " << testing::PrintToString(op.title) << ", "
       << op.number << ", " << op.flag << ")";
}

void PrintTo(const MessageBoxCall& box, std::ostream* out) {
  *out << "box " << testing::PrintToString(box.text) << " titled "
       << testing::PrintToString(box.title);
}

}  // namespace recording

// The control operations, as the commands and the search job call them.
using recording::Op;
using recording::Operation;
using recording::Record;
using recording::Window;

AnsiText KeywordBoxText() {
  return Record({.op = Op::KeywordBoxText, .control = Control::KeywordBox},
                [](Window& w) { return w.keyword; });
}

void SetLabelText(Control label, const AnsiText& text) {
  Record({.op = Op::SetLabelText, .control = label, .text = text},
         [&](Window& w) { w.labels[label] = text; });
}

void SetButtonEnabled(Control button, bool enabled) {
  Record({.op = Op::SetButtonEnabled, .control = button, .flag = enabled},
         [&](Window& w) { w.enabled[button] = enabled; });
}

bool IsChecked(Control checkBox) {
  recording::Window& w = recording::TheWindow();
  std::unique_lock lock(w.mutex);
  w.log.push_back({.op = Op::IsChecked, .control = checkBox});
  ++w.heldReaders;
  w.changed.notify_all();
  w.changed.wait(lock, [&] { return !w.gateClosed; });
  --w.heldReaders;
  return w.checked;
}

void SetWindowWidth(int outerWidth) {
  Record({.op = Op::SetWindowWidth, .number = outerWidth},
         [&](Window& w) { w.width = outerWidth; });
}

void DeleteAllRows() {
  Record({.op = Op::DeleteAllRows}, [](Window& w) {
    w.rows.clear();
    w.selected.clear();
  });
}

void AppendRow(const TableRow& row) {
  Record({.op = Op::AppendRow, .text = row[0]}, [&](Window& w) { w.rows.push_back(row); });
}

int RowCount() {
  return Record({.op = Op::RowCount}, [](Window& w) { return static_cast<int>(w.rows.size()); });
}

int FirstSelectedRow() {
  return Record({.op = Op::FirstSelectedRow},
                [](Window& w) { return w.selected.empty() ? -1 : w.selected.front(); });
}

AnsiText CellText(int row, int column) {
  return Record({.op = Op::CellText, .number = row}, [&](Window& w) -> AnsiText {
    if (row < 0 || row >= static_cast<int>(w.rows.size()) || column < 0 || column > 3) return {};
    return w.rows[row][column];
  });
}

MenuChoice ShowPopupMenuAtPointer() {
  return Record({.op = Op::ShowPopupMenu}, [](Window& w) {
    if (w.popupEmptiesTable) {
      w.rows.clear();
      w.selected.clear();
    }
    return w.popupChoice;
  });
}

void ShowMessageBox(const AnsiText& text, const AnsiText& title) {
  Record({.op = Op::ShowMessageBox, .text = text, .title = title}, [&](Window& w) {
    w.boxes.push_back({text, title});
  });
}

void CopyToClipboard(const AnsiText& text) {
  Record({.op = Op::CopyToClipboard, .text = text}, [&](Window& w) { w.copied.push_back(text); });
}
