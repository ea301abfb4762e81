// The search request's query string and the page layout details that Pelvaro's parser relies on.
#include "service/query.h"
#include "service/pages.h"

#include <gtest/gtest.h>

using namespace service;

TEST(ParseSearchQuery, ReadsKeywordAndPage) {
  struct Case {
    std::string_view raw;
    QueryParse parse;
    std::string keyword;
    std::int64_t page;
  };
  const Case cases[] = {
      {"q=%E7%94%B5%E5%BD%B1&page=2&by=prev", QueryParse::Ok, "电影", 2},
      {"q=a+b%2Bc&page=1", QueryParse::Ok, "a b+c", 1},
      {"q=x", QueryParse::Ok, "x", 1},
      {"", QueryParse::Ok, "", 1},
      {"page=3&q=&q=second", QueryParse::Ok, "", 3},
      {"q=%00", QueryParse::Ok, std::string(1, '\0'), 1},
      {"&&q=a&&", QueryParse::Ok, "a", 1},
      {"q=a&page=-5", QueryParse::Ok, "a", -5},
      {"q=a&page=99999999999", QueryParse::Ok, "a", 99999999999},
      {"q=a&page=999999999999999999999999", QueryParse::Ok, "a", INT64_MAX},
      {"q=%zz", QueryParse::BadEncoding, "", 1},
      {"q=%E", QueryParse::BadEncoding, "", 1},
      {"q=a%", QueryParse::BadEncoding, "", 1},
      {"q=a&page=abc", QueryParse::BadPage, "a", 1},
      {"q=a&page=", QueryParse::BadPage, "a", 1},
      {"q=a&page=1.5", QueryParse::BadPage, "a", 1},
  };
  for (const Case& c : cases) {
    SearchQuery query;
    EXPECT_EQ(ParseSearchQuery(c.raw, query), c.parse) << c.raw;
    if (c.parse == QueryParse::Ok) {
      EXPECT_EQ(query.keyword, c.keyword) << c.raw;
      EXPECT_EQ(query.page, c.page) << c.raw;
    }
  }
}

TEST(Emphasise, WrapsEveryMatchIgnoringAsciiCase) {
  EXPECT_EQ(Emphasise("Ubuntu ubuntu UBUNTU", "uBuNtU"),
            "<em>Ubuntu</em> <em>ubuntu</em> <em>UBUNTU</em>");
  EXPECT_EQ(Emphasise("电影合集 电影", "电影"), "<em>电影</em>合集 <em>电影</em>");
  EXPECT_EQ(Emphasise("aaa", "aa"), "<em>aa</em>a");
  EXPECT_EQ(Emphasise("Ä ä", "ä"), "Ä <em>ä</em>");  // only ASCII letters fold
}

TEST(ResultPage, EmptyRegionWithoutShares) {
  const std::string page = ResultPage("<script>", 1, {}, false, "pan.baidu.com");
  const std::size_t start = page.find("</script><br><br>");
  const std::size_t end = page.find("</script></center><br><script type=");
  ASSERT_NE(start, std::string::npos);
  ASSERT_NE(end, std::string::npos);
  EXPECT_EQ(page.find("article ali_row"), std::string::npos);
  EXPECT_EQ(page.find("<script>", 0), page.find("<script>var"));  // the keyword is escaped
  EXPECT_LT(page.find("charset=utf-8"), 499u);
}
