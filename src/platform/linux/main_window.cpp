// MainWindow with GTK 3 and WebKitGTK: the controls at the client positions of the Windows
// layout, inside a client area derived from the Windows outer size.
#include "platform/main_window.h"

#include "platform/linux/main_window_gtk.h"
#include "platform/linux/toolkit.h"
#include "platform/system.h"

#include <webkit2/webkit2.h>

#include <string>
#include <vector>

namespace {

// The outer size is that of a Windows window with a fixed dialog frame: 3 pixels of frame on
// each side and a 19-pixel caption (the classic metrics), so the client area of the 540 x 374
// window is 534 x 349. The browser panel at x 536 then lies wholly beyond the narrow client area
// and wholly inside the wide one (847 pixels).
constexpr int FrameWidth = 3;
constexpr int CaptionHeight = 19;
constexpr int ClientWidth(int outerWidth) {
  return outerWidth - 2 * FrameWidth;
}
constexpr int ClientHeight(int outerHeight) {
  return outerHeight - CaptionHeight - 2 * FrameWidth;
}

// The controls keep the compact metrics of the Windows layout: its default GUI font is 12 pixels
// high, and its buttons and edit boxes have no minimum size beyond their frame.
constexpr char Style[] = R"(
#pelvaro { font-size: 12px; }
#pelvaro button, #pelvaro entry { min-height: 0; min-width: 0; padding: 0 3px; }
#pelvaro checkbutton { padding: 0; }
)";

MainWindow* live = nullptr;

std::string Utf8(const char* text) {
  return ToUtf8(text);
}

GtkWidget* NewButton(const char* caption) {
  GtkWidget* button = gtk_button_new_with_label(Utf8(caption).c_str());
  // Long captions wrap onto several lines, centred.
  GtkLabel* label = GTK_LABEL(gtk_bin_get_child(GTK_BIN(button)));
  gtk_label_set_line_wrap(label, TRUE);
  gtk_label_set_line_wrap_mode(label, PANGO_WRAP_WORD_CHAR);
  gtk_label_set_justify(label, GTK_JUSTIFY_CENTER);
  return button;
}

GtkWidget* NewLabel(const char* text, float xalign) {
  GtkWidget* label = gtk_label_new(Utf8(text).c_str());
  gtk_label_set_xalign(GTK_LABEL(label), xalign);
  gtk_label_set_yalign(GTK_LABEL(label), 0.5F);
  gtk_label_set_single_line_mode(GTK_LABEL(label), TRUE);
  return label;
}

// A label's own font. A negative height is the character height in pixels, as a Windows font's.
void SetFont(GtkWidget* label, const FontLayout& font) {
  const int height = font.height < 0 ? -font.height : font.height;
  PangoAttrList* attributes = pango_attr_list_new();
  pango_attr_list_insert(attributes, pango_attr_family_new(Utf8(font.face).c_str()));
  pango_attr_list_insert(attributes, pango_attr_size_new_absolute(height * PANGO_SCALE));
  pango_attr_list_insert(attributes, pango_attr_weight_new(static_cast<PangoWeight>(font.weight)));
  gtk_label_set_attributes(GTK_LABEL(label), attributes);
  pango_attr_list_unref(attributes);
}

// The panel's new window: the handler runs, and the address goes to the default browser, which
// lets only web addresses through.
void OpenNewWindow(MainWindow* window, WebKitNavigationAction* action) {
  if (window->Handlers().panelNewWindow) window->Handlers().panelNewWindow();
  const char* uri = webkit_uri_request_get_uri(webkit_navigation_action_get_request(action));
  if (uri != nullptr) OpenInDefaultBrowser(FromUtf8(uri));
}

// A link with a target: the panel hands the address on and opens nothing itself.
gboolean PanelDecidePolicy(WebKitWebView*, WebKitPolicyDecision* decision,
                           WebKitPolicyDecisionType type, gpointer window) {
  if (type != WEBKIT_POLICY_DECISION_TYPE_NEW_WINDOW_ACTION) return FALSE;
  OpenNewWindow(static_cast<MainWindow*>(window),
                webkit_navigation_policy_decision_get_navigation_action(
                    WEBKIT_NAVIGATION_POLICY_DECISION(decision)));
  webkit_policy_decision_ignore(decision);
  return TRUE;
}

