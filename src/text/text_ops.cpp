#include "text/text_ops.h"

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <vector>

namespace {

using Bytes = const unsigned char*;

unsigned char Byte(std::string_view text, std::size_t p) {
  return static_cast<unsigned char>(text[p]);
}

bool IsLeadByte(unsigned char byte) {
  return byte >= 0x80;
}

unsigned char FoldAscii(unsigned char byte) {
  return byte >= 'A' && byte <= 'Z' ? static_cast<unsigned char>(byte + ('a' - 'A')) : byte;
}

// What a scan does after reporting a match.
enum class Resume {
  Stop,
  NextCharacter,  // go on at the next character, so occurrences may overlap
  AfterMatch,     // skip the matched bytes and count characters afresh from there
};

// The scan under every search: reports, left to right, each offset from `from` on where sought
// stands (ignoring case: A to Z folded onto a to z, byte by byte over the whole span), to onMatch,
// which returns how to go on. With characterStarts, only offsets that start a character, counted
// from `from`, are reported; otherwise every byte offset is.
//
// It is linear whatever the sought text: the text is read once, Knuth-Morris-Pratt style, with a
// memchr skip to the next candidate first byte while nothing is partly matched. Whether a match
// starts a character is settled from the run of lead-range bytes just before it, since a byte below
// 0x80 always ends a character; the run is walked back no further than the last offset settled.
template <bool IgnoreCase, typename OnMatch>
void ScanMatches(std::string_view text, std::string_view sought, std::size_t from,
                 bool characterStarts, OnMatch onMatch) {
  const std::size_t n = text.size();
  const std::size_t m = sought.size();
  if (m == 0 || m > n || from > n - m) return;
  const auto data = reinterpret_cast<Bytes>(text.data());
  const auto at = [](Bytes bytes, std::size_t i) {
    return IgnoreCase ? FoldAscii(bytes[i]) : bytes[i];
  };
  const auto pattern = reinterpret_cast<Bytes>(sought.data());

  // border[i]: length of the longest proper prefix of sought[0..i] that also ends it.
  std::vector<std::size_t> border(m, 0);
  for (std::size_t i = 1, k = 0; i < m; ++i) {
    while (k > 0 && at(pattern, i) != at(pattern, k)) {
      k = border[k - 1];
    }
    if (at(pattern, i) == at(pattern, k)) ++k;
    border[i] = k;
  }

  // The next offset at or after i (and where sought still fits) that holds sought's first byte,
  // in either letter case; n when there is none. Each case's last answer is kept, so both memchr
  // runs move forward only.
  const std::size_t lastStart = n - m;
  const unsigned char first = at(pattern, 0);
  const unsigned char capital = IgnoreCase && first >= 'a' && first <= 'z'
                                    ? static_cast<unsigned char>(first - ('a' - 'A'))
                                    : first;
  const auto findByte = [&](unsigned char byte, std::size_t i) -> std::size_t {
    const void* hit = std::memchr(data + i, byte, lastStart + 1 - i);
    return hit ? static_cast<std::size_t>(static_cast<Bytes>(hit) - data) : n;
  };
  std::size_t nextFirst = findByte(first, from);
  std::size_t nextCapital = capital == first ? n : findByte(capital, from);
  const auto nextCandidate = [&](std::size_t i) {
    if (i > lastStart) return n;
    if (nextFirst < i) nextFirst = findByte(first, i);
    if (nextCapital < i) nextCapital = findByte(capital, i);
    return std::min(nextFirst, nextCapital);
  };

  std::size_t settled = from;  // a character start at or before every offset still to be reported
  const auto startsCharacter = [&](std::size_t p) {
    std::size_t k = p;
    // Eight lead-range bytes at a time, then byte by byte.
    while (k >= settled + 8) {
      std::uint64_t word;
      std::memcpy(&word, data + k - 8, sizeof word);
      if ((word & 0x8080808080808080u) != 0x8080808080808080u) break;
      k -= 8;
    }
    while (k > settled && IsLeadByte(data[k - 1])) {
      --k;
    }
    const bool start = (p - k) % 2 == 0;
    settled = start ? p : p + 1;  // otherwise p is a trail byte and the next byte starts one
    return start;
  };

  std::size_t matched = 0;  // bytes of sought that end at i
  for (std::size_t i = from; i < n;) {
    if (matched == 0) {
      i = nextCandidate(i);
      if (i == n) return;
      matched = 1;
    } else {
      const unsigned char byte = at(data, i);
      while (matched > 0 && byte != at(pattern, matched)) {
        matched = border[matched - 1];
      }
      if (byte == at(pattern, matched)) ++matched;
    }
    ++i;
    if (matched < m) continue;
    const std::size_t p = i - m;
    if (!characterStarts || startsCharacter(p)) {
      switch (onMatch(p)) {
        case Resume::Stop:
          return;
        case Resume::NextCharacter:
          break;
        case Resume::AfterMatch:
          matched = 0;
          settled = i;
          continue;
      }
    }
    matched = border[m - 1];
  }
}

template <typename OnMatch>
void ScanMatches(std::string_view text, std::string_view sought, std::size_t from, bool ignoreCase,
                 bool characterStarts, OnMatch onMatch) {
  if (ignoreCase) {
    ScanMatches<true>(text, sought, from, characterStarts, onMatch);
  } else {
    ScanMatches<false>(text, sought, from, characterStarts, onMatch);
  }
}

// The character scan: the first character start at or after from (counted from there) where
// sought stands, or npos.
std::size_t FirstMatch(std::string_view text, std::string_view sought, std::size_t from,
                       bool ignoreCase) {
  std::size_t found = std::string_view::npos;
  ScanMatches(text, sought, from, ignoreCase, true, [&](std::size_t p) {
    found = p;
    return Resume::Stop;
  });
  return found;
}

std::int32_t Position(std::size_t offset) {
  return static_cast<std::int32_t>(offset) + 1;
}

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

std::int32_t TextLength(std::string_view text) {
  return static_cast<std::int32_t>(text.size());
}

AnsiText JoinTexts(std::initializer_list<std::string_view> texts) {
  std::size_t size = 0;
  for (std::string_view text : texts) {
    size += text.size();
  }
  AnsiText joined;
  joined.reserve(size);
  for (std::string_view text : texts) {
    joined.append(text);
  }
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
  const std::size_t p = FirstMatch(text, sought, from, ignoreCase);
  return p == std::string_view::npos ? -1 : Position(p);
}

std::int32_t FindTextReverse(std::string_view text, std::string_view sought, bool ignoreCase) {
  if (sought.empty()) return text.empty() ? -1 : 1;
  std::int32_t last = -1;
  ScanMatches(text, sought, 0, ignoreCase, true, [&](std::size_t p) {
    last = Position(p);
    return Resume::NextCharacter;
  });
  return last;
}

AnsiText ReplaceText(std::string_view text, std::string_view sought, std::string_view replacement,
                     std::int32_t start, std::int32_t count, bool matchCase) {
  const std::size_t from = start < 1 ? 0 : static_cast<std::size_t>(start) - 1;
  if (text.empty() || sought.empty() || from >= text.size() || count == 0) return AnsiText(text);
  AnsiText result;
  result.reserve(text.size());
  std::size_t copied = 0;
  ScanMatches(text, sought, from, !matchCase, true, [&](std::size_t p) {
    result.append(text.substr(copied, p - copied));
    result.append(replacement);
    copied = p + sought.size();
    return count > 0 && --count == 0 ? Resume::Stop : Resume::AfterMatch;
  });
  result.append(text.substr(copied));
  return result;
}

TextArray SplitText(std::string_view text, std::string_view delimiter) {
  TextArray pieces;
  if (text.empty()) return pieces;
  if (delimiter.empty()) return {AnsiText(text)};
  std::size_t pieceStart = 0;
  ScanMatches(text, delimiter, 0, false, true, [&](std::size_t p) {
    pieces.emplace_back(text.substr(pieceStart, p - pieceStart));
    pieceStart = p + delimiter.size();
    return Resume::AfterMatch;
  });
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

AnsiText IntToText(std::int32_t value) {
  return std::to_string(value);
}

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
  for (std::int32_t value : values) {
    bits |= value;
  }
  return bits;
}

ByteBuffer TextToBytes(std::string_view text) {
  return ByteBuffer(text.begin(), text.end());
}

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

int CompareBytes(const ByteBuffer& a, const ByteBuffer& b) {
  return a == b ? 0 : 1;
}

ByteBuffer BytesLeft(const ByteBuffer& buffer, std::int32_t n) {
  if (n <= 0) return {};
  const std::size_t keep = std::min(buffer.size(), static_cast<std::size_t>(n));
  return ByteBuffer(buffer.begin(), buffer.begin() + static_cast<std::ptrdiff_t>(keep));
}

std::int32_t FindBytes(const ByteBuffer& buffer, const ByteBuffer& sought) {
  const std::string_view bytes(reinterpret_cast<const char*>(buffer.data()), buffer.size());
  const std::string_view soughtBytes(reinterpret_cast<const char*>(sought.data()), sought.size());
  std::int32_t found = -1;
  ScanMatches(bytes, soughtBytes, 0, false, false, [&](std::size_t p) {
    found = Position(p);
    return Resume::Stop;
  });
  return found;
}
