// Percent-encoding and the UTF-8 to code page 936 conversion on any bytes. Encoded text decodes
// back to the bytes it encodes, in "%" and two upper-case digits or as a safe byte; converted text
// converts back to UTF-8 and once more to the same code page 936 bytes.
#include "support/fuzz_input.h"
#include "text/codepage.h"

#include <algorithm>
#include <cstdint>
#include <string>

namespace {

using Text = std::string;

int HexValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;  // lower-case digits are not written
}

bool IsSafe(char c) {
  return c == '-' || c == '.' || (c >= '0' && c <= '9') || (c >= 'A' && c <= 'Z') ||
         (c >= 'a' && c <= 'z');
}

// The bytes an encoded text stands for; a byte that is neither an escape nor safe fails the run.
Text Decode(std::string_view encoded, bool keepSafe) {
  Text bytes;
  for (std::size_t i = 0; i < encoded.size();) {
    if (encoded[i] == '%') {
      FUZZ_CHECK(i + 3 <= encoded.size());
      const int high = HexValue(encoded[i + 1]);
      const int low = HexValue(encoded[i + 2]);
      FUZZ_CHECK(high >= 0 && low >= 0);
      const char byte = static_cast<char>(high << 4 | low);
      FUZZ_CHECK(!(keepSafe && IsSafe(byte)));  // a safe byte stands as itself
      bytes += byte;
      i += 3;
    } else {
      FUZZ_CHECK(keepSafe && IsSafe(encoded[i]));
      bytes += encoded[i++];
    }
  }
  return bytes;
}

bool IsUtf8(std::string_view text) {
  for (std::size_t i = 0; i < text.size();) {
    const auto lead = static_cast<unsigned char>(text[i]);
    std::size_t length = lead < 0x80   ? 1
                         : lead < 0xC2 ? 0
                         : lead < 0xE0 ? 2
                         : lead < 0xF0 ? 3
                         : lead < 0xF5 ? 4
                                       : 0;
    if (length == 0 || i + length > text.size()) return false;
    std::uint32_t value = length == 1 ? lead : lead & (0x7Fu >> length);
    for (std::size_t k = 1; k < length; ++k) {
      const auto trail = static_cast<unsigned char>(text[i + k]);
      if ((trail & 0xC0) != 0x80) return false;
      value = value << 6 | (trail & 0x3Fu);
    }
    const std::uint32_t least[] = {0, 0, 0x80, 0x800, 0x10000};
    if (value < least[length] || value > 0x10FFFF || (value >= 0xD800 && value <= 0xDFFF)) {
      return false;
    }
    i += length;
  }
  return true;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view bytes(reinterpret_cast<const char*>(data), size);
  const Text text(bytes.substr(0, bytes.find('\0')));  // a text ends at its first zero byte

  for (const bool keepSafe : {false, true}) {
    FUZZ_CHECK(Decode(UrlEncode(text, {.keepSafe = keepSafe}), keepSafe) == text);
    const AnsiText utf8 = GbkToUtf8(text);
    FUZZ_CHECK(IsUtf8(utf8) && !HasZeroByte(utf8));
    FUZZ_CHECK(Decode(UrlEncode(text, {.keepSafe = keepSafe, .asUtf8 = true}), keepSafe) == utf8);
  }

  const ByteBuffer input(bytes.begin(), bytes.end());
  const ByteBuffer gbk = Utf8ToGbk(input);
  FUZZ_CHECK(gbk.size() <= 2 * input.size());
  FUZZ_CHECK(Utf8ToWide(input).size() <= 2 * input.size());
  if (std::all_of(bytes.begin(), bytes.end(), [](char c) { return c >= 0; })) {
    FUZZ_CHECK(gbk == input);
  }
  if (!HasZeroByte(bytes)) {
    const AnsiText back(gbk.begin(), gbk.end());
    const std::string again = GbkToUtf8(back);
    FUZZ_CHECK(Utf8ToGbk(ByteBuffer(again.begin(), again.end())) == gbk);
  }
  return 0;
}
