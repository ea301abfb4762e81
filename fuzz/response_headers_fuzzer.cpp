// What the HTTP routine does with a response once its exchange has closed, on any header block and
// body: the location and cookie scan, the cookie merge, the "301" test with the address it builds,
// and the UTF-8 test with the conversion it leads to.
#include "http/fetch.h"
#include "http/url.h"
#include "support/fuzz_input.h"
#include "text/codepage.h"
#include "text/text_ops.h"

#include <algorithm>
#include <cstdint>
#include <string>

namespace {

// The ";" that start a character: one that trails a byte of 0x80 or above belongs to that byte.
std::ptrdiff_t CountSemicolons(std::string_view text) {
  std::ptrdiff_t count = 0;
  for (std::size_t p = 0; p < text.size();
       p += static_cast<unsigned char>(text[p]) >= 0x80 ? 2 : 1) {
    count += text[p] == ';';
  }
  return count;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  FuzzedDataProvider input(data, size);
  const bool cookiesSupplied = input.ConsumeBool();
  AnsiText location = input.ConsumeRandomLengthString(64);
  AnsiText cookies = input.ConsumeRandomLengthString(256);
  const AnsiText address = input.ConsumeRandomLengthString(128);
  const std::string bodyBytes = input.ConsumeRandomLengthString(2048);
  const AnsiText rawHeaders = input.ConsumeRemainingBytesAsString();
  const ByteBuffer body(bodyBytes.begin(), bodyBytes.end());

  AnsiText returnedCookies = "left from before";
  const bool moved = ScanResponseHeaders(rawHeaders, location, returnedCookies,
                                         cookiesSupplied ? &cookies : nullptr);
  if (!rawHeaders.empty()) FUZZ_CHECK(!location.empty());
  if (!cookiesSupplied) {
    // One value per cookie line, each a run of whole characters without a ";" of its own and
    // followed by "; ".
    const TextArray lines = SplitText(rawHeaders, "\r\n");
    const auto cookieLines = std::count_if(lines.begin(), lines.end(), [](const AnsiText& line) {
      return FindText(line, "Set-Cookie") != -1;
    });
    FUZZ_CHECK(CountSemicolons(returnedCookies) == cookieLines);
    FUZZ_CHECK(returnedCookies.empty() || returnedCookies.ends_with("; "));
  }
  if (moved) {
    const AnsiText next = JoinTexts({location, UrlPath(address)});
    FUZZ_CHECK(next.size() == location.size() + UrlPath(address).size());
  }
  const bool utf8 = IsUtf8Response(body, rawHeaders);
  const std::size_t marker = bodyBytes.find("charset=utf-8");
  FUZZ_CHECK(utf8 == (marker < 499 || FindText(rawHeaders, "charset=utf-8") != -1));
  if (utf8) FUZZ_CHECK(Utf8ToGbk(body).size() <= 2 * body.size());
  return 0;
}
