// Reading catalogues: what a sound CSV or JSON Lines file gives, and where a malformed one is
// refused (line and field).
#include "service/catalogue.h"

#include <gtest/gtest.h>

#include <vector>

using namespace service;

namespace {

struct Read {
  std::vector<Share> shares;
  std::vector<long> lines;
  CatalogueFault fault;
};

Read ReadAll(std::string_view text, CatalogueFormat format) {
  Read read;
  read.fault = ReadCatalogue(text, format, [&](const Share& share, long line) {
    read.shares.push_back(share);
    read.lines.push_back(line);
    return true;
  });
  return read;
}

constexpr std::string_view Header = "name,size,sharer,date,link\n";

}  // namespace

TEST(ReadCatalogue, CsvKeepsEveryFieldAsWritten) {
  const std::string text =
      "\xEF\xBB\xBF"
      "link,date,name,sharer,size\r\n"
      "https://pan.baidu.com/s/1,2023-04-12,\"A & B \"\"quoted\"\", 电影 😀\",影视小站,2.61G\r\n"
      "\r\n"
      "https://pan.baidu.com/s/2,2020-02-29,ＦＵＬＬ　ＷＩＤＴＨ,,\n";
  const Read read = ReadAll(text, CatalogueFormat::Csv);
  ASSERT_FALSE(read.fault) << read.fault.reason;
  ASSERT_EQ(read.shares.size(), 2u);
  EXPECT_EQ(read.shares[0].name, "A & B \"quoted\", 电影 😀");
  EXPECT_EQ(read.shares[0].size, "2.61G");
  EXPECT_EQ(read.shares[0].sharer, "影视小站");
  EXPECT_EQ(read.shares[0].date, "2023-04-12");
  EXPECT_EQ(read.shares[0].link, "https://pan.baidu.com/s/1");
  EXPECT_EQ(read.shares[1].name, "ＦＵＬＬ　ＷＩＤＴＨ");
  EXPECT_EQ(read.shares[1].size, "");  // a folder
  EXPECT_EQ(read.lines, (std::vector<long>{2, 4}));
}

TEST(ReadCatalogue, JsonLinesDecodesEscapes) {
  const std::string text =
      "{\"name\": \"a\\\"b\\\\c \\u7535\\ud83d\\ude00\", \"size\": null, \"sharer\": \"s\", "
      "\"date\": \"2024-01-03\", \"link\": \"http://x.example/s/1\"}\n"
      "\n"
      "{\"link\":\"https://x.example/2\",\"date\":\"2024-01-04\",\"sharer\":\"\",\"size\":\"1M\","
      "\"name\":\"n\"}";
  const Read read = ReadAll(text, CatalogueFormat::JsonLines);
  ASSERT_FALSE(read.fault) << read.fault.reason;
  ASSERT_EQ(read.shares.size(), 2u);
  EXPECT_EQ(read.shares[0].name, "a\"b\\c 电😀");
  EXPECT_EQ(read.shares[0].size, "");
  EXPECT_EQ(read.shares[1].size, "1M");
  EXPECT_EQ(read.lines, (std::vector<long>{1, 3}));
}

