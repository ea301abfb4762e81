// The shape of MainWindow's description: window sizes, each control's kind, caption and rectangle,
// the table's columns and the popup menu. Both platforms lay the window out from one such table;
// the program's own is MainWindowLayout (app/window_layout.h). Texts are code page 936 bytes.
#pragma once

#include <array>
#include <cstddef>

// The controls by role, in layout order, which is also the Tab order.
enum class Control {
  NameLabel,           // "名称：" before the keyword box
  KeywordBox,          //
  SearchButton,        // "搜搜搜"
  ResultTable,         //
  PreviousPageButton,  // "上一页"
  PageLabel,           // the page number
  NextPageButton,      // "下一页"
  ClearCheckBox,       // "是否删除当前页"
  RefreshButton,       // "刷新"
  SupportButton,       // "支持作者": widens the window so that the browser panel shows
  BrowserPanel,        //
};
inline constexpr std::size_t ControlCount = 11;

enum class ControlKind { Label, EditBox, PushButton, CheckBox, Table, BrowserPanel };

enum class TextAlign { Left, Center };

// Client coordinates in pixels at 96 DPI.
struct Rect {
  int left, top, width, height;
};

struct ControlLayout {
  Control control;
  ControlKind kind;
  // The control's name in the layout; assistive tools and the end-to-end tests find it by this.
  const char* layoutName;
  const char* caption;
  Rect rect;
  bool enabled;                       // at start
  TextAlign align = TextAlign::Left;  // a label's text, horizontally
};

struct ColumnLayout {
  const char* header;
  int width;
};
inline constexpr std::size_t ColumnCount = 4;
inline constexpr int LinkColumn = 3;  // "地址": the column every link command reads

// The items of the popup menu.
enum class MenuChoice { None, OpenLink, CopyLink };

struct MenuItemLayout {
  const char* caption;
  MenuChoice choice;
};

// A font by the values a Windows LOGFONT gives it.
struct FontLayout {
  const char* face;
  int height;  // logical height in pixels at 96 DPI; negative: the character height
  int weight;
  int charset;
};

struct WindowLayout {
  const char* title;
  int narrowWidth;  // outer width at start: the browser panel lies beyond the client area
  int wideWidth;    // outer width that shows the browser panel whole
  int height;       // outer height, frame and caption included
  std::array<ControlLayout, ControlCount> controls;  // indexed by Control
  std::array<ColumnLayout, ColumnCount> columns;
  const char* menuName;  // the hidden top-level menu entry whose items pop up
  std::array<MenuItemLayout, 2> menuItems;
  FontLayout pageFont;  // PageLabel's own font; every other control has the default GUI font
  // The font and the pixel sizes above are those of a display of this many dots per inch.
  static constexpr int Dpi = 96;

  constexpr const ControlLayout& operator[](Control control) const {
    return controls[static_cast<std::size_t>(control)];
  }
};
