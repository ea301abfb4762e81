// CollectBetween with markers of any bytes. The markers become an expression after
// EscapeRegexText, which leaves backslash, ".", "^", "$" and "|" to the expression, so a marker can
// make any expression the engine reads: none may crash it or keep it going without end. Markers and
// texts of plain ASCII, free of those characters, are also checked against a direct search.
#include "support/fuzz_input.h"
#include "text/regex.h"

#include <cstdint>
#include <string>
#include <vector>

namespace {

using Text = std::string;

unsigned char Fold(char c) {
  const auto byte = static_cast<unsigned char>(c);
  return byte >= 'A' && byte <= 'Z' ? static_cast<unsigned char>(byte + 32) : byte;
}

std::size_t FindFolded(std::string_view text, std::string_view sought, std::size_t from) {
  for (std::size_t p = from; p + sought.size() <= text.size(); ++p) {
    std::size_t k = 0;
    while (k < sought.size() && Fold(text[p + k]) == Fold(sought[k]))
      ++k;
    if (k == sought.size()) return p;
  }
  return Text::npos;
}

// Every shortest text between a left marker and the next right marker, left to right without
// overlap; an empty match moves the search on by one character.
std::vector<Text> ReferenceCollect(std::string_view text, std::string_view left,
                                   std::string_view right) {
  std::vector<Text> found;
  for (std::size_t from = 0; from <= text.size();) {
    const std::size_t l = FindFolded(text, left, from);
    if (l == Text::npos) break;
    const std::size_t r = FindFolded(text, right, l + left.size());
    if (r == Text::npos) break;
    found.emplace_back(text.substr(l + left.size(), r - l - left.size()));
    const std::size_t end = r + right.size();
    from = end > l ? end : l + 1;
  }
  return found;
}

bool IsPlain(std::string_view text) {
  for (const char c : text) {
    if (c <= 0 || c == '\\' || c == '.' || c == '^' || c == '$' || c == '|') return false;
  }
  return true;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  FuzzedDataProvider input(data, size);
  CollectOptions options;
  options.maxLength = input.ConsumeBool() ? input.ConsumeIntegralInRange<std::int32_t>(-1, 8) : 0;
  options.keepLeft = input.ConsumeBool();
  options.keepRight = input.ConsumeBool();
  const Text prefix = input.ConsumeRandomLengthString(4);
  const Text suffix = input.ConsumeRandomLengthString(4);
  options.prefix = prefix;
  options.suffix = suffix;
  const Text left = input.ConsumeRandomLengthString(24);
  const Text right = input.ConsumeRandomLengthString(24);
  const Text text = input.ConsumeRemainingBytesAsString();

  TextArray results = {"a former member"};
  const std::int32_t n = CollectBetween(text, left, right, &results, options);
  FUZZ_CHECK(n == static_cast<std::int32_t>(results.size()));
  const std::size_t added = (options.keepLeft ? left.size() : 0) + prefix.size() + suffix.size() +
                            (options.keepRight ? right.size() : 0);
  for (const AnsiText& result : results) {
    FUZZ_CHECK(result.size() <= text.size() + added);
    if (options.maxLength > 0) {
      FUZZ_CHECK(result.size() <= static_cast<std::size_t>(options.maxLength) + added);
    }
  }

  if (IsPlain(left) && IsPlain(right) && IsPlain(text) && options.maxLength == 0 &&
      !options.keepLeft && !options.keepRight) {
    std::vector<Text> expected = ReferenceCollect(text, left, right);
    for (Text& t : expected)
      t = prefix + t + suffix;
    FUZZ_CHECK(results == expected);
  }
  return 0;
}
