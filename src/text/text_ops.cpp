#include "text/text_ops.h"

#include <algorithm>
#include <cstring>

namespace {

constexpr std::size_t NoMatch = std::string_view::npos;

unsigned char Byte(std::string_view text, std::size_t p) {
  return static_cast<unsigned char>(text[p]);
}

bool IsLeadByte(unsigned char byte) { return byte >= 0x80; }

unsigned char FoldAscii(unsigned char byte) {
  return byte >= 'A' && byte <= 'Z' ? static_cast<unsigned char>(byte + ('a' - 'A')) : byte;
}

// Whether sought stands at p; the caller makes sure that it fits.
bool MatchesAt(std::string_view text, std::size_t p, std::string_view sought, bool ignoreCase) {
  if (!ignoreCase) return std::memcmp(text.data() + p, sought.data(), sought.size()) == 0;
  for (std::size_t i = 0; i < sought.size(); ++i) {
    if (FoldAscii(Byte(text, p + i)) != FoldAscii(Byte(sought, i))) return false;
  }
  return true;
}

// The start of the character after the one at p, or NoMatch when a lead byte at p has no trail
// byte (which ends every scan).
std::size_t NextCharacter(std::string_view text, std::size_t p) {
  if (!IsLeadByte(Byte(text, p))) return p + 1;
  return p + 2 <= text.size() ? p + 2 : NoMatch;
}

// The character scan: the first character start at or after from (counted from there) where
// sought stands, or NoMatch.
std::size_t ScanFor(std::string_view text, std::string_view sought, std::size_t from,
                    bool ignoreCase) {
  if (sought.size() > text.size()) return NoMatch;
  const std::size_t last = text.size() - sought.size();
  const unsigned char first = ignoreCase ? FoldAscii(Byte(sought, 0)) : Byte(sought, 0);
  for (std::size_t p = from; p != NoMatch && p <= last; p = NextCharacter(text, p)) {
    const unsigned char here = ignoreCase ? FoldAscii(Byte(text, p)) : Byte(text, p);
    if (here == first && MatchesAt(text, p, sought, ignoreCase)) return p;
  }
  return NoMatch;
}

std::int32_t Position(std::size_t offset) { return static_cast<std::int32_t>(offset) + 1; }

bool IsFullWidthSpaceAt(std::string_view text, std::size_t p) {
  return p + 1 < text.size() && Byte(text, p) == 0xA1 && Byte(text, p + 1) == 0xA1;
}

// Bytes of the character at p, 1 or 2 (a dangling lead byte counts as one).
std::size_t CharacterSize(std::string_view text, std::size_t p) {
  return IsLeadByte(Byte(text, p)) && p + 1 < text.size() ? 2 : 1;
}

// Size of the space character at p (0x20 or A1 A1), 0 when the character there is no space.
std::size_t SpaceSizeAt(std::string_view text, std::size_t p) {
  if (Byte(text, p) == ' ') return 1;
  return IsFullWidthSpaceAt(text, p) ? 2 : 0;
}

}  // namespace

std::int32_t TextLength(std::string_view text) { return static_cast<std::int32_t>(text.size()); }

AnsiText JoinTexts(std::initializer_list<std::string_view> texts) {
  std::size_t size = 0;
  for (std::string_view text : texts) size += text.size();
  AnsiText joined;
  joined.reserve(size);
  for (std::string_view text : texts) joined.append(text);
  return joined;
}

int CompareText(std::string_view a, std::string_view b) {
  const int order = a.compare(b);  // char_traits<char> compares as unsigned char
  return order < 0 ? -1 : order > 0 ? 1 : 0;
}

AnsiText TextLeft(std::string_view text, std::int32_t n) {
  if (n <= 0) return {};
  return AnsiText(text.substr(0, static_cast<std::size_t>(n)));
}

AnsiText TextRight(std::string_view text, std::int32_t n) {
  if (n <= 0) return {};
  const std::size_t keep = std::min(text.size(), static_cast<std::size_t>(n));
  return AnsiText(text.substr(text.size() - keep));
}

