// Many search jobs at once against the sample service, with the commands of the user-interface
// thread going on meanwhile: new searches replacing the keyword, the table emptied while rows
// arrive, the popup menu's row going away. Also run under ThreadSanitizer (preset linux-tsan).
#include "app/commands.h"
#include "app/search_job.h"
#include "app_test_fixture.h"
#include "platform/system.h"
#include "text/codepage.h"
#include "text/text_ops.h"

#include <algorithm>
#include <map>
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
// others' rows arrive.
TEST_F(ConcurrencyTest, TableClearedWhileRowsArriveKeepsEveryRowWhole) {
  const auto alone = RowsAlone();
  recording::SetCheckBox(true);
  constexpr int Jobs = 28;
  for (int i = 0; i < Jobs; ++i) {
    const Search& search = Searches[i % Searches.size()];
    StartDetachedWorker([search] { SearchJob(ServiceSettings(), search.keyword, search.page); });
  }
  ASSERT_TRUE(recording::JoinWorkers());

  ExpectWholeRows(recording::Rows(), alone);
  EXPECT_EQ(RequestLines().size(), std::size_t{Jobs});
  EXPECT_TRUE(recording::MessageBoxes().empty());
  const std::vector<recording::Op> kinds = recording::OperationKinds();
  EXPECT_EQ(std::ranges::count(kinds, recording::Op::DeleteAllRows), Jobs);
}

// Searches and page changes follow each other faster than their jobs end: every job asks for the
// keyword and page of its own command, and brings the rows of exactly that page.
TEST_F(ConcurrencyTest, NewSearchesReplaceTheKeywordWhileJobsRun) {
  const auto alone = RowsAlone();
  std::vector<std::string> asked;
  std::size_t rowsWanted = 0;
  const auto issued = [&](const AnsiText& keyword, std::int32_t page) {
    const Search search{keyword, page};
    asked.push_back(EncodedRequest(search));
    rowsWanted += alone.at(search).size();
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
  const std::vector<TableRow> table = recording::Rows();
  EXPECT_EQ(table.size(), rowsWanted);
  ExpectWholeRows(table, alone);
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
