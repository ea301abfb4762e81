// Prints what the portable core gives for a fixed corpus of cases, read from standard input: the
// code-page conversions, the collections of texts between markers, and the exact bytes of the
// requests FetchUrl sends as a loopback server receives them. Both builds run it over the same
// corpus and scripts/conformance.sh compares their outputs byte for byte.
//
// One case a line, fields separated by tabs, with the escapes \xHH, \r, \n, \t and \\:
//   cp <operation> <input>             a conversion (TextToWide, TextToWide936, WideToText,
//                                      WideToText65001, Utf8ToWide, Utf8ToGbk, GbkToUtf8,
//                                      UrlEncode, UrlEncodeSafe)
//   collect <left> <right> <text>      CollectBetween
//   fetch <method> <path> <headers> <cookies> <postText>
//                                      FetchUrl against the loopback server; "-" for an argument
//                                      not supplied
//   redirect <status> <method> <where> <headers> <cookies> <postText>
//                                      FetchUrl of "/start" on a home server that answers with
//                                      the status and a Location: "same" (its own /landing),
//                                      "other" (another origin's), "back" (another origin's,
//                                      which sends it home), "file" (a local file) or "chainN"
//                                      (N redirects in a row). Prints the requests each server
//                                      received, as sorted lines, and the body.
//   table936                           every byte pair a lead byte can start, one line each:
//                                      "pair LLTT", the UTF-16 units it reads as, "back" and the
//                                      bytes those units convert back to
// A case whose output the comparison leaves out (the reason stands in the corpus beside it) starts
// with the field "~"; one with the field "~head" (or another label) leaves out only its output
// line of that label. Left-out output lines start with "~ ". "#" starts a comment line.
#include "../http/loopback_server.h"
#include "http/fetch.h"
#include "text/codepage.h"
#include "text/regex.h"
#include "text/text_ops.h"

#include <algorithm>
#include <cstdio>
#include <string>
#include <string_view>
#include <vector>

#ifdef _WIN32
#include <fcntl.h>
#include <io.h>
#endif

