#include "search/result_page.h"

#include "search/texts.h"
#include "text/markers.h"
#include "text/regex.h"
#include "text/text_ops.h"

std::int32_t ParseResultPage(std::string_view pageText, std::string_view shareDomain,
                             const std::function<void(const ResultRow&)>& deliver) {
  const AnsiText region = TextBetween(pageText, RegionStart, RegionEnd);
  const AnsiText blockEnd = JoinTexts({BlockFootStart, shareDomain, BlockFootEnd});
  TextArray blocks;
  CollectBetween(region, BlockStart, blockEnd, &blocks, {.prefix = LinkLabel});
  const std::int32_t n = ArrayCount(blocks);
  for (AnsiText& block : blocks) {
    block = ReplacePairs(block, {{EmphasisStart, ""}, {EmphasisEnd, ""}});
    ResultRow row;
    row.fileName = TextBetween(block, NameStart, NameEnd);
    if (row.fileName.empty()) row.fileName = TextBetween(block, TitleStart, TitleEnd);
    row.size = TextBetween(block, SizeStart, SizeEnd);
    if (row.size.empty()) row.size = FolderSize;
    row.sharer = TextBetween(block, SharerStart, SharerEnd);
    row.link = ReplacePairs(TextBetween(block, LinkLabel, LinkEnd), {{DownloadRedirect, ""}});
    deliver(row);
  }
  return n;
}
