#include "text/text_ops.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <limits>
#include <random>
#include <string>
#include <string_view>
#include <vector>

namespace {

// Two-byte characters are written as raw bytes where the byte values matter: B0 A1 is one
// character, and in B0 A1 A1 B0 the middle A1 A1 straddles two characters.
constexpr std::string_view Straddling = "\xB0\xA1\xA1\xB0";

TEST(FindText, PositionsStartsAndCharacterBoundaries) {
  struct Case {
    std::string_view text, sought;
    std::int32_t start;
    bool ignoreCase;
    std::int32_t expected;
  };
  const Case cases[] = {
      {"axcaxc", "c", 1, false, 3},
      {"axcaxc", "c", 4, false, 6},
      {"axcaxc", "c", 0, false, 3},
      {"axcaxc", "c", -5, false, 3},
      {"axcaxc", "c", 6, false, 6},
      {"axcaxc", "c", 7, false, -1},
      {"abcd", "cd", 1, false, 3},
      {"abc", "abcd", 1, false, -1},
      // An empty sought text is found at 1 (not at start) while a byte remains.
      {"abc", "", 1, false, 1},
      {"abc", "", 3, false, 1},
      {"abc", "", 4, false, -1},
      {"", "", 1, false, -1},
      {"", "a", 1, false, -1},
      // Partial matches that fall back into one another.
      {"aaab", "aab", 1, false, 2},
      {"abaabab", "abab", 1, false, 4},
      {"aabaabaaab", "aabaaab", 1, false, 4},
      // A match never begins on a trail byte, whatever the trail byte's value.
      {Straddling, "\xA1\xA1", 1, false, -1},
      {"\xB0\xA1\xA1\xA1", "\xA1\xA1", 1, false, 3},
      {"\xB0\x41\x41", "A", 1, false, 3},
      {"\xB0\xB0\xB0\xB0", "\xB0\xB0", 2, false, 2},
      {"\xB0\xB0\xB0\xB0", "\xB0\xB0", 3, false, 3},
      {"文件名称：", "名称", 1, false, 5},
      // A start on a trail byte scans from that byte as though a character began there.
      {"\xB0\x41\x41", "A", 2, false, 2},
      {"\xB0\xA1\xB0\xA1", "\xA1\xB0", 2, false, 2},
      // Ignoring case folds A to Z only, byte by byte over the span, trail bytes included.
      {"Content-Type: x", "content-type", 1, true, 1},
      {"Content-Type: x", "content-type", 1, false, -1},
      {"xAx", "a", 1, true, 2},
      {"\xB0\x41", "\xB0\x61", 1, true, 1},
      {"\xB0\x41", "\xB0\x61", 1, false, -1},
      {"\xA3\xC1", "\xA3\xE1", 1, true, -1},  // full-width A and a stay apart
      {"x\xC0", "\xE0", 1, true, -1},
      // A dangling lead byte is still tried before it ends the scan.
      {"ab\xB0", "\xB0", 1, false, 3},
      {"\xB0", "\xB0", 1, false, 1},
      {"a\xB0", "\xB0\x62", 1, false, -1},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(FindText(c.text, c.sought, c.start, c.ignoreCase), c.expected)
        << testing::PrintToString(c.text) << " / " << testing::PrintToString(c.sought) << " from "
        << c.start;
  }
}

TEST(FindTextReverse, LastOccurrenceOverlappingAtCharacterStarts) {
  struct Case {
    std::string_view text, sought;
    bool ignoreCase;
    std::int32_t expected;
  };
  const Case cases[] = {
      {"a:b:c", ":", false, 4},
      {"aaa", "aa", false, 2},
      {"abc", "x", false, -1},
      {"abc", "", false, 1},
      {"", "", false, -1},
      {Straddling, "\xA1\xA1", false, -1},
      {"\xB0\xB0\xB0\xB0", "\xB0\xB0", false, 3},
      {"xAxa", "A", true, 4},
      {"x\xB0x\xB0", "x\xB0", false, 1},  // the second x is a trail byte
  };
  for (const Case& c : cases) {
    EXPECT_EQ(FindTextReverse(c.text, c.sought, c.ignoreCase), c.expected)
        << testing::PrintToString(c.text) << " / " << testing::PrintToString(c.sought);
  }
}

TEST(CuttingTexts, CountsBytesAndNeverMovesAStartUp) {
  EXPECT_EQ(TextMid("uvwxyz", 0, 3), "");
  EXPECT_EQ(TextMid("uvwxyz", -2, 5), "");
  EXPECT_EQ(TextMid("uvwxyz", 1, 3), "uvw");
  EXPECT_EQ(TextMid("uvwxyz", 5, 10), "yz");
  EXPECT_EQ(TextMid("uvwxyz", 6, 1), "z");
  EXPECT_EQ(TextMid("uvwxyz", 7, 1), "");
  EXPECT_EQ(TextMid("uvwxyz", 2, 0), "");
  EXPECT_EQ(TextMid("uvwxyz", 2, std::numeric_limits<std::int32_t>::max()), "vwxyz");
  EXPECT_EQ(TextMid("名称", 2, 2), "\xFB\xB3");  // cuts both characters in half
  EXPECT_EQ(TextLeft("abc", 5), "abc");
  EXPECT_EQ(TextLeft("abc", 0), "");
  EXPECT_EQ(TextLeft("abc", -1), "");
  EXPECT_EQ(TextLeft("名称", 1), "\xC3");
  EXPECT_EQ(TextRight("abc", 2), "bc");
  EXPECT_EQ(TextRight("abc", 9), "abc");
  EXPECT_EQ(TextRight("abc", -1), "");
}

TEST(ReplaceText, StartCountCaseAndCharacterBoundaries) {
  struct Case {
    std::string_view text, sought, replacement;
    std::int32_t start, count;
    bool matchCase;
    std::string_view expected;
  };
  const Case cases[] = {
      {"aXbxc", "x", "-", 1, -1, false, "a-b-c"},
      {"aXbxc", "x", "-", 1, -1, true, "aXb-c"},
      {"aaaa", "aa", "b", 1, -1, true, "bb"},
      {"aaa", "aa", "b", 1, -1, true, "ba"},
      {"xyxyxy", "xy", "z", 1, 2, true, "zzxy"},
      {"xyxyxy", "xy", "z", 1, -7, true, "zzz"},
      {"xyxyxy", "xy", "z", 1, 0, true, "xyxyxy"},
      {"xyzxyz", "y", "", 3, -1, true, "xyzxz"},
      {"xyzxyz", "y", "", 0, -1, true, "xzxz"},
      {"xyzxyz", "y", "", -3, -1, true, "xzxz"},
      {"abc", "c", "z", 3, -1, true, "abz"},
      {"abc", "a", "z", 4, -1, true, "abc"},
      {"", "a", "z", 1, -1, true, ""},
      {"abc", "", "z", 1, -1, true, "abc"},
      // A replacement is never searched again.
      {"aa", "a", "aa", 1, -1, true, "aaaa"},
      {"ab", "ab", "abab", 1, -1, true, "abab"},
      {Straddling, "\xA1\xA1", "-", 1, -1, true, Straddling},
      {"\xB0\x41\x41", "A", "-", 1, -1, true, "\xB0\x41-"},
      // A start on a trail byte scans from there.
      {"\xB0\xA1\xA1", "\xA1\xA1", "-", 2, -1, true, "\xB0-"},
      // After a replacement the scan counts characters afresh from the end of the match: the
      // second x is a trail byte of the whole text, yet it is replaced.
      {"x\xB0x\xB0", "x\xB0", "", 1, -1, true, ""},
      {"\xB0\x41", "\xB0\x61", "z", 1, -1, false, "z"},
      {"名称ABC名称abc", "abc", "-", 1, -1, false, "名称-名称-"},
      {"ab\xB0", "\xB0", "c", 1, -1, true, "abc"},
      {"a\xB0", "\xB0\x62", "-", 1, -1, true, "a\xB0"},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(ReplaceText(c.text, c.sought, c.replacement, c.start, c.count, c.matchCase),
              c.expected)
        << testing::PrintToString(c.text) << " / " << testing::PrintToString(c.sought) << " from "
        << c.start << " count " << c.count;
  }
}

TEST(SplitText, EmptyAndTrailingMembers) {
  struct Case {
    std::string_view text, delimiter;
    std::vector<AnsiText> expected;
  };
  const Case cases[] = {
      {"a;;b", ";", {"a", "", "b"}},
      {";a", ";", {"", "a"}},
      {"a;", ";", {"a"}},
      {";", ";", {""}},
      {"a;;", ";", {"a", ""}},
      {"abc", ";", {"abc"}},
      {"", ";", {}},
      {"", "", {}},
      {"a;b", "", {"a;b"}},
      {"k: v\r\nx: y\r\n", "\r\n", {"k: v", "x: y"}},
      {"aXbxc", "x", {"aXb", "c"}},  // always exact
      {"\xB0;x;y", ";", {"\xB0;x", "y"}},
      {"名称；大小；", "；", {"名称", "大小"}},
      {"a;\xB0", ";", {"a", "\xB0"}},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(SplitText(c.text, c.delimiter), c.expected) << testing::PrintToString(c.text);
  }
}

TEST(Spaces, OnlyWholeCharactersAreSpaces) {
  struct Case {
    std::string_view text, trimmed, removed;
  };
  const Case cases[] = {
      {" \xA1\xA1 a b\xA1\xA1  ", "a b", "ab"},
      {"\ta\t", "\ta\t", "\ta\t"},
      {"\r\nx\r\n", "\r\nx\r\n", "\r\nx\r\n"},
      {"   ", "", ""},
      {"\xA1\xA1\xA1\xA1", "", ""},
      {"", "", ""},
      {Straddling, Straddling, Straddling},
      // B0 A1 then a dangling A1: the last two bytes are not a full-width space.
      {"a\xB0\xA1\xA1", "a\xB0\xA1\xA1", "a\xB0\xA1\xA1"},
      {"\xA1\xA1\xA1", "\xA1", "\xA1"},
      {" \xA1", "\xA1", "\xA1"},
      // A space byte that trails a lead byte belongs to that character.
      {"a\xB0 b", "a\xB0 b", "a\xB0 b"},
      {" \xB0 ", "\xB0 ", "\xB0 "},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(TrimText(c.text), c.trimmed) << testing::PrintToString(c.text);
    EXPECT_EQ(RemoveSpaces(c.text), c.removed) << testing::PrintToString(c.text);
  }
}

TEST(ToLowerText, FoldsOnlySingleByteCapitals) {
  EXPECT_EQ(ToLowerText("\x41\x42\x43\x81\x41"), "\x61\x62\x63\x81\x41");
  EXPECT_EQ(ToLowerText("Set-Cookie: ID=\xA3\xC1"), "set-cookie: id=\xA3\xC1");
  EXPECT_EQ(ToLowerText("A\xB0"), "a\xB0");
  EXPECT_EQ(ToLowerText(""), "");
}

TEST(TextToInt, LeadingNumberAfterHalfWidthForms) {
  struct Case {
    std::string_view text;
    std::int32_t expected;
  };
  const Case cases[] = {
      {"  42abc", 42},
      {"-7", -7},
      {"+5", 5},
      {"abc", 0},
      {"0x1F", 0},
      {"", 0},
      {"--5", 0},
      {"- 5", 0},
      {"12 34", 12},
      {"\t\n\v\f\r 9", 9},
      {"007", 7},
      {"\xA3\xB1\xA3\xB2", 12},
      {"\xA1\xA1\xA3\xB1\xA3\xB2", 12},
      {"\xA3\xAD\xA3\xB7", -7},
      {"\xA3\xAB\x33", 3},
      {"\xA3\xB1\xA3", 1},
      {"\xB0\x35", 0},  // 35 is a trail byte here, not a digit
      {"5\xB0\x35", 5},
      {"2147483647", 2147483647},
      {"2147483648", std::numeric_limits<std::int32_t>::min()},
      {"-2147483648", std::numeric_limits<std::int32_t>::min()},
      {"4294967295", -1},
      {"4294967297", 1},
      {"99999999999", 1215752191},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(TextToInt(c.text), c.expected) << testing::PrintToString(c.text);
  }
}

TEST(NumbersAndCharacters, DecimalHexAndLowByte) {
  EXPECT_EQ(IntToText(-5), "-5");
  EXPECT_EQ(IntToText(0), "0");
  EXPECT_EQ(IntToText(std::numeric_limits<std::int32_t>::min()), "-2147483648");
  EXPECT_EQ(IntToHex(0), "0");
  EXPECT_EQ(IntToHex(10), "A");
  EXPECT_EQ(IntToHex(255), "FF");
  EXPECT_EQ(IntToHex(0x1000), "1000");
  EXPECT_EQ(IntToHex(-1), "FFFFFFFF");
  EXPECT_EQ(CharFromCode(65), "A");
  EXPECT_EQ(CharFromCode(321), "A");
  EXPECT_EQ(CharFromCode(-191), "A");
  EXPECT_EQ(CharFromCode(0xB0), "\xB0");
  EXPECT_EQ(CharFromCode(0), "");
  EXPECT_EQ(CharFromCode(256), "");
  EXPECT_EQ(BitOr({0x100, 0x2, 0x2}), 0x102);
}

TEST(CompareAndJoin, UnsignedOrderAndEqualEmptyValues) {
  EXPECT_EQ(CompareText("", ""), 0);
  EXPECT_EQ(CompareText("a", "b"), -1);
  EXPECT_EQ(CompareText("b", "a"), 1);
  EXPECT_EQ(CompareText("ab", "a"), 1);
  EXPECT_EQ(CompareText("", "a"), -1);
  EXPECT_EQ(CompareText("\x80", "a"), 1);
  EXPECT_EQ(JoinTexts({"a", "", "名称", "b"}), "a名称b");
  EXPECT_EQ(CompareBytes({}, ByteBuffer{}), 0);
  EXPECT_NE(CompareBytes({1, 2}, {1, 2, 0}), 0);
  EXPECT_EQ(JoinBytes(ByteBuffer{1}, ByteBuffer{}, ByteBuffer{0, 2}), (ByteBuffer{1, 0, 2}));
}

TEST(TextsAndBytes, ConversionsStopAtZeroAndNeverGoNegative) {
  EXPECT_EQ(BytesToText({0x61, 0x62, 0x00, 0x63}), "ab");
  EXPECT_EQ(BytesToText({0xB0, 0xA1}), "\xB0\xA1");
  EXPECT_EQ(BytesToText({}), "");
  EXPECT_EQ(TextToBytes("a\xB0"), (ByteBuffer{0x61, 0xB0}));
  EXPECT_TRUE(TextToBytes("").empty());
  EXPECT_EQ(BlankText(3), "   ");
  EXPECT_EQ(BlankText(-1), "");
  EXPECT_EQ(BlankBytes(2), (ByteBuffer{0, 0}));
  EXPECT_TRUE(BlankBytes(0).empty());
  EXPECT_EQ(BytesLength(ByteBuffer(5)), 5);
  EXPECT_EQ(BytesLeft({1, 2, 3}, 2), (ByteBuffer{1, 2}));
  EXPECT_EQ(BytesLeft({1, 2, 3}, 9), (ByteBuffer{1, 2, 3}));
  EXPECT_TRUE(BytesLeft({1, 2, 3}, -1).empty());
}

ByteBuffer Bytes(std::string_view text) {
  return ByteBuffer(text.begin(), text.end());
}

TEST(FindBytes, ExactAtEveryByteOffset) {
  struct Case {
    std::string_view buffer, sought;
    std::int32_t expected;
  };
  const Case cases[] = {
      {"xxcharset", "charset", 3},
      {"xxcharset", "CHARSET", -1},
      {"xxcharset", "", -1},
      {"", "x", -1},
      {"ab", "abc", -1},
      {Straddling, "\xA1\xA1", 2},  // no character scan here
      {"aaab", "aab", 2},
      {std::string_view("\x00\x01\x00\x02", 4), std::string_view("\x00\x02", 2), 3},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(FindBytes(Bytes(c.buffer), Bytes(c.sought)), c.expected)
        << testing::PrintToString(c.buffer);
  }
}

// The searching operations, written the slow and literal way: try every character start in turn,
// stepping one character (two bytes from a lead byte) at a time.
bool ReferenceMatchesAt(std::string_view text, std::size_t p, std::string_view sought,
                        bool ignoreCase) {
  if (text.size() - p < sought.size()) return false;
  const auto fold = [&](char c) { return ignoreCase && c >= 'A' && c <= 'Z' ? c + 32 : c; };
  for (std::size_t i = 0; i < sought.size(); ++i) {
    if (fold(text[p + i]) != fold(sought[i])) return false;
  }
  return true;
}

// The character starts from `from` on where sought stands; skipMatched resumes after each match,
// otherwise at the next character.
std::vector<std::size_t> ReferenceMatches(std::string_view text, std::string_view sought,
                                          std::size_t from, bool ignoreCase, bool skipMatched) {
  std::vector<std::size_t> found;
  for (std::size_t p = from; p < text.size() && text.size() - p >= sought.size();) {
    if (ReferenceMatchesAt(text, p, sought, ignoreCase)) {
      found.push_back(p);
      if (skipMatched) {
        p += sought.size();
        continue;
      }
    }
    if (static_cast<unsigned char>(text[p]) < 0x80) {
      ++p;
    } else if (p + 1 < text.size()) {
      p += 2;
    } else {
      break;
    }
  }
  return found;
}

AnsiText RandomText(std::mt19937& random, std::size_t maxSize) {
  static constexpr char Alphabet[] = {'a', 'A', 'b', '\xB0', '\xA1'};
  AnsiText text(std::uniform_int_distribution<std::size_t>(0, maxSize)(random), ' ');
  for (char& c : text) {
    c = Alphabet[std::uniform_int_distribution<int>(0, 4)(random)];
  }
  return text;
}

// Texts and sought texts from a small alphabet of letters, lead bytes and trail bytes, so that
// partial matches, matches on trail bytes and dangling lead bytes are everywhere.
TEST(CharacterScan, AgreesWithTheLiteralScanOnRandomTexts) {
  std::mt19937 random(936);
  for (int round = 0; round < 20000; ++round) {
    const AnsiText text = RandomText(random, 14);
    AnsiText sought = RandomText(random, 4);
    if (sought.empty()) sought = "a";
    const bool ignoreCase = round % 2 == 1;
    const auto start = std::uniform_int_distribution<std::int32_t>(-1, 16)(random);
    const std::size_t from = start <= 1 ? 0 : static_cast<std::size_t>(start) - 1;
    SCOPED_TRACE(testing::PrintToString(text) + " / " + testing::PrintToString(sought) + " start " +
                 std::to_string(start) + (ignoreCase ? " ignoring case" : ""));

    const auto firsts = ReferenceMatches(text, sought, from, ignoreCase, true);
    EXPECT_EQ(FindText(text, sought, start, ignoreCase),
              firsts.empty() ? -1 : static_cast<std::int32_t>(firsts.front()) + 1);

    const auto all = ReferenceMatches(text, sought, 0, ignoreCase, false);
    EXPECT_EQ(FindTextReverse(text, sought, ignoreCase),
              all.empty() ? -1 : static_cast<std::int32_t>(all.back()) + 1);

    const auto count = std::uniform_int_distribution<std::int32_t>(-1, 3)(random);
    AnsiText replaced(text.substr(0, std::min(from, text.size())));
    std::size_t copied = replaced.size();
    std::int32_t left = count;
    for (std::size_t p : firsts) {
      if (left == 0) break;
      replaced += text.substr(copied, p - copied) + "<>";
      copied = p + sought.size();
      --left;
    }
    if (copied < text.size()) replaced += text.substr(copied);
    EXPECT_EQ(ReplaceText(text, sought, "<>", start, count, !ignoreCase), replaced);

    TextArray pieces;
    std::size_t pieceStart = 0;
    for (std::size_t p : ReferenceMatches(text, sought, 0, false, true)) {
      pieces.push_back(text.substr(pieceStart, p - pieceStart));
      pieceStart = p + sought.size();
    }
    if (pieceStart < text.size()) pieces.push_back(text.substr(pieceStart));
    EXPECT_EQ(SplitText(text, sought), pieces);

    const std::size_t byteOffset = std::string_view(text).find(sought);
    EXPECT_EQ(
        FindBytes(Bytes(text), Bytes(sought)),
        byteOffset == std::string_view::npos ? -1 : static_cast<std::int32_t>(byteOffset) + 1);
  }
}

}  // namespace