namespace {

std::string Unescape(std::string_view field) {
  std::string bytes;
  for (std::size_t i = 0; i < field.size(); ++i) {
    if (field[i] != '\\' || i + 1 == field.size()) {
      bytes += field[i];
      continue;
    }
    const char next = field[++i];
    if (next == 'x' && i + 2 < field.size()) {
      bytes += static_cast<char>(std::stoi(std::string(field.substr(i + 1, 2)), nullptr, 16));
      i += 2;
    } else {
      bytes += next == 'r' ? '\r' : next == 'n' ? '\n' : next == 't' ? '\t' : next;
    }
  }
  return bytes;
}

// Printable ASCII as it stands, every other byte as \xHH: the output is the same bytes on every
// platform and a difference shows where it is.
std::string Escaped(std::string_view bytes) {
  std::string text;
  for (const char c : bytes) {
    const auto byte = static_cast<unsigned char>(c);
    if (byte >= 0x20 && byte < 0x7F && byte != '\\') {
      text += c;
    } else {
      char hex[8];
      std::snprintf(hex, sizeof hex, "\\x%02X", byte);
      text += hex;
    }
  }
  return text;
}

std::string Escaped(const ByteBuffer& bytes) {
  return Escaped(std::string_view(reinterpret_cast<const char*>(bytes.data()), bytes.size()));
}

std::vector<std::string> Fields(std::string_view line) {
  std::vector<std::string> fields;
  for (std::size_t start = 0;;) {
    const std::size_t tab = line.find('\t', start);
    fields.push_back(Unescape(line.substr(start, tab - start)));
    if (tab == std::string_view::npos) return fields;
    start = tab + 1;
  }
}

std::string Field(const std::vector<std::string>& fields, std::size_t i) {
  return i < fields.size() ? fields[i] : std::string();
}

std::vector<std::string> Convert(const std::vector<std::string>& fields) {
  const std::string& operation = Field(fields, 1);
  const std::string input = Field(fields, 2);
  const ByteBuffer bytes(input.begin(), input.end());
  std::string result;
  if (operation == "TextToWide")
    result = Escaped(TextToWide(input));
  else if (operation == "TextToWide936")
    result = Escaped(TextToWide(input, 936));
  else if (operation == "WideToText")
    result = Escaped(WideToText(bytes));
  else if (operation == "WideToText65001")
    result = Escaped(WideToText(bytes, 65001));
  else if (operation == "Utf8ToWide")
    result = Escaped(Utf8ToWide(bytes));
  else if (operation == "Utf8ToGbk")
    result = Escaped(Utf8ToGbk(bytes));
  else if (operation == "GbkToUtf8")
    result = Escaped(GbkToUtf8(input));
  else if (operation == "UrlEncode")
    result = Escaped(UrlEncode(input, {.asUtf8 = true}));
  else if (operation == "UrlEncodeSafe")
    result = Escaped(UrlEncode(input, {.keepSafe = true}));
  else
    result = "unknown operation";
  return {result};
}

std::vector<std::string> Collect(const std::vector<std::string>& fields) {
  TextArray results;
  const std::int32_t n =
      CollectBetween(Field(fields, 3), Field(fields, 1), Field(fields, 2), &results);
  std::vector<std::string> lines{std::to_string(n)};
  for (const AnsiText& text : results)
    lines.push_back("[" + Escaped(text) + "]");
  return lines;
}

std::string WithoutPort(std::string text, std::uint16_t port) {
  const std::string number = ":" + std::to_string(port);
  for (std::size_t at; (at = text.find(number)) != std::string::npos;)
    text.replace(at, number.size(), ":PORT");
  return text;
}

// The request lines in sorted order, so that what was sent is compared wherever the transport
// puts its own lines; then the body sent.
void PrintSorted(const std::string& label, const std::string& head, const std::string& body,
                 std::vector<std::string>& lines) {
  std::vector<std::string> sorted;
  for (std::size_t start = 0, end; (end = head.find("\r\n", start)) != std::string::npos;
       start = end + 2) {
    sorted.push_back(head.substr(start, end - start));
  }
  std::sort(sorted.begin(), sorted.end());
  for (const std::string& headerLine : sorted)
    lines.push_back(label + "line " + Escaped(headerLine));
  lines.push_back(label + "sent " + Escaped(body));
}

std::string Replaced(std::string text, const std::string& from, const std::string& to) {
  for (std::size_t at; (at = text.find(from)) != std::string::npos;)
    text.replace(at, from.size(), to);
  return text;
}

std::vector<std::string> Redirect(const std::vector<std::string>& fields) {
  const std::string status = Field(fields, 1);
  const std::string where = Field(fields, 3);
  std::string homeBase, otherBase;  // known once both listen
  const auto moved = [&status](const std::string& location) {
    return Respond(status, "Location: " + location + "\r\n", "moved");
  };
  LoopbackServer home([&](const ReceivedRequest& request) {
    const std::string path = request.head.substr(0, request.head.find(" HTTP/"));
    if (path.ends_with(" /start")) {
      if (where == "same") return moved("/landing");
      if (where == "other") return moved(otherBase + "/landing");
      if (where == "back") return moved(otherBase + "/back");
      if (where == "file") return moved("file:///etc/passwd");
      if (where.starts_with("chain")) return moved("/chain/" + where.substr(5));
    }
    if (const std::size_t at = path.find(" /chain/"); at != std::string::npos) {
      const int left = std::stoi(path.substr(at + 8));
      if (left > 1) return moved("/chain/" + std::to_string(left - 1));
    }
    return Respond("200 OK", "", "landed at home");
  });
  LoopbackServer other([&](const ReceivedRequest& request) {
    if (request.head.find(" /back ") != std::string::npos) return moved(homeBase + "/landing");
    return Respond("200 OK", "", "landed elsewhere");
  });
  homeBase = home.Url("");
  otherBase = other.Url("");
  const std::string homePort = ":" + std::to_string(home.Port());
  const std::string otherPort = ":" + std::to_string(other.Port());

  const auto supplied = [&](std::size_t i) { return Field(fields, i) != "-"; };
  AnsiText headers = supplied(4) ? Field(fields, 4) : AnsiText();
  AnsiText cookies = supplied(5) ? Field(fields, 5) : AnsiText();
  FetchOptions options{.method = std::stoi(Field(fields, 2)),
                       .postText = supplied(6) ? Field(fields, 6) : AnsiText(),
                       .extraHeaders = &headers};
  if (supplied(5)) options.cookies = &cookies;
  const ByteBuffer body = FetchUrl(home.Url("/start"), options);

  std::vector<std::string> lines;
  for (const auto& [label, server] :
       {std::pair<std::string, const LoopbackServer*>{"home ", &home}, {"other ", &other}}) {
    for (const ReceivedRequest& request : server->Requests()) {
      const std::string head =
          Replaced(Replaced(request.head, homePort, ":HOME"), otherPort, ":OTHER");
      PrintSorted(label, head, request.body, lines);
    }
  }
  lines.push_back("body " + Escaped(body));
  return lines;
}

// Every request is answered alike: a UTF-8 page, so the charset conversion shows too.
std::vector<std::string> Fetch(const std::vector<std::string>& fields) {
  LoopbackServer server([](const ReceivedRequest&) {
    return Respond("200 OK", "Content-Type: text/html; charset=utf-8\r\n",
                   "\xE5\x90\x8D\xE7\xA7\xB0 ok");
  });
  const auto supplied = [&](std::size_t i) { return Field(fields, i) != "-"; };
  AnsiText headers = supplied(3) ? Field(fields, 3) : AnsiText();
  AnsiText cookies = supplied(4) ? Field(fields, 4) : AnsiText();
  FetchOptions options{.method = std::stoi(Field(fields, 1)),
                       .postText = supplied(5) ? Field(fields, 5) : AnsiText(),
                       .extraHeaders = &headers};
  if (supplied(4)) options.cookies = &cookies;
  const ByteBuffer body = FetchUrl(server.Url(Field(fields, 2)), options);
  std::vector<std::string> lines;
  for (const ReceivedRequest& request : server.Requests()) {
    const std::string head = WithoutPort(request.head, server.Port());
    lines.push_back("head " + Escaped(head));
    // The same lines in sorted order: what was sent, wherever the transport puts its own lines.
    std::vector<std::string> sorted;
    for (std::size_t start = 0, end; (end = head.find("\r\n", start)) != std::string::npos;
         start = end + 2) {
      sorted.push_back(head.substr(start, end - start));
    }
    std::sort(sorted.begin(), sorted.end());
    for (const std::string& headerLine : sorted)
      lines.push_back("line " + Escaped(headerLine));
    lines.push_back("sent " + Escaped(request.body));
  }
  lines.push_back("body " + Escaped(body));
  lines.push_back("headers " + Escaped(WithoutPort(headers, server.Port())));
  return lines;
}

// Code page 936 pair by pair, both ways through the conversions of the core (and so through the
// platform's own calls): the whole table, as each build has it.
std::vector<std::string> Table936() {
  std::vector<std::string> lines;
  for (int lead = 0x81; lead <= 0xFE; ++lead) {
    for (int trail = 0x40; trail <= 0xFE; ++trail) {
      if (trail == 0x7F) continue;
      const std::string pair{static_cast<char>(lead), static_cast<char>(trail)};
      const ByteBuffer wide = TextToWide(pair, 936);
      char line[64];
      std::snprintf(line, sizeof line, "pair %02X%02X", lead, trail);
      std::string text = line;
      for (std::size_t i = 0; i + 3 < wide.size(); i += 2) {  // the units, without the terminator
        std::snprintf(line, sizeof line, " %04X", wide[i] | wide[i + 1] << 8);
        text += line;
      }
      text += " back";
      for (const char byte : WideToText(wide)) {
        std::snprintf(line, sizeof line, " %02X", static_cast<unsigned char>(byte));
        text += line;
      }
      lines.push_back(text);
    }
  }
  return lines;
}

}  // namespace

