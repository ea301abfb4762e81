// Placeholder until the conversions land.
#include "text/codepage.h"

AnsiText UrlEncode(std::string_view, bool, bool) { return {}; }