AnsiText TextMid(std::string_view text, std::int32_t start, std::int32_t n) {
  if (start < 1 || n <= 0 || static_cast<std::size_t>(start) > text.size()) return {};
  return AnsiText(text.substr(static_cast<std::size_t>(start) - 1, static_cast<std::size_t>(n)));
}

std::int32_t FindText(std::string_view text, std::string_view sought, std::int32_t start,
                      bool ignoreCase) {
  const std::size_t from = start <= 1 ? 0 : static_cast<std::size_t>(start) - 1;
  if (from >= text.size()) return -1;
  if (sought.empty()) return 1;
  const std::size_t p = ScanFor(text, sought, from, ignoreCase);
  return p == NoMatch ? -1 : Position(p);
}

std::int32_t FindTextReverse(std::string_view text, std::string_view sought, bool ignoreCase) {
  if (sought.empty()) return text.empty() ? -1 : 1;
  std::int32_t last = -1;
  for (std::size_t p = ScanFor(text, sought, 0, ignoreCase); p != NoMatch;) {
    last = Position(p);
    const std::size_t next = NextCharacter(text, p);
    p = next == NoMatch ? NoMatch : ScanFor(text, sought, next, ignoreCase);
  }
  return last;
}

AnsiText ReplaceText(std::string_view text, std::string_view sought, std::string_view replacement,
                     std::int32_t start, std::int32_t count, bool caseSensitive) {
  const std::size_t from = start < 1 ? 0 : static_cast<std::size_t>(start) - 1;
  if (text.empty() || sought.empty() || from >= text.size() || count == 0) return AnsiText(text);
  AnsiText result;
  result.reserve(text.size());
  result.append(text.substr(0, from));
  std::size_t copied = from;
  for (std::size_t p = ScanFor(text, sought, from, !caseSensitive); p != NoMatch;
       p = ScanFor(text, sought, copied, !caseSensitive)) {
    result.append(text.substr(copied, p - copied));
    result.append(replacement);
    copied = p + sought.size();
    if (count > 0 && --count == 0) break;
  }
  result.append(text.substr(copied));
  return result;
}

TextArray SplitText(std::string_view text, std::string_view delimiter) {
  TextArray pieces;
  if (text.empty()) return pieces;
  if (delimiter.empty()) return {AnsiText(text)};
  std::size_t pieceStart = 0;
  for (std::size_t p = ScanFor(text, delimiter, 0, false); p != NoMatch;
       p = ScanFor(text, delimiter, pieceStart, false)) {
    pieces.emplace_back(text.substr(pieceStart, p - pieceStart));
    pieceStart = p + delimiter.size();
  }
  if (pieceStart < text.size()) pieces.emplace_back(text.substr(pieceStart));
  return pieces;
}

AnsiText TrimText(std::string_view text) {
  std::size_t begin = 0;
  while (begin < text.size()) {
    const std::size_t space = SpaceSizeAt(text, begin);
    if (space == 0) break;
    begin += space;
  }
  // The trailing run can only be told from the front: A1 A1 is a space only at a character start.
  std::size_t end = begin;
  for (std::size_t p = begin; p < text.size();) {
    const std::size_t space = SpaceSizeAt(text, p);
    if (space == 0) {
      p += CharacterSize(text, p);
      end = p;
    } else {
      p += space;
    }
  }
  return AnsiText(text.substr(begin, end - begin));
}

AnsiText RemoveSpaces(std::string_view text) {
  AnsiText result;
  result.reserve(text.size());
  for (std::size_t p = 0; p < text.size();) {
    const std::size_t space = SpaceSizeAt(text, p);
    if (space != 0) {
      p += space;
      continue;
    }
    const std::size_t size = CharacterSize(text, p);
    result.append(text.substr(p, size));
    p += size;
  }
  return result;
}

AnsiText ToLowerText(std::string_view text) {
  AnsiText result(text);
  for (std::size_t p = 0; p < result.size(); p += CharacterSize(result, p)) {
    result[p] = static_cast<char>(FoldAscii(Byte(result, p)));
  }
  return result;
}

