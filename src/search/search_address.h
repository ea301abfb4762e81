// Where one page of a search is asked for.
#pragma once

#include "text/text_value.h"

#include <cstdint>
#include <string_view>

// "http://", host, "/?q=", the keyword's UTF-8 bytes each percent-encoded, "&page=", the page's
// decimal text, "&by=prev". host is the search service's host, optionally with ":port".
AnsiText SearchAddress(std::string_view host, std::string_view keyword, std::int32_t page);
