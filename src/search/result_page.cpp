// Placeholder until the page parser lands.
#include "search/result_page.h"

std::int32_t ParseResultPage(std::string_view, const std::function<void(const ResultRow&)>&) {
  return 0;
}
