// Address parsing on any bytes: hosts come out lower case, the host without its port is the start
// of the one with it, a path is "/" or the address's own end from a "/"; on ASCII addresses the
// three routines equal direct versions written with plain string operations.
#include "http/url.h"
#include "support/fuzz_input.h"
#include "text/text_ops.h"

#include <algorithm>
#include <cstdint>
#include <string>
#include <vector>

namespace {

using Text = std::string;

Text Lower(std::string_view text) {
  Text lower(text);
  for (char& c : lower) {
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c + 32);
  }
  return lower;
}

// The text after the first left marker up to the next "/" after it; empty without either.
Text Between(std::string_view text, std::string_view left) {
  const std::size_t l = text.find(left);
  if (l == Text::npos) return {};
  const std::size_t r = text.find('/', l + left.size());
  return r == Text::npos ? Text() : Text(text.substr(l + left.size(), r - l - left.size()));
}

Text ReferenceHost(std::string_view address, bool mainDomainOnly, bool keepPort) {
  Text copy = Lower(address);
  if (copy.empty() || copy.back() != '/') copy += '/';
  Text host;
  if (copy.starts_with("https://")) {
    host = Between(copy, "https://");
  } else {
    if (copy.find("http://") == Text::npos) copy.insert(0, "http://");
    host = Between(copy, "http://");
  }
  if (mainDomainOnly) {
    std::vector<Text> labels;
    std::size_t start = 0;
    for (std::size_t dot; (dot = host.find('.', start)) != Text::npos; start = dot + 1) {
      labels.push_back(host.substr(start, dot - start));
    }
    if (start < host.size()) labels.push_back(host.substr(start));
    if (labels.size() > 1) host = labels[labels.size() - 2] + "." + labels.back();
  }
  if (keepPort) return host;
  return host.substr(0, host.find(':'));
}

std::int32_t ReferenceInt(std::string_view text) {
  std::size_t p = text.find_first_not_of(" \t\n\v\f\r");
  if (p == Text::npos) return 0;
  const bool negative = text[p] == '-';
  if (text[p] == '-' || text[p] == '+') ++p;
  std::uint32_t value = 0;
  for (; p < text.size() && text[p] >= '0' && text[p] <= '9'; ++p) {
    value = value * 10u + static_cast<std::uint32_t>(text[p] - '0');
  }
  return static_cast<std::int32_t>(negative ? 0u - value : value);
}

std::int32_t ReferencePort(std::string_view address) {
  const Text host = ReferenceHost(address, false, true);
  const std::size_t colon = host.rfind(':');
  if (colon != Text::npos) return ReferenceInt(std::string_view(host).substr(colon + 1));
  return Lower(address.substr(0, 5)) == "https" ? 443 : 80;
}

Text ReferencePath(std::string_view address) {
  const Text host = ReferenceHost(address, false, false);
  // The host is searched from the start with letter case ignored; a host not found leaves the
  // search for "/" at the start.
  std::size_t h = address.empty() ? Text::npos : Lower(address).find(host);
  if (h == Text::npos) h = 0;
  const std::size_t p = address.find('/', h);
  return p == Text::npos ? Text("/") : Text(address.substr(p));
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view address(reinterpret_cast<const char*>(data), size);
  const bool ascii = std::all_of(address.begin(), address.end(), [](char c) { return c > 0; });
  for (const bool mainDomainOnly : {false, true}) {
    const AnsiText host = UrlHost(address, mainDomainOnly, false);
    const AnsiText withPort = UrlHost(address, mainDomainOnly, true);
    FUZZ_CHECK(ToLowerText(host) == host && ToLowerText(withPort) == withPort);
    FUZZ_CHECK(withPort.starts_with(host));
    if (ascii) {
      FUZZ_CHECK(host == ReferenceHost(address, mainDomainOnly, false));
      FUZZ_CHECK(withPort == ReferenceHost(address, mainDomainOnly, true));
    }
  }
  const std::int32_t port = UrlPort(address);
  if (UrlHost(address, false, true).find(':') == AnsiText::npos) {
    FUZZ_CHECK(port == 80 || port == 443);
  }
  const AnsiText path = UrlPath(address);
  FUZZ_CHECK(path == "/" || (path.starts_with("/") && address.ends_with(path)));
  if (ascii) {
    FUZZ_CHECK(port == ReferencePort(address));
    FUZZ_CHECK(path == ReferencePath(address));
  }
  return 0;
}
