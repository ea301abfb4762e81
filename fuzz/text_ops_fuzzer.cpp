// The searching, replacing and splitting under every parser, and the marker routines built on
// them, against small reference versions that follow the character scan step by step: test at p,
// otherwise advance one character (two bytes after a byte of 0x80 or above, the end after a lead
// byte with nothing behind it), stop when fewer bytes remain than are sought.
#include "support/fuzz_input.h"
#include "text/markers.h"
#include "text/text_ops.h"

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace {

using Text = std::string;

unsigned char Fold(char c) {
  const auto byte = static_cast<unsigned char>(c);
  return byte >= 'A' && byte <= 'Z' ? static_cast<unsigned char>(byte + 32) : byte;
}

bool MatchesAt(std::string_view text, std::string_view sought, std::size_t p, bool ignoreCase) {
  if (text.size() - p < sought.size()) return false;
  for (std::size_t k = 0; k < sought.size(); ++k) {
    const char a = text[p + k];
    const char b = sought[k];
    if (ignoreCase ? Fold(a) != Fold(b) : a != b) return false;
  }
  return true;
}

// Where the character scan goes after p; text.size() when it ends.
std::size_t NextCharacter(std::string_view text, std::size_t p) {
  if (static_cast<unsigned char>(text[p]) < 0x80) return p + 1;
  return p + 1 < text.size() ? p + 2 : text.size();
}

std::int32_t ReferenceFind(std::string_view text, std::string_view sought, std::int32_t start,
                           bool ignoreCase) {
  const std::size_t from = start <= 1 ? 0 : static_cast<std::size_t>(start) - 1;
  if (from >= text.size()) return -1;
  if (sought.empty()) return 1;
  for (std::size_t p = from; p < text.size() && text.size() - p >= sought.size();
       p = NextCharacter(text, p)) {
    if (MatchesAt(text, sought, p, ignoreCase)) return static_cast<std::int32_t>(p) + 1;
  }
  return -1;
}

std::int32_t ReferenceFindReverse(std::string_view text, std::string_view sought, bool ignoreCase) {
  if (sought.empty()) return text.empty() ? -1 : 1;
  std::int32_t last = -1;
  for (std::size_t p = 0; p < text.size() && text.size() - p >= sought.size();
       p = NextCharacter(text, p)) {
    if (MatchesAt(text, sought, p, ignoreCase)) last = static_cast<std::int32_t>(p) + 1;
  }
  return last;
}

Text ReferenceReplace(std::string_view text, std::string_view sought, std::string_view replacement,
                      std::int32_t start, std::int32_t count, bool caseSensitive) {
  const std::size_t from = start < 1 ? 0 : static_cast<std::size_t>(start) - 1;
  if (text.empty() || sought.empty() || from >= text.size() || count == 0) return Text(text);
  Text result(text.substr(0, from));
  std::size_t p = from;
  while (p < text.size()) {
    if (text.size() - p < sought.size()) break;
    if (MatchesAt(text, sought, p, !caseSensitive)) {
      result.append(replacement);
      p += sought.size();
      if (count > 0 && --count == 0) break;
    } else {
      const std::size_t next = NextCharacter(text, p);
      result.append(text.substr(p, next - p));
      p = next;
    }
  }
  result.append(text.substr(p));
  return result;
}

std::vector<Text> ReferenceSplit(std::string_view text, std::string_view delimiter) {
  if (text.empty()) return {};
  if (delimiter.empty()) return {Text(text)};
  std::vector<Text> pieces;
  std::size_t pieceStart = 0;
  std::size_t p = 0;
  while (p < text.size() && text.size() - p >= delimiter.size()) {
    if (MatchesAt(text, delimiter, p, false)) {
      pieces.emplace_back(text.substr(pieceStart, p - pieceStart));
      p += delimiter.size();
      pieceStart = p;
    } else {
      p = NextCharacter(text, p);
    }
  }
  if (pieceStart < text.size()) pieces.emplace_back(text.substr(pieceStart));
  return pieces;
}

Text ReferenceBetween(std::string_view text, std::string_view leftMarker,
                      std::string_view rightMarker, std::int32_t startPos, bool matchCase) {
  const Text left = ReferenceReplace(leftMarker, QuotePlaceholder, "\"", 1, -1, true);
  const Text right = ReferenceReplace(rightMarker, QuotePlaceholder, "\"", 1, -1, true);
  std::int32_t p = ReferenceFind(text, left, startPos, !matchCase);
  if (p == -1) return {};
  p += static_cast<std::int32_t>(left.size());
  const std::int32_t q = ReferenceFind(text, right, p, !matchCase);
  if (q == -1 || q <= p) return {};
  return Text(text.substr(static_cast<std::size_t>(p) - 1, static_cast<std::size_t>(q - p)));
}

// A position: mostly near the texts, now and then any 32-bit value.
std::int32_t ConsumePosition(FuzzedDataProvider& input) {
  return input.ConsumeBool() ? input.ConsumeIntegral<std::int32_t>()
                             : input.ConsumeIntegralInRange<std::int32_t>(-2, 80);
}

// Every "#" of a marker may stand for the quote placeholder.
Text WithPlaceholders(Text marker, bool expand) {
  if (!expand) return marker;
  Text expanded;
  for (const char c : marker) {
    if (c == '#') {
      expanded.append(QuotePlaceholder);
    } else {
      expanded += c;
    }
  }
  return expanded;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  FuzzedDataProvider input(data, size);
  const bool small = input.ConsumeBool();
  const bool ignoreCase = input.ConsumeBool();
  const bool placeholders = input.ConsumeBool();
  const std::int32_t start = ConsumePosition(input);
  const std::optional<std::int32_t> count =
      input.ConsumeBool() ? std::optional(input.ConsumeIntegralInRange<std::int32_t>(-2, 4))
                          : std::nullopt;
  const Text sought = ConsumeText(input, small, 16);
  const Text replacement = ConsumeText(input, small, 16);
  Text pairs[5][2];
  for (auto& pair : pairs) {
    pair[0] = ConsumeText(input, small, 8);
    pair[1] = ConsumeText(input, small, 8);
  }
  const Text text = ConsumeText(input, small);

  FUZZ_CHECK(FindText(text, sought, start, ignoreCase) ==
             ReferenceFind(text, sought, start, ignoreCase));
  FUZZ_CHECK(FindTextReverse(text, sought, ignoreCase) ==
             ReferenceFindReverse(text, sought, ignoreCase));
  FUZZ_CHECK(ReplaceText(text, sought, replacement, start, count.value_or(-1), !ignoreCase) ==
             ReferenceReplace(text, sought, replacement, start, count.value_or(-1), !ignoreCase));
  FUZZ_CHECK(SplitText(text, sought) == ReferenceSplit(text, sought));

  const Text left = WithPlaceholders(sought, placeholders);
  const Text right = WithPlaceholders(replacement, placeholders);
  FUZZ_CHECK(TextBetween(text, left, right, start, !ignoreCase) ==
             ReferenceBetween(text, left, right, start, !ignoreCase));

  const ReplacePairsOptions options{.count = count, .startPos = start, .matchCase = !ignoreCase};
  Text expected = text;
  for (const auto& [find, by] : pairs) {
    expected = ReferenceReplace(expected, find, by, start == 0 ? 1 : start, count.value_or(-1),
                                !ignoreCase);
  }
  FUZZ_CHECK(ReplacePairs(text,
                          {{pairs[0][0], pairs[0][1]},
                           {pairs[1][0], pairs[1][1]},
                           {pairs[2][0], pairs[2][1]},
                           {pairs[3][0], pairs[3][1]},
                           {pairs[4][0], pairs[4][1]}},
                          options) == expected);
  return 0;
}
