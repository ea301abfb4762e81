// The one check every link passes before it leaves the program for the default browser: a page
// can put a local file, a script or a program where a link belongs.
#pragma once

#include <cstddef>
#include <string_view>

// The longest address handed on: the longest one the Windows shell and its browsers take.
inline constexpr std::size_t MaxWebAddressLength = 2083;

// True for "http://" or "https://" (any letter case, nothing before it) followed by a host, with
// no control byte or double quote anywhere (a line break could start another line, a quote could
// end the address inside the browser's command line), and no longer than MaxWebAddressLength.
bool IsWebAddress(std::string_view address);
