// The control operations on the GTK window. Each runs on the user-interface thread; a worker
// that calls one waits until it has run there.
#include "platform/controls.h"

#include "platform/linux/main_window_gtk.h"
#include "platform/linux/toolkit.h"

#include <condition_variable>
#include <mutex>
#include <string>

namespace {

// Runs work with the live window on the user-interface thread; once the window is gone there is
// nothing left to change and the operation does nothing.
template <typename Work>
void WithWindow(Work&& work) {
  RunOnUiThread([&] {
    if (MainWindow* window = MainWindow::Live()) work(*window);
  });
}

// A worker's message box is closed on the user-interface thread while the worker waits here.
struct BoxClosed {
  std::mutex mutex;
  std::condition_variable changed;
  bool closed = false;
};

GtkWidget* NewMessageBox(GtkWindow* parent, const std::string& text, const std::string& title) {
  GtkWidget* box = gtk_message_dialog_new(parent, GTK_DIALOG_DESTROY_WITH_PARENT, GTK_MESSAGE_OTHER,
                                          GTK_BUTTONS_OK, "%s", text.c_str());
  gtk_window_set_title(GTK_WINDOW(box), title.c_str());
  return box;
}

void WorkerBoxResponded(GtkDialog* box, gint, gpointer) {
  gtk_widget_destroy(GTK_WIDGET(box));
}

// Notify under the lock: the waiting worker drops the record as soon as it sees it closed.
void WorkerBoxDestroyed(GtkWidget*, gpointer record) {
  auto* box = static_cast<BoxClosed*>(record);
  const std::lock_guard lock(box->mutex);
  box->closed = true;
  box->changed.notify_one();
}

// The most characters a cell shows, as many as the platform's own list view displays. Laying out
// a text of megabytes, which a hostile page can put in a field, would hold the window for seconds
// on every redraw; the raw column keeps the whole text for the link commands.
constexpr std::size_t MaxShownCharacters = 259;

std::string ShownCellText(const AnsiText& text) {
  std::size_t end = 0;
  for (std::size_t shown = 0; end < text.size() && shown < MaxShownCharacters; ++shown)
    end += static_cast<unsigned char>(text[end]) >= 0x80 ? 2 : 1;  // a lead byte and its trail
  if (end >= text.size()) return ToUtf8(text);
  return ToUtf8(std::string_view(text).substr(0, end)) + "\xE2\x80\xA6";  // U+2026
}

}  // namespace

AnsiText KeywordBoxText() {
  AnsiText text;
  WithWindow([&](MainWindow& window) {
    text = FromUtf8(gtk_entry_get_text(GTK_ENTRY(window.Widget(Control::KeywordBox))));
  });
  return text;
}

void SetLabelText(Control label, const AnsiText& text) {
  const std::string utf8 = ToUtf8(text);
  WithWindow([&](MainWindow& window) {
    gtk_label_set_text(GTK_LABEL(window.Widget(label)), utf8.c_str());
  });
}

void SetButtonEnabled(Control button, bool enabled) {
  WithWindow([&](MainWindow& window) { gtk_widget_set_sensitive(window.Widget(button), enabled); });
}

bool IsChecked(Control checkBox) {
  bool checked = false;
  WithWindow([&](MainWindow& window) {
    checked = gtk_toggle_button_get_active(GTK_TOGGLE_BUTTON(window.Widget(checkBox)));
  });
  return checked;
}

void SetWindowWidth(int outerWidth) {
  WithWindow([&](MainWindow& window) { window.SetOuterWidth(outerWidth); });
}

void DeleteAllRows() {
  WithWindow([](MainWindow& window) { gtk_list_store_clear(window.Rows()); });
}

void AppendRow(const TableRow& row) {
  std::string shown[TableColumnCount];
  for (int column = 0; column < TableColumnCount; ++column)
    shown[column] = ShownCellText(row[column]);
  WithWindow([&](MainWindow& window) {
    gtk_list_store_insert_with_values(
        window.Rows(), nullptr, -1, 0, shown[0].c_str(), 1, shown[1].c_str(), 2, shown[2].c_str(),
        3, shown[3].c_str(), RawColumn(0), row[0].c_str(), RawColumn(1), row[1].c_str(),
        RawColumn(2), row[2].c_str(), RawColumn(3), row[3].c_str(), -1);
  });
}

int RowCount() {
  int count = 0;
  WithWindow([&](MainWindow& window) {
    count = gtk_tree_model_iter_n_children(GTK_TREE_MODEL(window.Rows()), nullptr);
  });
  return count;
}

int FirstSelectedRow() {
  int first = -1;
  WithWindow([&](MainWindow& window) {
    GList* selected =
        gtk_tree_selection_get_selected_rows(gtk_tree_view_get_selection(window.Table()), nullptr);
    // The list is in row order.
    if (selected != nullptr) {
      first = gtk_tree_path_get_indices(static_cast<GtkTreePath*>(selected->data))[0];
    }
    g_list_free_full(selected, reinterpret_cast<GDestroyNotify>(gtk_tree_path_free));
  });
  return first;
}

AnsiText CellText(int row, int column) {
  AnsiText text;
  if (row < 0 || column < 0 || column >= TableColumnCount) return text;
  WithWindow([&](MainWindow& window) {
    GtkTreeModel* rows = GTK_TREE_MODEL(window.Rows());
    GtkTreeIter iter;
    if (!gtk_tree_model_iter_nth_child(rows, &iter, nullptr, row)) return;
    gchar* raw = nullptr;
    gtk_tree_model_get(rows, &iter, RawColumn(column), &raw, -1);
    if (raw != nullptr) text = raw;
    g_free(raw);
  });
  return text;
}

MenuChoice ShowPopupMenuAtPointer() {
  MenuChoice choice = MenuChoice::None;
  WithWindow([&](MainWindow& window) { choice = window.PopupMenu(); });
  return choice;
}

// On the user-interface thread the box is modal and blocks the window until it is closed. A
// worker's box leaves the window usable: the user-interface thread shows it without waiting, and
// only the worker waits for it to close.
void ShowMessageBox(const AnsiText& text, const AnsiText& title) {
  const std::string body = ToUtf8(text);
  const std::string caption = ToUtf8(title);
  if (OnUiThread()) {
    MainWindow* window = MainWindow::Live();
    GtkWidget* box = NewMessageBox(window != nullptr ? window->Window() : nullptr, body, caption);
    gtk_window_set_modal(GTK_WINDOW(box), TRUE);
    gtk_dialog_run(GTK_DIALOG(box));
    gtk_widget_destroy(box);
    return;
  }
  BoxClosed closed;
  bool shown = false;
  WithWindow([&](MainWindow& window) {
    GtkWidget* box = NewMessageBox(window.Window(), body, caption);
    g_signal_connect(box, "response", G_CALLBACK(WorkerBoxResponded), nullptr);
    // Destroyed on OK, and with MainWindow when that closes first: the worker never waits for ever.
    g_signal_connect(box, "destroy", G_CALLBACK(WorkerBoxDestroyed), &closed);
    gtk_widget_show(box);
    shown = true;
  });
  if (!shown) return;
  std::unique_lock lock(closed.mutex);
  closed.changed.wait(lock, [&] { return closed.closed; });
}

void CopyToClipboard(const AnsiText& text) {
  const std::string utf8 = ToUtf8(text);
  RunOnUiThread([&] {
    gtk_clipboard_set_text(gtk_clipboard_get(GDK_SELECTION_CLIPBOARD), utf8.c_str(),
                           static_cast<gint>(utf8.size()));
  });
}
