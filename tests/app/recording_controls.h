// A recording stand-in for MainWindow's control operations (platform/controls.h), so the commands
// and the search job run without a display. It holds the state the operations read and write (table
// rows, label texts, button states, the check box, the window width) and logs every call in the
// order it was made. Message boxes are logged and return at once. Thread-safe: workers call the
// operations while a test waits for their effects.
#pragma once

#include "platform/controls.h"

#include <cstddef>
#include <ostream>
#include <vector>

namespace recording {

enum class Op {
  KeywordBoxText,
  SetLabelText,
  SetButtonEnabled,
  IsChecked,
  SetWindowWidth,
  DeleteAllRows,
  AppendRow,
  RowCount,
  FirstSelectedRow,
  CellText,
  ShowPopupMenu,
  ShowMessageBox,
  CopyToClipboard,
};

// One call as it was made; only the fields that belong to the operation are set.
struct Operation {
  Op op;
  Control control = Control::ResultTable;
  AnsiText text = {};   // label text, a row's column 0, a message box's text, the copied text
  AnsiText title = {};  // a message box's title
  int number = 0;       // the window width, or the row asked for
  bool flag = false;    // the enabled flag
  bool operator==(const Operation&) const = default;
};

struct MessageBoxCall {
  AnsiText text;
  AnsiText title;
  bool operator==(const MessageBoxCall&) const = default;
};

// MainWindow as it stands right after start: 按钮1 disabled and every other button enabled, label
// "1", empty keyword box and table, check box clear, width 540, no selection, the popup menu
// closed without a choice. Also empties the log, the boxes and the clipboard and opens the gate.
void ResetWindow();

// What the user has done to the window before a command runs.
void TypeKeyword(const AnsiText& text);
void SetCheckBox(bool checked);
void SetRows(const std::vector<TableRow>& rows);  // not logged
void SelectRows(const std::vector<int>& rows);    // empty: no row selected
// What ShowPopupMenuAtPointer returns; with emptyTable, a job empties the table while the menu is
// open.
void ScriptPopupChoice(MenuChoice choice, bool emptyTable = false);

// What the operations did.
std::vector<Operation> Operations();
std::vector<Op> OperationKinds();
std::vector<TableRow> Rows();
AnsiText LabelText(Control label);
bool ButtonEnabled(Control button);
int WindowWidth();
std::vector<MessageBoxCall> MessageBoxes();
std::vector<AnsiText> CopiedTexts();

// Wait until at least count message boxes have been shown, or count rows stand in the table.
// False when the timeout passes first.
bool WaitForMessageBoxes(std::size_t count, int timeoutMs = 10000);
bool WaitForRows(std::size_t count, int timeoutMs = 10000);

// A gate on reading 选择框1: while closed, a worker that reads the check box waits there, after it
// has set the label and the button and before it sends its request. Lets a test change the shared
// state while a job is under way. WaitForHeldReaders waits until count workers wait at the gate.
void CloseCheckBoxGate();
void OpenCheckBoxGate();
bool WaitForHeldReaders(std::size_t count, int timeoutMs = 10000);

// Readable failure messages; texts print as their code page 936 bytes.
const char* OpName(Op op);
void PrintTo(Op op, std::ostream* out);
void PrintTo(const Operation& op, std::ostream* out);
void PrintTo(const MessageBoxCall& box, std::ostream* out);

}  // namespace recording
