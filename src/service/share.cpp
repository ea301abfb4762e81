#include "service/share.h"

#include <algorithm>
#include <array>
#include <cstdint>

namespace service {

namespace {

// Texts that Pelvaro looks for in a result page, letter case of ASCII ignored. A field holding one
// of them would be cut short, lose a piece, or shift another field.
constexpr std::array<std::string_view, 14> ClientMarkers = {
    "<em>",
    "</em>",
    "</script><br><br>",
    "</script></center><br><script type=",
    "<div class=\"article ali_row\">",
    "</p><div class=\"other\">",
    "</a></h2><p>",
    "文件名:",
    " 文件大小",
    "文件大小:",
    " 分享者",
    "分享者:",
    " 分享时间",
    "下载地址：",
};

char FoldAscii(char c) {
  return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
}

bool ContainsIgnoringAsciiCase(std::string_view text, std::string_view sought) {
  if (sought.size() > text.size()) return false;
  for (std::size_t at = 0; at + sought.size() <= text.size(); ++at) {
    std::size_t i = 0;
    while (i < sought.size() && FoldAscii(text[at + i]) == FoldAscii(sought[i]))
      ++i;
    if (i == sought.size()) return true;
  }
  return false;
}

std::string CheckText(std::string_view text) {
  if (text.size() > MaxFieldBytes) return "longer than " + std::to_string(MaxFieldBytes) + " bytes";
  if (!IsValidUtf8(text)) return "not valid UTF-8";
  if (HasControlCharacter(text)) return "holds a line break or another control character";
  // The markers are written in lower case: look for them in the text folded the same way.
  std::string folded;
  std::string_view sought = text;
  if (std::any_of(text.begin(), text.end(), [](char c) { return c >= 'A' && c <= 'Z'; })) {
    folded.assign(text);
    for (char& c : folded)
      c = FoldAscii(c);
    sought = folded;
  }
  for (std::string_view marker : ClientMarkers) {
    if (sought.find(marker) != std::string_view::npos)
      return "holds \"" + std::string(marker) + "\", which Pelvaro reads as page structure";
  }
  return {};
}

std::string CheckLink(std::string_view link) {
  const bool http = ContainsIgnoringAsciiCase(link.substr(0, 7), "http://");
  const bool https = ContainsIgnoringAsciiCase(link.substr(0, 8), "https://");
  if (!http && !https) return "not an http:// or https:// link";
  const std::string_view rest = link.substr(https ? 8 : 7);
  if (rest.empty() || rest.front() == '/') return "has no host";
  for (const char c : link) {
    // The link stands inside a quoted attribute and ends at its closing quote.
    if (c == ' ' || c == '"' || c == '<' || c == '>' || c == '\\')
      return "holds a space, a quote, '<', '>' or '\\'";
  }
  // Pelvaro removes this marker from every link it reads.
  if (ContainsIgnoringAsciiCase(link, "?download="))
    return "holds \"?download=\", which Pelvaro removes from links";
  return {};
}

}  // namespace

bool IsValidUtf8(std::string_view text) {
  std::size_t i = 0;
  while (i < text.size()) {
    const auto lead = static_cast<std::uint8_t>(text[i]);
    if (lead < 0x80) {
      ++i;
      continue;
    }
    std::size_t length;
    std::uint32_t code;
    if (lead >= 0xC2 && lead <= 0xDF) {
      length = 2;
      code = lead & 0x1F;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
      length = 3;
      code = lead & 0x0F;
    } else if (lead >= 0xF0 && lead <= 0xF4) {
      length = 4;
      code = lead & 0x07;
    } else {
      return false;
    }
    if (i + length > text.size()) return false;
    for (std::size_t k = 1; k < length; ++k) {
      const auto next = static_cast<std::uint8_t>(text[i + k]);
      if ((next & 0xC0) != 0x80) return false;
      code = (code << 6) | (next & 0x3F);
    }
    if ((length == 3 && code < 0x800) || (length == 4 && code < 0x10000) || code > 0x10FFFF ||
        (code >= 0xD800 && code <= 0xDFFF))
      return false;
    i += length;
  }
  return true;
}

bool HasControlCharacter(std::string_view text) {
  for (const char c : text) {
    const auto byte = static_cast<std::uint8_t>(c);
    if (byte < 0x20 || byte == 0x7F) return true;
  }
  return false;
}

long DateNumber(std::string_view date) {
  if (date.size() != 10 || date[4] != '-' || date[7] != '-') return -1;
  long fields[3] = {0, 0, 0};
  const std::size_t starts[3] = {0, 5, 8};
  const std::size_t lengths[3] = {4, 2, 2};
  for (int f = 0; f < 3; ++f) {
    for (std::size_t k = 0; k < lengths[f]; ++k) {
      const char c = date[starts[f] + k];
      if (c < '0' || c > '9') return -1;
      fields[f] = fields[f] * 10 + (c - '0');
    }
  }
  const long year = fields[0], month = fields[1], day = fields[2];
  if (year < 1 || month < 1 || month > 12 || day < 1) return -1;
  static constexpr int DaysIn[12] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  const bool leap = (year % 4 == 0 && year % 100 != 0) || year % 400 == 0;
  const long last = DaysIn[month - 1] + ((month == 2 && leap) ? 1 : 0);
  if (day > last) return -1;
  return year * 10000 + month * 100 + day;
}

ShareFault CheckShare(const Share& share) {
  const std::pair<std::string_view, const std::string*> texts[] = {{"name", &share.name},
                                                                   {"size", &share.size},
                                                                   {"sharer", &share.sharer},
                                                                   {"date", &share.date},
                                                                   {"link", &share.link}};
  for (const auto& [field, text] : texts) {
    if (std::string reason = CheckText(*text); !reason.empty()) return {field, std::move(reason)};
  }
  if (share.name.empty()) return {"name", "is empty"};
  if (DateNumber(share.date) < 0)
    return {"date", "\"" + share.date + "\" is not a date written YYYY-MM-DD"};
  if (std::string reason = CheckLink(share.link); !reason.empty())
    return {"link", std::move(reason)};
  return {};
}

}  // namespace service