int main() {
#ifdef _WIN32
  _setmode(_fileno(stdin), _O_BINARY);
  _setmode(_fileno(stdout), _O_BINARY);
#endif
  std::string corpus;
  char piece[4096];
  for (std::size_t n; (n = std::fread(piece, 1, sizeof piece, stdin)) > 0;)
    corpus.append(piece, n);

  std::string output;
  for (std::size_t start = 0; start < corpus.size();) {
    std::size_t end = corpus.find('\n', start);
    if (end == std::string::npos) end = corpus.size();
    std::string_view line(corpus.data() + start, end - start);
    start = end + 1;
    if (line.empty() || line[0] == '#') continue;
    std::string excluded;  // "~": the whole case; "~label": its output line of that label
    if (line[0] == '~') {
      excluded = line.substr(0, line.find('\t'));
      line.remove_prefix(std::min(line.size(), excluded.size() + 1));
    }
    const std::vector<std::string> fields = Fields(line);
    const std::string& kind = fields[0];
    const std::vector<std::string> lines = kind == "cp"         ? Convert(fields)
                                           : kind == "collect"  ? Collect(fields)
                                           : kind == "fetch"    ? Fetch(fields)
                                           : kind == "redirect" ? Redirect(fields)
                                           : kind == "table936" ? Table936()
                                                                : std::vector<std::string>{"?"};
    const auto mark = [&](const std::string& result) -> std::string {
      const bool left =
          excluded == "~" || (!excluded.empty() && result.starts_with(excluded.substr(1) + " "));
      return left ? "~ " : "";
    };
    output += mark("") + "== " + Escaped(line) + "\n";
    for (const std::string& result : lines)
      output += mark(result) + result + "\n";
  }
  std::fwrite(output.data(), 1, output.size(), stdout);
  return 0;
}
