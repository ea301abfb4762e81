#include "http/url.h"

#include "text/markers.h"
#include "text/text_ops.h"

AnsiText UrlHost(std::string_view address, bool mainDomainOnly, bool keepPort) {
  AnsiText copy = ToLowerText(address);
  if (copy.empty() || copy.back() != '/') copy += '/';
  AnsiText host;
  if (CompareText(TextLeft(copy, 8), "https://") == 0) {
    host = TextBetween(copy, "https://", "/");
  } else {
    // The test looks anywhere, so an address without a scheme that carries "http://" further on
    // takes its host from there.
    if (FindText(copy, "http://") == -1) copy.insert(0, "http://");
    host = TextBetween(copy, "http://", "/");
  }
  if (mainDomainOnly) {
    const TextArray labels = SplitText(host, ".");
    const std::int32_t count = ArrayCount(labels);
    if (count > 1) host = JoinTexts({ArrayItem(labels, count - 1), ".", ArrayItem(labels, count)});
  }
  if (keepPort) return host;
  const std::int32_t colon = FindText(host, ":");
  return colon == -1 ? host : TextLeft(host, colon - 1);
}

std::int32_t UrlPort(std::string_view address) {
  const AnsiText host = UrlHost(address, false, true);
  const std::int32_t colon = FindTextReverse(host, ":");
  if (colon != -1) return TextToInt(TextRight(host, TextLength(host) - colon));
  return CompareText(TextLeft(ToLowerText(address), 5), "https") == 0 ? 443 : 80;
}

AnsiText UrlPath(std::string_view address) {
  const AnsiText host = UrlHost(address);
  const std::int32_t h = FindText(address, host, 1, IgnoreCase);
  const std::int32_t p = FindText(address, "/", h, IgnoreCase);
  if (p == -1) return "/";
  return TextRight(address, TextLength(address) - p + 1);
}