// window.open and the view's own "open in new window".
GtkWidget* PanelCreate(WebKitWebView*, WebKitNavigationAction* action, gpointer window) {
  OpenNewWindow(static_cast<MainWindow*>(window), action);
  return nullptr;
}

void ButtonClicked(GtkButton*, gpointer handler) {
  const auto& run = *static_cast<const std::function<void()>*>(handler);
  if (run) run();
}

void RemoveWindowButtons(GtkWidget* window, gpointer) {
  GdkWindow* frame = gtk_widget_get_window(window);
  gdk_window_set_functions(frame, static_cast<GdkWMFunction>(GDK_FUNC_MOVE | GDK_FUNC_CLOSE));
  gdk_window_set_decorations(
      frame, static_cast<GdkWMDecoration>(GDK_DECOR_BORDER | GDK_DECOR_TITLE | GDK_DECOR_MENU));
}

gboolean QuitMenuLoop(gpointer loop) {
  g_main_loop_quit(static_cast<GMainLoop*>(loop));
  return G_SOURCE_REMOVE;
}

}  // namespace

MainWindow* MainWindow::Live() {
  return live;
}

GtkWidget* MainWindow::BuildControl(const ControlLayout& control) {
  const std::string caption = Utf8(control.caption);
  switch (control.kind) {
    case ControlKind::Label: {
      GtkWidget* label =
          NewLabel(control.caption, control.align == TextAlign::Center ? 0.5F : 0.0F);
      if (control.control == Control::PageLabel) SetFont(label, layout_.pageFont);
      return label;
    }
    case ControlKind::EditBox:
      return gtk_entry_new();
    case ControlKind::PushButton: {
      GtkWidget* button = NewButton(control.caption);
      if (const auto* handler = ClickHandler(handlers_, control.control)) {
        g_signal_connect(button, "clicked", G_CALLBACK(ButtonClicked),
                         const_cast<std::function<void()>*>(handler));
      }
      return button;
    }
    case ControlKind::CheckBox:
      return gtk_check_button_new_with_label(caption.c_str());
    case ControlKind::Table:
      return BuildTable();
    case ControlKind::BrowserPanel:
      return BuildPanel();
  }
  return nullptr;
}

