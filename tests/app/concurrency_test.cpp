// Many search jobs at once against the sample service, with the commands of the user-interface
// thread going on meanwhile: new searches replacing the keyword, the table emptied while rows
// arrive, the popup menu's row going away. Also run under ThreadSanitizer (preset linux-tsan).
#include "app/commands.h"
#include "app/search_job.h"
#include "app_test_fixture.h"
#include "loopback_server.h"
#include "platform/system.h"
#include "text/codepage.h"
#include "text/text_ops.h"

#include <algorithm>
#include <condition_variable>
#include <map>
#include <mutex>
#include <set>
#include <string>
#include <thread>
#include <utility>
#include <vector>

namespace {

using ConcurrencyTest = ServiceTest;

struct Search {
  AnsiText keyword;
  std::int32_t page;
  auto operator<=>(const Search&) const = default;
};

// Short keywords live inside the text value, the long one on the heap: a job that read a
// released keyword would show under the sanitizers.
const std::vector<Search> Searches{{"版", 1},
                                   {"版", 2},
                                   {"i", 1},
                                   {"i", 2},
                                   {"电影", 1},
                                   {"ubuntu", 1},
                                   {"Python 编程 从入门到实践", 1}};

// The rows each search gives when its job runs alone.
std::map<Search, std::vector<TableRow>> RowsAlone() {
  std::map<Search, std::vector<TableRow>> rows;
  for (const Search& search : Searches) {
    recording::ResetWindow();
    SearchJob(ServiceSettings(), search.keyword, search.page);
    rows[search] = recording::Rows();
  }
  recording::ResetWindow();
  ClearRecordedRequests();
  return rows;
}

std::string EncodedRequest(const Search& search) {
  return SearchRequest(UrlEncode(search.keyword, {.asUtf8 = true}), IntToText(search.page));
}

// Every row of the table is a whole row of one search. (Page order within one job is shown by
// the search job's own tests; here the same search runs in several jobs at once.)
void ExpectWholeRows(const std::vector<TableRow>& table,
                     const std::map<Search, std::vector<TableRow>>& alone) {
  std::set<TableRow> known;
  for (const auto& [search, rows] : alone)
    known.insert(rows.begin(), rows.end());
  for (const TableRow& row : table)
    EXPECT_TRUE(known.contains(row)) << "a row mixed from several hits: " << row[0] << " | "
                                     << row[1] << " | " << row[2] << " | " << row[3];
}

// Jobs started back to back with "是否删除当前页" checked: each empties the table while the
// others' rows arrive. The table ends holding one whole page: the latest job's.
TEST_F(ConcurrencyTest, TableClearedWhileRowsArriveEndsWithOneWholePage) {
  const auto alone = RowsAlone();
  recording::SetCheckBox(true);
  constexpr int Jobs = 28;
  for (int i = 0; i < Jobs; ++i) {
    const Search& search = Searches[i % Searches.size()];
    StartDetachedWorker([search] { SearchJob(ServiceSettings(), search.keyword, search.page); });
  }
  ASSERT_TRUE(recording::JoinWorkers());

  const std::vector<TableRow> table = recording::Rows();
  ExpectWholeRows(table, alone);
  EXPECT_TRUE(
      std::ranges::any_of(alone, [&](const auto& search) { return search.second == table; }))
      << "the table holds " << table.size() << " rows, not one page";
  EXPECT_EQ(RequestLines().size(), std::size_t{Jobs});
  EXPECT_TRUE(recording::MessageBoxes().empty());
}

// Searches and page changes follow each other faster than their jobs end: every job asks for the
// keyword and page of its own command, and brings the rows of exactly that page.
TEST_F(ConcurrencyTest, NewSearchesReplaceTheKeywordWhileJobsRun) {
  const auto alone = RowsAlone();
  std::vector<std::string> asked;
  std::vector<TableRow> rowsWanted;
  const auto issued = [&](const AnsiText& keyword, std::int32_t page) {
    const Search search{keyword, page};
    asked.push_back(EncodedRequest(search));
    rowsWanted.insert(rowsWanted.end(), alone.at(search).begin(), alone.at(search).end());
  };
  for (int round = 0; round < 4; ++round) {
    for (const Search& search : Searches) {
      if (search.page != 1) continue;
      recording::TypeKeyword(search.keyword);
      OnSearchClicked(ServiceSettings());
      issued(search.keyword, 1);
      if (alone.contains({search.keyword, 2})) {
        OnNextPageClicked(ServiceSettings());
        issued(search.keyword, 2);
      }
    }
  }
  ASSERT_TRUE(recording::JoinWorkers());

  std::vector<std::string> lines = RequestLines();
  std::ranges::sort(lines);
  std::ranges::sort(asked);
  EXPECT_EQ(lines, asked);
  // With the table kept, every page goes in whole, in the order of the commands.
  EXPECT_EQ(recording::Rows(), rowsWanted);
  EXPECT_TRUE(recording::MessageBoxes().empty());
}

// The user chooses "打开链接" and "复制链接" over and over while jobs empty and refill the table:
// what reaches the browser or the clipboard is always one whole link of the table, never a part,
// and nothing at all when the row has gone.
TEST_F(ConcurrencyTest, PopupMenusRowVanishingMeanwhileHandsOnOnlyWholeLinks) {
  const auto alone = RowsAlone();
  std::set<AnsiText> links;
  for (const auto& [search, rows] : alone) {
    for (const TableRow& row : rows)
      links.insert(row[3]);
  }
  recording::SetCheckBox(true);
  int choices = 0;
  for (int i = 0; i < 28; ++i) {
    const Search& search = Searches[i % Searches.size()];
    StartDetachedWorker([search] { SearchJob(ServiceSettings(), search.keyword, search.page); });
    // Choices for a while after each start, as the job empties the table and its rows arrive.
    const auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(40);
    while (std::chrono::steady_clock::now() < until) {
      recording::SelectRows({0});
      recording::ScriptPopupChoice(choices % 2 == 0 ? MenuChoice::OpenLink : MenuChoice::CopyLink);
      OnTableRightClick();
      ++choices;
      std::this_thread::sleep_for(std::chrono::microseconds(200));
    }
  }
  ASSERT_TRUE(recording::JoinWorkers());

  const std::vector<AnsiText> opened = recording::OpenedAddresses();
  const std::vector<AnsiText> copied = recording::CopiedTexts();
  for (const AnsiText& link : opened)
    EXPECT_TRUE(links.contains(link)) << "opened " << link;
  for (const AnsiText& link : copied)
    EXPECT_TRUE(links.contains(link)) << "copied " << link;
  EXPECT_LE(opened.size() + copied.size(), std::size_t(choices));
  // The table is refilled often enough that some choices found their row.
  EXPECT_FALSE(opened.empty() && copied.empty());
}

}  // namespace

