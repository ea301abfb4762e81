#include "app/search_job.h"

#include "app/commands.h"
#include "app_test_fixture.h"
#include "http/fetch.h"
#include "platform/system.h"
#include "text/text_ops.h"

#include <algorithm>
#include <string>
#include <vector>

namespace {

using recording::MessageBoxCall;
using recording::Op;

using SearchJobTest = ServiceTest;

constexpr char NoSuchShare[] = "没有这样的分享";

AnsiText ShareLink(const char* code) {
  return JoinTexts({"https://", ServiceShareDomain, "/s/", code});
}

const MessageBoxCall NoResultsBox{
    JoinTexts({"你的搜索涉及敏感词汇，或者需要更新，请联系作者\r\nQQ", ServiceContact}), "信息："};

std::vector<AnsiText> Names(const std::vector<TableRow>& rows) {
  std::vector<AnsiText> names;
  for (const TableRow& row : rows)
    names.push_back(row[0]);
  return names;
}

// The hits of "版" in the sample catalogue, newest first: ten on page 1, one on page 2.
const std::vector<AnsiText> VersionPage1{
    "中国地图 高清 2024版.jpg",
    "Photoshop 2023 中文版 安装包",
    "Minecraft 我的世界 Java版 整合包",
    "小学语文 课件 人教版",
    "Office 2021 专业增强版.iso",
    "Harry Potter 哈利波特 英文原版 全七册.epub",
    "UBUNTU 使用手册 第三版.pdf",
    "Python 编程 从入门到实践 第二版.pdf",
    "周星驰电影全集 国语版",
    "算法导论 第三版 Introduction to Algorithms.pdf",
};
const AnsiText VersionPage2 = "C++ Primer 中文版 第五版.pdf";

TEST_F(SearchJobTest, LabelAndPreviousButtonFollowThePage) {
  struct Case {
    std::int32_t page;
    const char* label;
    bool previousEnabled;
  };
  const Case cases[] = {{1, "1", false}, {2, "2", true}, {0, "0", true}, {-3, "-3", true}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.label);
    recording::ResetWindow();

    SearchJob(ServiceSettings(), NoSuchShare, c.page);

    const std::vector<recording::Operation> ops = recording::Operations();
    ASSERT_GE(ops.size(), 3u);
    EXPECT_EQ(ops[0], (recording::Operation{
                          .op = Op::SetLabelText, .control = Control::PageLabel, .text = c.label}));
    EXPECT_EQ(ops[1], (recording::Operation{.op = Op::SetButtonEnabled,
                                            .control = Control::PreviousPageButton,
                                            .flag = c.previousEnabled}));
    EXPECT_EQ(ops[2],
              (recording::Operation{.op = Op::IsChecked, .control = Control::ClearCheckBox}));
  }
}

// The label, the button and the clearing take effect before the request is sent.
TEST_F(SearchJobTest, FirstStepsTakeEffectBeforeTheRequest) {
  recording::SetRows({{"旧的一行", "1M", "者", "http://pan.example/s/0"}});
  recording::SetCheckBox(true);
  recording::CloseCheckBoxGate();
  StartDetachedWorker([] { SearchJob(ServiceSettings(), "ubuntu", 2); });
  ASSERT_TRUE(recording::WaitForHeldReaders(1));

  EXPECT_EQ(recording::LabelText(Control::PageLabel), "2");
  EXPECT_TRUE(recording::ButtonEnabled(Control::PreviousPageButton));
  EXPECT_TRUE(RequestLines().empty());

  recording::OpenCheckBoxGate();
  ASSERT_TRUE(recording::JoinWorkers());
  EXPECT_EQ(RequestLines(), std::vector{SearchRequest("%75%62%75%6E%74%75", "2")});
  EXPECT_EQ(recording::OperationKinds(),
            (std::vector{Op::SetLabelText, Op::SetButtonEnabled, Op::IsChecked, Op::DeleteAllRows,
                         Op::ShowMessageBox}));
  EXPECT_TRUE(recording::Rows().empty());  // page 2 of "ubuntu" holds nothing
}