AnsiText IntToText(std::int32_t value) { return std::to_string(value); }

std::int32_t TextToInt(std::string_view text) {
  // Full-width digits, signs, letters and spaces first become their half-width forms.
  AnsiText plain;
  plain.reserve(text.size());
  for (std::size_t p = 0; p < text.size();) {
    const std::size_t size = CharacterSize(text, p);
    const unsigned char lead = Byte(text, p);
    const unsigned char trail = size == 2 ? Byte(text, p + 1) : 0;
    if (lead == 0xA3 && trail >= 0xA1 && trail <= 0xFE) {
      plain += static_cast<char>(trail - 0x80);
    } else if (lead == 0xA1 && trail == 0xA1) {
      plain += ' ';
    } else if (lead == 0xA1 && trail == 0xAB) {
      plain += '~';
    } else if (lead == 0xA1 && (trail == 0xEE || trail == 0xEF)) {
      plain += '*';
    } else {
      plain.append(text.substr(p, size));
    }
    p += size;
  }
  std::size_t p = plain.find_first_not_of(" \t\n\v\f\r");
  if (p == AnsiText::npos) return 0;
  const bool negative = plain[p] == '-';
  if (plain[p] == '-' || plain[p] == '+') ++p;
  std::uint32_t value = 0;
  for (; p < plain.size() && plain[p] >= '0' && plain[p] <= '9'; ++p) {
    value = value * 10u + static_cast<std::uint32_t>(plain[p] - '0');
  }
  if (negative) value = 0u - value;
  return static_cast<std::int32_t>(value);
}

AnsiText IntToHex(std::int32_t value) {
  static constexpr char Digits[] = "0123456789ABCDEF";
  auto bits = static_cast<std::uint32_t>(value);
  char buffer[8];
  char* first = buffer + sizeof buffer;
  do {
    *--first = Digits[bits & 0xFu];
    bits >>= 4;
  } while (bits != 0);
  return AnsiText(first, buffer + sizeof buffer);
}

AnsiText CharFromCode(std::int32_t code) {
  const auto byte = static_cast<char>(code & 0xFF);
  return byte == 0 ? AnsiText() : AnsiText(1, byte);
}

std::int32_t BitOr(std::initializer_list<std::int32_t> values) {
  std::int32_t bits = 0;
  for (std::int32_t value : values) bits |= value;
  return bits;
}

ByteBuffer TextToBytes(std::string_view text) { return ByteBuffer(text.begin(), text.end()); }

AnsiText BytesToText(const ByteBuffer& buffer) {
  const auto end = std::find(buffer.begin(), buffer.end(), 0);
  return AnsiText(buffer.begin(), end);
}

AnsiText BlankText(std::int32_t n) {
  return n <= 0 ? AnsiText() : AnsiText(static_cast<std::size_t>(n), ' ');
}

ByteBuffer BlankBytes(std::int32_t n) {
  return n <= 0 ? ByteBuffer() : ByteBuffer(static_cast<std::size_t>(n), 0);
}

std::int32_t BytesLength(const ByteBuffer& buffer) {
  return static_cast<std::int32_t>(buffer.size());
}

int CompareBytes(const ByteBuffer& a, const ByteBuffer& b) { return a == b ? 0 : 1; }

ByteBuffer BytesLeft(const ByteBuffer& buffer, std::int32_t n) {
  if (n <= 0) return {};
  const std::size_t keep = std::min(buffer.size(), static_cast<std::size_t>(n));
  return ByteBuffer(buffer.begin(), buffer.begin() + static_cast<std::ptrdiff_t>(keep));
}

std::int32_t FindBytes(const ByteBuffer& buffer, const ByteBuffer& sought) {
  if (sought.empty()) return -1;
  const auto found = std::search(buffer.begin(), buffer.end(), sought.begin(), sought.end());
  return found == buffer.end() ? -1 : Position(static_cast<std::size_t>(found - buffer.begin()));
}
