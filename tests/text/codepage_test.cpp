#include "text/codepage.h"

#include "platform/codepage.h"

#include <gtest/gtest.h>

#include <fstream>
#include <sstream>
#include <string>
#include <string_view>
#include <vector>

namespace {

using namespace std::literals;

ByteBuffer Bytes(std::string_view text) {
  return ByteBuffer(text.begin(), text.end());
}

ByteBuffer Bytes(std::u8string_view text) {
  return ByteBuffer(text.begin(), text.end());
}

ByteBuffer Units(std::u16string_view units) {
  ByteBuffer bytes;
  for (const char16_t unit : units) {
    bytes.push_back(static_cast<std::uint8_t>(unit & 0xFF));
    bytes.push_back(static_cast<std::uint8_t>(unit >> 8));
  }
  return bytes;
}

// Literals are code page 936 bytes at run time: "中文" is D6 D0 CE C4.
TEST(UrlEncode, EncodesEveryByteInUpperCaseHex) {
  struct Case {
    std::string_view text;
    bool keepSafe;
    bool asUtf8;
    std::string_view encoded;
  };
  const Case cases[] = {
      {"abc", false, true, "%61%62%63"},
      {"中", false, true, "%E4%B8%AD"},
      {"中", false, false, "%D6%D0"},
      {"a b\n", false, false, "%61%20%62%0A"},
      {"\xE4", false, false, "%E4"},
      {"aZ09-.", true, false, "aZ09-."},
      {"a/b_c~d e+f", true, false, "a%2Fb%5Fc%7Ed%20e%2Bf"},
      {"网盘 1", true, true, "%E7%BD%91%E7%9B%98%201"},
      {"", false, true, ""},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(UrlEncode(c.text, {.keepSafe = c.keepSafe, .asUtf8 = c.asUtf8}), c.encoded)
        << c.encoded;
  }
}

TEST(GbkToUtf8, ConvertsChineseAndKeepsAscii) {
  EXPECT_EQ(Bytes(GbkToUtf8("中文 abc：")), Bytes(u8"中文 abc："));
  EXPECT_EQ(GbkToUtf8(""), "");
  // A dangling lead byte is one replacement character, not a read past the end.
  EXPECT_EQ(Bytes(GbkToUtf8("a\xD6")), Bytes(u8"a\uFFFD"));
}

TEST(TextToWide, ProducesTerminatedUnitsInTheAskedCodePage) {
  EXPECT_EQ(TextToWide("中文", 936), Units(u"中文\0"sv));
  EXPECT_EQ(TextToWide("abc"), Units(u"abc\0"sv));
  EXPECT_EQ(TextToWide(""), ByteBuffer());
  // Sized in code page 936 and read as UTF-8 it needs fewer units: the rest stays zero.
  EXPECT_EQ(TextToWide(reinterpret_cast<const char*>(u8"中"), 936), Units(u"\u6D93\uFFFD\0"sv));
  EXPECT_EQ(TextToWide(reinterpret_cast<const char*>(u8"中")), Units(u"中\0\0"sv));
}

TEST(TextToWide, RetriesATextThatNeedsMoreUnitsThanItsSize) {
  // "中文" in code page 936 is two characters there, but four invalid bytes read as UTF-8.
  EXPECT_EQ(TextToWide("中文", 65001), Units(u"\uFFFD\uFFFD\uFFFD\uFFFD\0"sv));
}

TEST(WideToText, ConvertsUpToTheTerminator) {
  EXPECT_EQ(WideToText(Units(u"中文\0ignored"sv)), "中文");
  EXPECT_EQ(Bytes(WideToText(Units(u"中文\0"sv), 65001)), Bytes(u8"中文"));
  EXPECT_EQ(WideToText(ByteBuffer()), "");
  EXPECT_EQ(WideToText(Units(u"\0abc"sv)), "");
  // Without a terminator the whole buffer is read and nothing beyond; an odd byte is no unit.
  ByteBuffer open = Units(u"ab");
  open.push_back('c');
  EXPECT_EQ(WideToText(open), "ab");
}

TEST(WideToText, RetriesATextThatOutgrowsItsCapacity) {
  // Hangul is one "?" each in code page 936 but three bytes each in UTF-8.
  EXPECT_EQ(Bytes(WideToText(Units(u"\uD55C\uAD6D\uC5B4\0"sv), 65001)),
            Bytes(u8"\uD55C\uAD6D\uC5B4"));
  EXPECT_EQ(WideToText(Units(u"\uD55C\uAD6D\uC5B4\0"sv)), "???");
}

TEST(Utf8ToWide, ReplacesEveryKindOfInvalidSequence) {
  struct Case {
    std::string_view utf8;
    std::u16string_view units;
  };
  const Case cases[] = {
      {"\xE4\xB8\xAD", u"中"},
      {"\xF0\x9F\x98\x80", u"\U0001F600"},
      {"\x80", u"\uFFFD"},                                // stray continuation byte
      {"\xC0\xAF", u"\uFFFD\uFFFD"},                      // overlong form
      {"\xE0\x80\xAF", u"\uFFFD\uFFFD\uFFFD"},            // overlong three-byte form
      {"\xED\xA0\x80", u"\uFFFD\uFFFD\uFFFD"},            // surrogate
      {"\xF4\x90\x80\x80", u"\uFFFD\uFFFD\uFFFD\uFFFD"},  // above U+10FFFF
      {"\xF5\xFF", u"\uFFFD\uFFFD"},                      // bytes that never occur
      {"\xE4\xB8", u"\uFFFD"},                            // cut short at the end
      {"\xE4\xB8"
       "A",
       u"\uFFFDA"},  // cut short before ASCII
      {"\xF0\x9F\x98"
       "ab",
       u"\uFFFDab"},
      {"ab\0c"sv, u"ab\0c"sv},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(Utf8ToWide(Bytes(c.utf8)), Units(c.units)) << testing::PrintToString(c.utf8);
  }
  EXPECT_EQ(Utf8ToWide(ByteBuffer()), ByteBuffer());
}

TEST(Utf8ToGbk, ConvertsBodiesToCodePage936) {
  EXPECT_EQ(Utf8ToGbk(Bytes(u8"中文网盘：<em>x</em>")), Bytes("中文网盘：<em>x</em>"));
  const std::string ascii = "<html>\r\n\t<body>plain ASCII ~!@#$%^&*()</body>";
  EXPECT_EQ(Utf8ToGbk(Bytes(ascii)), Bytes(ascii));
  EXPECT_EQ(Utf8ToGbk(ByteBuffer()), ByteBuffer());
  // Characters the code page lacks and invalid bytes become "?"; the euro sign is byte 0x80.
  EXPECT_EQ(Utf8ToGbk(Bytes(u8"a\uD55C\U0001F600b")), Bytes("a??b"));
  EXPECT_EQ(Utf8ToGbk(Bytes("a\xFF\xE4\xB8"
                            "b")),
            Bytes("a??b"));
  EXPECT_EQ(Utf8ToGbk(Bytes(u8"€")), Bytes("\x80"));
  // The composite check puts a base letter and its tone mark together where 936 has the form.
  EXPECT_EQ(Utf8ToGbk(Bytes(u8"e\u0301u\u0308")), Bytes("éü"));
}

TEST(Utf8ToGbk, RoundTripsEveryCharacterOfTheCodePage) {
  std::string gbk;
  for (int lead = 0xB0; lead <= 0xF7; ++lead) {
    for (int trail = 0xA1; trail <= 0xFE; ++trail) {
      if (lead == 0xD7 && trail > 0xF9) continue;  // the unassigned end of the last level-1 row
      gbk += static_cast<char>(lead);
      gbk += static_cast<char>(trail);
    }
  }
  const AnsiText utf8 = GbkToUtf8(gbk);
  EXPECT_EQ(Utf8ToGbk(Bytes(utf8)), Bytes(gbk));
}

// Windows's own table where GB18030 and glibc's CP936 disagree with it: the user-defined areas,
// the symbols GB18030 moved, and the euro sign, which is the single byte 0x80 and not A2E3.
TEST(CodePage936, DecodesAndEncodesAsWindowsWhereOtherTablesDiffer) {
  std::ifstream file(std::string(PELVARO_FIXTURES) + "/cp936_windows_pairs.txt");
  ASSERT_TRUE(file) << "fixture missing";
  int checked = 0;
  for (std::string line; std::getline(file, line);) {
    if (line.empty() || line[0] == '#') continue;
    std::istringstream fields(line);
    std::string hexBytes;
    unsigned unit = 0;
    fields >> hexBytes >> std::hex >> unit;
    std::string bytes;
    for (std::size_t i = 0; i + 1 < hexBytes.size(); i += 2)
      bytes += static_cast<char>(std::stoi(hexBytes.substr(i, 2), nullptr, 16));
    const std::u16string character(1, static_cast<char16_t>(unit));
    EXPECT_EQ(TextToWide(bytes, 936), Units(character + u'\0')) << hexBytes;
    EXPECT_EQ(WideToText(Units(character + u'\0')), bytes) << hexBytes;
    EXPECT_EQ(Utf8ToGbk(Bytes(GbkToUtf8(bytes))), Bytes(bytes)) << hexBytes;
    ++checked;
  }
  EXPECT_GT(checked, 0);
}

// Every pair a lead byte can start is a character of its own on Windows (the user-defined areas
// are private-use characters), and each converts back to the same two bytes.
TEST(CodePage936, RoundTripsEveryPairOfTheTable) {
  std::string gbk;
  for (int lead = 0x81; lead <= 0xFE; ++lead) {
    for (int trail = 0x40; trail <= 0xFE; ++trail) {
      if (trail == 0x7F) continue;
      gbk += static_cast<char>(lead);
      gbk += static_cast<char>(trail);
    }
  }
  const ByteBuffer wide = TextToWide(gbk, 936);
  ASSERT_EQ(wide.size(), gbk.size() + 2);  // one unit a pair, and the terminator
  for (std::size_t i = 0; i + 2 < wide.size(); i += 2) {
    const unsigned unit = wide[i] | wide[i + 1] << 8;
    EXPECT_NE(unit, 0xFFFDu) << std::hex
                             << (static_cast<unsigned char>(gbk[i]) << 8 |
                                 static_cast<unsigned char>(gbk[i + 1]));
  }
  EXPECT_EQ(WideToText(wide), gbk);
  const AnsiText utf8 = GbkToUtf8(gbk);
  EXPECT_EQ(Utf8ToGbk(Bytes(utf8)), Bytes(gbk));
}

// A whole text converts as its characters do one by one, whatever room the output has: the loop
// a page takes (room for the most the input can give), the one that checks every unit against a
// tight capacity, and the sizing call agree. The texts mix ASCII runs of every length, pairs,
// the euro byte, lead bytes before ASCII, zero or the end, and characters the code page lacks.
TEST(CodePageSeam, WholeTextsConvertAsTheirCharactersDo) {
  std::string bytes;
  unsigned seed = 936;
  const auto next = [&] { return seed = seed * 1103515245u + 12345u, seed >> 16; };
  for (int piece = 0; piece < 4000; ++piece) {
    switch (next() % 6) {
      case 0:
        for (unsigned k = next() % 20; k > 0; --k)
          bytes += static_cast<char>('a' + next() % 26);
        break;
      case 1:
      case 2:
        bytes += static_cast<char>(0x81 + next() % 0x7E);
        bytes += static_cast<char>(0x40 + next() % 0xBF);
        break;
      case 3:
        bytes += "\x80";
        break;
      case 4:
        bytes += static_cast<char>(0x81 + next() % 0x7E);  // a lead byte with any byte after it
        bytes += static_cast<char>(next() % 0x100);
        break;
      default:
        bytes += "\xD6\xD0\xCE\xC4";
    }
  }
  bytes += "\xB0";  // a lead byte at the very end

  // Character by character, as the system frames them: a byte from 0x81 takes the next byte with
  // it unless that is zero.
  std::u16string expected;
  for (std::size_t i = 0; i < bytes.size();) {
    const auto byte = static_cast<unsigned char>(bytes[i]);
    const std::size_t size = byte > 0x80 && i + 1 < bytes.size() && bytes[i + 1] != 0 ? 2 : 1;
    char16_t unit = 0;
    EXPECT_EQ(ConvertToWide(CodePageGbk, 0, bytes.data() + i, static_cast<int>(size), &unit, 1), 1);
    expected += unit;
    i += size;
  }
  const int length = static_cast<int>(bytes.size());
  ASSERT_EQ(ConvertToWide(CodePageGbk, 0, bytes.data(), length, nullptr, 0),
            static_cast<int>(expected.size()));
  std::u16string roomy(bytes.size(), u'x');
  roomy.resize(ConvertToWide(CodePageGbk, 0, bytes.data(), length, roomy.data(), length));
  EXPECT_EQ(roomy, expected);
  std::u16string tight(expected.size(), u'x');
  EXPECT_EQ(ConvertToWide(CodePageGbk, 0, bytes.data(), length, tight.data(),
                          static_cast<int>(tight.size())),
            static_cast<int>(expected.size()));
  EXPECT_EQ(tight, expected);

  // And back, with characters the code page lacks and surrogates among them.
  std::u16string units = expected + u"\uD55C\U0001F600";
  units += static_cast<char16_t>(0xD800);  // a lone surrogate
  units += u"a\u00E9";
  std::string back;
  for (std::size_t i = 0; i < units.size();) {
    const std::size_t size =
        units[i] >= 0xD800 && units[i] <= 0xDBFF && i + 1 < units.size() ? 2 : 1;
    char piece[4];
    const int written =
        ConvertFromWide(CodePageGbk, 0, units.data() + i, static_cast<int>(size), piece, 4);
    back.append(piece, static_cast<std::size_t>(written));
    i += size;
  }
  const int count = static_cast<int>(units.size());
  ASSERT_EQ(ConvertFromWide(CodePageGbk, 0, units.data(), count, nullptr, 0),
            static_cast<int>(back.size()));
  std::string wide(2 * units.size(), 'x');
  wide.resize(ConvertFromWide(CodePageGbk, 0, units.data(), count, wide.data(), 2 * count));
  EXPECT_EQ(wide, back);
  std::string exact(back.size(), 'x');
  EXPECT_EQ(ConvertFromWide(CodePageGbk, 0, units.data(), count, exact.data(),
                            static_cast<int>(exact.size())),
            static_cast<int>(back.size()));
  EXPECT_EQ(exact, back);
}

// The seam itself, with the Windows calls' rules for lengths and capacities.
TEST(CodePageSeam, SizesReadsThroughTheTerminatorAndNeverOverflows) {
  const char* text = "中文a";
  EXPECT_EQ(ConvertToWide(CodePageAnsi, 0, text, -1, nullptr, 0), 4);
  EXPECT_EQ(ConvertToWide(CodePageGbk, 0, text, 5, nullptr, 0), 3);
  EXPECT_EQ(ConvertToWide(CodePageGbk, 0, text, 0, nullptr, 0), 0);
  EXPECT_EQ(ConvertToWide(1252, 0, text, -1, nullptr, 0), 0);

  char16_t units[4] = {u'x', u'x', u'x', u'x'};
  EXPECT_EQ(ConvertToWide(CodePageGbk, 0, text, -1, units, 2), 0);
  EXPECT_EQ(units[2], u'x');
  EXPECT_EQ(ConvertToWide(CodePageGbk, 0, text, -1, units, 4), 4);
  EXPECT_EQ(std::u16string_view(units, 4), u"中文a\0"sv);

  char bytes[8] = "zzzzzzz";
  EXPECT_EQ(ConvertFromWide(CodePageUtf8, 0, units, -1, nullptr, 0), 8);
  EXPECT_EQ(ConvertFromWide(CodePageUtf8, 0, units, -1, bytes, 5), 0);
  EXPECT_EQ(bytes[5], 'z');
  EXPECT_EQ(ConvertFromWide(CodePageGbk, CompositeCheck, units, 3, bytes, 5), 5);
  EXPECT_EQ(std::string_view(bytes, 5), "中文a");
  EXPECT_EQ(ConvertFromWide(CodePageUtf8, CompositeCheck, units, 3, nullptr, 0), 0);
  // A surrogate without its partner becomes U+FFFD in UTF-8 and "?" in code page 936.
  const char16_t lone[] = {0xD800, u'a', 0};
  EXPECT_EQ(ConvertFromWide(CodePageUtf8, 0, lone, -1, bytes, 8), 5);
  EXPECT_EQ(std::string_view(bytes, 4),
            "\xEF\xBF\xBD"
            "a");
  EXPECT_EQ(ConvertFromWide(CodePageAnsi, 0, lone, 2, bytes, 8), 2);
  EXPECT_EQ(std::string_view(bytes, 2), "?a");
}

}  // namespace