TEST_F(SearchJobTest, RowsArriveInPageOrderWithTheLinkInColumnThree) {
  SearchJob(ServiceSettings(), "ubuntu", 1);

  EXPECT_EQ(recording::Rows(),
            (std::vector<TableRow>{
                {"Ubuntu 22.04.3 LTS desktop amd64.iso", "4.7G", "linuxfan", ShareLink("1iY6oXi5")},
                {"UBUNTU 使用手册 第三版.pdf", "12.4M", "开源社区", ShareLink("1kA0mVy2")},
                {"ubuntu-20.04-server-arm64.iso", "1.2G", "linuxfan", ShareLink("1jZ8nCu0")},
            }));
  EXPECT_TRUE(recording::MessageBoxes().empty());
  EXPECT_EQ(recording::OperationKinds(),
            (std::vector{Op::SetLabelText, Op::SetButtonEnabled, Op::IsChecked, Op::AppendRow,
                         Op::AppendRow, Op::AppendRow}));
}

// Folders print an empty size, which reads as "文件夹".
TEST_F(SearchJobTest, FoldersReadAsTheyShould) {
  SearchJob(ServiceSettings(), "版", 1);

  const std::vector<TableRow> rows = recording::Rows();
  ASSERT_EQ(rows.size(), 10u);
  EXPECT_EQ(rows[8],
            (TableRow{"周星驰电影全集 国语版", "文件夹", "星爷粉丝", ShareLink("1eU7wGk1")}));
  EXPECT_EQ(rows[3], (TableRow{"小学语文 课件 人教版", "文件夹", "王老师", ShareLink("1tJ8bFf6")}));
}

TEST_F(SearchJobTest, PagesAccumulateUnlessTheCheckBoxIsChecked) {
  SearchJob(ServiceSettings(), "版", 1);
  SearchJob(ServiceSettings(), "版", 2);
  std::vector<AnsiText> both = VersionPage1;
  both.push_back(VersionPage2);
  EXPECT_EQ(Names(recording::Rows()), both);

  recording::SetCheckBox(true);
  SearchJob(ServiceSettings(), "版", 2);
  EXPECT_EQ(Names(recording::Rows()), std::vector{VersionPage2});
  const std::vector<Op> kinds = recording::OperationKinds();
  EXPECT_EQ(std::vector(kinds.end() - 5, kinds.end()),
            (std::vector{Op::SetLabelText, Op::SetButtonEnabled, Op::IsChecked, Op::DeleteAllRows,
                         Op::AppendRow}));
  EXPECT_TRUE(recording::MessageBoxes().empty());
}

TEST_F(SearchJobTest, KeywordTravelsAsPercentEncodedUtf8WithTheDefaultAgent) {
  SearchJob(ServiceSettings(), "Python 编程 从入门到实践", 1);

  EXPECT_EQ(RequestLines(), std::vector{SearchRequest(
                                "%50%79%74%68%6F%6E%20%E7%BC%96%E7%A8%8B%20%E4%BB%8E%E5%85%A5%"
                                "E9%97%A8%E5%88%B0%E5%AE%9E%E8%B7%B5",
                                "1")});
  EXPECT_NE(RecordedRequests().find(std::string("\r\nUser-Agent: ") + DefaultUserAgent + "\r\n"),
            std::string::npos);
  EXPECT_EQ(Names(recording::Rows()), std::vector<AnsiText>{"Python 编程 从入门到实践 第二版.pdf"});
}

TEST_F(SearchJobTest, UnknownKeywordGivesTheNoResultsBoxAndKeepsEarlierRows) {
  SearchJob(ServiceSettings(), "ubuntu", 1);
  SearchJob(ServiceSettings(), NoSuchShare, 2);

  EXPECT_EQ(recording::MessageBoxes(), std::vector{NoResultsBox});
  EXPECT_EQ(recording::Rows().size(), 3u);
  EXPECT_EQ(recording::LabelText(Control::PageLabel), "2");
}

