// One search: the whole work of one worker thread.
#pragma once

#include "text/text_value.h"

#include <cstdint>

// Where searches go and what the no-results box names: values fixed when Pelvaro is built, handed
// down from the program's entry.
struct SearchSettings {
  AnsiText host;         // the search service's host, optionally with ":port"
  AnsiText shareDomain;  // the domain at the foot of every result block
  AnsiText contact;      // the contact number of the no-results box
};

// Shows the page number, sets the previous-page button, empties the table when ClearCheckBox is
// checked, fetches that page of the search service for the keyword and appends one row per result
// in page order; a page without results gives the no-results box. keyword and page are the job's
// own copies of the shared state, taken when the command started it.
void SearchJob(const SearchSettings& settings, const AnsiText& keyword, std::int32_t page);
