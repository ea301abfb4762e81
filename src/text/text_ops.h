// The small operations on texts, byte buffers and lists in whose terms the rest of Pelvaro is
// written. Positions are 1-based byte offsets into the whole text and -1 is "not found". The
// searching operations walk the text character by character (a byte of 0x80 or above takes the
// next byte with it), so a match never begins on a trail byte; the cutting operations count bytes.
// Every result is a fresh value; no operation changes its inputs or keeps state.
#pragma once

#include "text/text_value.h"

#include <cstdint>
#include <initializer_list>
#include <string_view>

// Measuring, joining, comparing.
std::int32_t TextLength(std::string_view text);
AnsiText JoinTexts(std::initializer_list<std::string_view> texts);
// 0 when equal, otherwise -1 or 1 by the first differing byte (unsigned); a proper prefix is less.
int CompareText(std::string_view a, std::string_view b);

// Cutting, by bytes.
AnsiText TextLeft(std::string_view text, std::int32_t n);
AnsiText TextRight(std::string_view text, std::int32_t n);
// n bytes from start; empty when start < 1 (a start below 1 is not moved up), start > length or
// n <= 0.
AnsiText TextMid(std::string_view text, std::int32_t start, std::int32_t n);

// Named values for the flags below, so that a call says what it asks for:
// FindText(text, "a", 1, IgnoreCase), ReplaceText(text, "a", "b", 1, EveryOccurrence, MatchCase).
// Every letter-case flag of the toolkit is one of two kinds: ignoreCase (true: ASCII letters
// compared without case) or matchCase (true: letter case significant).
inline constexpr bool IgnoreCase = true;
inline constexpr bool MatchCase = true;
inline constexpr std::int32_t EveryOccurrence = -1;

// Searching. An empty sought text is found at 1 while any byte remains from the start.
std::int32_t FindText(std::string_view text, std::string_view sought, std::int32_t start = 1,
                      bool ignoreCase = false);
std::int32_t FindTextReverse(std::string_view text, std::string_view sought,
                             bool ignoreCase = false);

// Replaces occurrences left to right without overlap from start on, at most count of them (a
// negative count sets no limit). Letter case is ignored unless matchCase is set.
AnsiText ReplaceText(std::string_view text, std::string_view sought,
                     std::string_view replacement = {}, std::int32_t start = 1,
                     std::int32_t count = EveryOccurrence, bool matchCase = false);

// The pieces between exact occurrences of the delimiter; a trailing delimiter adds no empty piece.
TextArray SplitText(std::string_view text, std::string_view delimiter);

// Spaces (0x20 and the full-width A1 A1 at a character start) and letter case.
AnsiText TrimText(std::string_view text);
AnsiText RemoveSpaces(std::string_view text);
AnsiText ToLowerText(std::string_view text);

// Numbers and single characters.
AnsiText IntToText(std::int32_t value);
// The leading decimal number after full-width forms are made half-width; wraps modulo 2^32.
std::int32_t TextToInt(std::string_view text);
AnsiText IntToHex(std::int32_t value);
AnsiText CharFromCode(std::int32_t code);
std::int32_t BitOr(std::initializer_list<std::int32_t> values);

// Texts and bytes.
ByteBuffer TextToBytes(std::string_view text);
AnsiText BytesToText(const ByteBuffer& buffer);
AnsiText BlankText(std::int32_t n);
ByteBuffer BlankBytes(std::int32_t n);

// Byte buffers.
std::int32_t BytesLength(const ByteBuffer& buffer);
template <typename... Buffers>
ByteBuffer JoinBytes(const Buffers&... buffers) {
  ByteBuffer joined;
  joined.reserve((buffers.size() + ... + 0));
  (joined.insert(joined.end(), buffers.begin(), buffers.end()), ...);
  return joined;
}
int CompareBytes(const ByteBuffer& a, const ByteBuffer& b);
ByteBuffer BytesLeft(const ByteBuffer& buffer, std::int32_t n);
// 1-based position of the first exact occurrence, tried at every byte offset; -1 when there is
// none or the sought buffer is empty.
std::int32_t FindBytes(const ByteBuffer& buffer, const ByteBuffer& sought);
