#include "app/commands.h"

#include "app_test_fixture.h"

#include <algorithm>
#include <string>
#include <vector>

namespace {

using recording::MessageBoxCall;
using recording::Op;

using CommandTest = AppTest;
using SearchCommandTest = ServiceTest;

TEST_F(CommandTest, EmptyKeywordBoxOnlyShowsTheTeasingBox) {
  CurrentKeyword = "上一次的关键词，长得放不进短字符串";
  CurrentPage = 5;

  OnSearchClicked(ServiceSettings());

  EXPECT_EQ(recording::MessageBoxes(),
            (std::vector<MessageBoxCall>{{"你不输入内容我怎么搜！逗我？", "靠"}}));
  EXPECT_EQ(recording::OperationKinds(), (std::vector{Op::KeywordBoxText, Op::ShowMessageBox}));
  EXPECT_EQ(recording::WorkersStarted(), 0);
  EXPECT_EQ(CurrentKeyword, "上一次的关键词，长得放不进短字符串");
  EXPECT_EQ(CurrentPage, 5);
}

TEST_F(SearchCommandTest, SearchTakesTheKeywordAsTypedAndStartsAtPageOne) {
  struct Case {
    AnsiText typed;
    std::string encoded;
  };
  const Case cases[] = {
      {"  ", "%20%20"},  // spaces only are a keyword too
      {" ab ", "%20%61%62%20"},
      {"版", "%E7%89%88"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.encoded);
    CurrentPage = 5;
    recording::TypeKeyword(c.typed);
    ClearRecordedRequests();

    OnSearchClicked(ServiceSettings());

    EXPECT_EQ(CurrentKeyword, c.typed);
    EXPECT_EQ(CurrentPage, 1);
    ASSERT_TRUE(recording::JoinWorkers());
    EXPECT_EQ(RequestLines(), std::vector{SearchRequest(c.encoded, "1")});
    EXPECT_EQ(recording::LabelText(Control::PageLabel), "1");
  }
  EXPECT_EQ(recording::WorkersStarted(), 3);
}

// Before any search the paging commands work on the empty keyword from page 0, without bounds.
TEST_F(SearchCommandTest, PagingBeforeAnySearchStartsFromPageZero) {
  struct Case {
    void (*command)(const SearchSettings&);
    std::int32_t page;
    const char* label;
    bool previousEnabled;
  };
  const Case cases[] = {
      {OnNextPageClicked, 1, "1", false},
      {OnRefreshClicked, 0, "0", true},
      {OnPreviousPageClicked, -1, "-1", true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.label);
    CurrentPage = 0;
    ClearRecordedRequests();

    c.command(ServiceSettings());

    EXPECT_EQ(CurrentPage, c.page);
    ASSERT_TRUE(recording::JoinWorkers());
    EXPECT_EQ(RequestLines(), std::vector{SearchRequest("", c.label)});
    EXPECT_EQ(recording::LabelText(Control::PageLabel), c.label);
    EXPECT_EQ(recording::ButtonEnabled(Control::PreviousPageButton), c.previousEnabled);
    EXPECT_EQ(CurrentKeyword, "");
  }
}

TEST_F(SearchCommandTest, PagingMovesFromTheCurrentPageAndEveryClickStartsAJob) {
  CurrentKeyword = "ubuntu";
  CurrentPage = 2;
  OnPreviousPageClicked(ServiceSettings());
  EXPECT_EQ(CurrentPage, 1);
  ASSERT_TRUE(recording::JoinWorkers());
  EXPECT_FALSE(recording::ButtonEnabled(Control::PreviousPageButton));

  ClearRecordedRequests();
  OnNextPageClicked(ServiceSettings());
  OnNextPageClicked(ServiceSettings());  // a second click before the first job has ended
  EXPECT_EQ(CurrentPage, 3);
  ASSERT_TRUE(recording::JoinWorkers());
  EXPECT_EQ(recording::WorkersStarted(), 3);
  std::vector<std::string> lines = RequestLines();
  std::ranges::sort(lines);
  EXPECT_EQ(lines, (std::vector{SearchRequest("%75%62%75%6E%74%75", "2"),
                                SearchRequest("%75%62%75%6E%74%75", "3")}));
}

TEST_F(CommandTest, SupportButtonWidensTheWindowAndTheNewWindowEventUnlocksSearch) {
  OnShowPanelClicked();
  OnShowPanelClicked();
  EXPECT_EQ(recording::WindowWidth(), 853);
  EXPECT_FALSE(recording::ButtonEnabled(Control::SearchButton));

  for (int event = 0; event < 2; ++event) {
    OnPanelNewWindow();
    EXPECT_TRUE(recording::ButtonEnabled(Control::SearchButton));
    EXPECT_EQ(recording::WindowWidth(), 540);
  }
  const std::vector<recording::Operation> unlock{
      {.op = Op::SetButtonEnabled, .control = Control::SearchButton, .flag = true},
      {.op = Op::SetWindowWidth, .number = 540}};
  std::vector<recording::Operation> expected{{.op = Op::SetWindowWidth, .number = 853},
                                             {.op = Op::SetWindowWidth, .number = 853}};
  expected.insert(expected.end(), unlock.begin(), unlock.end());
  expected.insert(expected.end(), unlock.begin(), unlock.end());
  EXPECT_EQ(recording::Operations(), expected);
  EXPECT_EQ(recording::WorkersStarted(), 0);
}

// Four rows whose links the context menu works on.
const std::vector<TableRow> LinkRows{
    {"甲", "1M", "a", "http://pan.example/s/0"},
    {"乙", "2M", "b", "https://pan.example/s/1"},
    {"丙", "文件夹", "c", "file:///etc/passwd"},
    {"丁", "4M", "d", "HTTPS://PAN.EXAMPLE/S/3"},
};

TEST_F(CommandTest, ContextMenuShowsOnlyWhileARowIsSelected) {
  recording::SetRows(LinkRows);

  OnTableRightClick();
  EXPECT_EQ(recording::OperationKinds(), std::vector{Op::FirstSelectedRow});

  recording::SelectRows({3});
  OnTableRightClick();  // closed without a choice
  EXPECT_EQ(recording::OperationKinds(),
            (std::vector{Op::FirstSelectedRow, Op::FirstSelectedRow, Op::ShowPopupMenu}));
  EXPECT_TRUE(recording::OpenedAddresses().empty());
  EXPECT_TRUE(recording::CopiedTexts().empty());
}

TEST_F(CommandTest, OpenLinkOpensTheLowestSelectedRow) {
  recording::SetRows(LinkRows);
  recording::SelectRows({3, 1});
  recording::ScriptPopupChoice(MenuChoice::OpenLink);

  OnTableRightClick();

  EXPECT_EQ(recording::OpenedAddresses(), std::vector<AnsiText>{"https://pan.example/s/1"});
  EXPECT_TRUE(recording::CopiedTexts().empty());
}

// Only web addresses are handed to the system: a page decides what stands in a link.
TEST_F(CommandTest, OpenLinkHandsOnlyWebAddressesToTheBrowser) {
  struct Case {
    AnsiText link;
    bool opened;
  };
  const Case cases[] = {
      {"http://pan.example/s/1", true},   {"https://pan.example/s/1", true},
      {"HTTP://PAN.EXAMPLE/S/1", true},   {"", false},
      {"file:///etc/passwd", false},      {"C:\\Windows\\System32\\calc.exe", false},
      {"javascript:alert(1)", false},     {"ftp://pan.example/s/1", false},
      {" http://pan.example/s/1", false}, {"http:/pan.example", false},
      {"/usr/bin/xterm", false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.link);
    recording::ResetSystem();
    recording::SetRows({{"名", "1M", "者", c.link}});
    recording::SelectRows({0});
    recording::ScriptPopupChoice(MenuChoice::OpenLink);

    OnTableRightClick();

    EXPECT_EQ(recording::OpenedAddresses(),
              c.opened ? std::vector<AnsiText>{c.link} : std::vector<AnsiText>{});
  }
}

TEST_F(CommandTest, CopyLinkCopiesTheLowestSelectedRowsLink) {
  recording::SetRows(LinkRows);
  recording::SelectRows({2, 0});
  recording::ScriptPopupChoice(MenuChoice::CopyLink);

  OnTableRightClick();

  EXPECT_EQ(recording::CopiedTexts(), std::vector<AnsiText>{"http://pan.example/s/0"});
  EXPECT_TRUE(recording::OpenedAddresses().empty());
}

// A job with "是否删除当前页" checked emptied the table while the menu was open: no row is selected
// when the choice is made, so there is no link to open or copy.
TEST_F(CommandTest, NothingIsOpenedOrCopiedWhenTheTableWasEmptiedMeanwhile) {
  for (MenuChoice choice : {MenuChoice::OpenLink, MenuChoice::CopyLink}) {
    recording::SetRows(LinkRows);
    recording::SelectRows({0});
    recording::ScriptPopupChoice(choice, true);
    OnTableRightClick();
  }
  EXPECT_TRUE(recording::OpenedAddresses().empty());
  EXPECT_TRUE(recording::CopiedTexts().empty());
}

}  // namespace
