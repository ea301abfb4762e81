// Code-page conversion seam with the semantics of the Windows conversion calls
// (MultiByteToWideChar, WideCharToMultiByte):
// - an input length of -1 reads up to and including the terminating zero;
// - a null output with capacity 0 returns the size needed, in units (to wide) or bytes;
// - an output that is too small fails (returns 0) and nothing is written beyond its capacity;
// - invalid UTF-8 becomes U+FFFD, a character code page 936 cannot hold becomes "?".
// Code page 0 (the system's ANSI code page) means 936 in Pelvaro on every platform: the program
// never depends on the user's locale.
#pragma once

#include <string>
#include <string_view>

inline constexpr unsigned CodePageAnsi = 0;
inline constexpr unsigned CodePageGbk = 936;
inline constexpr unsigned CodePageUtf8 = 65001;
inline constexpr unsigned CompositeCheck = 0x200;  // WC_COMPOSITECHECK

int ConvertToWide(unsigned codePage, unsigned flags, const char* input, int inputLength,
                  char16_t* output, int outputCapacity);
int ConvertFromWide(unsigned codePage, unsigned flags, const char16_t* input, int inputLength,
                    char* output, int outputCapacity);

// Whole texts through the two calls, each sized first (platform/codepage_text.cpp): the UTF-16
// units of bytes in a code page, and the bytes of units in a code page. Empty when the input is
// empty, too long for the calls, or converts to nothing.
std::u16string WideFromCodePage(unsigned codePage, std::string_view bytes);
std::string CodePageFromWide(unsigned codePage, std::u16string_view units);
