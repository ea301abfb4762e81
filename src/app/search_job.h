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

// The place of a command's job in the order of commands: later commands have higher tickets.
using JobTicket = std::uint64_t;

// On the user-interface thread, for a command about to start its job: the ticket that job carries.
// Once the worker has started, IssueJobTicket makes it the latest command's; a command whose worker
// could not start leaves the ticket to the next one, so no job ever waits for a job that never ran.
JobTicket NextJobTicket();
void IssueJobTicket(JobTicket ticket);

// Shows the page number, sets the previous-page button, empties the table when ClearCheckBox is
// checked, fetches that page of the search service for the keyword and appends one row per result
// in page order; a page without results gives the no-results box. keyword and page are the job's
// own copies of the shared state, taken when the command started it.
//
// Jobs of commands that overlap share the window in command order, by their tickets: the label and
// the previous-page button show the page of the latest command whose job has got that far. With
// ClearCheckBox checked, the latest command's job empties the table and no earlier job adds a row
// after that or shows its box, so the table ends holding the latest command's page alone. With it
// not checked, each page is appended whole, in command order: a job waits, on its own thread,
// until the jobs of earlier commands are done with their rows.
void SearchJob(const SearchSettings& settings, const AnsiText& keyword, std::int32_t page,
               JobTicket ticket);
// A job called on its own, as the latest command's: takes the next ticket and issues it.
void SearchJob(const SearchSettings& settings, const AnsiText& keyword, std::int32_t page);
