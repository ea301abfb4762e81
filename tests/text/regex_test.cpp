#include "text/regex.h"

#include "platform/regex_engine.h"

#include <gtest/gtest.h>

#include <string>
#include <string_view>

namespace {

TEST(EscapeRegexText, EscapesTheMetacharactersItHandlesAndNoOthers) {
  EXPECT_EQ(EscapeRegexText("a+b{2}(c)[d]?*"), "a\\+b\\{2\\}\\(c\\)\\[d\\]\\?\\*");
  EXPECT_EQ(EscapeRegexText("pan.baidu.com ^$|\\"), "pan.baidu.com ^$|\\");
  EXPECT_EQ(EscapeRegexText("href=#引号x#引号"), "href=\"x\"");
  // A trail byte equal to "[" (0x5B) is part of its character, not a bracket.
  EXPECT_EQ(EscapeRegexText("\x81\x5B["), "\x81\x5B\\[");
}

TEST(CollectBetween, CollectsEachShortestTextInOrder) {
  TextArray results{"stale"};
  EXPECT_EQ(CollectBetween("x[one]y[two]z", "[", "]", &results), 2);
  EXPECT_EQ(results, (TextArray{"one", "two"}));

  // Markers ignore letter case, the text may span lines, and a nested left marker stays in it.
  EXPECT_EQ(CollectBetween("<B>中\r\n文</b><b><b>x</B>", "<b>", "</b>", &results), 2);
  EXPECT_EQ(results, (TextArray{"中\r\n文", "<b>x"}));

  EXPECT_EQ(CollectBetween("no markers here", "<b>", "</b>", &results), 0);
  EXPECT_TRUE(results.empty());
  EXPECT_EQ(CollectBetween("", "<b>", "</b>"), 0);
}

TEST(CollectBetween, ReadsADotInAMarkerAsAnyCharacterButALineFeed) {
  TextArray results;
  EXPECT_EQ(CollectBetween("[1]a.b [2]aXb [3]a\nb", "]", "a.b", &results), 2);
  EXPECT_EQ(results, (TextArray{"", ""}));
  EXPECT_EQ(CollectBetween("[1]a.b [2]aXb [3]a\nb", "[", "]a.b", &results), 2);
  EXPECT_EQ(results, (TextArray{"1", "2"}));
}

TEST(CollectBetween, PutsPrefixSuffixAndMarkersBackAsAsked) {
  struct Case {
    CollectOptions options;
    TextArray expected;
  };
  const Case cases[] = {
      {{.prefix = "P", .suffix = "S"}, {"PabS", "P中S"}},
      {{.prefix = "P", .keepLeft = true, .keepRight = true}, {"(Pab)", "(P中)"}},
      // With a length limit the right marker comes back only without the left one.
      {{.maxLength = 9, .prefix = "P", .keepLeft = true, .keepRight = true}, {"(Pab", "(P中"}},
      {{.maxLength = 9, .keepRight = true}, {"ab)", "中)"}},
      {{.maxLength = 1}, {}},
      {{.maxLength = -1}, {}},
  };
  for (const Case& c : cases) {
    TextArray results;
    EXPECT_EQ(CollectBetween("(ab)(中)", "(", ")", &results, c.options),
              static_cast<std::int32_t>(c.expected.size()));
    EXPECT_EQ(results, c.expected);
  }
  TextArray results;
  EXPECT_EQ(CollectBetween("(中)(a)", "(", ")", &results, {.maxLength = 1}), 1);
  EXPECT_EQ(results, TextArray{"a"});
}

TEST(RegexObject, CountsMatchesAndGivesBytePositions) {
  RegexObject regex;
  EXPECT_EQ(regex.MatchCount(), 0);
  EXPECT_EQ(regex.PatternText(), "");
  EXPECT_TRUE(regex.Create("q", "abc"));
  EXPECT_EQ(regex.MatchCount(), 0);

  std::int32_t position = 0;
  ASSERT_TRUE(regex.Create("a", "xaya"));
  EXPECT_EQ(regex.MatchCount(), 2);
  EXPECT_EQ(regex.MatchText(2, &position), "a");
  EXPECT_EQ(position, 3);
  EXPECT_EQ(regex.MatchText(3, &position), "");
  EXPECT_EQ(position, -2);
  EXPECT_EQ(regex.MatchText(0), "");

  // After two-byte characters the byte offset is still the match's own.
  ASSERT_TRUE(regex.Create("A", "中a中a"));
  EXPECT_EQ(regex.MatchText(2, &position), "a");
  EXPECT_EQ(position, 5);
  ASSERT_TRUE(regex.Create("a", "中a中a", {.matchCase = true}));
  EXPECT_EQ(regex.MatchCount(), 2);
  ASSERT_TRUE(regex.Create("A", "中a中a", {.matchCase = true}));
  EXPECT_EQ(regex.MatchCount(), 0);

  ASSERT_TRUE(regex.Create("a", "aaa", {.global = false}));
  EXPECT_EQ(regex.MatchCount(), 1);
}

TEST(RegexObject, ReadsGroups) {
  RegexObject regex;
  std::int32_t position = 0;
  ASSERT_TRUE(regex.Create("(\\w+)=(\\d*)(x)?;", "名a=1;b=;"));
  EXPECT_EQ(regex.MatchCount(), 2);
  EXPECT_EQ(regex.SubmatchCount(), 3);
  EXPECT_EQ(regex.SubmatchText(1, 2, &position), "1");
  EXPECT_EQ(position, 4);
  EXPECT_EQ(regex.SubmatchText(2, 1, &position), "b");
  EXPECT_EQ(position, 6);
  EXPECT_EQ(regex.SubmatchText(2, 2), "");
  EXPECT_EQ(regex.SubmatchText(2, 3, &position), "");
  EXPECT_EQ(position, -2);
  EXPECT_EQ(regex.SubmatchText(1, 4), "");
  EXPECT_EQ(regex.SubmatchText(3, 1), "");
}

TEST(RegexObject, FollowsTheComponentsDialect) {
  RegexObject regex;
  // A dot stops at a line feed only; "^" and "$" see lines under multiline.
  ASSERT_TRUE(regex.Create("a.c", "a\rc a\nc"));
  EXPECT_EQ(regex.MatchCount(), 1);
  ASSERT_TRUE(regex.Create("^\\w+$", "one\ntwo"));
  EXPECT_EQ(regex.MatchCount(), 2);
  ASSERT_TRUE(regex.Create("^\\w+$", "one\ntwo", {.multiline = false}));
  EXPECT_EQ(regex.MatchCount(), 0);
  // An empty match moves the search one character on.
  ASSERT_TRUE(regex.Create("x*", "axb"));
  EXPECT_EQ(regex.MatchCount(), 4);
  EXPECT_EQ(regex.MatchText(2), "x");
  // "\u" escapes and the quote placeholder.
  ASSERT_TRUE(regex.Create("\\u4E2D#引号", "中\"", {.quotePlaceholder = true}));
  EXPECT_EQ(regex.MatchText(1), "中\"");
  EXPECT_EQ(regex.PatternText(), "\\u4E2D\"");
  // A rejected expression gives no collection but keeps its text.
  EXPECT_FALSE(regex.Create("(a", "a"));
  EXPECT_EQ(regex.MatchCount(), 0);
  EXPECT_EQ(regex.MatchText(1), "");
  EXPECT_EQ(regex.PatternText(), "(a");
  EXPECT_EQ(regex.Replace("b"), "");
}

TEST(RegexObject, ReplacesOverTheKeptSubject) {
  RegexObject regex;
  ASSERT_TRUE(regex.Create("(\\w)(\\d)", "a1 b2 中"));
  EXPECT_EQ(regex.Replace("$2$1"), "1a 2b 中");
  EXPECT_EQ(regex.Replace("[$&|$$|$3|$0]"), "[a1|$|$3|$0] [b2|$|$3|$0] 中");
  ASSERT_TRUE(regex.Create("\\d", "a1 b2", {.global = false}));
  EXPECT_EQ(regex.Replace("#"), "a# b2");
}

TEST(RegexEngine, TellsAnUnsetGroupFromAnEmptyOne) {
  RegexEnterThread();  // the component's runtime, as RegexObject sets it up
  RegexInstance* regex = RegexCreate();
  EXPECT_TRUE(RegexSetOption(regex, RegexOption::Global, true));
  EXPECT_FALSE(RegexSetOption(regex, RegexOption::Singleline, true));
  EXPECT_FALSE(RegexOptionValue(regex, RegexOption::Singleline));
  // The match itself is not empty: Wine's component loops on an empty global match.
  ASSERT_TRUE(RegexSetPattern(regex, u"c(a*)(b)?"));
  RegexMatchList* matches = RegexExecute(regex, u"c");
  ASSERT_NE(matches, nullptr);
  std::u16string value = u"junk";
  EXPECT_EQ(RegexGroupAt(matches, 0, 0, value), RegexGroupState::Matched);
  EXPECT_EQ(value, u"");
  EXPECT_EQ(RegexGroupAt(matches, 0, 1, value), RegexGroupState::Unset);
  EXPECT_EQ(RegexGroupAt(matches, 0, 2, value), RegexGroupState::Missing);
  EXPECT_EQ(RegexGroupAt(matches, 9, 0, value), RegexGroupState::Missing);
  RegexReleaseMatches(matches);
  RegexRelease(regex);
  EXPECT_EQ(RegexExecute(nullptr, u"c"), nullptr);
  EXPECT_EQ(RegexMatchCount(nullptr), 0);
  RegexLeaveThread();
}

// A hostile subject: thousands of left markers and no right marker, with a legitimate block
// before them. The search stays linear; there is one block.
TEST(CollectBetween, StaysLinearOnLeftMarkersWithoutARightMarker) {
  std::string text = "<L>kept</R>";
  for (int i = 0; i < 20'000; ++i)
    text += "<L>" + std::string(200, 'x') + "</r";
  TextArray results;
  EXPECT_EQ(CollectBetween(text, "<L>", "</R>", &results), 1);
  EXPECT_EQ(results, TextArray{"kept"});
}

// The collection runs only over the text up to the last right marker; what it gives is the same.
TEST(CollectBetween, CollectsTheSameUpToTheLastRightMarker) {
  struct Case {
    const char* text;
    const char* left;
    const char* right;
    TextArray expected;
  };
  const Case cases[] = {
      // The last right marker overlaps the one found before it.
      {"xaaa", "xa", "aa", {""}},
      {"[a][b", "[", "]", {"a"}},
      {"<L>中</R>中<l>x</r", "<l>", "</r>", {"中"}},
      {"[a\n][b]", "[", "\\n]", {"a"}},  // "\\n" is an expression: no cut, still exact
      {"xa|by", "x", "a|b", {"", ""}},   // "|" splits the whole expression: "x(...)a" or "b"
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.text);
    TextArray results;
    EXPECT_EQ(CollectBetween(c.text, c.left, c.right, &results), ArrayCount(c.expected));
    EXPECT_EQ(results, c.expected);
  }
}

TEST(CollectBetween, CollectsAFiveMegabyteText) {
  const std::string inner(5 << 20, 'x');
  TextArray results;
  EXPECT_EQ(CollectBetween("[" + inner + "]" + "[a]", "[", "]", &results), 2);
  ASSERT_EQ(results.size(), 2u);
  EXPECT_EQ(results[0].size(), inner.size());
}

}  // namespace