bool MainWindow::Build() {
  window_ = GTK_WINDOW(gtk_window_new(GTK_WINDOW_TOPLEVEL));
  gtk_widget_set_name(GTK_WIDGET(window_), "pelvaro");
  gtk_window_set_title(window_, Utf8(layout_.title).c_str());
  gtk_window_set_resizable(window_, FALSE);
  // A title bar the window draws itself (a Wayland window's) has the close button only, as the
  // frame asked of an X11 window manager has.
  g_object_set(gtk_settings_get_default(), "gtk-decoration-layout", "menu:close", nullptr);
  // The icon an installed package puts in the theme under the desktop entry's id; a stock one
  // when Pelvaro runs from its build directory.
  const char* icon = "io.github.pelvaro.Pelvaro";
  if (!gtk_icon_theme_has_icon(gtk_icon_theme_get_default(), icon)) icon = "system-search";
  gtk_window_set_icon_name(window_, icon);

  GtkCssProvider* style = gtk_css_provider_new();
  gtk_css_provider_load_from_data(style, Style, -1, nullptr);
  gtk_style_context_add_provider_for_screen(gtk_widget_get_screen(GTK_WIDGET(window_)),
                                            GTK_STYLE_PROVIDER(style),
                                            GTK_STYLE_PROVIDER_PRIORITY_APPLICATION);
  g_object_unref(style);

  // GtkLayout asks for no more room than it is given, so the window keeps the client size set
  // here and the browser panel can lie beyond its right edge.
  client_ = gtk_layout_new(nullptr, nullptr);
  gtk_widget_set_size_request(client_, ClientWidth(layout_.narrowWidth),
                              ClientHeight(layout_.height));
  gtk_container_add(GTK_CONTAINER(window_), client_);

  for (const ControlLayout& place : layout_.controls) {
    GtkWidget* control = BuildControl(place);
    if (control == nullptr) return false;
    // A table scrolls inside a frame; the frame is what is placed.
    GtkWidget* placed = place.kind == ControlKind::Table ? gtk_widget_get_parent(control) : control;
    const auto index = static_cast<std::size_t>(place.control);
    controls_[index] = control;
    placed_[index] = placed;
    gtk_widget_set_size_request(placed, place.rect.width, place.rect.height);
    gtk_layout_put(GTK_LAYOUT(client_), placed, place.rect.left, place.rect.top);
    gtk_widget_set_sensitive(control, place.enabled);
    // Tests and assistive tools find each control by its layout name; the caption stays its name
    // where it has one.
    AtkObject* accessible = gtk_widget_get_accessible(control);
    atk_object_set_accessible_id(accessible, Utf8(place.layoutName).c_str());
    if (!GTK_IS_BUTTON(control) && !GTK_IS_LABEL(control)) {
      atk_object_set_name(accessible, Utf8(place.layoutName).c_str());
    }
  }
  BuildMenu();

  g_signal_connect_after(client_, "size-allocate", G_CALLBACK(PlaceControls), this);
  g_signal_connect(window_, "key-press-event", G_CALLBACK(KeyPressed), this);
  g_signal_connect(client_, "focus", G_CALLBACK(MoveFocus), this);
  g_signal_connect(window_, "destroy", G_CALLBACK(Destroyed), this);
  g_signal_connect_after(window_, "realize", G_CALLBACK(RemoveWindowButtons), nullptr);
  return true;
}

GtkWidget* MainWindow::BuildTable() {
  GType types[2 * TableColumnCount];
  for (GType& type : types)
    type = G_TYPE_STRING;
  rows_ = gtk_list_store_newv(2 * TableColumnCount, types);
  GtkTreeView* table = GTK_TREE_VIEW(gtk_tree_view_new_with_model(GTK_TREE_MODEL(rows_)));
  g_object_unref(rows_);  // the table keeps it

  for (int column = 0; column < TableColumnCount; ++column) {
    GtkCellRenderer* cell = gtk_cell_renderer_text_new();
    g_object_set(cell, "ellipsize", PANGO_ELLIPSIZE_END, "single-paragraph-mode", TRUE, nullptr);
    GtkTreeViewColumn* view = gtk_tree_view_column_new_with_attributes(
        Utf8(layout_.columns[column].header).c_str(), cell, "text", column, nullptr);
    gtk_tree_view_column_set_sizing(view, GTK_TREE_VIEW_COLUMN_FIXED);
    gtk_tree_view_column_set_fixed_width(view, layout_.columns[column].width);
    gtk_tree_view_column_set_resizable(view, TRUE);
    gtk_tree_view_append_column(table, view);
  }
  // The columns keep their widths: a column without a header takes the room after the last one,
  // as the blank end of a Windows list view's header does.
  GtkTreeViewColumn* rest = gtk_tree_view_column_new();
  gtk_tree_view_column_set_expand(rest, TRUE);
  gtk_tree_view_append_column(table, rest);
  gtk_tree_view_set_headers_clickable(table, TRUE);
  gtk_tree_view_set_grid_lines(table, GTK_TREE_VIEW_GRID_LINES_BOTH);
  gtk_tree_view_set_enable_search(table, FALSE);
  gtk_tree_view_set_rubber_banding(table, TRUE);
  gtk_tree_selection_set_mode(gtk_tree_view_get_selection(table), GTK_SELECTION_MULTIPLE);
  g_signal_connect(table, "button-press-event", G_CALLBACK(TableButton), this);
  g_signal_connect(table, "button-release-event", G_CALLBACK(TableButton), this);

  GtkWidget* frame = gtk_scrolled_window_new(nullptr, nullptr);
  gtk_scrolled_window_set_shadow_type(GTK_SCROLLED_WINDOW(frame), GTK_SHADOW_IN);
  gtk_scrolled_window_set_policy(GTK_SCROLLED_WINDOW(frame), GTK_POLICY_AUTOMATIC,
                                 GTK_POLICY_AUTOMATIC);
  gtk_container_add(GTK_CONTAINER(frame), GTK_WIDGET(table));
  return GTK_WIDGET(table);
}

