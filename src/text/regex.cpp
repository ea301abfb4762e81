#include "text/regex.h"

#include "platform/codepage.h"
#include "platform/regex_engine.h"
#include "text/markers.h"
#include "text/text_ops.h"

#include <algorithm>
#include <climits>
#include <memory>
#include <string>

namespace {

// Texts cross to the engine through code page 936, so it matches characters, not bytes. One
// call each way: a byte never gives more than one unit, a unit never more than two bytes.
std::u16string ToUtf16(std::string_view text) {
  if (text.empty() || text.size() > INT_MAX) return {};
  const int length = static_cast<int>(text.size());
  std::u16string units(text.size(), u'\0');
  units.resize(static_cast<std::size_t>(
      ConvertToWide(CodePageGbk, 0, text.data(), length, units.data(), length)));
  return units;
}

AnsiText FromUtf16(std::u16string_view units) {
  if (units.empty() || units.size() > INT_MAX / 2) return {};
  const int length = static_cast<int>(units.size());
  AnsiText text(2 * units.size(), '\0');
  text.resize(static_cast<std::size_t>(
      ConvertFromWide(CodePageGbk, 0, units.data(), length, text.data(), 2 * length)));
  text.resize(std::min(text.size(), text.find('\0')));  // a text holds no zero byte
  return text;
}

}  // namespace

RegexObject::RegexObject() {
  RegexEnterThread();
}

RegexObject::~RegexObject() {
  Release();
  subject_.clear();
  subjectUnits_.clear();
  RegexLeaveThread();
}

void RegexObject::Release() {
  RegexReleaseMatches(matches_);
  matches_ = nullptr;
  RegexRelease(regex_);
  regex_ = nullptr;
}

bool RegexObject::Create(std::string_view pattern, std::string_view subject,
                         const RegexOptions& options) {
  Release();
  // Every step goes on after a failed one, with the empty value it left. Singleline is asked for
  // like the rest and refused: no option lets a dot match a line feed.
  regex_ = RegexCreate();
  RegexSetOption(regex_, RegexOption::IgnoreCase, !options.matchCase);
  RegexSetOption(regex_, RegexOption::Multiline, options.multiline);
  RegexSetOption(regex_, RegexOption::Singleline, true);
  RegexSetOption(regex_, RegexOption::Global, options.global);
  const AnsiText expression =
      options.quotePlaceholder
          ? ReplaceText(pattern, QuotePlaceholder, "\"", 1, EveryOccurrence, MatchCase)
          : AnsiText(pattern);
  RegexSetPattern(regex_, ToUtf16(expression));
  subjectUnits_ = ToUtf16(subject);
  matches_ = RegexExecute(regex_, subjectUnits_);
  subject_.assign(subject);
  return matches_ != nullptr;
}

AnsiText RegexObject::PatternText() const {
  return FromUtf16(RegexPattern(regex_));
}

AnsiText RegexObject::Replace(std::string_view replacement) const {
  std::u16string replaced;
  if (!RegexReplace(regex_, subjectUnits_, ToUtf16(replacement), replaced)) return {};
  return FromUtf16(replaced);
}

std::int32_t RegexObject::MatchCount() const {
  return RegexMatchCount(matches_);
}

AnsiText RegexObject::MatchText(std::int32_t matchIndex, std::int32_t* position) const {
  std::u16string value;
  std::int32_t firstIndex = 0;
  if (matchIndex < 1 || !RegexMatchAt(matches_, matchIndex - 1, value, firstIndex)) {
    if (position != nullptr) *position = -2;
    return {};
  }
  AnsiText text = FromUtf16(value);
  if (position != nullptr) *position = BytePosition(text, firstIndex);
  return text;
}

AnsiText RegexObject::SubmatchText(std::int32_t matchIndex, std::int32_t submatchIndex,
                                   std::int32_t* position) const {
  std::u16string value;
  const RegexGroupState state =
      matchIndex < 1 || submatchIndex < 1
          ? RegexGroupState::Missing
          : RegexGroupAt(matches_, matchIndex - 1, submatchIndex - 1, value);
  AnsiText text = state == RegexGroupState::Matched ? FromUtf16(value) : AnsiText();
  if (position != nullptr) {
    std::int32_t firstIndex = 0;
    *position = state == RegexGroupState::Matched &&
                        RegexMatchAt(matches_, matchIndex - 1, value, firstIndex)
                    ? BytePosition(text, firstIndex)
                    : -2;
  }
  return text;
}

