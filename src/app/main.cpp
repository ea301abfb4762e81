// Pelvaro: searches an index of publicly shared cloud-storage files and lists the hits.
// The values fixed at build time enter the program here, and only here.
#include "app/commands.h"
#include "app/shared_state.h"
#include "app/texts.h"
#include "app/window_layout.h"
#include "pelvaro_config.h"
#include "platform/main_window.h"
#include "text/text_value.h"

#include <cstdlib>

int main() {
  InitPlatform();
  std::atexit(ReleaseSharedState);

  static const SearchSettings settings{SearchHost, ShareDomainText, ContactNumber};
  WindowHandlers handlers{
      .search = [] { OnSearchClicked(settings); },
      .previousPage = [] { OnPreviousPageClicked(settings); },
      .nextPage = [] { OnNextPageClicked(settings); },
      .refresh = [] { OnRefreshClicked(settings); },
      .showPanel = OnShowPanelClicked,
      .panelNewWindow = OnPanelNewWindow,
      .tableRightClick = OnTableRightClick,
  };
  if (!CreateMainWindow(MainWindowLayout, std::move(handlers), StartPageAddress)) {
    FatalRuntimeError(0, AnsiText(WindowFailedMessage));
  }
  RunEventLoop();
  return 0;
}