GtkWidget* MainWindow::BuildPanel() {
  // Nothing of the panel outlives the process, and a small panel needs no page cache.
  WebKitWebContext* context = webkit_web_context_new_ephemeral();
  webkit_web_context_set_cache_model(context, WEBKIT_CACHE_MODEL_DOCUMENT_VIEWER);
  GtkWidget* panel = webkit_web_view_new_with_context(context);
  g_object_unref(context);  // the view keeps it
  // A panel of 304 x 320 pixels draws well enough without the GPU, which saves loading a GL
  // driver into the processes and works where there is none.
  webkit_settings_set_hardware_acceleration_policy(
      webkit_web_view_get_settings(WEBKIT_WEB_VIEW(panel)),
      WEBKIT_HARDWARE_ACCELERATION_POLICY_NEVER);
  g_signal_connect(panel, "decide-policy", G_CALLBACK(PanelDecidePolicy), this);
  g_signal_connect(panel, "create", G_CALLBACK(PanelCreate), this);
  return panel;
}

// The window's menu never shows in a menu bar; it exists only as this popup.
void MainWindow::BuildMenu() {
  menu_ = GTK_MENU(gtk_menu_new());
  atk_object_set_name(gtk_widget_get_accessible(GTK_WIDGET(menu_)), Utf8(layout_.menuName).c_str());
  for (const auto& [caption, choice] : layout_.menuItems) {
    GtkWidget* item = gtk_menu_item_new_with_label(Utf8(caption).c_str());
    g_object_set_data(G_OBJECT(item), "pelvaro-choice", GINT_TO_POINTER(static_cast<int>(choice)));
    g_signal_connect(item, "activate", G_CALLBACK(MenuItemActivated), this);
    gtk_menu_shell_append(GTK_MENU_SHELL(menu_), item);
  }
  gtk_widget_show_all(GTK_WIDGET(menu_));
  gtk_menu_attach_to_widget(menu_, GTK_WIDGET(window_), nullptr);
  g_signal_connect(menu_, "deactivate", G_CALLBACK(MenuClosed), this);
}

void MainWindow::SetOuterWidth(int outerWidth) {
  const int clientWidth = ClientWidth(outerWidth) > 1 ? ClientWidth(outerWidth) : 1;
  const int clientHeight = ClientHeight(layout_.height);
  gtk_widget_set_size_request(client_, clientWidth, clientHeight);
  gtk_window_resize(window_, clientWidth, clientHeight);
}

MenuChoice MainWindow::PopupMenu() {
  if (menuLoop_ != nullptr) return MenuChoice::None;  // one menu at a time
  chosen_ = MenuChoice::None;
  menuLoop_ = g_main_loop_new(nullptr, FALSE);
  gtk_menu_popup_at_pointer(menu_, nullptr);
  if (gtk_widget_get_visible(GTK_WIDGET(menu_))) g_main_loop_run(menuLoop_);
  g_main_loop_unref(menuLoop_);
  menuLoop_ = nullptr;
  return chosen_;
}

void MainWindow::MenuItemActivated(GtkMenuItem* item, gpointer self) {
  static_cast<MainWindow*>(self)->chosen_ =
      static_cast<MenuChoice>(GPOINTER_TO_INT(g_object_get_data(G_OBJECT(item), "pelvaro-choice")));
}

// The menu closes before its item is activated; the loop ends after both.
void MainWindow::MenuClosed(GtkMenuShell*, gpointer self) {
  if (GMainLoop* loop = static_cast<MainWindow*>(self)->menuLoop_) g_idle_add(QuitMenuLoop, loop);
}

