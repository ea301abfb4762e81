// Helpers shared by the fuzz targets: cutting one input into texts, and the checks they make.
#pragma once

#include <fuzzer/FuzzedDataProvider.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>

// Stops the run with a message, so libFuzzer keeps the input as a finding.
#define FUZZ_CHECK(condition)                                                            \
  do {                                                                                   \
    if (!(condition)) {                                                                  \
      std::fprintf(stderr, "%s:%d: check failed: %s\n", __FILE__, __LINE__, #condition); \
      std::abort();                                                                      \
    }                                                                                    \
  } while (false)

// A text of the input. With a small alphabet, bytes map onto a few that make markers and texts
// meet often: a letter in both cases and another, ";", a lead byte, the full-width space's byte,
// "#" (which a target may widen to the quote placeholder) and the double quote.
inline std::string ConsumeText(FuzzedDataProvider& input, bool smallAlphabet,
                               std::size_t maxLength = 4096) {
  std::string text = input.ConsumeRandomLengthString(maxLength);
  if (smallAlphabet) {
    static constexpr char Alphabet[] = {'a', 'A', 'b', ';', '\x81', '\xA1', '#', '"'};
    for (char& c : text)
      c = Alphabet[static_cast<unsigned char>(c) % sizeof Alphabet];
  }
  return text;
}

// Whether the bytes of part stand in whole, in order (not necessarily together), in text. A
// wildcard byte of part, when given, stands for any byte of text.
inline bool IsSubsequence(std::string_view part, std::string_view text, int wildcard = -1) {
  std::size_t at = 0;
  for (const char c : part) {
    at = c == wildcard ? (at < text.size() ? at : std::string_view::npos) : text.find(c, at);
    if (at == std::string_view::npos) return false;
    ++at;
  }
  return true;
}

inline bool HasZeroByte(std::string_view text) {
  return text.find('\0') != std::string_view::npos;
}
