// pelvaro-service's parsers on any bytes: the query string of a search request and catalogues in
// both formats. Beyond not crashing: every share a catalogue yields passes the share check, and a
// result page made of them holds exactly one block per share and never a second results region.
#include "service/catalogue.h"
#include "service/pages.h"
#include "service/query.h"

#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>
#include <vector>

namespace {

std::size_t Count(std::string_view text, std::string_view sought) {
  std::size_t count = 0;
  for (std::size_t at = text.find(sought); at != std::string_view::npos;
       at = text.find(sought, at + 1))
    ++count;
  return count;
}

void Check(bool condition) {
  if (!condition) std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view input(reinterpret_cast<const char*>(data), size);

  service::SearchQuery query;
  if (service::ParseSearchQuery(input, query) == service::QueryParse::Ok) {
    std::string decoded;
    Check(service::PercentDecode(input, decoded));
    Check(query.keyword.size() <= input.size());
  }

  for (const service::CatalogueFormat format :
       {service::CatalogueFormat::Csv, service::CatalogueFormat::JsonLines}) {
    std::vector<service::Share> shares;
    long lastLine = 0;
    const service::CatalogueFault fault =
        service::ReadCatalogue(input, format, [&](const service::Share& share, long line) {
          Check(!service::CheckShare(share));
          Check(line > lastLine);
          lastLine = line;
          shares.push_back(share);
          return shares.size() < 50;
        });
    if (fault) Check(fault.line >= 1);
    if (shares.empty()) continue;
    const std::string keyword = shares.front().name.substr(0, 3);
    const std::string page = service::ResultPage(keyword, 1, shares, false, "pan.baidu.com");
    Check(Count(page, "<div class=\"article ali_row\">") == shares.size());
    Check(Count(page, "</script><br><br>") == 1);
    Check(Count(page, "</script></center><br><script type=") == 1);
  }
  return 0;
}