// GtkLayout gives a child at least its minimum size; the layout's rectangles are exact.
void MainWindow::PlaceControls(GtkWidget*, GdkRectangle*, gpointer self) {
  const auto* window = static_cast<MainWindow*>(self);
  for (const ControlLayout& place : window->layout_.controls) {
    GtkAllocation allocation{place.rect.left, place.rect.top, place.rect.width, place.rect.height};
    gtk_widget_size_allocate(window->placed_[static_cast<std::size_t>(place.control)], &allocation);
  }
}

// Esc closes the window. Enter presses nothing: no button is a default button, and a focused
// button, check box or table does not take it either (GTK would press, toggle or select with it).
// The keyword box still gets it, for its input method, and does nothing with it; the browser
// panel's page keeps its own keys, so that a link can be followed from the keyboard.
gboolean MainWindow::KeyPressed(GtkWidget*, GdkEventKey* event, gpointer self) {
  auto* window = static_cast<MainWindow*>(self);
  if (event->keyval == GDK_KEY_Tab || event->keyval == GDK_KEY_ISO_Left_Tab ||
      event->keyval == GDK_KEY_KP_Tab) {
    window->tabTime_ = event->time;
    return FALSE;
  }
  if (event->keyval == GDK_KEY_Escape) {
    gtk_window_close(window->window_);
    return TRUE;
  }
  if (event->keyval != GDK_KEY_Return && event->keyval != GDK_KEY_KP_Enter &&
      event->keyval != GDK_KEY_ISO_Enter) {
    return FALSE;
  }
  GtkWidget* focus = gtk_window_get_focus(window->window_);
  GtkWidget* panel = window->Widget(Control::BrowserPanel);
  const bool keepsEnter = focus != nullptr && (GTK_IS_ENTRY(focus) || focus == panel ||
                                               gtk_widget_is_ancestor(focus, panel));
  return keepsEnter ? FALSE : TRUE;
}

// Tab and Shift+Tab go through the controls in the order of the layout table, the labels left
// out, and from the last control on to the first; GTK's own order, which follows positions and
// passes the table by, never takes over. The table is one stop, its header buttons none (as in a
// Windows list view); the panel's page goes through its own stops before the focus leaves it.
gboolean MainWindow::MoveFocus(GtkWidget* layout, GtkDirectionType direction, gpointer self) {
  if (direction != GTK_DIR_TAB_FORWARD && direction != GTK_DIR_TAB_BACKWARD) return FALSE;
  auto* window = static_cast<MainWindow*>(self);
  GtkWidget* current = gtk_container_get_focus_child(GTK_CONTAINER(layout));
  GtkWidget* panel = window->Widget(Control::BrowserPanel);

  // The page hands the focus on when Tab leaves its last stop, and then gives the same Tab back
  // as unhandled: one key moves the focus once.
  GdkEvent* event = gtk_get_current_event();
  const bool byKey = event != nullptr && event->type == GDK_KEY_PRESS;
  const bool handedOn = event == nullptr && current == panel;
  const guint32 keyTime = byKey ? event->key.time : 0;
  if (event != nullptr) gdk_event_free(event);
  if (byKey && keyTime == window->panelTabTime_) return TRUE;
  if (handedOn) window->panelTabTime_ = window->tabTime_;

  std::vector<Control> order;
  for (const ControlLayout& place : window->layout_.controls) {
    if (place.kind != ControlKind::Label) order.push_back(place.control);
  }
  const int count = static_cast<int>(order.size());
  const int step = direction == GTK_DIR_TAB_FORWARD ? 1 : count - 1;
  int at = step == 1 ? count - 1 : 0;  // without a focus, the first control in the direction
  for (int i = 0; i < count; ++i) {
    if (window->placed_[static_cast<std::size_t>(order[i])] != current) continue;
    if (current == panel && gtk_widget_child_focus(panel, direction)) return TRUE;
    at = i;
  }
  for (int tried = 1; tried <= count; ++tried) {
    GtkWidget* control = window->Widget(order[(at + tried * step) % count]);
    if (control == panel) {
      if (gtk_widget_child_focus(panel, direction)) return TRUE;
    } else if (gtk_widget_is_visible(control) && gtk_widget_is_sensitive(control) &&
               gtk_widget_get_can_focus(control)) {
      gtk_widget_grab_focus(control);
      return TRUE;
    }
  }
  return FALSE;
}

