#include "service/index.h"

#include "service/catalogue.h"
#include "service/pages.h"

#include <sqlite3.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <limits>
#include <unordered_map>

namespace service {

namespace {

constexpr char TokenizerName[] = "pelvaro_grams";
constexpr int SchemaVersion = 1;
constexpr std::int64_t SeqMask = 0xFFFFFFFF;
// Keywords longer than LongKeyword characters are looked up by a stretch of WindowCharacters.
constexpr std::size_t LongKeyword = 6;
constexpr std::size_t WindowCharacters = 4;

std::int64_t OrderKey(std::string_view date, std::int64_t seq) {
  return (static_cast<std::int64_t>(DateNumber(date)) << 32) | seq;
}

// ---- the tokenizer ----

std::size_t Utf8Length(unsigned char lead) {
  if (lead < 0x80) return 1;
  if (lead >= 0xF0) return 4;
  if (lead >= 0xE0) return 3;
  if (lead >= 0xC0) return 2;
  return 1;  // a stray continuation byte stands alone
}

int CreateTokenizer(void*, const char**, int, Fts5Tokenizer** out) {
  static int instance;  // the tokenizer keeps no state: every instance is the same
  *out = reinterpret_cast<Fts5Tokenizer*>(&instance);
  return SQLITE_OK;
}

void DeleteTokenizer(Fts5Tokenizer*) {}

// Documents: each character, and colocated with it the pair it starts. Queries: one character
// as itself, anything longer as its pairs, one position apart.
int Tokenize(Fts5Tokenizer*, void* context, int flags, const char* text, int length,
             int (*token)(void*, int, const char*, int, int, int)) {
  const bool query = (flags & FTS5_TOKENIZE_QUERY) != 0;
  std::vector<int> starts;
  for (int at = 0; at < length;) {
    starts.push_back(at);
    at += static_cast<int>(Utf8Length(static_cast<unsigned char>(text[at])));
    if (at > length) at = length;
  }
  starts.push_back(length);
  const std::size_t characters = starts.size() - 1;
  char folded[8];
  auto emit = [&](std::size_t first, std::size_t count, int tokenFlags) {
    const int begin = starts[first], end = starts[first + count];
    const int size = end - begin;
    for (int i = 0; i < size; ++i) {
      const char c = text[begin + i];
      folded[i] = (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
    }
    return token(context, tokenFlags, folded, size, begin, end);
  };
  for (std::size_t i = 0; i < characters; ++i) {
    int rc = SQLITE_OK;
    if (query) {
      if (characters == 1) {
        rc = emit(i, 1, 0);
      } else if (i + 1 < characters) {
        rc = emit(i, 2, 0);
      }
    } else {
      rc = emit(i, 1, 0);
      if (rc == SQLITE_OK && i + 1 < characters) rc = emit(i, 2, FTS5_TOKEN_COLOCATED);
    }
    if (rc != SQLITE_OK) return rc;
  }
  return SQLITE_OK;
}

bool RegisterTokenizer(sqlite3* db, std::string& error) {
  fts5_api* api = nullptr;
  sqlite3_stmt* statement = nullptr;
  if (sqlite3_prepare_v2(db, "SELECT fts5(?1)", -1, &statement, nullptr) != SQLITE_OK) {
    error = "this SQLite has no FTS5";
    return false;
  }
  sqlite3_bind_pointer(statement, 1, &api, "fts5_api_ptr", nullptr);
  sqlite3_step(statement);
  sqlite3_finalize(statement);
  if (api == nullptr) {
    error = "this SQLite has no FTS5";
    return false;
  }
  static fts5_tokenizer tokenizer = {CreateTokenizer, DeleteTokenizer, Tokenize};
  if (api->xCreateTokenizer(api, TokenizerName, nullptr, &tokenizer, nullptr) != SQLITE_OK) {
    error = "cannot register the name tokenizer";
    return false;
  }
  return true;
}

// ---- small statement helpers ----

struct Statement {
  sqlite3_stmt* handle = nullptr;
  ~Statement() { sqlite3_finalize(handle); }
};

bool Execute(sqlite3* db, const char* sql, std::string& error) {
  char* message = nullptr;
  if (sqlite3_exec(db, sql, nullptr, nullptr, &message) != SQLITE_OK) {
    error = message != nullptr ? message : sqlite3_errmsg(db);
    sqlite3_free(message);
    return false;
  }
  return true;
}

bool Prepare(sqlite3* db, const char* sql, sqlite3_stmt** statement, std::string& error) {
  if (sqlite3_prepare_v3(db, sql, -1, SQLITE_PREPARE_PERSISTENT, statement, nullptr) != SQLITE_OK) {
    error = sqlite3_errmsg(db);
    return false;
  }
  return true;
}

void BindText(sqlite3_stmt* statement, int column, std::string_view text) {
  sqlite3_bind_text(statement, column, text.data(), static_cast<int>(text.size()), SQLITE_STATIC);
}

std::string ColumnText(sqlite3_stmt* statement, int column) {
  const auto* text = reinterpret_cast<const char*>(sqlite3_column_text(statement, column));
  return text != nullptr
             ? std::string(text, static_cast<std::size_t>(sqlite3_column_bytes(statement, column)))
             : std::string();
}

bool ReadWholeFile(const std::string& name, std::string& text, std::string& error) {
  std::FILE* file = name == "-" ? stdin : std::fopen(name.c_str(), "rb");
  if (file == nullptr) {
    error = name + ": cannot open: " + std::strerror(errno);
    return false;
  }
  text.clear();
  char buffer[1 << 16];
  std::size_t got;
  while ((got = std::fread(buffer, 1, sizeof buffer, file)) > 0)
    text.append(buffer, got);
  const bool failed = std::ferror(file) != 0;
  if (file != stdin) std::fclose(file);
  if (failed) {
    error = name + ": cannot read";
    return false;
  }
  return true;
}

constexpr char Schema[] =
    // seq: the import number, kept when a share is updated; new shares are appended.
    "CREATE TABLE IF NOT EXISTS shares("
    "  seq INTEGER PRIMARY KEY,"
    "  name TEXT NOT NULL, size TEXT NOT NULL, sharer TEXT NOT NULL, date TEXT NOT NULL,"
    "  link TEXT NOT NULL UNIQUE);"
    // Row id: the page order key, the date as YYYYMMDD << 32 | seq. Holds no text of its own.
    "CREATE VIRTUAL TABLE IF NOT EXISTS names USING fts5("
    "  name, content='', tokenize='pelvaro_grams', columnsize=0);"
    "CREATE TABLE IF NOT EXISTS meta(name TEXT PRIMARY KEY, value INTEGER NOT NULL);"
    // How often names hold each pair of neighbouring characters (as folded code points,
    // first << 21 | second): which pairs of a long keyword are rare. Only ever counted up.
    "CREATE TABLE IF NOT EXISTS pairs(pair INTEGER PRIMARY KEY, names INTEGER NOT NULL);"
    "INSERT OR IGNORE INTO meta VALUES('next_seq', 1);"
    // Fewer, larger segments from a big import: less merging while it runs.
    "INSERT INTO names(names, rank) VALUES('hashsize', 67108864);";

// The folded code points of UTF-8 text (well-formed: checked before), into points.
void CodePoints(std::string_view text, std::vector<std::uint32_t>& points) {
  points.clear();
  for (std::size_t at = 0; at < text.size();) {
    const auto lead = static_cast<unsigned char>(text[at]);
    const std::size_t length = std::min(Utf8Length(lead), text.size() - at);
    std::uint32_t code = length == 1 ? lead : lead & (0x7F >> length);
    for (std::size_t k = 1; k < length; ++k)
      code = (code << 6) | (static_cast<unsigned char>(text[at + k]) & 0x3F);
    if (code >= 'A' && code <= 'Z') code += 'a' - 'A';
    points.push_back(code);
    at += length;
  }
}

std::int64_t PairKey(std::uint32_t first, std::uint32_t second) {
  return (static_cast<std::int64_t>(first) << 21) | second;
}

// Where each character of UTF-8 text starts, and its end.
std::vector<std::size_t> CharacterStarts(std::string_view text) {
  std::vector<std::size_t> starts;
  for (std::size_t at = 0; at < text.size();) {
    starts.push_back(at);
    at += Utf8Length(static_cast<unsigned char>(text[at]));
  }
  starts.push_back(text.size());
  return starts;
}

// The keyword as one FTS5 phrase: the tokenizer makes it the pairs of its characters.
std::string Phrase(std::string_view keyword) {
  std::string phrase = "\"";
  for (const char c : keyword) {
    phrase.push_back(c);
    if (c == '"') phrase.push_back('"');
  }
  phrase.push_back('"');
  return phrase;
}

bool FetchShare(Index& index, sqlite3_int64 key, Share& share) {
  sqlite3_stmt* fetch = index.fetch;
  sqlite3_bind_int64(fetch, 1, key & SeqMask);
  const bool found = sqlite3_step(fetch) == SQLITE_ROW;
  if (found)
    share = {ColumnText(fetch, 0), ColumnText(fetch, 1), ColumnText(fetch, 2), ColumnText(fetch, 3),
             ColumnText(fetch, 4)};
  sqlite3_reset(fetch);
  return found;
}

}  // namespace

Index::~Index() {
  sqlite3_finalize(match);
  sqlite3_finalize(candidates);
  sqlite3_finalize(pairCount);
  sqlite3_finalize(fetch);
  sqlite3_close_v2(db);
}

std::unique_ptr<Index> OpenIndex(const std::string& path, bool create, std::string& error) {
  auto index = std::make_unique<Index>();
  const int flags = SQLITE_OPEN_READWRITE | (create ? SQLITE_OPEN_CREATE : 0) | SQLITE_OPEN_NOMUTEX;
  if (sqlite3_open_v2(path.c_str(), &index->db, flags, nullptr) != SQLITE_OK) {
    error = path + ": " + (index->db != nullptr ? sqlite3_errmsg(index->db) : "cannot open");
    return nullptr;
  }
  sqlite3_extended_result_codes(index->db, 1);
  sqlite3_busy_timeout(index->db, 10000);
  if (!RegisterTokenizer(index->db, error)) return nullptr;

  int found = 0;
  {
    Statement version;
    if (!Prepare(index->db, "PRAGMA user_version", &version.handle, error)) {
      error = path + ": " + error;
      return nullptr;
    }
    if (sqlite3_step(version.handle) != SQLITE_ROW) {
      error = path + ": " + sqlite3_errmsg(index->db);
      return nullptr;
    }
    found = sqlite3_column_int(version.handle, 0);
  }
  if (found != SchemaVersion) {
    if (found != 0 || !create) {
      error = path + ": not a pelvaro-service database (or one of another version)";
      return nullptr;
    }
    // A fresh file, or one this program is asked to create.
    if (!Execute(index->db, "PRAGMA journal_mode=WAL", error) ||
        !Execute(index->db, "BEGIN IMMEDIATE", error)) {
      error = path + ": " + error;
      return nullptr;
    }
    int tableCount = 0;
    {
      Statement tables;
      Prepare(index->db, "SELECT count(*) FROM sqlite_schema", &tables.handle, error);
      sqlite3_step(tables.handle);
      tableCount = sqlite3_column_int(tables.handle, 0);
    }
    if (tableCount != 0) {
      Execute(index->db, "ROLLBACK", error);
      error = path + ": not a pelvaro-service database";
      return nullptr;
    }
    if (!Execute(index->db, Schema, error) || !Execute(index->db, "PRAGMA user_version=1", error) ||
        !Execute(index->db, "COMMIT", error)) {
      error = path + ": " + error;
      return nullptr;
    }
  }
  if (!Prepare(index->db,
               "SELECT rowid FROM names WHERE names MATCH ?1 ORDER BY rowid DESC "
               "LIMIT ?2 OFFSET ?3",
               &index->match, error) ||
      !Prepare(index->db, "SELECT rowid FROM names WHERE names MATCH ?1 ORDER BY rowid DESC",
               &index->candidates, error) ||
      !Prepare(index->db, "SELECT names FROM pairs WHERE pair = ?1", &index->pairCount, error) ||
      !Prepare(index->db, "SELECT name, size, sharer, date, link FROM shares WHERE seq = ?1",
               &index->fetch, error)) {
    error = path + ": " + error;
    return nullptr;
  }
  return index;
}

namespace {
bool FindLong(Index& index, std::string_view keyword, const std::vector<std::size_t>& starts,
              std::int64_t page, std::vector<Share>& shares, bool& morePages, std::string& error);
}  // namespace

bool FindShares(Index& index, std::string_view keyword, std::int64_t page,
                std::vector<Share>& shares, bool& morePages, std::string& error) {
  shares.clear();
  morePages = false;
  if (keyword.empty() || keyword.size() > MaxFieldBytes || !IsValidUtf8(keyword) ||
      HasControlCharacter(keyword) || page < 1)
    return true;
  // Past this no catalogue reaches, and the offset below stays far from overflowing.
  constexpr std::int64_t LastPossiblePage = std::numeric_limits<std::int32_t>::max() / PageSize;
  if (page > LastPossiblePage) return true;

  const std::vector<std::size_t> starts = CharacterStarts(keyword);
  if (starts.size() - 1 > LongKeyword)
    return FindLong(index, keyword, starts, page, shares, morePages, error);

  const std::string phrase = Phrase(keyword);  // bound, not copied
  sqlite3_stmt* match = index.match;
  BindText(match, 1, phrase);
  sqlite3_bind_int(match, 2, PageSize + 1);
  sqlite3_bind_int64(match, 3, (page - 1) * PageSize);
  std::vector<sqlite3_int64> keys;
  int rc;
  while ((rc = sqlite3_step(match)) == SQLITE_ROW)
    keys.push_back(sqlite3_column_int64(match, 0));
  sqlite3_reset(match);
  sqlite3_clear_bindings(match);
  if (rc != SQLITE_DONE) {
    error = sqlite3_errmsg(index.db);
    return false;
  }
  if (keys.size() > static_cast<std::size_t>(PageSize)) {
    morePages = true;
    keys.resize(PageSize);
  }
  for (const sqlite3_int64 key : keys) {
    Share share;
    if (FetchShare(index, key, share)) shares.push_back(std::move(share));
  }
  return true;
}

namespace {

// A keyword longer than WindowCharacters: the phrase of its stretch of WindowCharacters around
// its rarest pair finds every name that can hold it, walking few lists; each is then checked for
// the whole keyword. A pair no name holds ends the search at once.
bool FindLong(Index& index, std::string_view keyword, const std::vector<std::size_t>& starts,
              std::int64_t page, std::vector<Share>& shares, bool& morePages, std::string& error) {
  std::vector<std::uint32_t> points;
  CodePoints(keyword, points);
  std::size_t rarest = 0;
  std::int64_t fewest = std::numeric_limits<std::int64_t>::max();
  for (std::size_t i = 0; i + 1 < points.size(); ++i) {
    sqlite3_stmt* count = index.pairCount;
    sqlite3_bind_int64(count, 1, PairKey(points[i], points[i + 1]));
    const std::int64_t names =
        sqlite3_step(count) == SQLITE_ROW ? sqlite3_column_int64(count, 0) : 0;
    sqlite3_reset(count);
    if (names == 0) return true;
    if (names < fewest) {
      fewest = names;
      rarest = i;
    }
  }
  const std::size_t characters = starts.size() - 1;
  const std::size_t first = std::min(rarest > 1 ? rarest - 1 : 0, characters - WindowCharacters);
  const std::string phrase = Phrase(keyword.substr(
      starts[first], starts[first + WindowCharacters] - starts[first]));  // bound, not copied

  const std::string folded = FoldAsciiCase(keyword);
  std::int64_t skip = (page - 1) * PageSize;
  sqlite3_stmt* candidates = index.candidates;
  BindText(candidates, 1, phrase);
  int rc;
  Share share;
  while ((rc = sqlite3_step(candidates)) == SQLITE_ROW) {
    if (!FetchShare(index, sqlite3_column_int64(candidates, 0), share)) continue;
    if (FoldAsciiCase(share.name).find(folded) == std::string::npos) continue;
    if (skip > 0) {
      --skip;
    } else if (shares.size() == static_cast<std::size_t>(PageSize)) {
      morePages = true;
      break;
    } else {
      shares.push_back(std::move(share));
    }
  }
  sqlite3_reset(candidates);
  sqlite3_clear_bindings(candidates);
  if (rc != SQLITE_ROW && rc != SQLITE_DONE) {
    error = sqlite3_errmsg(index.db);
    return false;
  }
  return true;
}

}  // namespace

std::int64_t CountShares(Index& index) {
  // Shares are only ever added or updated, each under its own import number.
  Statement count;
  std::string error;
  if (!Prepare(index.db, "SELECT value - 1 FROM meta WHERE name = 'next_seq'", &count.handle,
               error))
    return -1;
  return sqlite3_step(count.handle) == SQLITE_ROW ? sqlite3_column_int64(count.handle, 0) : -1;
}

bool ImportCatalogues(Index& index, const std::vector<std::string>& files, ImportSummary& summary,
                      std::string& error, const std::function<void(const std::string&)>& progress) {
  summary = {};
  sqlite3* db = index.db;
  // Durable at each checkpoint and never torn: WAL with NORMAL syncing. A large cache keeps the
  // link index and the full-text segments being built in memory.
  if (!Execute(db, "PRAGMA synchronous=NORMAL; PRAGMA cache_size=-262144; PRAGMA temp_store=MEMORY",
               error))
    return false;
  Statement find, insertShare, insertName, deleteName, readSeq, writeSeq;
  if (!Prepare(db, "SELECT seq, name, size, sharer, date FROM shares WHERE link = ?1", &find.handle,
               error) ||
      !Prepare(db,
               "INSERT OR REPLACE INTO shares(seq, name, size, sharer, date, link) "
               "VALUES(?1, ?2, ?3, ?4, ?5, ?6)",
               &insertShare.handle, error) ||
      !Prepare(db, "INSERT INTO names(rowid, name) VALUES(?1, ?2)", &insertName.handle, error) ||
      !Prepare(db, "INSERT INTO names(names, rowid, name) VALUES('delete', ?1, ?2)",
               &deleteName.handle, error) ||
      !Prepare(db, "SELECT value FROM meta WHERE name = 'next_seq'", &readSeq.handle, error) ||
      !Prepare(db, "UPDATE meta SET value = ?1 WHERE name = 'next_seq'", &writeSeq.handle, error))
    return false;
  if (!Execute(db, "BEGIN IMMEDIATE", error)) return false;
  auto fail = [&](std::string why) {
    error = std::move(why);
    std::string ignored;
    Execute(db, "ROLLBACK", ignored);
    return false;
  };

  if (sqlite3_step(readSeq.handle) != SQLITE_ROW) return fail(sqlite3_errmsg(db));
  std::int64_t nextSeq = sqlite3_column_int64(readSeq.handle, 0);
  std::int64_t read = 0;
  std::string text, failure;
  // The full-text index takes its rows in ascending row id order, or it writes out what it has
  // gathered at every step back: its changes wait here and go in sorted at the end.
  struct NameChange {
    std::int64_t key;
    std::string name;
    bool remove;
  };
  std::vector<NameChange> nameChanges;
  // Occurrences rather than names: a pair twice in one name counts twice, which only makes it
  // look a little commoner; a count of zero stays exact.
  std::unordered_map<std::int64_t, std::int64_t> pairCounts;
  pairCounts.reserve(1 << 18);
  std::vector<std::uint32_t> points;
  auto countPairs = [&](std::string_view name) {
    CodePoints(name, points);
    for (std::size_t i = 0; i + 1 < points.size(); ++i)
      ++pairCounts[PairKey(points[i], points[i + 1])];
  };

  auto step = [&](sqlite3_stmt* statement) {
    const int rc = sqlite3_step(statement);
    sqlite3_reset(statement);
    if (rc != SQLITE_DONE) failure = sqlite3_errmsg(db);
    return rc == SQLITE_DONE;
  };
  // Writes the share under its import number (replacing an earlier version of it) and queues
  // its name for the index under its order key.
  auto put = [&](const Share& share, std::int64_t seq) {
    sqlite3_stmt* s = insertShare.handle;
    sqlite3_bind_int64(s, 1, seq);
    BindText(s, 2, share.name);
    BindText(s, 3, share.size);
    BindText(s, 4, share.sharer);
    BindText(s, 5, share.date);
    BindText(s, 6, share.link);
    if (!step(s)) return false;
    nameChanges.push_back({OrderKey(share.date, seq), share.name, false});
    countPairs(share.name);
    return true;
  };
  auto take = [&](const Share& share, long) {
    BindText(find.handle, 1, share.link);
    const int found = sqlite3_step(find.handle);
    bool ok = true;
    if (found == SQLITE_ROW) {
      const std::int64_t seq = sqlite3_column_int64(find.handle, 0);
      const std::string oldName = ColumnText(find.handle, 1);
      const std::string oldDate = ColumnText(find.handle, 4);
      const bool same = oldName == share.name && ColumnText(find.handle, 2) == share.size &&
                        ColumnText(find.handle, 3) == share.sharer && oldDate == share.date;
      sqlite3_reset(find.handle);
      if (same) {
        ++summary.unchanged;
      } else {
        nameChanges.push_back({OrderKey(oldDate, seq), oldName, true});
        ok = put(share, seq);
        ++summary.updated;
      }
    } else if (found == SQLITE_DONE) {
      sqlite3_reset(find.handle);
      ok = put(share, nextSeq++);
      ++summary.added;
    } else {
      failure = sqlite3_errmsg(db);
      sqlite3_reset(find.handle);
      ok = false;
    }
    if (++read % 100000 == 0 && progress) progress(std::to_string(read) + " shares read");
    return ok;
  };

  for (const std::string& file : files) {
    if (!ReadWholeFile(file, text, error)) return fail(error);
    const CatalogueFormat format = GuessCatalogueFormat(file, text);
    const CatalogueFault fault = ReadCatalogue(text, format, take);
    if (!failure.empty()) return fail(file + ": the database failed: " + failure);
    if (fault) {
      std::string where = file + ":" + std::to_string(fault.line) + ": ";
      if (!fault.field.empty()) where += fault.field + ": ";
      return fail(where + fault.reason);
    }
  }
  if (nextSeq > SeqMask) return fail("the database has run out of import numbers");
  if (progress && nameChanges.size() >= 100000)
    progress("indexing " + std::to_string(nameChanges.size()) + " names");
  std::stable_sort(nameChanges.begin(), nameChanges.end(),
                   [](const NameChange& a, const NameChange& b) { return a.key < b.key; });
  for (const NameChange& change : nameChanges) {
    sqlite3_stmt* s = change.remove ? deleteName.handle : insertName.handle;
    sqlite3_bind_int64(s, 1, change.key);
    BindText(s, 2, change.name);
    if (!step(s)) return fail("the database failed: " + failure);
  }
  sqlite3_bind_int64(writeSeq.handle, 1, nextSeq);
  if (!step(writeSeq.handle)) return fail(failure);
  Statement addPairs;
  if (!Prepare(db,
               "INSERT INTO pairs(pair, names) VALUES(?1, ?2) "
               "ON CONFLICT(pair) DO UPDATE SET names = names + excluded.names",
               &addPairs.handle, error))
    return fail(error);
  for (const auto& [pair, names] : pairCounts) {
    sqlite3_bind_int64(addPairs.handle, 1, pair);
    sqlite3_bind_int64(addPairs.handle, 2, names);
    if (!step(addPairs.handle)) return fail("the database failed: " + failure);
  }
  if (progress && nameChanges.size() >= 100000) progress("committing");
  if (!Execute(db, "COMMIT", error)) return fail(error);
  return true;
}

}  // namespace service
