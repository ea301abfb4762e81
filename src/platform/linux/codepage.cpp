// The conversion calls on Linux. Code page 936 is ICU's converter "windows-936-2000", which
// carries the Windows table itself: every single byte and every byte pair decodes, and every
// character encodes, as on Windows (the user-defined areas and the symbols GB18030 moved included).
// ICU is asked once per process, for the whole table in one call each way, and its answers are
// kept in two arrays; a conversion is then a lookup per character under the system's own framing
// (a byte from 0x81 leads a pair), with no converter state to share between threads.
#include "platform/codepage.h"

#include <unicode/ucnv.h>
#include <unicode/ucnv_err.h>
#include <unicode/unorm2.h>

#include <array>
#include <climits>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <memory>
#include <vector>

namespace {

constexpr char16_t Replacement = 0xFFFD;
constexpr char16_t Euro = 0x20AC;  // the single byte 0x80 of code page 936
constexpr std::size_t Failed = SIZE_MAX;
constexpr char WindowsCodePage936[] = "windows-936-2000";

struct ConverterCloser {
  void operator()(UConverter* converter) const { ucnv_close(converter); }
};
using Converter = std::unique_ptr<UConverter, ConverterCloser>;

// A converter that skips what it cannot map, so that the offsets of what it wrote tell which
// input each output came from.
Converter OpenSkipping() {
  UErrorCode status = U_ZERO_ERROR;
  Converter converter(ucnv_open(WindowsCodePage936, &status));
  if (U_FAILURE(status)) return nullptr;
  ucnv_setToUCallBack(converter.get(), UCNV_TO_U_CALLBACK_SKIP, nullptr, nullptr, nullptr, &status);
  ucnv_setFromUCallBack(converter.get(), UCNV_FROM_U_CALLBACK_SKIP, nullptr, nullptr, nullptr,
                        &status);
  return U_SUCCESS(status) ? std::move(converter) : nullptr;
}

// Code page 936 both ways. decode holds the character of every pair, by lead << 8 | trail, whose
// lead byte is 0x81 to 0xFF (U+FFFD: none); encode holds, per BMP character, 0 (none), a single
// byte below 0x100, or lead << 8 | trail. Without ICU's converter both stay empty and every
// character is replaced.
struct GbkTables {
  std::array<char16_t, 0x10000> decode{};  // by lead << 8 | trail
  std::array<std::uint16_t, 0x10000> encode{};
  // What one byte alone reads as: itself below 0x80, the euro sign, or (a lead byte without its
  // trail) U+FFFD; and per BMP character what it becomes, "?" for one the code page lacks.
  std::array<char16_t, 0x100> single{};
  std::array<std::uint16_t, 0x10000> encodeOrMark{};

  GbkTables() {
    decode.fill(Replacement);
    if (const Converter converter = OpenSkipping()) {
      ReadPairs(converter.get());
      ReadCharacters(converter.get());
    }
    for (unsigned byte = 1; byte < 0x80; ++byte)
      encode[byte] = static_cast<std::uint16_t>(byte);
    for (unsigned byte = 0; byte < 0x100; ++byte)
      single[byte] = byte < 0x80 ? byte : byte == 0x80 ? Euro : Replacement;
    for (unsigned unit = 1; unit < 0x10000; ++unit)
      encodeOrMark[unit] = encode[unit] != 0 ? encode[unit] : '?';
  }

  // Every pair a lead byte can start, one after another; a pair the converter cannot map gives no
  // unit, and one it would read otherwise than as a pair (none in this table) is left out.
  void ReadPairs(UConverter* converter) {
    std::vector<char> pairs;
    for (unsigned lead = 0x81; lead <= 0xFE; ++lead) {
      for (unsigned trail = 0x40; trail <= 0xFE; ++trail) {
        if (trail == 0x7F) continue;
        pairs.push_back(static_cast<char>(lead));
        pairs.push_back(static_cast<char>(trail));
      }
    }
    std::vector<char16_t> units(pairs.size());
    std::vector<std::int32_t> offsets(pairs.size());
    UChar* out = reinterpret_cast<UChar*>(units.data());
    const char* in = pairs.data();
    UErrorCode status = U_ZERO_ERROR;
    ucnv_toUnicode(converter, &out, out + units.size(), &in, in + pairs.size(), offsets.data(),
                   true, &status);
    if (U_FAILURE(status)) return;
    const std::size_t count =
        static_cast<std::size_t>(out - reinterpret_cast<UChar*>(units.data()));
    for (std::size_t k = 0; k < count; ++k) {
      const bool alone = (k == 0 || offsets[k - 1] != offsets[k]) &&
                         (k + 1 == count || offsets[k + 1] != offsets[k]);
      if (offsets[k] < 0 || offsets[k] % 2 != 0 || !alone) continue;
      const auto lead = static_cast<unsigned char>(pairs[offsets[k]]);
      const auto trail = static_cast<unsigned char>(pairs[offsets[k] + 1]);
      decode[lead << 8 | trail] = units[k];
    }
  }

