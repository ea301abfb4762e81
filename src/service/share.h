// One share of the catalogue, and the rules a share must meet before the service prints it.
//
// The service prints every field exactly as it was imported, with no HTML escaping: Pelvaro shows
// the raw text that stands between its field markers. So a text that those markers could misread
// (an emphasis tag, a block or region marker, a field label, a line break) is refused at import
// rather than altered.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace service {

struct Share {
  std::string name;
  std::string size;  // empty for a folder
  std::string sharer;
  std::string date;  // YYYY-MM-DD
  std::string link;  // http:// or https://
};

// The longest field the service takes, in bytes. Also bounds the keyword: a longer one matches
// nothing.
inline constexpr std::size_t MaxFieldBytes = 2048;

// The reason a share is refused, with the field it concerns; an empty reason when it is sound.
struct ShareFault {
  std::string_view field;
  std::string reason;
  explicit operator bool() const { return !reason.empty(); }
};
ShareFault CheckShare(const Share& share);

// True when text is well-formed UTF-8 (no overlong forms, no surrogates, nothing past U+10FFFF).
bool IsValidUtf8(std::string_view text);

// True when text holds a byte below 0x20 or DEL: line breaks, tabs, NUL.
bool HasControlCharacter(std::string_view text);

// The date as a number that sorts like the date (20230412), or -1 when it is not a real
// calendar date written YYYY-MM-DD.
long DateNumber(std::string_view date);

}  // namespace service
