// Folding the cookies a response returned into the cookie text a caller keeps for its next
// requests. A cookie text holds entries separated by ";", each normally a name, "=" and a value;
// entries compare byte for byte, letter case significant.
#pragma once

#include "text/text_value.h"

#include <string_view>

// Removes every space from both texts (writing them back), then sets cookies to the received
// entries in their order followed by the kept entries whose names were not received, joined by
// "; ". Entries ending in "=deleted" are dropped, and of several kept entries with one name only
// the first counts; exact repeats appear once. Returns a copy of the merged text.
AnsiText MergeCookies(AnsiText& cookies, AnsiText& received);

// The text before the entry's first "=" (the whole entry when it has none), trimmed.
AnsiText CookieName(std::string_view entry);

// Whether some entry's CookieName equals name.
bool HasCookieName(const TextArray& entries, std::string_view name);

// The pieces of text between separators, each exact repeat of a piece removed, joined by
// separator again.
AnsiText JoinDistinct(std::string_view text, std::string_view separator);

// Whether some member equals text.
bool ListContains(const TextArray& list, std::string_view text);