  // Every BMP character but the surrogates; each gives its one or two bytes, or none.
  void ReadCharacters(UConverter* converter) {
    std::vector<char16_t> characters;
    for (unsigned unit = 0x80; unit <= 0xFFFF; ++unit) {
      if (unit < 0xD800 || unit > 0xDFFF) characters.push_back(static_cast<char16_t>(unit));
    }
    std::vector<char> bytes(2 * characters.size());
    std::vector<std::int32_t> offsets(bytes.size());
    char* out = bytes.data();
    const UChar* in = reinterpret_cast<const UChar*>(characters.data());
    UErrorCode status = U_ZERO_ERROR;
    ucnv_fromUnicode(converter, &out, out + bytes.size(), &in, in + characters.size(),
                     offsets.data(), true, &status);
    if (U_FAILURE(status)) return;
    const std::size_t count = static_cast<std::size_t>(out - bytes.data());
    for (std::size_t k = 0; k < count;) {
      std::size_t end = k + 1;
      while (end < count && offsets[end] == offsets[k])
        ++end;
      if (offsets[k] >= 0 && end - k <= 2) {
        std::uint16_t code = static_cast<unsigned char>(bytes[k]);
        if (end - k == 2)
          code = static_cast<std::uint16_t>(code << 8 | static_cast<unsigned char>(bytes[k + 1]));
        encode[characters[offsets[k]]] = code;
      }
      k = end;
    }
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

// Where converted units or bytes go: a counter for a sizing call; the caller's buffer, which
// refuses a unit that does not fit so that the whole call fails with nothing written beyond it;
// or, when the buffer holds the most the input can give, the buffer without a check per unit.
// PutAscii takes a run of ASCII input (bytes or units) at once.
template <typename Unit>
struct CountingSink {
  std::size_t count = 0;
  bool Put(Unit) {
    ++count;
    return true;
  }
  template <typename In>
  bool PutAscii(const In*, std::size_t length) {
    count += length;
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
  template <typename In>
  bool PutAscii(const In* in, std::size_t length) {
    if (capacity - count < length) return false;
    for (std::size_t k = 0; k < length; ++k)
      out[count + k] = static_cast<Unit>(in[k]);
    count += length;
    return true;
  }
};

template <typename Unit>
struct RoomySink {
  Unit* out;
  std::size_t count = 0;
  bool Put(Unit unit) {
    out[count++] = unit;
    return true;
  }
  template <typename In>
  bool PutAscii(const In* in, std::size_t length) {
    for (std::size_t k = 0; k < length; ++k)
      out[count + k] = static_cast<Unit>(in[k]);
    count += length;
    return true;
  }
};

// The end of the run of ASCII bytes from i, in steps of 8 (the rest goes byte by byte).
std::size_t AsciiRunEnd(const unsigned char* in, std::size_t i, std::size_t n) {
  while (i + 8 <= n) {
    std::uint64_t word;
    std::memcpy(&word, in + i, sizeof word);
    if ((word & 0x8080808080808080u) != 0) break;
    i += 8;
  }
  return i;
}

// The same for UTF-16 units, in steps of 4.
std::size_t AsciiRunEnd(const char16_t* in, std::size_t i, std::size_t n) {
  while (i + 4 <= n) {
    std::uint64_t word;
    std::memcpy(&word, in + i, sizeof word);
    if ((word & 0xFF80FF80FF80FF80u) != 0) break;
    i += 4;
  }
  return i;
}

// Code page 936 to UTF-16. A byte of 0x81 or above takes the next byte with it, as everywhere in
// the system; a pair no table holds becomes U+FFFD, and so does a lead byte at the end of the
// input or before a zero byte (which is then read as itself, so a terminator is never swallowed).
template <typename Sink>
std::size_t DecodeGbk(const unsigned char* in, std::size_t n, Sink& sink) {
  const GbkTables& gbk = Gbk();
  std::size_t i = 0;
  while (i < n) {
    if (const std::size_t end = AsciiRunEnd(in, i, n); end != i) {
      if (!sink.PutAscii(in + i, end - i)) return Failed;
      i = end;
    }
    // Text runs in stretches of one kind: ASCII bytes, then pairs.
    while (i < n && in[i] < 0x80) {
      if (!sink.Put(in[i])) return Failed;
      ++i;
    }
    while (i + 1 < n && in[i] > 0x80 && in[i + 1] != 0) {
      if (!sink.Put(gbk.decode[in[i] << 8 | in[i + 1]])) return Failed;
      i += 2;
    }
    if (i < n && in[i] >= 0x80) {
      // The euro sign, or a lead byte at the end or before a zero byte.
      if (in[i] == 0x80 || i + 1 == n || in[i + 1] == 0) {
        if (!sink.Put(in[i] == 0x80 ? Euro : Replacement)) return Failed;
        ++i;
      }
    }
  }
  return sink.count;
}

// UTF-8 to UTF-16. Every maximal part of an invalid sequence (a stray continuation byte, an
// overlong form, a surrogate, a value above U+10FFFF, a sequence cut short) becomes one U+FFFD.
template <typename Sink>
std::size_t DecodeUtf8(const unsigned char* in, std::size_t n, Sink& sink) {
  std::size_t i = 0;
  while (i < n) {
    if (const std::size_t end = AsciiRunEnd(in, i, n); end != i) {
      if (!sink.PutAscii(in + i, end - i)) return Failed;
      i = end;
      if (i == n) break;
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
bool IsSurrogate(char16_t unit) {
  return unit >= 0xD800 && unit <= 0xDFFF;
}

// UTF-16 to UTF-8; a surrogate without its partner becomes U+FFFD.
template <typename Sink>
std::size_t EncodeUtf8(const char16_t* in, std::size_t n, Sink& sink) {
  for (std::size_t i = 0; i < n; ++i) {
    if (const std::size_t end = AsciiRunEnd(in, i, n); end != i) {
      if (!sink.PutAscii(in + i, end - i)) return Failed;
      i = end;
      if (i == n) break;
    }
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

// The precomposed form of a base character and a combining mark, or a negative value.
UChar32 ComposePair(char16_t base, char16_t mark) {
  UErrorCode status = U_ZERO_ERROR;
  const UNormalizer2* nfc = unorm2_getNFCInstance(&status);
  return U_SUCCESS(status) ? unorm2_composePair(nfc, base, mark) : -1;
}

// UTF-16 to code page 936. A character the code page cannot hold becomes "?" (a surrogate pair is
// one character). With the composite check a base character and a following combining mark that
// have a precomposed form in the code page (the tone-marked pinyin vowels) become that form.
template <typename Sink>
std::size_t EncodeGbk(const char16_t* in, std::size_t n, bool compositeCheck, Sink& sink) {
  const GbkTables& gbk = Gbk();
  for (std::size_t i = 0; i < n; ++i) {
    // Without the composite check, a stretch of characters from the table at once.
    while (!compositeCheck && i < n && in[i] >= 0x80 && !IsSurrogate(in[i])) {
      const std::uint16_t code = gbk.encode[in[i]];
      if (code >= 0x100) {
        if (!sink.Put(static_cast<char>(code >> 8)) || !sink.Put(static_cast<char>(code & 0xFF)))
          return Failed;
      } else if (!sink.Put(code == 0 ? '?' : static_cast<char>(code))) {
        return Failed;
      }
      ++i;
    }
    if (i == n) break;
    const char16_t unit = in[i];
    const bool combines = compositeCheck && i + 1 < n && IsCombiningMark(in[i + 1]);
    if (unit < 0x80 && !combines) {
      // A run of ASCII at once; its last unit may take a combining mark after it, so under the
      // composite check that one goes the long way.
      const std::size_t end = AsciiRunEnd(in, i, n);
      const std::size_t run = end - i - (compositeCheck && end != i ? 1 : 0);
      if (run > 1) {
        if (!sink.PutAscii(in + i, run)) return Failed;
        i += run - 1;
      } else if (!sink.Put(static_cast<char>(unit))) {
        return Failed;
      }
      continue;
    }
    std::uint16_t code = unit < 0x80 ? unit : 0;
    if (IsHighSurrogate(unit) && i + 1 < n && IsLowSurrogate(in[i + 1])) {
      ++i;
    } else if (unit >= 0x80 && !IsHighSurrogate(unit) && !IsLowSurrogate(unit)) {
      code = gbk.encode[unit];
    }
    if (combines) {
      const UChar32 composed = ComposePair(unit, in[i + 1]);
      if (composed > 0 && composed < 0x10000 && gbk.encode[composed] != 0) {
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

// The two code page 936 loops a page goes through, for an output that holds the most the input
// can give: the same conversions as DecodeGbk and EncodeGbk (without the composite check), with
// no sink between them and the buffer.
std::size_t DecodeGbkInto(const unsigned char* in, std::size_t n, char16_t* out) {
  const GbkTables& gbk = Gbk();
  char16_t* o = out;
  std::size_t i = 0;
  // Without a branch on the kind of character: text alternates between ASCII and pairs.
  while (i + 1 < n) {
    const unsigned byte = in[i];
    const unsigned next = in[i + 1];
    const bool pair = byte > 0x80 && next != 0;
    *o++ = pair ? gbk.decode[byte << 8 | next] : gbk.single[byte];
    i += pair ? 2 : 1;
  }
  if (i < n) *o++ = gbk.single[in[i]];
  return static_cast<std::size_t>(o - out);
}

// Writes two bytes for every character and keeps the second only for a pair: the output holds
// two bytes a unit, so the spare byte stays inside it (the next character overwrites it, and
// after the last one it lies beyond the count returned).
std::size_t EncodeGbkInto(const char16_t* in, std::size_t n, char* out) {
  const GbkTables& gbk = Gbk();
  char* o = out;
  for (std::size_t i = 0; i < n; ++i) {
    const char16_t unit = in[i];
    if (IsSurrogate(unit)) {
      // A surrogate pair is one character the code page lacks, and so is a lone surrogate.
      if (IsHighSurrogate(unit) && i + 1 < n && IsLowSurrogate(in[i + 1])) ++i;
      *o++ = '?';
      continue;
    }
    const std::uint16_t code = gbk.encodeOrMark[unit];
    const bool pair = code >= 0x100;
    o[0] = static_cast<char>(pair ? code >> 8 : code);
    o[1] = static_cast<char>(code & 0xFF);
    o += pair ? 2 : 1;
  }
  return static_cast<std::size_t>(o - out);
}

// What DecodeGbkInto and EncodeGbkInto would write, counted the same way.
std::size_t CountGbkUnits(const unsigned char* in, std::size_t n) {
  std::size_t count = 0;
  std::size_t i = 0;
  while (i + 1 < n) {
    i += in[i] > 0x80 && in[i + 1] != 0 ? 2 : 1;
    ++count;
  }
  return count + (n - i);
}

std::size_t CountGbkBytes(const char16_t* in, std::size_t n) {
  const GbkTables& gbk = Gbk();
  std::size_t count = 0;
  for (std::size_t i = 0; i < n; ++i) {
    const char16_t unit = in[i];
    if (IsSurrogate(unit)) {
      if (IsHighSurrogate(unit) && i + 1 < n && IsLowSurrogate(in[i + 1])) ++i;
      ++count;
      continue;
    }
    count += gbk.encodeOrMark[unit] >= 0x100 ? 2 : 1;
  }
  return count;
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
  const auto capacity = static_cast<std::size_t>(outputCapacity);
  if (page == Page::Gbk) {
    // Counted first where the output might not hold it all: a call that fails writes nothing.
    const std::size_t count = capacity >= length ? 0 : CountGbkUnits(bytes, length);
    if (outputCapacity == 0) return Result(count);
    return count > capacity ? 0 : Result(DecodeGbkInto(bytes, length, output));
  }
  if (outputCapacity == 0) return convert(CountingSink<char16_t>());
  // UTF-8 gives no more units than it reads bytes.
  if (capacity >= length) return convert(RoomySink<char16_t>{output});
  return convert(WritingSink<char16_t>{output, capacity});
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
  const auto capacity = static_cast<std::size_t>(outputCapacity);
  if (page == Page::Gbk && !compositeCheck) {
    // EncodeGbkInto may put a spare byte after the last character: it needs one byte more than
    // the count, which the output has when it holds two bytes a unit, or when counting shows it.
    const std::size_t count = capacity >= 2 * length ? 0 : CountGbkBytes(input, length);
    if (outputCapacity == 0) return Result(count);
    if (count > capacity) return 0;
    if (capacity >= 2 * length || count < capacity) {
      return Result(EncodeGbkInto(input, length, output));
    }
    return convert(WritingSink<char>{output, capacity});
  }
  if (outputCapacity == 0) return convert(CountingSink<char>());
  // A unit gives at most two bytes in code page 936 and three in UTF-8.
  const std::size_t most = (page == Page::Gbk ? 2 : 3) * length;
  if (capacity >= most) return convert(RoomySink<char>{output});
  return convert(WritingSink<char>{output, capacity});
}
