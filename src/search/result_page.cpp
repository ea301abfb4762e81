#include "search/result_page.h"

#include "search/texts.h"
#include "text/markers.h"
#include "text/regex.h"
#include "text/text_ops.h"

#include <algorithm>
#include <cstddef>

namespace {

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
// EmphasisStart less a byte, then EmphasisEnd.
constexpr std::size_t TagOverhang = 3 + 4;

void ReadFurther(CleanedBlock& block) {
  block.read = block.read == 0 ? FirstRead : 2 * block.read;
  if (block.read >= block.raw.size()) block.read = block.raw.size();
  block.text =
      ReplacePairs(block.raw.substr(0, block.read), {{EmphasisStart, ""}, {EmphasisEnd, ""}});
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

std::int32_t ParseResultPage(std::string_view pageText, std::string_view shareDomain,
                             const std::function<void(const ResultRow&)>& deliver) {
  const AnsiText region = TextBetween(pageText, RegionStart, RegionEnd);
  const AnsiText blockEnd = JoinTexts({BlockFootStart, shareDomain, BlockFootEnd});
  TextArray blocks;
  CollectBetween(region, BlockStart, blockEnd, &blocks, {.prefix = LinkLabel});
  const std::int32_t n = ArrayCount(blocks);
  for (const AnsiText& text : blocks) {
    CleanedBlock block{.raw = text, .text = {}};
    ResultRow row;
    row.fileName = Between(block, NameStart, NameEnd);
    if (row.fileName.empty()) row.fileName = Between(block, TitleStart, TitleEnd);
    row.size = Between(block, SizeStart, SizeEnd);
    if (row.size.empty()) row.size = FolderSize;
    row.sharer = Between(block, SharerStart, SharerEnd);
    row.link = ReplacePairs(Between(block, LinkLabel, LinkEnd), {{DownloadRedirect, ""}});
    deliver(row);
  }
  return n;
}
