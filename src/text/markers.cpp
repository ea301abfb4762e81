#include "text/markers.h"

#include "text/text_ops.h"

namespace {

AnsiText WithQuotes(std::string_view marker) {
  return ReplaceText(marker, QuotePlaceholder, "\"", 1, EveryOccurrence, MatchCase);
}

// The marker with its placeholders turned into quotes; one without any is used as it stands.
std::string_view Marker(std::string_view marker, AnsiText& quoted) {
  if (marker.find(QuotePlaceholder.front()) == std::string_view::npos) return marker;
  quoted = WithQuotes(marker);
  return quoted;
}

}  // namespace

AnsiText TextBetween(std::string_view text, std::string_view leftMarker,
                     std::string_view rightMarker, std::int32_t startPos, bool matchCase) {
  AnsiText leftQuoted;
  AnsiText rightQuoted;
  const std::string_view left = Marker(leftMarker, leftQuoted);
  const std::string_view right = Marker(rightMarker, rightQuoted);
  std::int32_t p = FindText(text, left, startPos, !matchCase);
  if (p == -1) return {};
  p += TextLength(left);
  const std::int32_t q = FindText(text, right, p, !matchCase);
  if (q == -1) return {};
  return TextMid(text, p, q - p);
}

AnsiText ReplacePairs(std::string_view text, std::initializer_list<ReplacePair> pairs,
                      const ReplacePairsOptions& options) {
  const std::int32_t startPos = options.startPos == 0 ? 1 : options.startPos;
  const std::int32_t count = options.count.value_or(-1);
  if (pairs.size() == 0) return AnsiText(text);
  // The first pair reads the text itself; each later one the result before it.
  AnsiText result;
  bool first = true;
  for (const auto& [find, replacement] : pairs) {
    result = ReplaceText(first ? text : std::string_view(result), find, replacement, startPos,
                         count, options.matchCase);
    first = false;
  }
  return result;
}
