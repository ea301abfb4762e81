#include "service/catalogue.h"

#include <array>
#include <cstdint>
#include <optional>
#include <vector>

namespace service {

namespace {

constexpr std::array<std::string_view, 5> Columns = {"name", "size", "sharer", "date", "link"};

std::string* FieldOf(Share& share, std::size_t column) {
  std::string* fields[] = {&share.name, &share.size, &share.sharer, &share.date, &share.link};
  return fields[column];
}

int ColumnOf(std::string_view key) {
  for (std::size_t i = 0; i < Columns.size(); ++i)
    if (Columns[i] == key) return static_cast<int>(i);
  return -1;
}

std::string_view SkipByteOrderMark(std::string_view text) {
  return text.starts_with("\xEF\xBB\xBF") ? text.substr(3) : text;
}

CatalogueFault Refuse(long line, std::string_view field, std::string reason) {
  return {line, std::string(field), std::move(reason)};
}

// ---- CSV (RFC 4180: quoted fields, "" inside quotes, CRLF or LF between records) ----

struct CsvCursor {
  std::string_view text;
  std::size_t at = 0;
  long line = 1;
};

// Reads one record into fields. Returns false at the end of the text; sets fault when the record
// is broken (a quote left open, text after a closing quote).
bool ReadCsvRecord(CsvCursor& cursor, std::vector<std::string>& fields, CatalogueFault& fault) {
  fields.clear();
  const std::string_view text = cursor.text;
  if (cursor.at >= text.size()) return false;
  const long startLine = cursor.line;
  std::string field;
  while (true) {
    field.clear();
    if (cursor.at < text.size() && text[cursor.at] == '"') {
      ++cursor.at;
      while (true) {
        const std::size_t quote = text.find('"', cursor.at);
        if (quote == std::string_view::npos) {
          fault = Refuse(startLine, "", "a quoted field is not closed");
          return false;
        }
        for (std::size_t i = cursor.at; i < quote; ++i)
          if (text[i] == '\n') ++cursor.line;
        field.append(text.substr(cursor.at, quote - cursor.at));
        cursor.at = quote + 1;
        if (cursor.at < text.size() && text[cursor.at] == '"') {
          field.push_back('"');
          ++cursor.at;
          continue;
        }
        break;
      }
      if (cursor.at < text.size() && text[cursor.at] != ',' && text[cursor.at] != '\n' &&
          !(text[cursor.at] == '\r' && cursor.at + 1 < text.size() &&
            text[cursor.at + 1] == '\n')) {
        fault = Refuse(cursor.line, "", "text after a closing quote");
        return false;
      }
    } else {
      const std::size_t end = text.find_first_of(",\n", cursor.at);
      const std::size_t stop = end == std::string_view::npos ? text.size() : end;
      std::string_view raw = text.substr(cursor.at, stop - cursor.at);
      if (stop < text.size() && text[stop] == '\n' && raw.ends_with('\r')) raw.remove_suffix(1);
      field.assign(raw);
      cursor.at = stop;
    }
    fields.push_back(field);
    if (cursor.at >= text.size()) return true;
    if (text[cursor.at] == ',') {
      ++cursor.at;
      continue;
    }
    if (text[cursor.at] == '\r') ++cursor.at;
    ++cursor.at;  // the line feed
    ++cursor.line;
    return true;
  }
}

CatalogueFault ReadCsv(std::string_view text, const std::function<bool(const Share&, long)>& take) {
  CsvCursor cursor{SkipByteOrderMark(text)};
  std::vector<std::string> fields;
  CatalogueFault fault;
  if (!ReadCsvRecord(cursor, fields, fault)) {
    if (fault) return fault;
    return Refuse(1, "", "empty: no header line name,size,sharer,date,link");
  }
  std::array<int, Columns.size()> columnAt;
  columnAt.fill(-1);
  for (std::size_t i = 0; i < fields.size(); ++i) {
    const int column = ColumnOf(fields[i]);
    if (column < 0) return Refuse(1, fields[i], "unknown column in the header");
    if (columnAt[column] >= 0) return Refuse(1, fields[i], "column named twice in the header");
    columnAt[column] = static_cast<int>(i);
  }
  for (std::size_t column = 0; column < Columns.size(); ++column)
    if (columnAt[column] < 0) return Refuse(1, Columns[column], "column missing from the header");

  Share share;
  while (true) {
    const long line = cursor.line;
    if (!ReadCsvRecord(cursor, fields, fault)) return fault;
    if (fields.size() == 1 && fields[0].empty()) continue;  // a blank line
    if (fields.size() < Columns.size()) {
      for (std::size_t column = 0; column < Columns.size(); ++column)
        if (static_cast<std::size_t>(columnAt[column]) >= fields.size())
          return Refuse(line, Columns[column], "missing");
    }
    if (fields.size() > Columns.size())
      return Refuse(line, "", "more than " + std::to_string(Columns.size()) + " fields");
    for (std::size_t column = 0; column < Columns.size(); ++column)
      *FieldOf(share, column) = std::move(fields[columnAt[column]]);
    if (ShareFault bad = CheckShare(share)) return Refuse(line, bad.field, std::move(bad.reason));
    if (!take(share, line)) return {};
  }
}

// ---- JSON Lines: each line one object whose values are strings (or null for the size) ----

struct JsonCursor {
  std::string_view text;
  std::size_t at = 0;
  void SkipSpace() {
    while (at < text.size() &&
           (text[at] == ' ' || text[at] == '\t' || text[at] == '\r' || text[at] == '\n'))
      ++at;
  }
  bool Take(char c) {
    SkipSpace();
    if (at < text.size() && text[at] == c) {
      ++at;
      return true;
    }
    return false;
  }
};

void AppendUtf8(std::string& out, std::uint32_t code) {
  if (code < 0x80) {
    out.push_back(static_cast<char>(code));
  } else if (code < 0x800) {
    out.push_back(static_cast<char>(0xC0 | (code >> 6)));
    out.push_back(static_cast<char>(0x80 | (code & 0x3F)));
  } else if (code < 0x10000) {
    out.push_back(static_cast<char>(0xE0 | (code >> 12)));
    out.push_back(static_cast<char>(0x80 | ((code >> 6) & 0x3F)));
    out.push_back(static_cast<char>(0x80 | (code & 0x3F)));
  } else {
    out.push_back(static_cast<char>(0xF0 | (code >> 18)));
    out.push_back(static_cast<char>(0x80 | ((code >> 12) & 0x3F)));
    out.push_back(static_cast<char>(0x80 | ((code >> 6) & 0x3F)));
    out.push_back(static_cast<char>(0x80 | (code & 0x3F)));
  }
}

std::optional<std::uint32_t> ReadHex4(JsonCursor& cursor) {
  if (cursor.at + 4 > cursor.text.size()) return std::nullopt;
  std::uint32_t value = 0;
  for (int k = 0; k < 4; ++k) {
    const char c = cursor.text[cursor.at++];
    value <<= 4;
    if (c >= '0' && c <= '9') {
      value |= static_cast<std::uint32_t>(c - '0');
    } else if (c >= 'a' && c <= 'f') {
      value |= static_cast<std::uint32_t>(c - 'a' + 10);
    } else if (c >= 'A' && c <= 'F') {
      value |= static_cast<std::uint32_t>(c - 'A' + 10);
    } else {
      return std::nullopt;
    }
  }
  return value;
}

// A JSON string after its opening quote, up to and including the closing one. A \u escape of a
// lone surrogate has no UTF-8 form: the string is refused.
bool ReadJsonString(JsonCursor& cursor, std::string& out, std::string& why) {
  out.clear();
  const std::string_view text = cursor.text;
  while (cursor.at < text.size()) {
    const char c = text[cursor.at++];
    if (c == '"') return true;
    if (static_cast<std::uint8_t>(c) < 0x20) {
      why = "a control character inside a string";
      return false;
    }
    if (c != '\\') {
      out.push_back(c);
      continue;
    }
    if (cursor.at >= text.size()) break;
    const char escape = text[cursor.at++];
    switch (escape) {
      case '"':
        out.push_back('"');
        break;
      case '\\':
        out.push_back('\\');
        break;
      case '/':
        out.push_back('/');
        break;
      case 'b':
        out.push_back('\b');
        break;
      case 'f':
        out.push_back('\f');
        break;
      case 'n':
        out.push_back('\n');
        break;
      case 'r':
        out.push_back('\r');
        break;
      case 't':
        out.push_back('\t');
        break;
      case 'u': {
        std::optional<std::uint32_t> code = ReadHex4(cursor);
        if (!code) {
          why = "a broken \\u escape";
          return false;
        }
        if (*code >= 0xDC00 && *code <= 0xDFFF) {
          why = "a lone surrogate in a \\u escape";
          return false;
        }
        if (*code >= 0xD800 && *code <= 0xDBFF) {
          if (cursor.at + 2 > text.size() || text[cursor.at] != '\\' ||
              text[cursor.at + 1] != 'u') {
            why = "a lone surrogate in a \\u escape";
            return false;
          }
          cursor.at += 2;
          const std::optional<std::uint32_t> low = ReadHex4(cursor);
          if (!low || *low < 0xDC00 || *low > 0xDFFF) {
            why = "a lone surrogate in a \\u escape";
            return false;
          }
          *code = 0x10000 + ((*code - 0xD800) << 10) + (*low - 0xDC00);
        }
        AppendUtf8(out, *code);
        break;
      }
      default:
        why = "an unknown escape in a string";
        return false;
    }
  }
  why = "a string is not closed";
  return false;
}

CatalogueFault ReadJsonRecord(std::string_view lineText, long line, Share& share) {
  JsonCursor cursor{lineText};
  if (!cursor.Take('{')) return Refuse(line, "", "not a JSON object");
  std::array<bool, Columns.size()> seen{};
  std::string key, value, why;
  if (!cursor.Take('}')) {
    do {
      if (!cursor.Take('"')) return Refuse(line, "", "expected a quoted key");
      if (!ReadJsonString(cursor, key, why)) return Refuse(line, "", why);
      const int column = ColumnOf(key);
      if (column < 0) return Refuse(line, key, "unknown key");
      if (seen[column]) return Refuse(line, key, "key given twice");
      seen[column] = true;
      if (!cursor.Take(':')) return Refuse(line, key, "expected ':' after the key");
      cursor.SkipSpace();
      if (lineText.substr(cursor.at).starts_with("null") && Columns[column] == "size") {
        cursor.at += 4;
        value.clear();
      } else if (cursor.Take('"')) {
        if (!ReadJsonString(cursor, value, why)) return Refuse(line, key, why);
      } else {
        return Refuse(line, key, "not a string");
      }
      *FieldOf(share, column) = value;
    } while (cursor.Take(','));
    if (!cursor.Take('}')) return Refuse(line, "", "expected ',' or '}'");
  }
  cursor.SkipSpace();
  if (cursor.at != lineText.size()) return Refuse(line, "", "text after the object");
  for (std::size_t column = 0; column < Columns.size(); ++column)
    if (!seen[column]) return Refuse(line, Columns[column], "missing");
  if (ShareFault bad = CheckShare(share)) return Refuse(line, bad.field, std::move(bad.reason));
  return {};
}

CatalogueFault ReadJsonLines(std::string_view text,
                             const std::function<bool(const Share&, long)>& take) {
  text = SkipByteOrderMark(text);
  Share share;
  long line = 0;
  std::size_t at = 0;
  while (at < text.size()) {
    ++line;
    const std::size_t end = text.find('\n', at);
    const std::size_t stop = end == std::string_view::npos ? text.size() : end;
    const std::string_view lineText = text.substr(at, stop - at);
    at = stop == text.size() ? stop : stop + 1;
    if (lineText.find_first_not_of(" \t\r") == std::string_view::npos) continue;
    if (CatalogueFault fault = ReadJsonRecord(lineText, line, share)) return fault;
    if (!take(share, line)) return {};
  }
  return {};
}

}  // namespace

CatalogueFormat GuessCatalogueFormat(std::string_view fileName, std::string_view text) {
  for (std::string_view suffix : {".jsonl", ".ndjson", ".json"})
    if (fileName.ends_with(suffix)) return CatalogueFormat::JsonLines;
  if (fileName.ends_with(".csv")) return CatalogueFormat::Csv;
  text = SkipByteOrderMark(text);
  const std::size_t first = text.find_first_not_of(" \t\r\n");
  return first != std::string_view::npos && text[first] == '{' ? CatalogueFormat::JsonLines
                                                               : CatalogueFormat::Csv;
}

CatalogueFault ReadCatalogue(std::string_view text, CatalogueFormat format,
                             const std::function<bool(const Share&, long line)>& take) {
  return format == CatalogueFormat::Csv ? ReadCsv(text, take) : ReadJsonLines(text, take);
}

}  // namespace service