std::int32_t RegexObject::SubmatchCount() const {
  return RegexGroupCount(matches_, 0);
}

// The engine counts characters; the subject's bytes are walked to the character where the match
// begins (a byte of 0x81 or above takes the next with it, 0x80 stands alone as the Euro sign), and
// the text is searched from there, so the offset is exact also after two-byte characters.
std::int32_t RegexObject::BytePosition(std::string_view found, std::int32_t firstIndex) const {
  std::size_t start = 0;
  for (std::int32_t character = 0; character < firstIndex && start < subject_.size(); ++character) {
    const auto byte = static_cast<unsigned char>(subject_[start]);
    start += byte > 0x80 && start + 1 < subject_.size() ? 2 : 1;
  }
  if (found.empty()) return static_cast<std::int32_t>(start);
  const std::int32_t p = FindText(subject_, found, static_cast<std::int32_t>(start) + 1,
                                  RegexOptionValue(regex_, RegexOption::IgnoreCase));
  return p == -1 ? -2 : p - 1;
}

AnsiText EscapeRegexText(std::string_view text) {
  const AnsiText pass1 =
      ReplacePairs(text, {{"?", "\\?"}, {"*", "\\*"}, {"+", "\\+"}, {"[", "\\["}, {"]", "\\]"}});
  return ReplacePairs(
      pass1, {{"(", "\\("}, {")", "\\)"}, {"{", "\\{"}, {"}", "\\}"}, {QuotePlaceholder, "\""}});
}

namespace {

// Sets the regular-expression component up on this thread for one collection.
struct RegexThread {
  RegexThread() { RegexEnterThread(); }
  ~RegexThread() { RegexLeaveThread(); }
  RegexThread(const RegexThread&) = delete;
  RegexThread& operator=(const RegexThread&) = delete;
};

// One expression run over a subject that is already UTF-16, with the options a collection uses
// (letter case ignored, multiline), as RegexObject would run it: the page is converted once for
// both expressions of a collection, and the engine is handed the units as they are.
struct UnitMatches {
  RegexInstance* regex = nullptr;
  RegexMatchList* matches = nullptr;

  UnitMatches(std::string_view pattern, std::u16string_view subject, bool multiline, bool global) {
    regex = RegexCreate();
    RegexSetOption(regex, RegexOption::IgnoreCase, true);
    RegexSetOption(regex, RegexOption::Multiline, multiline);
    RegexSetOption(regex, RegexOption::Singleline, true);
    RegexSetOption(regex, RegexOption::Global, global);
    RegexSetPattern(regex, ToUtf16(pattern));
    matches = RegexExecute(regex, subject);
  }
  ~UnitMatches() {
    RegexReleaseMatches(matches);
    RegexRelease(regex);
  }
  UnitMatches(const UnitMatches&) = delete;
  UnitMatches& operator=(const UnitMatches&) = delete;
};

constexpr std::size_t NoRightMarker = 0;

// How much of the subject a collection needs: no match can end beyond the end of the last right
// marker, and the engine, trying each left marker in turn, would otherwise scan on to the end of
// the text from every left marker that has no right marker after it (quadratic on a hostile
// page). Only where that holds for certain is the subject cut: both markers are fixed runs of
// single characters (no backslash, "|", "^" or "$" left in them after escaping), so every
// occurrence of the right marker has the same length and the one that starts last also ends last.
// The occurrences are found left to right without overlap, in one pass; one that overlaps the
// last of them can only start inside it, so the search goes on from there. Returns the units to
// keep: NoRightMarker when no right marker occurs (nothing can be collected), the whole subject
// when it cannot be cut safely.
std::size_t CollectionExtent(std::u16string_view units, std::string_view leftMarker,
                             std::string_view rightMarker, const AnsiText& escapedRight) {
  const auto plain = [](std::string_view marker) {
    return marker.find_first_of("\\|^$") == std::string_view::npos;
  };
  if (rightMarker.empty() || !plain(leftMarker) || !plain(rightMarker)) return units.size();
  std::int32_t first = 0;
  std::int32_t length = 0;
  {
    const UnitMatches all(escapedRight, units, false, true);
    if (all.matches == nullptr) return units.size();
    const std::int32_t count = RegexMatchCount(all.matches);
    if (count == 0) return NoRightMarker;
    if (!RegexMatchSpan(all.matches, count - 1, first, length)) return units.size();
  }
  for (;;) {
    const std::size_t from = static_cast<std::size_t>(first) + 1;
    if (from >= units.size()) break;
    const UnitMatches later(escapedRight, units.substr(from), false, false);
    std::int32_t laterFirst = 0;
    std::int32_t laterLength = 0;
    if (!RegexMatchSpan(later.matches, 0, laterFirst, laterLength)) break;
    first = static_cast<std::int32_t>(from) + laterFirst;
    length = laterLength;
  }
  return std::min(units.size(), static_cast<std::size_t>(first) + length);
}

// A page in UTF-16 for a collection: one conversion into a buffer that is not cleared first.
struct PageUnits {
  std::unique_ptr<char16_t[]> units;
  std::size_t size = 0;

