#include "search/result_page.h"

#include "pelvaro_config.h"
#include "text/markers.h"
#include "text/regex.h"
#include "text/text_ops.h"

#include <algorithm>
#include <cstddef>

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

// A block with its emphasis tags removed ("<em>" everywhere, then "</em>"), made from its start
// only as far as the fields need: they stand near the start of a block, which may run on for
// megabytes. Removing the tags from the first bytes of a block gives the start of what removing
// them from the whole block gives, except for its last bytes, where a tag may run on beyond the
// bytes read ("<em>" three bytes, then "</em>" four more).
struct CleanedBlock {
  std::string_view raw;
  AnsiText text;            // the tags removed from raw's first `read` bytes
  std::size_t read = 0;     // 0: nothing yet
  std::size_t settled = 0;  // bytes of text that stand as in the whole cleaned block
};

constexpr std::size_t FirstRead = 1024;
constexpr std::size_t TagOverhang = 3 + 4;

void ReadFurther(CleanedBlock& block) {
  block.read = block.read == 0 ? FirstRead : 2 * block.read;
  if (block.read >= block.raw.size()) block.read = block.raw.size();
  block.text = ReplacePairs(block.raw.substr(0, block.read), {{"<em>", ""}, {"</em>", ""}});
  const bool whole = block.read == block.raw.size();
  block.settled =
      whole ? block.text.size() : block.text.size() - std::min(block.text.size(), TagOverhang);
}

// TextBetween of the whole cleaned block. A field found in the settled part is the one the whole
// block gives (the first markers there are the first in the whole block); one that is not, or
// is empty, is looked for again in more of the block, at last in all of it.
AnsiText Between(CleanedBlock& block, std::string_view leftMarker, std::string_view rightMarker) {
  for (;;) {
    if (block.read == 0) ReadFurther(block);
    const std::string_view settled(block.text.data(), block.settled);
    AnsiText field = TextBetween(settled, leftMarker, rightMarker);
    if (!field.empty() || block.read == block.raw.size()) return field;
    ReadFurther(block);
  }
}

}  // namespace

std::int32_t ParseResultPage(std::string_view pageText,
                             const std::function<void(const ResultRow&)>& deliver) {
  const AnsiText region = TextBetween(pageText, RegionStart, RegionEnd);
  const AnsiText blockEnd = JoinTexts({BlockFootStart, ShareDomainText, BlockFootEnd});
  TextArray blocks;
  CollectBetween(region, BlockStart, blockEnd, &blocks, {.prefix = LinkLabel});
  const std::int32_t n = ArrayCount(blocks);
  for (const AnsiText& text : blocks) {
    CleanedBlock block{.raw = text, .text = {}};
    ResultRow row;
    row.fileName = Between(block, "文件名:", " 文件大小");
    // Without the name line, the heading's title: the first "\">" of a block closes its link.
    if (row.fileName.empty()) row.fileName = Between(block, "\">", "</a></h2><p>");
    row.size = Between(block, "文件大小:", " 分享者");
    if (row.size.empty()) row.size = FolderSize;
    row.sharer = Between(block, "分享者:", " 分享时间");
    row.link = ReplacePairs(Between(block, LinkLabel, "\">"), {{"?download=", ""}});
    deliver(row);
  }
  return n;
}
