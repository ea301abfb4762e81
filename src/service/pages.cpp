#include "service/pages.h"

namespace service {

namespace {

// Ends with the quote that opens the link's attribute value: the block begins with its link.
constexpr std::string_view BlockStart =
    "<div class=\"article ali_row\"><h2><a rel='external nofollow' target='_blank' href=\"";

// The page declares UTF-8 in the header too; this line makes a saved page say so as well, within
// the first bytes where Pelvaro looks for the charset.
constexpr std::string_view PageHead =
    "<!DOCTYPE html>\n<html><head>"
    "<meta http-equiv=\"Content-Type\" content=\"text/html; charset=utf-8\">\n";

std::string EscapeHtml(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  for (const char c : text) {
    switch (c) {
      case '&':
        out += "&amp;";
        break;
      case '<':
        out += "&lt;";
        break;
      case '>':
        out += "&gt;";
        break;
      case '"':
        out += "&quot;";
        break;
      case '\'':
        out += "&#39;";
        break;
      default:
        out.push_back(c);
    }
  }
  return out;
}

void AppendBlock(std::string& out, const Share& share, std::string_view keyword,
                 std::string_view shareDomain) {
  const std::string name = Emphasise(share.name, keyword);
  out += BlockStart;
  out += share.link;
  out += "\">";
  out += name;
  out += "</a></h2><p>文件名:";
  out += name;
  // Always printed, empty for a folder, so that the name ends at " 文件大小".
  out += " 文件大小:";
  out += share.size;
  out += " 分享者:";
  out += share.sharer;
  out += " 分享时间:";
  out += share.date;
  out += "</p><div class=\"other\">";
  out += shareDomain;
  // A block's foot ends with CR; the LF after it only starts the next line.
  out += "</div></div>\r\n";
}

}  // namespace

std::string FoldAsciiCase(std::string_view text) {
  std::string folded(text);
  for (char& c : folded)
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  return folded;
}

std::string Emphasise(std::string_view name, std::string_view keyword) {
  if (keyword.empty()) return std::string(name);
  const std::string foldedName = FoldAsciiCase(name);
  const std::string foldedKeyword = FoldAsciiCase(keyword);
  std::string out;
  out.reserve(name.size() + 18);
  std::size_t start = 0;
  while (true) {
    const std::size_t found = foldedName.find(foldedKeyword, start);
    if (found == std::string::npos) break;
    out.append(name.substr(start, found - start));
    out += "<em>";
    out.append(name.substr(found, keyword.size()));
    out += "</em>";
    start = found + keyword.size();
  }
  out.append(name.substr(start));
  return out;
}

std::string ResultPage(std::string_view keyword, std::int64_t page,
                       const std::vector<Share>& shares, bool morePages,
                       std::string_view shareDomain) {
  // The keyword is the visitor's text: it goes into the title escaped and is shown only when it
  // is UTF-8. A name never holds it raw beyond what the name itself holds.
  std::string title = IsValidUtf8(keyword) && !HasControlCharacter(keyword)
                          ? EscapeHtml(keyword.substr(0, 200))
                          : std::string();
  if (title.empty()) title = "全部分享";
  const std::string pageText = std::to_string(page);
  std::string out;
  out.reserve(1024 + shares.size() * 512);
  out += PageHead;
  out += "<title>";
  out += title;
  out += " - 第";
  out += pageText;
  out += "页 - 网盘搜索</title></head>\n<body><center>\n";
  out += "<script>var shown = " + std::to_string(shares.size()) +
         ", more = " + (morePages ? "true" : "false") + ";</script><br><br>\n";
  out += "<div class=\"summary\">第 " + pageText + " 页" +
         (shares.empty() ? "，没有找到分享" : "") + "</div>\n";
  for (const Share& share : shares)
    AppendBlock(out, share, keyword, shareDomain);
  out += "<script>pager(" + pageText + ", " + (morePages ? "true" : "false") +
         ");</script></center><br>";
  out += "<script type=\"text/javascript\">var pelvaroService = true;</script>\n</body></html>\n";
  return out;
}

std::string SupportPage() {
  return std::string(PageHead) +
         "<title>支持作者</title></head>\n"
         "<body style=\"font-family: sans-serif; font-size: 14px\">\n"
         "<h3>感谢使用</h3>\n"
         "<p>如果这个小工具帮到了你，欢迎支持作者。</p>\n"
         "<p><a href=\"/support/thanks\" target=\"_blank\">点这里支持作者</a></p>\n"
         "</body></html>\n";
}

std::string ThanksPage() {
  return std::string(PageHead) +
         "<title>谢谢支持</title></head>\n"
         "<body style=\"font-family: sans-serif\"><h3>谢谢你的支持！</h3>"
         "<p>现在可以开始搜索了。</p></body></html>\n";
}

std::string NotFoundPage() {
  return std::string(PageHead) + "<title>404</title></head><body>找不到这个页面</body></html>\n";
}

std::string BadRequestPage(std::string_view why) {
  return std::string(PageHead) + "<title>400</title></head><body>" + EscapeHtml(why) +
         "</body></html>\n";
}

}  // namespace service
