// Control operations on MainWindow: the seam between the commands and the search job on one side
// and the toolkit on the other. Each operation acts on the live control and takes effect on the
// user-interface thread; called from a worker, the worker waits until it has. Message boxes are
// the exception: a box belongs to the thread that shows it.
#pragma once

#include "platform/window_layout.h"
#include "text/text_value.h"

#include <array>

// One table row: the texts of the columns "名称", "大小", "共享者", "地址".
using TableRow = std::array<AnsiText, ColumnCount>;

AnsiText KeywordBoxText();
void SetLabelText(Control label, const AnsiText& text);
void SetButtonEnabled(Control button, bool enabled);
bool IsChecked(Control checkBox);
// New outer width; left edge, top edge and height stay, and the window is not activated.
void SetWindowWidth(int outerWidth);

void DeleteAllRows();
// Appends the whole row at once, so a row is never split between two jobs.
void AppendRow(const TableRow& row);
int RowCount();
// 0-based index of the lowest selected row; -1 when none is selected.
int FirstSelectedRow();
// The whole text of a cell; empty when the cell is empty or the row does not exist.
AnsiText CellText(int row, int column);

// Shows the items of the popup menu at the mouse pointer and returns, once the menu has closed, the
// item chosen.
MenuChoice ShowPopupMenuAtPointer();

// A box with one OK button, no icon and no owner window, task-modal for the calling thread; returns
// when it is closed.
void ShowMessageBox(const AnsiText& text, const AnsiText& title);

void CopyToClipboard(const AnsiText& text);