// The table reacts to the right button as a Windows list view does: a click on a row that is not
// selected selects that row alone, a click on a selected row or on empty space keeps the
// selection. The command runs when the button is released, after that reaction.
gboolean MainWindow::TableButton(GtkWidget* widget, GdkEventButton* event, gpointer self) {
  auto* window = static_cast<MainWindow*>(self);
  GtkTreeView* table = GTK_TREE_VIEW(widget);
  if (event->button != GDK_BUTTON_SECONDARY) return FALSE;
  if (event->window != gtk_tree_view_get_bin_window(table)) return FALSE;  // the header

  if (event->type == GDK_BUTTON_RELEASE) {
    if (window->rightPressedOnRows_) {
      window->rightPressedOnRows_ = false;
      if (window->handlers_.tableRightClick) window->handlers_.tableRightClick();
    }
    return TRUE;
  }
  if (event->type != GDK_BUTTON_PRESS) return TRUE;
  window->rightPressedOnRows_ = true;
  gtk_widget_grab_focus(widget);
  GtkTreePath* path = nullptr;
  if (gtk_tree_view_get_path_at_pos(table, static_cast<gint>(event->x), static_cast<gint>(event->y),
                                    &path, nullptr, nullptr, nullptr)) {
    if (!gtk_tree_selection_path_is_selected(gtk_tree_view_get_selection(table), path)) {
      gtk_tree_view_set_cursor(table, path, nullptr, FALSE);  // selects it alone
    }
    gtk_tree_path_free(path);
  }
  return TRUE;
}

void MainWindow::Destroyed(GtkWidget*, gpointer self) {
  live = nullptr;
  delete static_cast<MainWindow*>(self);
  gtk_main_quit();
}

// In a Wayland session the compositor places windows and draws their title bars, so a Wayland
// client can neither centre itself nor leave out minimise and maximise. Through Xwayland, where
// the session has it, the window is an X11 window whose place and title-bar buttons it chooses;
// without Xwayland it is a Wayland window of the fixed size, placed by the compositor.
void InitPlatform() {
  gdk_set_allowed_backends("x11,*");
  if (gtk_init_check(nullptr, nullptr)) MarkUiThread();
}

bool CreateMainWindow(const WindowLayout& layout, WindowHandlers handlers,
                      std::string_view startPage) {
  if (!HasUiThread() || live != nullptr) return false;
  auto* window = new MainWindow(layout, std::move(handlers));
  if (!window->Build()) {
    gtk_widget_destroy(GTK_WIDGET(window->window_));
    delete window;
    return false;
  }
  live = window;

  // Centred as a Windows window of the outer size: the outer rectangle's top-left corner.
  GdkDisplay* display = gtk_widget_get_display(GTK_WIDGET(window->window_));
  GdkMonitor* monitor = gdk_display_get_primary_monitor(display);
  if (monitor == nullptr) monitor = gdk_display_get_monitor(display, 0);
  GdkRectangle screen{};
  if (monitor != nullptr) gdk_monitor_get_geometry(monitor, &screen);
  gtk_window_move(window->window_, screen.x + (screen.width - layout.narrowWidth) / 2,
                  screen.y + (screen.height - layout.height) / 2);

  gtk_widget_show_all(GTK_WIDGET(window->window_));
  webkit_web_view_load_uri(WEBKIT_WEB_VIEW(window->Widget(Control::BrowserPanel)),
                           ToUtf8(startPage).c_str());
  return true;
}

void RunEventLoop() {
  if (MainWindow::Live() != nullptr) gtk_main();
}