// With the check box checked the table is emptied before the request, and stays empty.
TEST_F(SearchJobTest, UnreachableServiceGivesTheNoResultsBoxAfterTheFirstSteps) {
  SearchJob(ServiceSettings(), "ubuntu", 1);
  recording::SetCheckBox(true);
  StopSampleService();

  SearchJob(ServiceSettings(), "ubuntu", 2);

  EXPECT_EQ(recording::MessageBoxes(), std::vector{NoResultsBox});
  EXPECT_TRUE(recording::Rows().empty());
  EXPECT_EQ(recording::LabelText(Control::PageLabel), "2");
  EXPECT_TRUE(recording::ButtonEnabled(Control::PreviousPageButton));
  ASSERT_TRUE(StartSampleService());
}

// Jobs that run at once each write whole rows: every row of the table is one hit of one job, and
// each job's rows keep their page order.
TEST_F(SearchJobTest, JobsAtTheSameTimeEachWriteWholeRows) {
  struct Job {
    AnsiText keyword;
    std::int32_t page;
    std::vector<TableRow> rows;  // as the job gives them when it runs alone
  };
  std::vector<Job> jobs{{"版", 1, {}}, {"i", 1, {}}, {"i", 2, {}}, {"电影", 1, {}}};
  for (Job& job : jobs) {
    recording::ResetWindow();
    SearchJob(ServiceSettings(), job.keyword, job.page);
    job.rows = recording::Rows();
    ASSERT_FALSE(job.rows.empty());
  }

  recording::ResetWindow();
  recording::CloseCheckBoxGate();  // let every job get ready, then release them together
  for (const Job& job : jobs) {
    StartDetachedWorker([&job] { SearchJob(ServiceSettings(), job.keyword, job.page); });
  }
  ASSERT_TRUE(recording::WaitForHeldReaders(jobs.size()));
  recording::OpenCheckBoxGate();
  ASSERT_TRUE(recording::JoinWorkers());

  const std::vector<TableRow> table = recording::Rows();
  std::vector<TableRow> expected;
  for (const Job& job : jobs) {
    expected.insert(expected.end(), job.rows.begin(), job.rows.end());
    // Each job's rows form a subsequence of the table, in page order.
    auto at = table.begin();
    for (const TableRow& row : job.rows) {
      at = std::find(at, table.end(), row);
      ASSERT_NE(at, table.end()) << row[0];
      ++at;
    }
  }
  std::vector<TableRow> sorted = table;
  std::ranges::sort(sorted);
  std::ranges::sort(expected);
  EXPECT_EQ(sorted, expected);
  EXPECT_TRUE(recording::MessageBoxes().empty());
}

// A job started by a search keeps its keyword when a later search replaces CurrentKeyword while
// the job is still under way.
TEST_F(SearchJobTest, RunningJobKeepsItsKeywordWhenANewSearchReplacesIt) {
  recording::CloseCheckBoxGate();
  recording::TypeKeyword("Python 编程 从入门到实践");  // long enough to live on the heap
  OnSearchClicked(ServiceSettings());
  ASSERT_TRUE(recording::WaitForHeldReaders(1));

  recording::TypeKeyword("版");
  OnSearchClicked(ServiceSettings());
  ASSERT_TRUE(recording::WaitForHeldReaders(2));
  recording::OpenCheckBoxGate();
  ASSERT_TRUE(recording::JoinWorkers());

  std::vector<std::string> lines = RequestLines();
  std::ranges::sort(lines);
  EXPECT_EQ(lines, (std::vector{SearchRequest("%50%79%74%68%6F%6E%20%E7%BC%96%E7%A8%8B%20%E4%BB%8E%"
                                              "E5%85%A5%E9%97%A8%E5%88%B0%E5%AE%9E%E8%B7%B5",
                                              "1"),
                                SearchRequest("%E7%89%88", "1")}));
  EXPECT_EQ(recording::Rows().size(), 11u);
  EXPECT_TRUE(recording::MessageBoxes().empty());
}

}  // namespace
