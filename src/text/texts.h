// The text toolkit's own texts, as code page 936 bytes: the fatal error box and the stand-in for a
// double quote. Defined in text/texts.cpp, one of the few files compiled to that code page.
#pragma once

#include <string_view>

// In markers (and in regular expressions built from them) this text stands for a double quote.
extern const std::string_view QuotePlaceholder;

// The fatal error box: its title, and the heads of its lines.
extern const std::string_view FatalErrorTitle;
extern const std::string_view FatalErrorHead;         // first line, followed by an empty line
extern const std::string_view FatalErrorCodeHead;     // before the error code
extern const std::string_view FatalErrorMessageHead;  // before the message
// The messages of the fatal stops the toolkit raises itself.
extern const std::string_view IndexBelowOneMessage;
extern const std::string_view IndexBeyondEndMessage;
// "%zu" stands for the number of bytes asked for.
extern const char AllocationFailedFormat[];
