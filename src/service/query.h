// The search request's query string: /?q=<percent-encoded UTF-8 keyword>&page=<n>&by=prev.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace service {

struct SearchQuery {
  std::string keyword;    // decoded bytes, not yet checked to be UTF-8
  std::int64_t page = 1;  // as asked, clamped to the int64 range; below 1 shows nothing
};

enum class QueryParse { Ok, BadEncoding, BadPage };

// Reads q (the keyword, "+" standing for a space) and page from a raw query string (the part
// after "?", still percent-encoded). Other parameters are ignored; of a repeated one the first
// counts. A missing page is page 1. A "%" not followed by two hex digits is BadEncoding; a page
// that is not a whole decimal number is BadPage.
QueryParse ParseSearchQuery(std::string_view rawQuery, SearchQuery& query);

// Percent-decodes text ("+" as a space); false on a malformed escape.
bool PercentDecode(std::string_view text, std::string& out);

}  // namespace service