namespace {

// A search service on a loopback port of its own whose page N holds N hits ("第N页第R条"; page 0
// and below none) and answers one page slowly: only once the request of another page has come in,
// and a moment later, so that the later command's page arrives first.
struct SlowPageService {
  explicit SlowPageService(std::int32_t slowPage) : slowPage(slowPage) {}

  SearchSettings Settings() const {
    return {"127.0.0.1:" + std::to_string(server.Port()), ServiceShareDomain, ServiceContact};
  }

  static TableRow Row(std::int32_t page, std::int32_t hit) {
    const std::string tag = std::to_string(page) + "r" + std::to_string(hit);
    return {"第" + std::to_string(page) + "页第" + std::to_string(hit) + "条", "1M", "分享者",
            std::string("https://") + ServiceShareDomain + "/s/p" + tag};
  }

  static std::vector<TableRow> Rows(std::int32_t page) {
    std::vector<TableRow> rows;
    for (std::int32_t hit = 1; hit <= page; ++hit)
      rows.push_back(Row(page, hit));
    return rows;
  }

 private:
  // The page in the search service's format, as code page 936 bytes.
  static std::string PageText(std::int32_t page) {
    std::string blocks;
    for (const TableRow& row : Rows(page)) {
      blocks +=
          "<div class=\"article ali_row\"><h2><a rel='external nofollow' target='_blank' href=\"" +
          row[3] + "\">" + row[0] + "</a></h2><p>文件名:" + row[0] + " 文件大小:" + row[1] +
          " 分享者:" + row[2] + " 分享时间:2024-01-01</p><div class=\"other\">" +
          ServiceShareDomain + "</div></div>\r\n";
    }
    return "<html><body><center><script>var pages = 9;</script><br><br>\n" + blocks +
           "<script>pager();</script></center><br><script type=\"text/javascript\"></script>"
           "</body></html>\n";
  }

