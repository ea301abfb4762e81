#include "service/query.h"

#include <limits>

namespace service {

namespace {

int HexValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

bool ParsePage(std::string_view text, std::int64_t& page) {
  bool negative = false;
  if (!text.empty() && (text.front() == '-' || text.front() == '+')) {
    negative = text.front() == '-';
    text.remove_prefix(1);
  }
  if (text.empty()) return false;
  constexpr std::int64_t Max = std::numeric_limits<std::int64_t>::max();
  std::int64_t value = 0;
  for (const char c : text) {
    if (c < '0' || c > '9') return false;
    const int digit = c - '0';
    // Past the range the page is only "far past the last": keep the largest.
    value = value > (Max - digit) / 10 ? Max : value * 10 + digit;
  }
  page = negative ? -value : value;
  return true;
}

}  // namespace

bool PercentDecode(std::string_view text, std::string& out) {
  out.clear();
  out.reserve(text.size());
  for (std::size_t i = 0; i < text.size(); ++i) {
    const char c = text[i];
    if (c == '+') {
      out.push_back(' ');
    } else if (c != '%') {
      out.push_back(c);
    } else {
      if (i + 2 >= text.size()) return false;
      const int high = HexValue(text[i + 1]);
      const int low = HexValue(text[i + 2]);
      if (high < 0 || low < 0) return false;
      out.push_back(static_cast<char>(high * 16 + low));
      i += 2;
    }
  }
  return true;
}

QueryParse ParseSearchQuery(std::string_view rawQuery, SearchQuery& query) {
  query = {};
  bool haveKeyword = false, havePage = false;
  std::string name, value;
  while (!rawQuery.empty()) {
    const std::size_t amp = rawQuery.find('&');
    const std::string_view pair = rawQuery.substr(0, amp);
    rawQuery = amp == std::string_view::npos ? std::string_view{} : rawQuery.substr(amp + 1);
    if (pair.empty()) continue;
    const std::size_t equals = pair.find('=');
    const std::string_view rawName = pair.substr(0, equals);
    const std::string_view rawValue =
        equals == std::string_view::npos ? std::string_view{} : pair.substr(equals + 1);
    if (!PercentDecode(rawName, name) || !PercentDecode(rawValue, value))
      return QueryParse::BadEncoding;
    if (name == "q" && !haveKeyword) {
      query.keyword = value;
      haveKeyword = true;
    } else if (name == "page" && !havePage) {
      if (!ParsePage(value, query.page)) return QueryParse::BadPage;
      havePage = true;
    }
  }
  return QueryParse::Ok;
}

}  // namespace service
