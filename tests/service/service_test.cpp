// pelvaro-service as a program: catalogues imported with its import command, searched over real
// loopback HTTP, and its pages read back with Pelvaro's own HTTP routine and page parser.
#include "service_process.h"

#include "http/fetch.h"
#include "search/result_page.h"
#include "text/codepage.h"
#include "text/text_ops.h"

#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <thread>

namespace {

std::string PercentEncode(std::string_view text) {
  static constexpr char Hex[] = "0123456789ABCDEF";
  std::string out;
  for (const char c : text) {
    const auto byte = static_cast<unsigned char>(c);
    out += '%';
    out += Hex[byte >> 4];
    out += Hex[byte & 15];
  }
  return out;
}

std::string Gbk(std::string_view utf8) {
  const ByteBuffer converted = Utf8ToGbk(ByteBuffer(utf8.begin(), utf8.end()));
  return std::string(converted.begin(), converted.end());
}

std::string CsvField(std::string_view text) {
  std::string out = "\"";
  for (const char c : text) {
    out += c;
    if (c == '"') out += '"';
  }
  return out + "\"";
}

struct Row {
  std::string name, size, sharer, date, link;
};

std::string Csv(const std::vector<Row>& rows) {
  std::string text = "name,size,sharer,date,link\n";
  for (const Row& row : rows)
    text += CsvField(row.name) + "," + CsvField(row.size) + "," + CsvField(row.sharer) + "," +
            row.date + "," + row.link + "\n";
  return text;
}

Row Numbered(const std::string& name, const std::string& date, int number) {
  return {name, "1.0M", "sharer", date, "https://pan.baidu.com/s/" + std::to_string(number)};
}

class ServiceTest : public testing::Test {
 protected:
  void SetUp() override {
    folder = TemporaryFolder();
    database = folder + "/shares.db";
  }
  void TearDown() override {
    StopServer(server);
    std::filesystem::remove_all(folder);
  }

  CommandResult Import(const std::string& fileName, const std::string& text) {
    const std::string path = folder + "/" + fileName;
    WriteText(path, text);
    return RunService({"import", "--db", database, path});
  }

  void Serve() {
    server = StartServer(database);
    ASSERT_NE(server.pid, 0) << ReadText(server.log);
  }

  // The rows Pelvaro's own routines read from one result page, in code page 936.
  std::vector<ResultRow> ClientRows(std::string_view keyword, int page) {
    const std::string address = "http://127.0.0.1:" + std::to_string(server.port) +
                                "/?q=" + PercentEncode(keyword) + "&page=" + std::to_string(page) +
                                "&by=prev";
    std::vector<ResultRow> rows;
    ParseResultPage(BytesToText(FetchUrl(address)), "pan.baidu.com",
                    [&](const ResultRow& row) { rows.push_back(row); });
    return rows;
  }

  std::vector<std::string> ClientLinks(std::string_view keyword, int page) {
    std::vector<std::string> links;
    for (const ResultRow& row : ClientRows(keyword, page))
      links.push_back(row.link);
    return links;
  }

