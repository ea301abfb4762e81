// The handler of every user action on MainWindow. All run on the user-interface thread, one at a
// time, each to its end; none waits for a search.
#pragma once

#include "app/search_job.h"

void OnSearchClicked(const SearchSettings& settings);        // SearchButton
void OnPreviousPageClicked(const SearchSettings& settings);  // PreviousPageButton
void OnNextPageClicked(const SearchSettings& settings);      // NextPageButton
void OnRefreshClicked(const SearchSettings& settings);       // RefreshButton
void OnShowPanelClicked();                                   // SupportButton
// The browser panel is about to open a new window. The window is allowed; the toolkit layer lets
// it open by its own means.
void OnPanelNewWindow();
// Right click in the result table, after the table has applied its own selection for the click.
void OnTableRightClick();

// Starts one worker that runs SearchJob on copies of CurrentKeyword and CurrentPage taken now,
// with the next job ticket, which becomes the latest command's once the worker has started.
void StartSearchWorker(const SearchSettings& settings);
