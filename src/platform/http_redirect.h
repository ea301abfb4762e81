// How the HTTP session follows a redirect answer by itself: one policy, written once and used by
// every platform's session, so that the builds agree on where a request may be carried, with
// which method and body, and which of the caller's header lines go along.
//
// - Only 301, 302, 303, 307 and 308 answers that carry a Location are followed, and only to http
//   and https addresses; an https request is never followed to http. An answer not followed is
//   the response.
// - 301, 302 and 303 continue as GET without a body; 307 and 308 keep the method and the body.
// - The caller's Cookie and Authorization lines go only to the origin (scheme, host and port) of
//   the address first asked for; a hop elsewhere leaves them out (a hop back takes them again).
// - At most MaxRedirectHops hops are followed; the session fails the request beyond that.
#pragma once

#include <algorithm>
#include <cstdint>
#include <string>
#include <string_view>

inline constexpr int MaxRedirectHops = 10;

// An http or https address, taken apart.
struct WebAddress {
  bool secure = false;
  std::string host;  // lower case; an IPv6 literal keeps its brackets
  std::int32_t port = 0;
  std::string path;  // path and query, beginning with "/"; no fragment
};

namespace redirect_detail {

inline char Lower(char c) {
  return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
}

inline bool StartsWithNoCase(std::string_view text, std::string_view prefix) {
  if (text.size() < prefix.size()) return false;
  for (std::size_t i = 0; i < prefix.size(); ++i) {
    if (Lower(text[i]) != prefix[i]) return false;
  }
  return true;
}

inline bool EqualNoCase(std::string_view a, std::string_view b) {
  return a.size() == b.size() && StartsWithNoCase(a, b);
}

// Whether text begins with a scheme ("letter *( letter / digit / "+" / "-" / "." ) ":").
inline bool HasScheme(std::string_view text) {
  if (text.empty() || !((text[0] >= 'a' && text[0] <= 'z') || (text[0] >= 'A' && text[0] <= 'Z')))
    return false;
  for (std::size_t i = 1; i < text.size(); ++i) {
    const char c = text[i];
    if (c == ':') return true;
    const bool schemeByte = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') ||
                            (c >= '0' && c <= '9') || c == '+' || c == '-' || c == '.';
    if (!schemeByte) return false;
  }
  return false;
}

}  // namespace redirect_detail

// Takes an absolute http or https address apart (scheme in any letter case). False for any other
// scheme, a user name or password, an empty host or a port outside 1 to 65535.
inline bool ParseWebAddress(std::string_view address, WebAddress& out) {
  using namespace redirect_detail;
  WebAddress parsed;
  if (StartsWithNoCase(address, "http://")) {
    address.remove_prefix(7);
  } else if (StartsWithNoCase(address, "https://")) {
    parsed.secure = true;
    address.remove_prefix(8);
  } else {
    return false;
  }
  address = address.substr(0, address.find('#'));
  const std::size_t authorityEnd = std::min(address.find_first_of("/?"), address.size());
  const std::string_view authority = address.substr(0, authorityEnd);
  if (authority.find('@') != std::string_view::npos) return false;
  const std::size_t bracket = authority.rfind(']');
  std::size_t colon = authority.rfind(':');
  if (colon != std::string_view::npos && bracket != std::string_view::npos && colon < bracket) {
    colon = std::string_view::npos;  // inside an IPv6 literal
  }
  const std::string_view host = authority.substr(0, colon);
  if (host.empty()) return false;
  parsed.port = parsed.secure ? 443 : 80;
  if (colon != std::string_view::npos) {
    const std::string_view digits = authority.substr(colon + 1);
    if (digits.empty() || digits.size() > 5) return false;
    std::int32_t port = 0;
    for (const char c : digits) {
      if (c < '0' || c > '9') return false;
      port = port * 10 + (c - '0');
    }
    if (port < 1 || port > 65535) return false;
    parsed.port = port;
  }
  for (const char c : host)
    parsed.host += Lower(c);
  const std::string_view rest = address.substr(authorityEnd);
  parsed.path = rest.starts_with("/") ? std::string(rest) : "/" + std::string(rest);
  out = std::move(parsed);
  return true;
}

// The address as text: scheme, host, the port when it is not the scheme's own, path.
inline std::string WebAddressText(const WebAddress& address) {
  std::string text = address.secure ? "https://" : "http://";
  text += address.host;
  if (address.port != (address.secure ? 443 : 80)) text += ":" + std::to_string(address.port);
  return text + address.path;
}

inline bool SameOrigin(const WebAddress& a, const WebAddress& b) {
  return a.secure == b.secure && a.host == b.host && a.port == b.port;
}

