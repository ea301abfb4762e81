// The messages the program shows, as code page 936 bytes. Defined in app/texts.cpp, one of the few
// files compiled to that code page (see the README, "The program's texts").
#pragma once

#include <string_view>

extern const std::string_view EmptyKeywordMessage;
extern const std::string_view EmptyKeywordTitle;
// The no-results box: the message, a line break, then ContactPrefix and the contact number.
extern const std::string_view NoResultsMessage;
extern const std::string_view ContactPrefix;
extern const std::string_view NoResultsTitle;
extern const std::string_view WindowFailedMessage;