TEST(ReadCatalogue, RefusesMalformedRecordsNamingLineAndField) {
  const std::string good = "ok,1M,s,2023-01-01,https://x.example/ok\n";
  struct Case {
    std::string record;  // the third line, after a header and one good record
    std::string field;
  };
  const std::vector<Case> cases = {
      {"n,1M,s,2023-01-01\n", "link"},
      {"n,1M,s,2023-02-30,https://x.example/1\n", "date"},
      {"n,1M,s,2023-1-01,https://x.example/1\n", "date"},
      {"n,1M,s,2023-01-01,ftp://x.example/1\n", "link"},
      {"n,1M,s,2023-01-01,javascript:alert(1)\n", "link"},
      {"n,1M,s,2023-01-01,https://x.example/?download=1\n", "link"},
      {"n,1M,s,2023-01-01,\"https://x.example/\"\">\"\n", "link"},
      {",1M,s,2023-01-01,https://x.example/1\n", "name"},
      {"bad \xFF utf8,1M,s,2023-01-01,https://x.example/1\n", "name"},
      {"over\xC0\xAFlong,1M,s,2023-01-01,https://x.example/1\n", "name"},
      {"a <EM>b</em>,1M,s,2023-01-01,https://x.example/1\n", "name"},
      {"\"two\nlines\",1M,s,2023-01-01,https://x.example/1\n", "name"},
      {"tab\there,1M,s,2023-01-01,https://x.example/1\n", "name"},
      {"n 文件大小:1G,1M,s,2023-01-01,https://x.example/1\n", "name"},
      {"n,1M 分享者,s,2023-01-01,https://x.example/1\n", "size"},
      {"n,1M,s 分享时间:x,2023-01-01,https://x.example/1\n", "sharer"},
      {"\"n</p><div class=\"\"other\"\">\",1M,s,2023-01-01,https://x.example/1\n", "name"},
      {"n</script></center><br><script type=,1M,s,2023-01-01,https://x.example/1\n", "name"},
      {std::string(MaxFieldBytes + 1, 'n') + ",1M,s,2023-01-01,https://x.example/1\n", "name"},
  };
  for (const Case& c : cases) {
    const Read read = ReadAll(std::string(Header) + good + c.record, CatalogueFormat::Csv);
    EXPECT_TRUE(read.fault) << c.record;
    EXPECT_EQ(read.fault.line, 3) << c.record;
    EXPECT_EQ(read.fault.field, c.field) << c.record << ": " << read.fault.reason;
    EXPECT_EQ(read.shares.size(), 1u) << "nothing after the fault is read: " << c.record;
  }
}

TEST(ReadCatalogue, RefusesBrokenFilesAndHeaders) {
  const std::vector<std::pair<std::string, CatalogueFormat>> cases = {
      {"", CatalogueFormat::Csv},
      {"name,size,sharer,date\n", CatalogueFormat::Csv},
      {"name,size,sharer,date,link,extra\n", CatalogueFormat::Csv},
      {"name,name,sharer,date,link\n", CatalogueFormat::Csv},
      {std::string(Header) + "\"open,1M,s,2023-01-01,https://x.example/1\n", CatalogueFormat::Csv},
      {std::string(Header) + "a,1M,s,2023-01-01,https://x.example/1,more\n", CatalogueFormat::Csv},
      {std::string(Header) + "\"a\"b,1M,s,2023-01-01,https://x.example/1\n", CatalogueFormat::Csv},
      {"[1]\n", CatalogueFormat::JsonLines},
      {"{\"name\": 5}\n", CatalogueFormat::JsonLines},
      {"{\"name\": \"a\", \"name\": \"b\"}\n", CatalogueFormat::JsonLines},
      {"{\"nam\": \"a\"}\n", CatalogueFormat::JsonLines},
      {"{\"name\": \"\\ud800\"}\n", CatalogueFormat::JsonLines},
      {"{\"name\": \"a\", \"size\": \"1\", \"sharer\": \"s\", \"date\": \"2023-01-01\"}\n",
       CatalogueFormat::JsonLines},
      {"{\"name\": \"a\"} trailing\n", CatalogueFormat::JsonLines},
      {"{\"name\": \"unclosed}\n", CatalogueFormat::JsonLines},
  };
  for (const auto& [text, format] : cases)
    EXPECT_TRUE(ReadAll(text, format).fault) << text;
}

TEST(GuessCatalogueFormat, ByNameThenByContent) {
  EXPECT_EQ(GuessCatalogueFormat("a.jsonl", "name,"), CatalogueFormat::JsonLines);
  EXPECT_EQ(GuessCatalogueFormat("a.csv", "{"), CatalogueFormat::Csv);
  EXPECT_EQ(GuessCatalogueFormat("-", "\n  {\"name\":1}"), CatalogueFormat::JsonLines);
  EXPECT_EQ(GuessCatalogueFormat("-", "name,size"), CatalogueFormat::Csv);
}
