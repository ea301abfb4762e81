// Control operations on MainWindow: the seam between the commands and the search job on one side
// and the toolkit on the other. Each operation acts on the live control and takes effect on the
// user-interface thread; called from a worker, the worker waits until it has. Message boxes are
// the exception: a box belongs to the thread that shows it.
#pragma once

#include "text/text_value.h"

#include <array>

// The controls, by their layout names.
enum class ControlId {
  透明标签1,      // label "名称："
  编辑框1,        // keyword box
  按钮1,          // "搜搜搜"
  超级列表框1,    // result table
  按钮3,          // "上一页"
  透明标签2,      // page number
  按钮2,          // "下一页"
  选择框1,        // "是否删除当前页"
  按钮4,          // "刷新"
  按钮5,          // "支持作者"
  超文本浏览框1,  // browser panel
};

// The items of the popup menu "右键菜单".
enum class MenuChoice { None, 打开链接, 复制链接 };

// One table row: the texts of the columns "名称", "大小", "共享者", "地址".
using TableRow = std::array<AnsiText, 4>;

AnsiText KeywordBoxText();
void SetLabelText(ControlId label, const AnsiText& text);
void SetButtonEnabled(ControlId button, bool enabled);
bool IsChecked(ControlId checkBox);
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

// Shows the items of "右键菜单" at the mouse pointer and returns, once the menu has closed, the
// item chosen.
MenuChoice ShowPopupMenuAtPointer();

// A box with one OK button, no icon and no owner window, task-modal for the calling thread; returns
// when it is closed.
void ShowMessageBox(const AnsiText& text, const AnsiText& title);

void CopyToClipboard(const AnsiText& text);
