// The conversion calls over tables read once from iconv. Code page 936 comes from glibc's "CP936",
// and for byte pairs it lacks (the user-defined areas, a few symbols) from the two-byte part of
// "GB18030", which maps them as the Windows code page does. After that first read a conversion is
// a table lookup per character: no iconv descriptor per call, no process locale, no shared state
// but two constant tables.
#include "platform/codepage.h"

#include <glib.h>
#include <iconv.h>

#include <array>
#include <climits>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <memory>

namespace {

constexpr char16_t Replacement = 0xFFFD;
constexpr char16_t Euro = 0x20AC;  // the single byte 0x80 of code page 936
constexpr std::size_t Failed = SIZE_MAX;

struct IconvCloser {
  void operator()(void* cd) const { iconv_close(static_cast<iconv_t>(cd)); }
};
using IconvHandle = std::unique_ptr<void, IconvCloser>;

IconvHandle OpenIconv(const char* to, const char* from) {
  iconv_t cd = iconv_open(to, from);
  return IconvHandle(cd == reinterpret_cast<iconv_t>(-1) ? nullptr : cd);
}

// The one BMP character a byte pair decodes to, or 0 when the converter has none.
char16_t DecodePair(void* cd, unsigned char lead, unsigned char trail) {
  if (cd == nullptr) return 0;
  char in[2] = {static_cast<char>(lead), static_cast<char>(trail)};
  unsigned char out[8];
  char* inPointer = in;
  char* outPointer = reinterpret_cast<char*>(out);
  std::size_t inLeft = sizeof in;
  std::size_t outLeft = sizeof out;
  iconv(static_cast<iconv_t>(cd), nullptr, nullptr, nullptr, nullptr);
  if (iconv(static_cast<iconv_t>(cd), &inPointer, &inLeft, &outPointer, &outLeft) ==
          static_cast<std::size_t>(-1) ||
      inLeft != 0 || sizeof out - outLeft != 2) {
    return 0;
  }
  const auto unit = static_cast<char16_t>(out[0] | out[1] << 8);
  return unit >= 0xD800 && unit <= 0xDFFF ? 0 : unit;
}

// Code page 936 both ways. decode holds the character of every pair whose lead byte is 0x81 to
// 0xFF (0: none); encode holds, per BMP character, 0 (none), a single byte below 0x100, or
// lead << 8 | trail.
struct GbkTables {
  std::array<char16_t, 0x7F * 0x100> decode{};
  std::array<std::uint16_t, 0x10000> encode{};

