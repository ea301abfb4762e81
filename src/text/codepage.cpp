#include "text/codepage.h"

#include "platform/codepage.h"
#include "text/text_ops.h"

#include <algorithm>
#include <bit>
#include <climits>
#include <cstddef>
#include <cstring>
#include <string>

namespace {

// Wide texts travel as little-endian byte pairs whatever the host order.
ByteBuffer UnitsToBytes(const char16_t* units, std::size_t count) {
  ByteBuffer bytes(count * 2);
  if constexpr (std::endian::native == std::endian::little) {
    if (count != 0) std::memcpy(bytes.data(), units, count * 2);
    return bytes;
  }
  for (std::size_t i = 0; i < count; ++i) {
    bytes[2 * i] = static_cast<std::uint8_t>(units[i] & 0xFF);
    bytes[2 * i + 1] = static_cast<std::uint8_t>(units[i] >> 8);
  }
  return bytes;
}

// The units of a wide text up to its first zero unit, or of the whole buffer when it has none, so
// a missing terminator never makes a conversion read beyond the buffer. An odd last byte is no
// unit.
std::u16string TerminatedUnits(const ByteBuffer& wide) {
  std::u16string units(wide.size() / 2, u'\0');
  if constexpr (std::endian::native == std::endian::little) {
    if (!units.empty()) std::memcpy(units.data(), wide.data(), units.size() * 2);
  } else {
    for (std::size_t i = 0; i < units.size(); ++i)
      units[i] = static_cast<char16_t>(wide[2 * i] | wide[2 * i + 1] << 8);
  }
  units.resize(std::min(units.size(), units.find(u'\0')));
  return units;
}

// The UTF-16 units of UTF-8 bytes: a sizing call, then the conversion.
std::u16string Utf8Units(const ByteBuffer& utf8) {
  if (utf8.empty() || utf8.size() > INT_MAX) return {};
  const auto* input = reinterpret_cast<const char*>(utf8.data());
  const int length = static_cast<int>(utf8.size());
  const int count = ConvertToWide(CodePageUtf8, 0, input, length, nullptr, 0);
  if (count <= 0) return {};
  std::u16string units(static_cast<std::size_t>(count), u'\0');
  const int written = ConvertToWide(CodePageUtf8, 0, input, length, units.data(), count);
  units.resize(static_cast<std::size_t>(written));
  return units;
}

bool IsUrlSafe(unsigned char byte) {
  return byte == '-' || byte == '.' || (byte >= '0' && byte <= '9') ||
         (byte >= 'A' && byte <= 'Z') || (byte >= 'a' && byte <= 'z');
}

}  // namespace

AnsiText UrlEncode(std::string_view text, const UrlEncodeOptions& options) {
  static constexpr char HexDigits[] = "0123456789ABCDEF";
  const AnsiText utf8 = options.asUtf8 ? GbkToUtf8(text) : AnsiText();
  const std::string_view bytes = options.asUtf8 ? std::string_view(utf8) : text;
  AnsiText encoded;
  encoded.reserve(bytes.size() * 3);
  for (const char character : bytes) {
    const auto byte = static_cast<unsigned char>(character);
    if (options.keepSafe && IsUrlSafe(byte)) {
      encoded += character;
    } else {
      encoded += '%';
      encoded += HexDigits[byte >> 4];
      encoded += HexDigits[byte & 0xF];
    }
  }
  return encoded;
}

// What WideToText(TextToWide(text, 936), 65001) gives, the text up to its first zero byte in
// UTF-8, without the wide text's byte buffer and the sizing in between: a page is converted with
// one decoding and one encoding.
AnsiText GbkToUtf8(std::string_view text) {
  return CodePageFromWide(CodePageUtf8,
                          WideFromCodePage(CodePageGbk, text.substr(0, text.find('\0'))));
}

// Sized by the system's code page whatever code page it converts from, as the platform call is
// made. A text that needs more units in the asked code page (GBK bytes read as UTF-8, where a
// pair can become two replacement characters) does not fit that size; it is then sized again in
// its own code page, so the result is always the whole conversion and never a cut or empty one.
ByteBuffer TextToWide(std::string_view text, std::optional<std::int32_t> codePage) {
  const AnsiText terminated(text.substr(0, text.find('\0')));
  if (terminated.empty()) return {};
  const auto page = static_cast<unsigned>(codePage.value_or(CodePageUtf8));
  const char* input = terminated.c_str();
  int count = ConvertToWide(CodePageAnsi, 0, input, -1, nullptr, 0);
  if (count <= 0) return {};
  std::u16string units(static_cast<std::size_t>(count), u'\0');
  if (ConvertToWide(page, 0, input, -1, units.data(), count) == 0) {
    count = ConvertToWide(page, 0, input, -1, nullptr, 0);
    if (count <= 0) return {};
    units.assign(static_cast<std::size_t>(count), u'\0');
    if (ConvertToWide(page, 0, input, -1, units.data(), count) == 0) return {};
  }
  return UnitsToBytes(units.data(), units.size());
}

// The capacity is twice the size in the system's code page; a text that needs even more in the
// asked code page (UTF-8 of characters code page 936 lacks: one "?" there, three or four bytes in
// UTF-8) is sized again in its own code page, as TextToWide does.
AnsiText WideToText(const ByteBuffer& wide, std::optional<std::int32_t> codePage) {
  const std::u16string units = TerminatedUnits(wide);
  if (units.empty()) return {};
  const auto page = static_cast<unsigned>(codePage.value_or(CodePageAnsi));
  const char16_t* input = units.c_str();
  const int size = ConvertFromWide(CodePageAnsi, 0, input, -1, nullptr, 0);
  if (size <= 0 || size > INT_MAX / 2) return {};
  AnsiText text = BlankText(size * 2);
  if (ConvertFromWide(page, 0, input, -1, text.data(), size * 2) == 0) {
    const int exact = ConvertFromWide(page, 0, input, -1, nullptr, 0);
    if (exact <= 0) return {};
    text = BlankText(exact);
    if (ConvertFromWide(page, 0, input, -1, text.data(), exact) == 0) return {};
  }
  text.resize(std::min(text.size(), text.find('\0')));
  return text;
}

ByteBuffer Utf8ToWide(const ByteBuffer& utf8) {
  const std::u16string units = Utf8Units(utf8);
  return UnitsToBytes(units.data(), units.size());
}

ByteBuffer Utf8ToGbk(const ByteBuffer& utf8) {
  const std::u16string units = Utf8Units(utf8);
  if (units.empty() || units.size() > INT_MAX) return {};
  const int count = static_cast<int>(units.size());
  const int size = ConvertFromWide(CodePageGbk, CompositeCheck, units.data(), count, nullptr, 0);
  if (size <= 0) return {};
  ByteBuffer gbk = BlankBytes(size);
  const int written = ConvertFromWide(CodePageGbk, CompositeCheck, units.data(), count,
                                      reinterpret_cast<char*>(gbk.data()), size);
  gbk.resize(static_cast<std::size_t>(written));
  return gbk;
}
