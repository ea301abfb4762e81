#include "search/result_page.h"

#include <gtest/gtest.h>

#include <fstream>
#include <iterator>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

namespace {

// The domain the fixture pages print at the foot of every block.
constexpr std::string_view ShareDomain = "pan.baidu.com";

std::vector<ResultRow> Parse(std::string_view page, std::int32_t* count = nullptr) {
  std::vector<ResultRow> rows;
  const std::int32_t n =
      ParseResultPage(page, ShareDomain, [&](const ResultRow& row) { rows.push_back(row); });
  EXPECT_EQ(n, static_cast<std::int32_t>(rows.size()));
  if (count != nullptr) *count = n;
  return rows;
}

// The fixture pages are written by tests/fixtures/make_result_pages.py in code page 936.
std::string Fixture(const char* name) {
  std::ifstream file(std::string(PELVARO_FIXTURES) + "/" + name, std::ios::binary);
  EXPECT_TRUE(file) << name;
  return std::string(std::istreambuf_iterator<char>(file), {});
}

std::vector<std::vector<std::string>> Fields(const std::vector<ResultRow>& rows) {
  std::vector<std::vector<std::string>> fields;
  for (const ResultRow& row : rows)
    fields.push_back({row.fileName, row.size, row.sharer, row.link});
  return fields;
}

constexpr std::string_view PageHead = "<html><script>a()</script><br><br>\r\n";
constexpr std::string_view PageFoot = "<script>b()</script></center><br><script type=\"x\">\r\n";

std::string Block(std::string_view name, std::string_view domain = ShareDomain,
                  std::string_view footEnd = "\r\n") {
  std::string block =
      "<div class=\"article ali_row\"><h2><a rel='external nofollow' target='_blank' "
      "href=\"http://s/";
  block.append(name).append("\">").append(name).append("</a></h2><p>文件名:").append(name);
  block += " 文件大小:1K 分享者:某人 分享时间:2014</p><div class=\"other\">";
  block.append(domain).append("</div></div>").append(footEnd);
  return block;
}

using ResultPageFixture = testing::Test;

TEST_F(ResultPageFixture, TakesTheFourFieldsOfEveryBlockInPageOrder) {
  const std::vector<std::vector<std::string>> expected = {
      {"电影合集.rar", "1.2G", "小明", "http://pan.baidu.com/s/1aBcD"},
      {"Linux教程.pdf", "35.6M", "tux", "http://pan.baidu.com/share/link?shareid=11&uk=22"},
      {"资料", "文件夹", "老王", "http://pan.baidu.com/s/1folder"},
      {"空的大小.zip", "文件夹", "小红", "http://pan.baidu.com/s/1empty"},
      {"考研真题", "2.5M", "学长", "http://pan.baidu.com/s/1title"},
  };
  EXPECT_EQ(Fields(Parse(Fixture("results.html"))), expected);
}

TEST_F(ResultPageFixture, RecognisesMarkersAndTagsInCapitals) {
  const std::vector<std::vector<std::string>> expected = {
      {"大写.ISO", "4.7G", "ADMIN", "HTTP://PAN.BAIDU.COM/S/1UPPER"},
      {"小写.txt", "1K", "admin", "http://pan.baidu.com/s/1lower"},
  };
  EXPECT_EQ(Fields(Parse(Fixture("capitals.html"))), expected);
}

TEST_F(ResultPageFixture, SkipsABlockWhoseFootEndsInABareLineFeed) {
  const std::vector<ResultRow> rows = Parse(Fixture("foot_line_feed.html"));
  ASSERT_EQ(rows.size(), 2u);
  EXPECT_EQ(rows[0].fileName, "一.txt");
  EXPECT_EQ(rows[1].fileName, "二.txt");
}

TEST_F(ResultPageFixture, ParsesPagesOnSeveralThreadsAtOnce) {
  const std::string page = Fixture("results.html");
  const std::vector<std::vector<std::string>> expected = Fields(Parse(page));
  std::vector<std::vector<std::vector<std::string>>> seen(4);
  std::vector<std::thread> workers;
  for (auto& fields : seen) {
    workers.emplace_back([&page, &expected, &fields] {
      for (int round = 0; round < 50; ++round) {
        std::vector<ResultRow> rows;
        ParseResultPage(page, ShareDomain, [&](const ResultRow& row) { rows.push_back(row); });
        fields = Fields(rows);
        if (fields != expected) return;
      }
    });
  }
  for (std::thread& worker : workers)
    worker.join();
  for (const auto& fields : seen)
    EXPECT_EQ(fields, expected);
}

TEST_F(ResultPageFixture, GivesNoRowsWithoutTheResultsRegion) {
  EXPECT_TRUE(Parse(Fixture("no_region.html")).empty());
  EXPECT_TRUE(Parse(Fixture("region_reversed.html")).empty());
  EXPECT_TRUE(Parse("").empty());
}

TEST(ResultPage, ReadsADotOfTheShareDomainAsAnyCharacterButALineFeed) {
  std::string domain(ShareDomain);
  const std::size_t dot = domain.find('.');
  std::string other = domain;
  other[dot] = 'X';
  std::string broken = domain;
  broken[dot] = '\n';
  const std::string page = std::string(PageHead) + Block("a", other) + Block("b", broken) +
                           Block("c") + std::string(PageFoot);
  // The second block has no foot of its own, so the third one's ends it.
  const std::vector<ResultRow> rows = Parse(page);
  ASSERT_EQ(rows.size(), 2u);
  EXPECT_EQ(rows[0].fileName, "a");
  EXPECT_EQ(rows[1].fileName, "b");
  EXPECT_EQ(rows[1].link, "http://s/b");
}

TEST(ResultPage, ParsesTenThousandBlocksInOrder) {
  std::string page(PageHead);
  for (int i = 0; i < 10'000; ++i)
    page += Block(std::to_string(i));
  page += PageFoot;
  std::int32_t count = 0;
  const std::vector<ResultRow> rows = Parse(page, &count);
  ASSERT_EQ(count, 10'000);
  for (int i = 0; i < 10'000; ++i)
    ASSERT_EQ(rows[i].fileName, std::to_string(i));
}

TEST(ResultPage, SurvivesHostilePages) {
  // Blocks whose left marker never finds a right one, filling five megabytes.
  std::string dangling(PageHead);
  dangling += Block("kept");
  const std::string open = Block("open", "nowhere");
  while (dangling.size() < (5u << 20))
    dangling += open;
  dangling += PageFoot;
  const std::vector<ResultRow> rows = Parse(dangling);
  ASSERT_EQ(rows.size(), 1u);
  EXPECT_EQ(rows[0].fileName, "kept");

  // One five-megabyte block (its name stands in the link, the heading and the name field).
  const std::string huge((5u << 20) / 3, 'x');
  EXPECT_EQ(Parse(std::string(PageHead) + Block(huge) + std::string(PageFoot))[0].fileName, huge);

  // Dangling lead bytes, at the end of a field, of a block and of the page.
  std::string broken(PageHead);
  broken += Block("名\xD6") + Block("\xFF") + std::string(PageFoot) + "\xB0";
  EXPECT_EQ(Parse(broken).size(), 2u);
  EXPECT_EQ(Parse(std::string(PageHead) + "\xB0").size(), 0u);

  // Every byte value but zero, in and around blocks.
  std::string noise;
  for (int round = 0; round < 64; ++round) {
    for (int byte = 1; byte < 256; ++byte)
      noise += static_cast<char>((byte * 37 + round) % 255 + 1);
  }
  const std::string mixed = std::string(PageHead) + noise + Block(noise) + noise + Block("n") +
                            noise + std::string(PageFoot);
  Parse(mixed);
}

}  // namespace
