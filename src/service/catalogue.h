// Reading catalogues of shares: CSV with the header name,size,sharer,date,link (any column
// order), or JSON Lines, one object a line with the same five keys. Both are UTF-8; an empty size
// (or a JSON null) is a folder.
#pragma once

#include "service/share.h"

#include <functional>
#include <string>
#include <string_view>

namespace service {

enum class CatalogueFormat { Csv, JsonLines };

// CSV unless the name ends in .jsonl, .ndjson or .json, or the text's first non-blank byte
// is '{'.
CatalogueFormat GuessCatalogueFormat(std::string_view fileName, std::string_view text);

// Where a catalogue went wrong: the line (from 1) and the field, and why.
struct CatalogueFault {
  long line = 0;
  std::string field;  // empty when the fault is not one field's (a broken line, a bad header)
  std::string reason;
  explicit operator bool() const { return !reason.empty(); }
};

// Reads every record of text in order and hands each sound share, with the line it starts on, to
// take. Stops at the first malformed record (or when take returns false) and returns what was
// wrong; nothing after a fault is read.
CatalogueFault ReadCatalogue(std::string_view text, CatalogueFormat format,
                             const std::function<bool(const Share&, long line)>& take);

}  // namespace service
