#include "app/commands.h"

#include "app/shared_state.h"
#include "platform/controls.h"
#include "platform/system.h"
#include "search/search_job.h"
#include "text/text_ops.h"

namespace {

constexpr int LinkColumn = 3;

AnsiText LinkOfFirstSelectedRow() {
  return CellText(FirstSelectedRow(), LinkColumn);
}

// Only web addresses leave Pelvaro: a page could put a file path or a program in a link.
bool IsWebAddress(const AnsiText& link) {
  return FindText(link, "http://", 1, true) == 1 || FindText(link, "https://", 1, true) == 1;
}

void OpenLink() {
  const AnsiText link = LinkOfFirstSelectedRow();
  if (IsWebAddress(link)) OpenInDefaultBrowser(link);
}

void CopyLink() {
  const AnsiText link = LinkOfFirstSelectedRow();
  if (!link.empty()) CopyToClipboard(link);
}

}  // namespace

void StartSearchWorker() {
  StartDetachedWorker([keyword = CurrentKeyword, page = CurrentPage] { SearchJob(keyword, page); });
}

void OnSearchClicked() {
  AnsiText keyword = KeywordBoxText();
  if (keyword.empty()) {
    ShowMessageBox("你不输入内容我怎么搜！逗我？", "靠");
    return;
  }
  CurrentKeyword = std::move(keyword);  // as typed: a keyword of spaces is a keyword
  CurrentPage = 1;
  StartSearchWorker();
}

void OnPreviousPageClicked() {
  --CurrentPage;
  StartSearchWorker();
}

void OnNextPageClicked() {
  ++CurrentPage;
  StartSearchWorker();
}

void OnRefreshClicked() {
  StartSearchWorker();
}

void OnShowPanelClicked() {
  SetWindowWidth(WideWindowWidth);
}

void OnPanelNewWindow() {
  SetButtonEnabled(ControlId::按钮1, true);
  SetWindowWidth(NarrowWindowWidth);
}

void OnTableRightClick() {
  if (FirstSelectedRow() == -1) return;
  switch (ShowPopupMenuAtPointer()) {
    case MenuChoice::打开链接:
      OpenLink();
      break;
    case MenuChoice::复制链接:
      CopyLink();
      break;
    case MenuChoice::None:
      break;
  }
}
