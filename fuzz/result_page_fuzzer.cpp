// Any bytes as a result page: the parser ends, delivers as many rows as it counts, and every field
// is made of the page's own bytes in their order (emphasis tags and "?download=" taken out), never
// holding a zero byte; a block without a size says "文件夹". Blocks cross to the expression engine
// as characters of code page 936, so a byte pair that is no character there comes back as "?".
#include "search/result_page.h"
#include "support/fuzz_input.h"

#include <cstdint>
#include <string_view>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view page(reinterpret_cast<const char*>(data), size);
  std::int32_t delivered = 0;
  const std::int32_t n = ParseResultPage(page, "pan.baidu.com", [&](const ResultRow& row) {
    ++delivered;
    for (const AnsiText* field : {&row.fileName, &row.size, &row.sharer, &row.link}) {
      FUZZ_CHECK(!HasZeroByte(*field));
      FUZZ_CHECK((field == &row.size && *field == "文件夹") || IsSubsequence(*field, page, '?'));
    }
    FUZZ_CHECK(!row.size.empty());
  });
  FUZZ_CHECK(n == delivered);
  FUZZ_CHECK(n >= 0);
  return 0;
}