  GbkTables() {
    const IconvHandle cp936 = OpenIconv("UTF-16LE", "CP936");
    const IconvHandle gb18030 = OpenIconv("UTF-16LE", "GB18030");
    std::array<bool, 0x7F * 0x100> fromGb18030{};
    for (unsigned lead = 0x81; lead <= 0xFE; ++lead) {
      for (unsigned trail = 0x40; trail <= 0xFE; ++trail) {
        if (trail == 0x7F) continue;
        const unsigned index = (lead - 0x81) * 0x100 + trail;
        decode[index] = DecodePair(cp936.get(), lead, trail);
        if (decode[index] != 0) continue;
        decode[index] = DecodePair(gb18030.get(), lead, trail);
        fromGb18030[index] = true;
      }
    }
    // The reverse: the first pair of a character wins, and pairs of glibc's own table come
    // before those filled in from GB18030, so every character code page 936 holds keeps its code.
    for (const bool secondPass : {false, true}) {
      for (unsigned index = 0; index < decode.size(); ++index) {
        const char16_t unit = decode[index];
        if (unit == 0 || encode[unit] != 0 || fromGb18030[index] != secondPass) continue;
        encode[unit] = static_cast<std::uint16_t>((index / 0x100 + 0x81) << 8 | index % 0x100);
      }
    }
    for (unsigned byte = 1; byte < 0x80; ++byte)
      encode[byte] = static_cast<std::uint16_t>(byte);
    encode[Euro] = 0x80;
  }
};

const GbkTables& Gbk() {
  static const GbkTables tables;
  return tables;
}

enum class Page { Gbk, Utf8, Unsupported };

Page PageOf(unsigned codePage) {
  if (codePage == CodePageAnsi || codePage == CodePageGbk) return Page::Gbk;
  return codePage == CodePageUtf8 ? Page::Utf8 : Page::Unsupported;
}

// Where converted units or bytes go: a counter for a sizing call, or the caller's buffer, which
// refuses a unit that does not fit so that the whole call fails with nothing written beyond it.
template <typename Unit>
struct CountingSink {
  std::size_t count = 0;
  bool Put(Unit) {
    ++count;
    return true;
  }
};

template <typename Unit>
struct WritingSink {
  Unit* out;
  std::size_t capacity;
  std::size_t count = 0;
  bool Put(Unit unit) {
    if (count == capacity) return false;
    out[count++] = unit;
    return true;
  }
};

bool IsAsciiRun(const unsigned char* p) {
  std::uint64_t word;
  std::memcpy(&word, p, sizeof word);
  return (word & 0x8080808080808080u) == 0;
}

// Code page 936 to UTF-16. A byte of 0x81 or above takes the next byte with it, as everywhere in
// the system; a pair no table holds becomes U+FFFD, and so does a lead byte at the end of the
// input or before a zero byte (which is then read as itself, so a terminator is never swallowed).
template <typename Sink>
std::size_t DecodeGbk(const unsigned char* in, std::size_t n, Sink& sink) {
  const GbkTables& gbk = Gbk();
  std::size_t i = 0;
  while (i < n) {
    if (i + 8 <= n && IsAsciiRun(in + i)) {
      for (std::size_t end = i + 8; i < end; ++i) {
        if (!sink.Put(in[i])) return Failed;
      }
      continue;
    }
    const unsigned char byte = in[i];
    char16_t unit;
    if (byte < 0x80) {
      unit = byte;
      i += 1;
    } else if (byte == 0x80) {
      unit = Euro;
      i += 1;
    } else if (i + 1 < n && in[i + 1] != 0) {
      unit = gbk.decode[(byte - 0x81) * 0x100 + in[i + 1]];
      if (unit == 0) unit = Replacement;
      i += 2;
    } else {
      unit = Replacement;
      i += 1;
    }
    if (!sink.Put(unit)) return Failed;
  }
  return sink.count;
}

// UTF-8 to UTF-16. Every maximal part of an invalid sequence (a stray continuation byte, an
// overlong form, a surrogate, a value above U+10FFFF, a sequence cut short) becomes one U+FFFD.
template <typename Sink>
std::size_t DecodeUtf8(const unsigned char* in, std::size_t n, Sink& sink) {
  std::size_t i = 0;
  while (i < n) {
    if (i + 8 <= n && IsAsciiRun(in + i)) {
      for (std::size_t end = i + 8; i < end; ++i) {
        if (!sink.Put(in[i])) return Failed;
      }
      continue;
    }
    const unsigned char lead = in[i++];
    if (lead < 0x80) {
      if (!sink.Put(lead)) return Failed;
      continue;
    }
    // Length, first value bits, and the range the second byte must lie in.
    std::size_t length = 0;
    std::uint32_t value = 0;
    unsigned char low = 0x80;
    unsigned char high = 0xBF;
    if (lead >= 0xC2 && lead <= 0xDF) {
      length = 2;
      value = lead & 0x1Fu;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
      length = 3;
      value = lead & 0x0Fu;
      if (lead == 0xE0) low = 0xA0;
      if (lead == 0xED) high = 0x9F;
    } else if (lead >= 0xF0 && lead <= 0xF4) {
      length = 4;
      value = lead & 0x07u;
      if (lead == 0xF0) low = 0x90;
      if (lead == 0xF4) high = 0x8F;
    }
    bool complete = length != 0;
    for (std::size_t k = 1; complete && k < length; ++k) {
      if (i >= n || in[i] < low || in[i] > high) {
        complete = false;
        break;
      }
      value = value << 6 | (in[i++] & 0x3Fu);
      low = 0x80;
      high = 0xBF;
    }
    if (!complete) {
      if (!sink.Put(Replacement)) return Failed;
    } else if (value < 0x10000) {
      if (!sink.Put(static_cast<char16_t>(value))) return Failed;
    } else {
      value -= 0x10000;
      if (!sink.Put(static_cast<char16_t>(0xD800 + (value >> 10))) ||
          !sink.Put(static_cast<char16_t>(0xDC00 + (value & 0x3FF)))) {
        return Failed;
      }
    }
  }
  return sink.count;
}

bool IsHighSurrogate(char16_t unit) {
  return unit >= 0xD800 && unit <= 0xDBFF;
}
bool IsLowSurrogate(char16_t unit) {
  return unit >= 0xDC00 && unit <= 0xDFFF;
}

// UTF-16 to UTF-8; a surrogate without its partner becomes U+FFFD.
template <typename Sink>
std::size_t EncodeUtf8(const char16_t* in, std::size_t n, Sink& sink) {
  for (std::size_t i = 0; i < n; ++i) {
    std::uint32_t value = in[i];
    if (value < 0x80) {
      if (!sink.Put(static_cast<char>(value))) return Failed;
      continue;
    }
    if (IsHighSurrogate(in[i]) && i + 1 < n && IsLowSurrogate(in[i + 1])) {
      value = 0x10000 + ((value - 0xD800) << 10) + (in[++i] - 0xDC00u);
    } else if (IsHighSurrogate(in[i]) || IsLowSurrogate(in[i])) {
      value = Replacement;
    }
    char bytes[4];
    std::size_t length;
    if (value < 0x800) {
      bytes[0] = static_cast<char>(0xC0 | value >> 6);
      length = 2;
    } else if (value < 0x10000) {
      bytes[0] = static_cast<char>(0xE0 | value >> 12);
      bytes[1] = static_cast<char>(0x80 | (value >> 6 & 0x3F));
      length = 3;
    } else {
      bytes[0] = static_cast<char>(0xF0 | value >> 18);
      bytes[1] = static_cast<char>(0x80 | (value >> 12 & 0x3F));
      bytes[2] = static_cast<char>(0x80 | (value >> 6 & 0x3F));
      length = 4;
    }
    bytes[length - 1] = static_cast<char>(0x80 | (value & 0x3F));
    for (std::size_t k = 0; k < length; ++k) {
      if (!sink.Put(bytes[k])) return Failed;
    }
  }
  return sink.count;
}

bool IsCombiningMark(char16_t unit) {
  return unit >= 0x0300 && unit <= 0x036F;
}

// UTF-16 to code page 936. A character the code page cannot hold becomes "?" (a surrogate pair is
// one character). With the composite check a base character and a following combining mark that
// have a precomposed form in the code page (the tone-marked pinyin vowels) become that form.
template <typename Sink>
std::size_t EncodeGbk(const char16_t* in, std::size_t n, bool compositeCheck, Sink& sink) {
  const GbkTables& gbk = Gbk();
  for (std::size_t i = 0; i < n; ++i) {
    const char16_t unit = in[i];
    const bool combines = compositeCheck && i + 1 < n && IsCombiningMark(in[i + 1]);
    if (unit < 0x80 && !combines) {
      if (!sink.Put(static_cast<char>(unit))) return Failed;
      continue;
    }
    std::uint16_t code = unit < 0x80 ? unit : 0;
    if (IsHighSurrogate(unit) && i + 1 < n && IsLowSurrogate(in[i + 1])) {
      ++i;
    } else if (unit >= 0x80 && !IsHighSurrogate(unit) && !IsLowSurrogate(unit)) {
      code = gbk.encode[unit];
    }
    if (combines) {
      gunichar composed = 0;
      if (g_unichar_compose(unit, in[i + 1], &composed) && composed < 0x10000 &&
          gbk.encode[composed] != 0) {
        code = gbk.encode[composed];
        ++i;
      }
    }
    if (code == 0 && unit != 0) code = '?';
    if (code >= 0x100 && !sink.Put(static_cast<char>(code >> 8))) return Failed;
    if (!sink.Put(static_cast<char>(code & 0xFF))) return Failed;
  }
  return sink.count;
}

// The arguments both calls check alike; the input length with -1 resolved, or Failed.
template <typename InputUnit>
std::size_t InputLength(const InputUnit* input, int inputLength, const void* output,
                        int outputCapacity) {
  if (input == nullptr || inputLength == 0 || inputLength < -1 || outputCapacity < 0 ||
      (output == nullptr && outputCapacity != 0)) {
    return Failed;
  }
  if (inputLength != -1) return static_cast<std::size_t>(inputLength);
  std::size_t length = 0;
  while (input[length] != 0)
    ++length;
  return length + 1;
}

int Result(std::size_t count) {
  return count == Failed || count > INT_MAX ? 0 : static_cast<int>(count);
}

}  // namespace

