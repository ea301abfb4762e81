#include "search/search_job.h"

#include "http/fetch.h"
#include "pelvaro_config.h"
#include "platform/controls.h"
#include "search/result_page.h"
#include "text/codepage.h"
#include "text/text_ops.h"

void SearchJob(const AnsiText& keyword, std::int32_t page) {
  const AnsiText pageNumber = IntToText(page);
  SetLabelText(ControlId::透明标签2, pageNumber);
  SetButtonEnabled(ControlId::按钮3, page != 1);
  if (IsChecked(ControlId::选择框1)) DeleteAllRows();

  const AnsiText address =
      JoinTexts({"http://", SearchHost, "/?q=", UrlEncode(keyword, false, true),
                 "&page=", pageNumber, "&by=prev"});
  const AnsiText pageText = BytesToText(FetchUrl(address));

  const std::int32_t blocks = ParseResultPage(pageText, [](const ResultRow& row) {
    AppendRow({row.fileName, row.size, row.sharer, row.link});
  });
  if (blocks == 0) {
    ShowMessageBox(
        JoinTexts({"你的搜索涉及敏感词汇，或者需要更新，请联系作者", "\r\n", "QQ", ContactNumber}),
        "信息：");
  }
}
