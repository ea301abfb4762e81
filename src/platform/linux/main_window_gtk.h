// MainWindow's widgets, shared by the window (main_window.cpp) and its control operations
// (controls.cpp). Everything here belongs to the user-interface thread.
#pragma once

#include "platform/controls.h"
#include "platform/main_window.h"

#include <gtk/gtk.h>

#include <array>
#include <string_view>

// The table's model holds each column twice: the UTF-8 text it shows and the code page 936 text
// the job gave, so that a cell reads back byte for byte even where the code page has no character.
inline constexpr int TableColumnCount = static_cast<int>(ColumnCount);
inline constexpr int RawColumn(int column) {
  return TableColumnCount + column;
}

class MainWindow {
 public:
  // The window of this process; null before it has been created and once it is gone.
  static MainWindow* Live();

  GtkWidget* Widget(Control control) const { return controls_[static_cast<std::size_t>(control)]; }
  GtkWindow* Window() const { return window_; }
  GtkTreeView* Table() const { return GTK_TREE_VIEW(Widget(Control::ResultTable)); }
  GtkListStore* Rows() const { return rows_; }
  const WindowLayout& Layout() const { return layout_; }
  const WindowHandlers& Handlers() const { return handlers_; }

  // Changes the client area the way a new outer width changes a fixed dialog frame's; the left
  // edge, the top edge and the height stay.
  void SetOuterWidth(int outerWidth);

  // Shows the popup menu at the pointer and returns once it has closed, with the item chosen.
  MenuChoice PopupMenu();

 private:
  friend bool CreateMainWindow(const WindowLayout&, WindowHandlers, std::string_view);
  MainWindow(const WindowLayout& layout, WindowHandlers handlers)
      : layout_(layout), handlers_(std::move(handlers)) {}
  bool Build();
  GtkWidget* BuildControl(const ControlLayout& control);
  GtkWidget* BuildTable();
  GtkWidget* BuildPanel();
  void BuildMenu();

  static void Destroyed(GtkWidget*, gpointer self);
  static void PlaceControls(GtkWidget*, GdkRectangle*, gpointer self);
  static gboolean KeyPressed(GtkWidget*, GdkEventKey* event, gpointer self);
  static gboolean MoveFocus(GtkWidget* layout, GtkDirectionType direction, gpointer self);
  static gboolean TableButton(GtkWidget*, GdkEventButton* event, gpointer self);
  static void MenuItemActivated(GtkMenuItem* item, gpointer self);
  static void MenuClosed(GtkMenuShell*, gpointer self);

  const WindowLayout& layout_;
  const WindowHandlers handlers_;
  GtkWindow* window_ = nullptr;
  GtkWidget* client_ = nullptr;  // the client area, a GtkLayout
  GtkListStore* rows_ = nullptr;
  GtkMenu* menu_ = nullptr;
  GMainLoop* menuLoop_ = nullptr;  // runs while the popup menu is open
  MenuChoice chosen_ = MenuChoice::None;
  bool rightPressedOnRows_ = false;
  guint32 tabTime_ = 0;       // the last Tab key the window saw
  guint32 panelTabTime_ = 0;  // the Tab key with which the panel's page handed the focus on
  // The outermost widget of each control: its place and size in the client area are this one's.
  std::array<GtkWidget*, ControlCount> placed_{};
  std::array<GtkWidget*, ControlCount> controls_{};
};