  Reply Answer(const ReceivedRequest& request) {
    const std::size_t at = request.head.find("&page=");
    const std::int32_t page = at == std::string::npos ? 0 : std::stoi(request.head.substr(at + 6));
    std::unique_lock lock(mutex);
    if (page != slowPage) {
      othersAsked = true;
      asked.notify_all();
    } else {
      asked.wait_for(lock, std::chrono::seconds(10), [&] { return othersAsked; });
      lock.unlock();
      std::this_thread::sleep_for(std::chrono::milliseconds(300));
    }
    return Respond("200 OK", "Content-Type: text/html\r\n", PageText(page));
  }

  const std::int32_t slowPage;
  std::mutex mutex;
  std::condition_variable asked;
  bool othersAsked = false;
  LoopbackServer server{[this](const ReceivedRequest& request) { return Answer(request); }};
};

using OverlapTest = AppTest;

std::vector<TableRow> Joined(std::vector<TableRow> first, const std::vector<TableRow>& second) {
  first.insert(first.end(), second.begin(), second.end());
  return first;
}

// Two commands, the first one's page answered slowly: the table, the label, the button and the
// boxes end as the commands ask, whichever page arrives first. The user-interface thread never
// waits: the slow page is answered only after the second command has been given.
TEST_F(OverlapTest, SlowEarlierPageNeitherOvertakesNorMixesWithTheLaterOne) {
  struct Case {
    const char* name;
    bool clearing;
    std::int32_t slowPage;  // the first command's page
    std::int32_t nextPage;  // the second command's page
    std::vector<TableRow> table;
    std::size_t boxes;
  };
  const Case cases[] = {
      // With clearing on the earlier job is superseded: it delivers nothing, not even its box.
      {"clearing, 2 then 3", true, 2, 3, SlowPageService::Rows(3), 0},
      {"clearing, empty 0 then 3", true, 0, 3, SlowPageService::Rows(3), 0},
      {"clearing, 2 then empty 0", true, 2, 0, {}, 1},
      // With the table kept, pages go in whole, in command order; an empty page still says so.
      {"keeping, 2 then 3", false, 2, 3, Joined(SlowPageService::Rows(2), SlowPageService::Rows(3)),
       0},
      {"keeping, empty 0 then 3", false, 0, 3, SlowPageService::Rows(3), 1},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    recording::ResetWindow();
    recording::SetCheckBox(c.clearing);
    SlowPageService service(c.slowPage);
    CurrentKeyword = "k";

    CurrentPage = c.slowPage;
    OnRefreshClicked(service.Settings());
    CurrentPage = c.nextPage;
    OnRefreshClicked(service.Settings());
    ASSERT_TRUE(recording::JoinWorkers());

    EXPECT_EQ(recording::Rows(), c.table);
    EXPECT_EQ(recording::LabelText(Control::PageLabel), IntToText(c.nextPage));
    EXPECT_TRUE(recording::ButtonEnabled(Control::PreviousPageButton));
    EXPECT_EQ(recording::MessageBoxes().size(), c.boxes);
    // Rows go straight into the table: none appended only to be emptied again.
    const std::vector<recording::Op> kinds = recording::OperationKinds();
    EXPECT_EQ(std::ranges::count(kinds, recording::Op::AppendRow), std::ssize(c.table));
  }
}

// The user clears "是否删除当前页" between two commands: the earlier job has emptied the table,
// the later one keeps it, so the earlier page stays, whole, before the later one.
TEST_F(OverlapTest, CheckBoxClearedBetweenCommandsKeepsTheEarlierPageWhole) {
  recording::SetCheckBox(true);
  SlowPageService service(2);
  CurrentKeyword = "k";
  CurrentPage = 2;
  OnRefreshClicked(service.Settings());
  for (int tries = 0;
       !std::ranges::count(recording::OperationKinds(), recording::Op::DeleteAllRows); ++tries) {
    ASSERT_LT(tries, 1000) << "the first job did not empty the table";
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  recording::SetCheckBox(false);
  CurrentPage = 3;
  OnRefreshClicked(service.Settings());
  ASSERT_TRUE(recording::JoinWorkers());

  EXPECT_EQ(recording::Rows(), Joined(SlowPageService::Rows(2), SlowPageService::Rows(3)));
  EXPECT_EQ(recording::LabelText(Control::PageLabel), "3");
  EXPECT_TRUE(recording::MessageBoxes().empty());
}

// The earlier command's worker runs late, after the later one has set the label and the button:
// they keep showing the later command's page, here page 1 with "上一页" disabled.
TEST_F(OverlapTest, LabelAndButtonStayWithTheLatestCommandWhenAnEarlierJobStartsLate) {
  for (const bool clearing : {true, false}) {
    SCOPED_TRACE(clearing ? "clearing" : "keeping");
    recording::ResetWindow();
    recording::SetCheckBox(clearing);
    SlowPageService service(-1);  // no page is slow here
    CurrentKeyword = "k";
    CurrentPage = 3;

    recording::CloseCheckBoxGate();
    recording::HoldNextWorker();
    OnPreviousPageClicked(service.Settings());  // page 2, its worker held
    OnPreviousPageClicked(service.Settings());  // page 1
    ASSERT_TRUE(recording::WaitForHeldReaders(1));
    EXPECT_EQ(recording::LabelText(Control::PageLabel), "1");
    recording::ReleaseHeldWorker();
    ASSERT_TRUE(recording::WaitForHeldReaders(2));
    recording::OpenCheckBoxGate();
    ASSERT_TRUE(recording::JoinWorkers());

    EXPECT_EQ(recording::LabelText(Control::PageLabel), "1");
    EXPECT_FALSE(recording::ButtonEnabled(Control::PreviousPageButton));
    EXPECT_EQ(recording::Rows(), clearing
                                     ? SlowPageService::Rows(1)
                                     : Joined(SlowPageService::Rows(2), SlowPageService::Rows(1)));
    EXPECT_TRUE(recording::MessageBoxes().empty());
  }
}

// A command whose worker the system could not start leaves no gap that later pages wait for.
TEST_F(OverlapTest, CommandWhoseWorkerCannotStartHoldsNoLaterPageBack) {
  SlowPageService service(-1);
  CurrentKeyword = "k";
  CurrentPage = 1;
  OnRefreshClicked(service.Settings());
  recording::FailWorkerStarts(1);
  CurrentPage = 2;
  OnRefreshClicked(service.Settings());
  CurrentPage = 3;
  OnRefreshClicked(service.Settings());
  ASSERT_TRUE(recording::JoinWorkers());

  EXPECT_EQ(recording::WorkersStarted(), 2);
  EXPECT_EQ(recording::Rows(), Joined(SlowPageService::Rows(1), SlowPageService::Rows(3)));
  EXPECT_EQ(recording::LabelText(Control::PageLabel), "3");
}

}  // namespace
