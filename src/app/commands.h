// The handler of every user action on MainWindow. All run on the user-interface thread, one at a
// time, each to its end; none waits for a search.
#pragma once

inline constexpr int NarrowWindowWidth = 540;  // the browser panel lies beyond the client area
inline constexpr int WideWindowWidth = 853;    // the browser panel is wholly visible

void OnSearchClicked();        // 按钮1 "搜搜搜"
void OnPreviousPageClicked();  // 按钮3 "上一页"
void OnNextPageClicked();      // 按钮2 "下一页"
void OnRefreshClicked();       // 按钮4 "刷新"
void OnShowPanelClicked();     // 按钮5 "支持作者"
// 超文本浏览框1 is about to open a new window. The window is allowed; the toolkit layer lets it
// open by its own means.
void OnPanelNewWindow();
// Right click in 超级列表框1, after the table has applied its own selection for the click.
void OnTableRightClick();

// Starts one worker that runs SearchJob on copies of CurrentKeyword and CurrentPage taken now.
void StartSearchWorker();
