#include "search/result_page.h"

#include "pelvaro_config.h"
#include "text/markers.h"
#include "text/regex.h"
#include "text/text_ops.h"

namespace {

constexpr std::string_view RegionStart = "</script><br><br>";
constexpr std::string_view RegionEnd = "</script></center><br><script type=";
// Ends with the quote that opens the link's attribute value, so a block begins with its link.
constexpr std::string_view BlockStart =
    "<div class=\"article ali_row\"><h2><a rel='external nofollow' target='_blank' href=\"";
constexpr std::string_view BlockFootStart = "</p><div class=\"other\">";
constexpr std::string_view BlockFootEnd = "</div></div>\r";  // a CR, and no LF in the marker
// Put before every block, so the link reads as a field like the others.
constexpr std::string_view LinkLabel = "下载地址：";
constexpr std::string_view FolderSize = "文件夹";

}  // namespace

std::int32_t ParseResultPage(std::string_view pageText,
                             const std::function<void(const ResultRow&)>& deliver) {
  const AnsiText region = TextBetween(pageText, RegionStart, RegionEnd);
  const AnsiText blockEnd = JoinTexts({BlockFootStart, ShareDomainText, BlockFootEnd});
  TextArray blocks;
  CollectBetween(region, BlockStart, blockEnd, &blocks, {.prefix = LinkLabel});
  const std::int32_t n = ArrayCount(blocks);
  for (AnsiText& block : blocks) {
    block = ReplacePairs(block, {{"<em>", ""}, {"</em>", ""}});
    ResultRow row;
    row.fileName = TextBetween(block, "文件名:", " 文件大小");
    // Without the name line, the heading's title: the first "\">" of a block closes its link.
    if (row.fileName.empty()) row.fileName = TextBetween(block, "\">", "</a></h2><p>");
    row.size = TextBetween(block, "文件大小:", " 分享者");
    if (row.size.empty()) row.size = FolderSize;
    row.sharer = TextBetween(block, "分享者:", " 分享时间");
    row.link = ReplacePairs(TextBetween(block, LinkLabel, "\">"), {{"?download=", ""}});
    deliver(row);
  }
  return n;
}
