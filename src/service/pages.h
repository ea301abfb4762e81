// The HTML the service sends: result pages in the layout Pelvaro parses, the browser panel's
// support page and the page its link opens.
#pragma once

#include "service/share.h"

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace service {

inline constexpr int PageSize = 10;

// One result page. keyword is shown in the title (escaped) and emphasised in the names; shares
// are printed in the given order with every field as imported. morePages tells whether a further
// page exists. With no shares the results region is empty, which Pelvaro reports as no results.
std::string ResultPage(std::string_view keyword, std::int64_t page,
                       const std::vector<Share>& shares, bool morePages,
                       std::string_view shareDomain);

std::string SupportPage();
std::string ThanksPage();
std::string NotFoundPage();
std::string BadRequestPage(std::string_view why);

// name with every occurrence of keyword (ASCII letters in any case) wrapped in <em>...</em>.
std::string Emphasise(std::string_view name, std::string_view keyword);

// The ASCII-case-folded form under which names and keywords are compared.
std::string FoldAsciiCase(std::string_view text);

}  // namespace service
