// MergeCookies on any kept and received texts: it ends, writes back what it returns and the
// received text without its spaces; on ASCII texts (where the character scan is a byte scan) the
// merge equals one written with plain string operations.
#include "http/cookies.h"
#include "support/fuzz_input.h"

#include <algorithm>
#include <cstdint>
#include <string>
#include <vector>

namespace {

using Text = std::string;

// Spaces: 0x20, and A1 A1 where it starts a character.
Text ReferenceRemoveSpaces(std::string_view text) {
  Text result;
  for (std::size_t p = 0; p < text.size();) {
    const auto byte = static_cast<unsigned char>(text[p]);
    if (byte == ' ') {
      p += 1;
    } else if (byte == 0xA1 && p + 1 < text.size() &&
               static_cast<unsigned char>(text[p + 1]) == 0xA1) {
      p += 2;
    } else {
      const std::size_t size = byte >= 0x80 && p + 1 < text.size() ? 2 : 1;
      result.append(text.substr(p, size));
      p += size;
    }
  }
  return result;
}

// The pieces between delimiters; a trailing delimiter adds no empty piece.
std::vector<Text> Split(std::string_view text, std::string_view delimiter) {
  std::vector<Text> pieces;
  if (text.empty()) return pieces;
  std::size_t start = 0;
  for (std::size_t at; (at = text.find(delimiter, start)) != Text::npos;) {
    pieces.emplace_back(text.substr(start, at - start));
    start = at + delimiter.size();
  }
  if (start < text.size()) pieces.emplace_back(text.substr(start));
  return pieces;
}

Text Name(std::string_view entry) {
  return Text(entry.substr(0, entry.find('=')));  // no spaces left to trim
}

Text ReferenceMerge(std::string_view cookies, std::string_view received) {
  const Text kept = ReferenceRemoveSpaces(cookies);
  std::vector<Text> merged = Split(ReferenceRemoveSpaces(received), ";");
  for (const Text& entry : Split(kept, ";")) {
    const bool named = std::any_of(merged.begin(), merged.end(),
                                   [&](const Text& e) { return Name(e) == Name(entry); });
    if (!named) merged.push_back(entry);
  }
  Text joined;
  for (const Text& entry : merged) {
    if (!entry.ends_with("=deleted")) joined += entry + "; ";
  }
  joined.resize(joined.size() >= 2 ? joined.size() - 2 : 0);
  std::vector<Text> taken;
  Text result;
  for (const Text& piece : Split(joined, "; ")) {
    if (std::find(taken.begin(), taken.end(), piece) != taken.end()) continue;
    taken.push_back(piece);
    result += piece + "; ";
  }
  result.resize(result.size() >= 2 ? result.size() - 2 : 0);
  return result;
}

bool IsAscii(std::string_view text) {
  return std::all_of(text.begin(), text.end(), [](char c) { return c > 0; });
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  FuzzedDataProvider input(data, size);
  const bool small = input.ConsumeBool();
  const Text keptIn = ConsumeText(input, small);
  const Text receivedIn = ConsumeText(input, small);
  AnsiText cookies = keptIn;
  AnsiText received = receivedIn;
  const AnsiText merged = MergeCookies(cookies, received);
  FUZZ_CHECK(merged == cookies);
  FUZZ_CHECK(received == ReferenceRemoveSpaces(receivedIn));
  if (!HasZeroByte(keptIn) && !HasZeroByte(receivedIn)) FUZZ_CHECK(!HasZeroByte(merged));
  if (IsAscii(keptIn) && IsAscii(receivedIn)) {
    FUZZ_CHECK(merged == ReferenceMerge(keptIn, receivedIn));
  }
  return 0;
}