int ConvertToWide(unsigned codePage, unsigned flags, const char* input, int inputLength,
                  char16_t* output, int outputCapacity) {
  const Page page = PageOf(codePage);
  const std::size_t length = InputLength(input, inputLength, output, outputCapacity);
  if (page == Page::Unsupported || length == Failed) return 0;
  if (page == Page::Utf8 && (flags & ~0x8u) != 0) return 0;  // only MB_ERR_INVALID_CHARS
  const auto* bytes = reinterpret_cast<const unsigned char*>(input);
  const auto convert = [&](auto sink) {
    return Result(page == Page::Gbk ? DecodeGbk(bytes, length, sink)
                                    : DecodeUtf8(bytes, length, sink));
  };
  if (outputCapacity == 0) return convert(CountingSink<char16_t>());
  return convert(WritingSink<char16_t>{output, static_cast<std::size_t>(outputCapacity)});
}

int ConvertFromWide(unsigned codePage, unsigned flags, const char16_t* input, int inputLength,
                    char* output, int outputCapacity) {
  const Page page = PageOf(codePage);
  const std::size_t length = InputLength(input, inputLength, output, outputCapacity);
  if (page == Page::Unsupported || length == Failed) return 0;
  if (page == Page::Utf8 && (flags & ~0x80u) != 0) return 0;  // only WC_ERR_INVALID_CHARS
  const bool compositeCheck = (flags & CompositeCheck) != 0;
  const auto convert = [&](auto sink) {
    return Result(page == Page::Gbk ? EncodeGbk(input, length, compositeCheck, sink)
                                    : EncodeUtf8(input, length, sink));
  };
  if (outputCapacity == 0) return convert(CountingSink<char>());
  return convert(WritingSink<char>{output, static_cast<std::size_t>(outputCapacity)});
}
