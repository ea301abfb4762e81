#include "text/markers.h"

#include <gtest/gtest.h>

#include <array>
#include <cstdint>
#include <string_view>
#include <vector>

namespace {

TEST(TextBetween, FirstLeftMarkerThenTheNextRightMarker) {
  struct Case {
    std::string_view text, left, right;
    std::int32_t startPos;
    bool matchCase;
    std::string_view expected;
  };
  const Case cases[] = {
      {"name=value;", "=", ";", 0, false, "value"},
      {"a=;b", "=", ";", 0, false, ""},
      {"a;b=c", "=", ";", 0, false, ""},  // the right marker only before the left one
      {"a==b", "=", "=", 0, false, ""},   // the right search begins after the left marker
      {"abc=", "=", ";", 0, false, ""},
      {"abc=", "=", "", 0, false, ""},
      {"ab;cd;", "", ";", 0, false, "ab"},
      {"a=b;", "=", "", 0, false, ""},
      {"a=b;", "", "", 0, false, ""},
      {"", "=", ";", 0, false, ""},
      // Markers ignore the case of ASCII letters unless asked otherwise.
      {"set-cookie: id=1\r\n", "Set-Cookie:", "\r\n", 0, false, " id=1"},
      {"set-cookie: id=1\r\n", "Set-Cookie:", "\r\n", 0, true, ""},
      {"x=1</EM>", "=", "</em>", 0, false, "1"},
      {"x=1</EM>", "=", "</em>", 0, true, ""},
      // "#引号" in a marker is a double quote; a double quote in the text is just a byte.
      {"say \"hi\" now", "#引号", "#引号", 0, false, "hi"},
      {"<a href=\"x.html\">", "href=#引号", "#引号>", 0, false, "x.html"},
      {"a #引号b#引号", "#引号", "#引号", 0, false, ""},
      // Where the left search starts.
      {"id=1;id=2;", "id=", ";", 0, false, "1"},
      {"id=1;id=2;", "id=", ";", 1, false, "1"},
      {"id=1;id=2;", "id=", ";", -3, false, "1"},
      {"id=1;id=2;", "id=", ";", 2, false, "2"},
      {"id=1;id=2;", "id=", ";", 6, false, "2"},
      {"id=1;id=2;", "id=", ";", 7, false, ""},
      {"id=1;id=2;", "id=", ";", 99, false, ""},
      // Markers are found only at character starts: here the first "=" trails a lead byte.
      {"\xB0=x=y;", "=", ";", 0, false, "y"},
      {"名称：文件.zip 大小：1GB", "名称：", " 大小", 0, false, "文件.zip"},
      {"k=v\xB0", "=", "\xB0", 0, false, "v"},  // a dangling lead byte as the right marker
      {"k=v\xB0", "=", "\xB0;", 0, false, ""},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(TextBetween(c.text, c.left, c.right, c.startPos, c.matchCase), c.expected)
        << testing::PrintToString(c.text) << " between " << testing::PrintToString(c.left)
        << " and " << testing::PrintToString(c.right) << " from " << c.startPos;
  }
}

TEST(TextBetween, DefaultsSearchFromTheStartIgnoringCase) {
  EXPECT_EQ(TextBetween("A=1;a=2;", "a=", ";"), "1");
}

TEST(ReplacePairs, PairsInOrderWithSharedCountStartAndCase) {
  struct Case {
    std::string_view text;
    std::vector<ReplacePair> pairs;
    ReplacePairsOptions options;
    std::string_view expected;
  };
  const Case cases[] = {
      {"<em>A</em>b<EM>c</Em>", {{"<em>", ""}, {"</em>", ""}}, {}, "Abc"},
      {"<em>A</em>b<EM>c</Em>", {{"<em>", ""}, {"</em>", ""}}, {.matchCase = true}, "Ab<EM>c</Em>"},
      {"aaa", {{"a", "b"}}, {.count = 2}, "bba"},
      {"aaa", {{"a", "b"}}, {.count = 0}, "aaa"},
      {"aaa", {{"a", "b"}}, {.count = -1}, "bbb"},
      {"aaa", {{"a", "b"}}, {}, "bbb"},
      {"aaa", {{"a", "b"}}, {.startPos = 2}, "abb"},
      {"aaa", {{"a", "b"}}, {.startPos = 0}, "bbb"},
      {"aaa", {{"a", "b"}}, {.startPos = -4}, "bbb"},
      {"aaa", {{"a", "b"}}, {.startPos = 4}, "aaa"},
      // Each pair works on the result of the one before, with its own count.
      {"xax", {{"a", "b"}, {"b", "c"}}, {}, "xcx"},
      {"aabb", {{"a", "x"}, {"b", "y"}}, {.count = 1}, "xayb"},
      {"abab", {{"a", "b"}, {"b", "c"}}, {.startPos = 2}, "accc"},
      {"12345", {{"1", "a"}, {"2", "b"}, {"3", "c"}, {"4", "d"}, {"5", "e"}}, {}, "abcde"},
      {"abc", {{"", "z"}, {"b", ""}}, {}, "ac"},
      // "#引号" has no special meaning here.
      {"say \"hi\" #引号", {{"#引号", "'"}}, {}, "say \"hi\" '"},
      {"名称ABC", {{"abc", "x"}}, {}, "名称x"},
      {"\xB0\x41", {{"a", "x"}}, {}, "\xB0\x41"},  // a trail byte is no letter
  };
  for (const Case& c : cases) {
    std::array<ReplacePair, 5> pairs{};
    std::copy(c.pairs.begin(), c.pairs.end(), pairs.begin());
    EXPECT_EQ(ReplacePairs(c.text, {pairs[0], pairs[1], pairs[2], pairs[3], pairs[4]}, c.options),
              c.expected)
        << testing::PrintToString(c.text);
  }
}

}  // namespace
