// One search: the whole work of one worker thread.
#pragma once

#include "text/text_value.h"

#include <cstdint>

// Shows the page number, sets the previous-page button, empties the table when "是否删除当前页" is
// checked, fetches that page of the search service for the keyword and appends one row per result
// in page order; a page without results gives the no-results box. keyword and page are the job's
// own copies of the shared state, taken when the command started it.
void SearchJob(const AnsiText& keyword, std::int32_t page);
