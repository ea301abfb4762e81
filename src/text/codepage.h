// Conversions between code page 936, UTF-16 and UTF-8, and percent-encoding.
#pragma once

#include "text/text_value.h"

#include <cstdint>
#include <optional>
#include <string_view>

// Every byte becomes "%" and two upper-case hex digits, except, with keepSafe, "-", ".", digits
// and ASCII letters. With asUtf8 the text's UTF-8 form is encoded. A space is %20, never "+".
struct UrlEncodeOptions {
  bool keepSafe = false;
  bool asUtf8 = false;
};
AnsiText UrlEncode(std::string_view text, const UrlEncodeOptions& options = {});

// The UTF-8 bytes of a code page 936 text.
AnsiText GbkToUtf8(std::string_view text);

// UTF-16LE units of the text, ending with a zero unit; codePage 65001 when not supplied.
ByteBuffer TextToWide(std::string_view text, std::optional<std::int32_t> codePage = std::nullopt);

// The text of a zero-terminated UTF-16LE buffer in a code page; 0 (the system's ANSI code page,
// 936 in Pelvaro) when not supplied.
AnsiText WideToText(const ByteBuffer& wide, std::optional<std::int32_t> codePage = std::nullopt);

// UTF-16LE units of UTF-8 bytes, without a terminating unit.
ByteBuffer Utf8ToWide(const ByteBuffer& utf8);

// UTF-8 bytes converted to code page 936, without a terminator.
ByteBuffer Utf8ToGbk(const ByteBuffer& utf8);
