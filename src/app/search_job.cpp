#include "app/search_job.h"

#include "app/texts.h"
#include "http/fetch.h"
#include "platform/controls.h"
#include "search/result_page.h"
#include "search/search_address.h"
#include "text/text_ops.h"

void SearchJob(const SearchSettings& settings, const AnsiText& keyword, std::int32_t page) {
  SetLabelText(Control::PageLabel, IntToText(page));
  SetButtonEnabled(Control::PreviousPageButton, page != 1);
  if (IsChecked(Control::ClearCheckBox)) DeleteAllRows();

  const AnsiText pageText = BytesToText(FetchUrl(SearchAddress(settings.host, keyword, page)));

  const std::int32_t blocks =
      ParseResultPage(pageText, settings.shareDomain, [](const ResultRow& row) {
        AppendRow({row.fileName, row.size, row.sharer, row.link});
      });
  if (blocks == 0) {
    ShowMessageBox(JoinTexts({NoResultsMessage, "\r\n", ContactPrefix, settings.contact}),
                   AnsiText(NoResultsTitle));
  }
}
