#include "app/commands.h"

#include "app/shared_state.h"
#include "app/texts.h"
#include "app/window_layout.h"
#include "platform/controls.h"
#include "platform/system.h"

namespace {

AnsiText LinkOfFirstSelectedRow() {
  return CellText(FirstSelectedRow(), LinkColumn);
}

// The browser seam lets only web addresses leave the program.
void OpenLink() {
  OpenInDefaultBrowser(LinkOfFirstSelectedRow());
}

void CopyLink() {
  const AnsiText link = LinkOfFirstSelectedRow();
  if (!link.empty()) CopyToClipboard(link);
}

}  // namespace

void StartSearchWorker(const SearchSettings& settings) {
  const JobTicket ticket = NextJobTicket();
  const bool started =
      StartDetachedWorker([settings, keyword = CurrentKeyword, page = CurrentPage, ticket] {
        SearchJob(settings, keyword, page, ticket);
      });
  if (started) IssueJobTicket(ticket);
}

void OnSearchClicked(const SearchSettings& settings) {
  AnsiText keyword = KeywordBoxText();
  if (keyword.empty()) {
    ShowMessageBox(AnsiText(EmptyKeywordMessage), AnsiText(EmptyKeywordTitle));
    return;
  }
  CurrentKeyword = std::move(keyword);  // as typed: a keyword of spaces is a keyword
  CurrentPage = 1;
  StartSearchWorker(settings);
}

void OnPreviousPageClicked(const SearchSettings& settings) {
  --CurrentPage;
  StartSearchWorker(settings);
}

void OnNextPageClicked(const SearchSettings& settings) {
  ++CurrentPage;
  StartSearchWorker(settings);
}

void OnRefreshClicked(const SearchSettings& settings) {
  StartSearchWorker(settings);
}

void OnShowPanelClicked() {
  SetWindowWidth(MainWindowLayout.wideWidth);
}

void OnPanelNewWindow() {
  SetButtonEnabled(Control::SearchButton, true);
  SetWindowWidth(MainWindowLayout.narrowWidth);
}

void OnTableRightClick() {
  if (FirstSelectedRow() == -1) return;
  switch (ShowPopupMenuAtPointer()) {
    case MenuChoice::OpenLink:
      OpenLink();
      break;
    case MenuChoice::CopyLink:
      CopyLink();
      break;
    case MenuChoice::None:
      break;
  }
}