  std::string folder, database;
  RunningServer server;
};

TEST_F(ServiceTest, PagesHoldTenSharesNewestFirst) {
  std::vector<Row> rows;
  // 23 matches over three dates, imported out of date order, and shares that do not match.
  for (int i = 0; i < 23; ++i)
    rows.push_back(Numbered("电影 number " + std::to_string(i),
                            i % 3 == 0   ? "2021-05-05"
                            : i % 3 == 1 ? "2023-01-01"
                                         : "2019-12-31",
                            i));
  rows.push_back(Numbered("音乐", "2030-01-01", 100));
  ASSERT_EQ(Import("shares.csv", Csv(rows)).exitCode, 0);
  Serve();

  // Newest date first; within a date the later import first.
  std::vector<std::string> expected;
  for (const char* date : {"2023-01-01", "2021-05-05", "2019-12-31"})
    for (int i = 22; i >= 0; --i)
      if (rows[i].date == date) expected.push_back(rows[i].link);
  // One- and two-character keywords are one token each, longer ones a phrase of pairs.
  for (const std::string_view keyword : {"电影", "影 NUMBER "}) {
    std::vector<std::string> seen;
    for (int page = 1; page <= 3; ++page) {
      const std::vector<std::string> links = ClientLinks(keyword, page);
      EXPECT_EQ(links.size(), page < 3 ? 10u : 3u) << keyword << " page " << page;
      seen.insert(seen.end(), links.begin(), links.end());
    }
    EXPECT_EQ(seen, expected) << keyword;
    EXPECT_TRUE(ClientRows(keyword, 4).empty()) << keyword;
  }
  for (const int page : {4, 0, -5, 2147483647})
    EXPECT_TRUE(ClientRows("电影", page).empty()) << "page " << page;
  EXPECT_TRUE(ClientRows("", 1).empty());
  EXPECT_TRUE(ClientRows("没有", 1).empty());
}

TEST_F(ServiceTest, MatchesSubstringsOfNamesIgnoringAsciiCase) {
  const std::vector<Row> rows = {
      Numbered("Ubuntu 22.04 LTS.iso", "2023-01-01", 1),
      Numbered("流浪地球2 国语中字.mp4", "2023-01-02", 2),
      Numbered("地球脉动 Planet Earth", "2023-01-03", 3),
      Numbered("Ä ä Straße", "2023-01-04", 4),
      Numbered("a \"quoted\" 100% name", "2023-01-05", 5),
  };
  ASSERT_EQ(Import("shares.csv", Csv(rows)).exitCode, 0);
  Serve();
  auto links = [&](std::string_view keyword) {
    std::vector<std::string> numbers;
    for (const std::string& link : ClientLinks(keyword, 1))
      numbers.push_back(link.substr(link.rfind('/') + 1));
    return numbers;
  };
  using Numbers = std::vector<std::string>;
  EXPECT_EQ(links("uBUNTU"), Numbers{"1"});
  EXPECT_EQ(links("2.04 l"), Numbers{"1"});
  EXPECT_EQ(links("地"), (Numbers{"3", "2"}));
  EXPECT_EQ(links("地球"), (Numbers{"3", "2"}));
  EXPECT_EQ(links("地球2"), Numbers{"2"});
  EXPECT_EQ(links("球脉动 P"), Numbers{"3"});
  EXPECT_EQ(links("EARTH"), Numbers{"3"});
  EXPECT_EQ(links("ä"), Numbers{"4"});
  EXPECT_EQ(links("Ä"), Numbers{"4"});
  EXPECT_EQ(links("STRASSE"), Numbers{});  // only ASCII letters fold
  EXPECT_EQ(links("\"quoted\""), Numbers{"5"});
  EXPECT_EQ(links("100%"), Numbers{"5"});
  EXPECT_EQ(links("球地"), Numbers{});
  EXPECT_EQ(links("地球脉动 Planet Earth!"), Numbers{});
  EXPECT_EQ(links("地球脉动 PLANET EARTH"), Numbers{"3"});
  EXPECT_EQ(links("ubuntu 22.04 lts.iso"), Numbers{"1"});
  EXPECT_EQ(links("a \"quoted\" 100% name"), Numbers{"5"});
  EXPECT_EQ(links("2 国语中字.MP4"), Numbers{"2"});
}

TEST_F(ServiceTest, PelvaroReadsEveryFieldAsImported) {
  const std::vector<Row> rows = {
      {"Tom & Jerry \"<b>1</b>\" 'x' 😀 ＦＵＬＬ＆ " + std::string(200, 'n') + " 完整版", "",
       "影视&小站 😀", "2024-01-02", "https://pan.baidu.com/s/1a?pwd=x&y=1"},
      {std::string(255, 'z'), "2.61G", "", "2024-01-01", "http://example.com/s/2"},
      {" leading and trailing ", "1K", "s", "2024-01-01", "HTTPS://EXAMPLE.COM/3"},
  };
  ASSERT_EQ(Import("shares.csv", Csv(rows)).exitCode, 0);
  Serve();
  for (const Row& row : rows) {
    const std::string keyword = row.name.substr(0, 4);
    const std::vector<ResultRow> found = ClientRows(keyword, 1);
    ASSERT_EQ(found.size(), 1u) << row.name;
    EXPECT_EQ(found[0].fileName, Gbk(row.name));
    EXPECT_EQ(found[0].size, row.size.empty() ? Gbk("文件夹") : Gbk(row.size));
    EXPECT_EQ(found[0].sharer, Gbk(row.sharer));
    EXPECT_EQ(found[0].link, Gbk(row.link));
  }
  // With the keyword emphasised inside the name, Pelvaro still reads the name as imported.
  const std::vector<ResultRow> found = ClientRows("jerry", 1);
  ASSERT_EQ(found.size(), 1u);
  EXPECT_EQ(found[0].fileName, Gbk(rows[0].name));
}

TEST_F(ServiceTest, ReimportUpdatesSharesWithTheSameLink) {
  ASSERT_EQ(
      Import("a.csv", Csv({Numbered("旧名字", "2020-01-01", 1), Numbered("别的", "2020-01-01", 2)}))
          .exitCode,
      0);
  const CommandResult again =
      Import("b.jsonl",
             "{\"name\":\"新名字\",\"size\":\"9G\",\"sharer\":\"t\",\"date\":\"2020-01-01\","
             "\"link\":\"https://pan.baidu.com/s/1\"}\n");
  ASSERT_EQ(again.exitCode, 0) << again.errors;
  EXPECT_NE(again.errors.find("1 updated"), std::string::npos) << again.errors;
  EXPECT_NE(again.errors.find("2 in the database"), std::string::npos) << again.errors;
  Serve();
  EXPECT_TRUE(ClientRows("旧", 1).empty());
  const std::vector<ResultRow> found = ClientRows("名字", 1);
  ASSERT_EQ(found.size(), 1u);
  EXPECT_EQ(found[0].size, "9G");
  // The updated share keeps its import order: among equal dates it stays behind the later one.
  EXPECT_EQ(ClientLinks("2", 1).size(), 0u);
}

TEST_F(ServiceTest, MalformedCatalogueChangesNothing) {
  ASSERT_EQ(Import("a.csv", Csv({Numbered("第一", "2020-01-01", 1)})).exitCode, 0);
  const std::string text =
      Csv({Numbered("第二", "2020-01-01", 2), Numbered("第三", "2020-01-01", 3)}) +
      "第四,1M,s,2020-13-01,https://pan.baidu.com/s/4\n";
  const CommandResult bad = Import("bad.csv", text);
  EXPECT_EQ(bad.exitCode, 1);
  EXPECT_NE(bad.errors.find("bad.csv:4: date:"), std::string::npos) << bad.errors;
  const CommandResult missing = RunService({"import", "--db", database, folder + "/none.csv"});
  EXPECT_EQ(missing.exitCode, 1);
  EXPECT_NE(missing.errors.find("none.csv"), std::string::npos) << missing.errors;
  Serve();
  EXPECT_EQ(ClientRows("第", 1).size(), 1u);
}

TEST_F(ServiceTest, AnswersHostileRequestsAndKeepsServing) {
  ASSERT_EQ(Import("a.csv", Csv({Numbered("电影", "2020-01-01", 1)})).exitCode, 0);
  Serve();
  struct Case {
    std::string request;
    int status;
    bool emptyRegion;
  };
  const std::string tail = " HTTP/1.1\r\nHost: x\r\nConnection: close\r\n\r\n";
  const std::vector<Case> cases = {
      {"GET /?q=%E7%94%B5&page=1&by=prev" + tail, 200, false},
      {"GET /?q=%E7%94%B5&page=abc" + tail, 400, false},
      {"GET /?q=%zz&page=1" + tail, 400, false},
      {"GET /?q=%E7%94%B5&page=-5" + tail, 200, true},
      {"GET /?q=%E7%94%B5&page=99999999999" + tail, 200, true},
      {"GET /?q=" + std::string(10 * 1024, 'a') + "&page=1" + tail, 200, true},
      {"GET /?q=%FF%FE&page=1" + tail, 200, true},
      {"GET /?q=%E7%94" + tail, 200, true},
      {"GET /?q=" + std::string(100 * 1024, 'a') + tail, 414, false},
      {"GET /nothing" + tail, 404, false},
      {"GET /support" + tail, 200, false},
      {"GET /support/thanks" + tail, 200, false},
      {"POST / HTTP/1.1\r\nHost: x\r\nContent-Length: 3\r\nConnection: close\r\n\r\nabc", 405,
       false},
  };
  for (const Case& c : cases) {
    const std::string response = Exchange(server.port, c.request);
    const int status = StatusOf(response);
    if (c.status == 414) {
      EXPECT_GE(status, 400) << c.request.substr(0, 60);
      EXPECT_LT(status, 500) << c.request.substr(0, 60);
    } else {
      EXPECT_EQ(status, c.status) << c.request.substr(0, 60);
    }
    if (c.status == 200 && c.request.find("/?") != std::string::npos) {
      EXPECT_NE(response.find("Content-Type: text/html; charset=utf-8"), std::string::npos);
      EXPECT_EQ(BodyOf(response).find("article ali_row") == std::string::npos, c.emptyRegion)
          << c.request.substr(0, 60);
    }
  }
  EXPECT_EQ(ClientRows("电影", 1).size(), 1u);
}

TEST_F(ServiceTest, ServesOthersBesideManyIdleAndTricklingConnections) {
  ASSERT_EQ(Import("a.csv", Csv({Numbered("电影", "2020-01-01", 1)})).exitCode, 0);
  Serve();
  rlimit limit{};
  getrlimit(RLIMIT_NOFILE, &limit);
  limit.rlim_cur = limit.rlim_max;
  setrlimit(RLIMIT_NOFILE, &limit);
  ASSERT_GE(limit.rlim_cur, 1100u) << "this test needs 1100 descriptors";

  std::vector<int> held;
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_port = htons(static_cast<std::uint16_t>(server.port));
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  for (int i = 0; i < 1000; ++i) {
    const int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    ASSERT_EQ(connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
    held.push_back(fd);
  }
  // Every tenth sends its request a byte at a time, a byte every 200 ms.
  const std::string request = "GET /?q=%E7%94%B5&page=1 HTTP/1.1\r\n";
  for (int round = 0; round < 5; ++round) {
    for (std::size_t i = 0; i < held.size(); i += 10)
      send(held[i], request.data() + round, 1, MSG_NOSIGNAL);
    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(ClientRows("电影", 1).size(), 1u) << "round " << round;
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(5));
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
  }
  for (const int fd : held)
    close(fd);
}

// A catalogue large enough that its import runs for a while.
std::string LargeCatalogue(int shares) {
  std::string text = "name,size,sharer,date,link\n";
  text.reserve(static_cast<std::size_t>(shares) * 70);
  for (int i = 0; i < shares; ++i)
    text += "新的分享 number " + std::to_string(i) + ",1M,s,2024-01-01,https://pan.baidu.com/s/n" +
            std::to_string(i) + "\n";
  return text;
}

TEST_F(ServiceTest, KilledImportLeavesEarlierContent) {
  ASSERT_EQ(Import("a.csv", Csv({Numbered("电影", "2020-01-01", 1)})).exitCode, 0);
  WriteText(folder + "/large.csv", LargeCatalogue(400000));
  const std::string errors = folder + "/import.log";
  const pid_t import = SpawnService({"import", "--db", database, folder + "/large.csv"}, errors);
  ASSERT_NE(import, 0);
  // Killed once it has written a good part of the shares into its transaction.
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
  while (ReadText(errors).find("200000 shares read") == std::string::npos &&
         std::chrono::steady_clock::now() < deadline)
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  kill(import, SIGKILL);
  int status = 0;
  waitpid(import, &status, 0);
  ASSERT_TRUE(WIFSIGNALED(status)) << "the import ended before it was killed";
  Serve();
  EXPECT_EQ(ClientRows("电影", 1).size(), 1u);
  EXPECT_TRUE(ClientRows("新的分享", 1).empty());
  EXPECT_NE(ReadText(server.log).find("holds 1 shares"), std::string::npos);
}

TEST_F(ServiceTest, SearchesAreAnsweredDuringAnImport) {
  ASSERT_EQ(Import("a.csv", Csv({Numbered("电影", "2020-01-01", 1)})).exitCode, 0);
  Serve();
  WriteText(folder + "/large.csv", LargeCatalogue(200000));
  const pid_t import =
      SpawnService({"import", "--db", database, folder + "/large.csv"}, folder + "/import.log");
  ASSERT_NE(import, 0);
  int answered = 0;
  int status = 0;
  while (waitpid(import, &status, WNOHANG) == 0) {
    EXPECT_EQ(ClientRows("电影", 1).size(), 1u);
    ++answered;
  }
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << ReadText(folder + "/import.log");
  EXPECT_GT(answered, 3);
  EXPECT_EQ(ClientRows("新的分享", 1).size(), 10u);
}

}  // namespace