  explicit PageUnits(std::string_view text) {
    if (text.empty() || text.size() > INT_MAX) return;
    const int length = static_cast<int>(text.size());
    units = std::make_unique_for_overwrite<char16_t[]>(text.size());
    size = static_cast<std::size_t>(
        ConvertToWide(CodePageGbk, 0, text.data(), length, units.get(), length));
  }
  std::u16string_view View() const { return {units.get(), size}; }
};

// FromUtf16 through one buffer kept for a whole collection, so that no block's text is cleared
// before it is written.
AnsiText FromUtf16(std::u16string_view units, std::string& buffer) {
  if (units.empty() || units.size() > INT_MAX / 2) return {};
  const int length = static_cast<int>(units.size());
  if (buffer.size() < 2 * units.size()) buffer.resize(2 * units.size());
  std::string_view text(
      buffer.data(), static_cast<std::size_t>(ConvertFromWide(CodePageGbk, 0, units.data(), length,
                                                              buffer.data(), 2 * length)));
  return AnsiText(text.substr(0, text.find('\0')));  // a text holds no zero byte
}

}  // namespace

std::int32_t CollectBetween(std::string_view text, std::string_view leftMarker,
                            std::string_view rightMarker, TextArray* results,
                            const CollectOptions& options) {
  TextArray ownResults;
  TextArray& collected = results != nullptr ? *results : ownResults;
  const RegexThread thread;
  collected.clear();
  const PageUnits page(text);
  const std::u16string_view units = page.View();
  const AnsiText escapedRight = EscapeRegexText(rightMarker);
  const std::size_t extent = CollectionExtent(units, leftMarker, rightMarker, escapedRight);
  // An empty text is still searched: empty markers match there once.
  if (extent == NoRightMarker && !text.empty()) return 0;
  const AnsiText expression =
      JoinTexts({EscapeRegexText(leftMarker), "([\\s|\\S]*?)", escapedRight});
  const UnitMatches regex(expression, units.substr(0, extent), true, true);
  const std::int32_t n = RegexMatchCount(regex.matches);
  collected.reserve(static_cast<std::size_t>(n));
  std::u16string group;
  std::string buffer;
  for (std::int32_t i = 0; i < n; ++i) {
    const AnsiText between = RegexGroupAt(regex.matches, i, 0, group) == RegexGroupState::Matched
                                 ? FromUtf16(group, buffer)
                                 : AnsiText();
    const bool limited = options.maxLength != 0;
    if (limited && TextLength(between) > options.maxLength) continue;
    const bool right = options.keepRight && !(limited && options.keepLeft);
    collected.push_back(
        JoinTexts({options.keepLeft ? leftMarker : std::string_view(), options.prefix, between,
                   options.suffix, right ? rightMarker : std::string_view()}));
  }
  return ArrayCount(collected);
}
