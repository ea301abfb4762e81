// The window seam: the toolkit's start, MainWindow's creation and the event loop. The window is
// handed its layout and the handlers it calls; it knows nothing of what they do.
#pragma once

#include "platform/window_layout.h"

#include <functional>
#include <string_view>

// What the window calls on the user-interface thread when the user acts on it.
struct WindowHandlers {
  std::function<void()> search;          // SearchButton clicked
  std::function<void()> previousPage;    // PreviousPageButton clicked
  std::function<void()> nextPage;        // NextPageButton clicked
  std::function<void()> refresh;         // RefreshButton clicked
  std::function<void()> showPanel;       // SupportButton clicked
  std::function<void()> panelNewWindow;  // the browser panel is about to open a new window
  // A right click in the result table, after the table has applied its own selection for it.
  std::function<void()> tableRightClick;
};

// The handler a push button's click calls; null for a control that is not one.
inline const std::function<void()>* ClickHandler(const WindowHandlers& handlers, Control control) {
  switch (control) {
    case Control::SearchButton:
      return &handlers.search;
    case Control::PreviousPageButton:
      return &handlers.previousPage;
    case Control::NextPageButton:
      return &handlers.nextPage;
    case Control::RefreshButton:
      return &handlers.refresh;
    case Control::SupportButton:
      return &handlers.showPanel;
    default:
      return nullptr;
  }
}

// Initialises the toolkit for the calling thread, which becomes the user-interface thread (on
// Windows also OLE, which the browser panel needs).
void InitPlatform();

// Creates MainWindow centred on the screen with every control, setting and menu of layout in its
// start state, shows it and lets the browser panel start loading startPage (an address). The
// window keeps layout and handlers for its whole life. False when the window or one of its
// controls cannot be created.
bool CreateMainWindow(const WindowLayout& layout, WindowHandlers handlers,
                      std::string_view startPage);

// Runs the event loop until MainWindow has been destroyed (close button, Alt+F4 or Esc).
void RunEventLoop();
