// Taking an address apart for a request: host, port and the path and query the request names.
// Addresses may begin with "http://", with "https://" (in any letter case) or with no scheme,
// which reads as "http://". None of these fails: every input gives a text or a number.
#pragma once

#include "text/text_value.h"

#include <cstdint>
#include <string_view>

// The lower-case host: the text after the scheme up to the first "/". mainDomainOnly keeps its
// last two dot-separated labels; keepPort keeps a ":" and port after it.
AnsiText UrlHost(std::string_view address, bool mainDomainOnly = false, bool keepPort = false);

// The number after the host's last ":" (0 when no digits follow it); without one, 443 for an
// address beginning with "https" and 80 for any other.
std::int32_t UrlPort(std::string_view address);

// The address from the first "/" after its host to the end, in its own letter case; "/" when
// there is none.
AnsiText UrlPath(std::string_view address);