// The address a Location value names, read against the address that answered with it: absolute,
// scheme-relative ("//host/path"), absolute path, query only or a path relative to the answering
// one's directory. False when it names no http or https address.
inline bool ResolveLocation(const WebAddress& base, std::string_view location, WebAddress& target) {
  using namespace redirect_detail;
  while (!location.empty() && (location.front() == ' ' || location.front() == '\t'))
    location.remove_prefix(1);
  while (!location.empty() && (location.back() == ' ' || location.back() == '\t'))
    location.remove_suffix(1);
  location = location.substr(0, location.find('#'));
  if (location.empty()) return false;
  if (HasScheme(location)) return ParseWebAddress(location, target);
  if (location.starts_with("//")) {
    return ParseWebAddress((base.secure ? "https:" : "http:") + std::string(location), target);
  }
  WebAddress resolved = base;
  if (location.starts_with("/")) {
    resolved.path = location;
  } else if (location.starts_with("?")) {
    resolved.path = base.path.substr(0, base.path.find('?')) + std::string(location);
  } else {
    const std::string basePath = base.path.substr(0, base.path.find('?'));
    resolved.path = basePath.substr(0, basePath.rfind('/') + 1) + std::string(location);
  }
  target = std::move(resolved);
  return true;
}

// One hop to follow.
struct RedirectHop {
  WebAddress target;
  std::string verb;
  bool keepBody = false;
  bool keepCredentials = false;  // the caller's Cookie and Authorization lines go along
};

// Whether an answer with this status and Location (empty: none) to a request for current with
// verb is followed, and how. origin is the address first asked for.
inline bool NextRedirectHop(int status, std::string_view location, const WebAddress& current,
                            const WebAddress& origin, std::string_view verb, RedirectHop& hop) {
  if (status != 301 && status != 302 && status != 303 && status != 307 && status != 308) {
    return false;
  }
  WebAddress target;
  if (!ResolveLocation(current, location, target)) return false;
  if (current.secure && !target.secure) return false;
  const bool keepMethod = status == 307 || status == 308;
  hop.target = std::move(target);
  hop.verb = keepMethod ? std::string(verb) : "GET";
  hop.keepBody = keepMethod;
  hop.keepCredentials = SameOrigin(hop.target, origin);
  return true;
}

// The header block (lines separated by "\r\n") without its Cookie and Authorization lines.
inline std::string WithoutCredentials(std::string_view headers) {
  using namespace redirect_detail;
  std::string kept;
  for (std::size_t start = 0; start <= headers.size();) {
    const std::size_t end = std::min(headers.find("\r\n", start), headers.size());
    const std::string_view line = headers.substr(start, end - start);
    start = end + 2;
    std::string_view name = line.substr(0, line.find(':'));
    while (!name.empty() && (name.back() == ' ' || name.back() == '\t'))
      name.remove_suffix(1);
    if (EqualNoCase(name, "cookie") || EqualNoCase(name, "authorization")) continue;
    if (!kept.empty()) kept += "\r\n";
    kept += line;
  }
  return kept;
}

// The status code of a raw response header block ("HTTP/1.1 302 Found\r\n..."); 0 without one.
inline int ResponseStatus(std::string_view block) {
  if (!block.starts_with("HTTP/")) return 0;
  const std::size_t space = block.find(' ');
  if (space == std::string_view::npos || block.size() < space + 4) return 0;
  int status = 0;
  for (std::size_t i = space + 1; i < space + 4; ++i) {
    if (block[i] < '0' || block[i] > '9') return 0;
    status = status * 10 + (block[i] - '0');
  }
  return status;
}

// The value of the block's last "Location" header line (name in any letter case), trimmed.
inline std::string ResponseLocation(std::string_view block) {
  using namespace redirect_detail;
  std::string location;
  for (std::size_t start = block.find("\r\n"); start != std::string_view::npos;) {
    start += 2;
    const std::size_t end = std::min(block.find("\r\n", start), block.size());
    const std::string_view line = block.substr(start, end - start);
    const std::size_t colon = line.find(':');
    if (colon != std::string_view::npos && EqualNoCase(line.substr(0, colon), "location")) {
      std::string_view value = line.substr(colon + 1);
      while (!value.empty() && (value.front() == ' ' || value.front() == '\t'))
        value.remove_prefix(1);
      while (!value.empty() && (value.back() == ' ' || value.back() == '\t'))
        value.remove_suffix(1);
      location = value;
    }
    start = end < block.size() ? end : std::string_view::npos;
  }
  return location;
}
