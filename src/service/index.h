// The catalogue's database: a SQLite file in WAL mode holding the shares and a full-text index of
// their names.
//
// Matching is "the keyword is a substring of the name, ASCII letters in any case". The index is
// an FTS5 table with our own tokenizer, which cuts a name into every single character and every
// pair of neighbouring characters (ASCII letters folded to lower case), the pair standing at the
// same position as its first character:
//   - a keyword of one character is looked up as that character's token,
//   - a keyword of two characters as that pair's token,
//   - a longer keyword as the phrase of its overlapping pairs, which matches exactly where the
//     keyword stands in the name, since each pair must follow the previous one by one position.
// So one- and two-character keywords (the most common Chinese ones) use the index as longer ones
// do, where a trigram index could not serve them.
//
// A phrase of many pairs that are each common (a long Latin keyword) walks every pair's long list.
// So a keyword of more than six characters is looked up by the four characters around its rarest
// pair (the import counts how often names hold each pair), and each name found is checked for the
// whole keyword; a pair no name holds answers at once.
//
// Order: newest first, by date, and among shares of one date the later import first. The index's
// row id is that order's key (the date as YYYYMMDD, then a running import number), so the index
// hands out matches already in page order: a page is the next ten row ids walking down, with no
// sort of all matches, however common the keyword.
#pragma once

#include "service/share.h"

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

struct sqlite3;
struct sqlite3_stmt;

namespace service {

// One connection with its prepared statements; one per thread.
struct Index {
  sqlite3* db = nullptr;
  sqlite3_stmt* match = nullptr;       // one page of row ids matching a phrase
  sqlite3_stmt* candidates = nullptr;  // every row id matching a phrase, in page order
  sqlite3_stmt* pairCount = nullptr;   // how many names hold a pair of characters
  sqlite3_stmt* fetch = nullptr;
  ~Index();
};

// Opens (and when create is set, creates with an empty catalogue) the database at path. Null,
// with the reason in error, when it cannot be opened or is not a catalogue database.
std::unique_ptr<Index> OpenIndex(const std::string& path, bool create, std::string& error);

// The shares of one page (page counts from 1) whose names contain keyword, in page order, and
// whether a later page holds more. A keyword that is empty, not UTF-8, holds a control
// character or is longer than any name matches nothing. False only when the database fails.
bool FindShares(Index& index, std::string_view keyword, std::int64_t page,
                std::vector<Share>& shares, bool& morePages, std::string& error);

// How many shares the database holds.
std::int64_t CountShares(Index& index);

struct ImportSummary {
  std::int64_t added = 0, updated = 0, unchanged = 0;
};

// Reads every file ("-" is standard input) and adds its shares in one transaction: a share already
// there (same link) is updated in place. The first malformed record, or any failure, leaves the
// database as it was and returns false with "file:line: field: reason" in error. progress is told
// now and then how far the import is (for long imports).
bool ImportCatalogues(Index& index, const std::vector<std::string>& files, ImportSummary& summary,
                      std::string& error, const std::function<void(const std::string&)>& progress);

}  // namespace service
