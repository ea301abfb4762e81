// Regular-expression matching over code page 936 texts, and the collection of every text between
// two markers on which the cutting of result pages rests.
#pragma once

#include "text/text_value.h"

#include <cstdint>
#include <string>
#include <string_view>

struct RegexInstance;
struct RegexMatchList;

struct RegexOptions {
  bool matchCase = false;         // letter case ignored unless set
  bool multiline = true;          // "^" and "$" also match at line feeds
  bool global = true;             // every match, not only the first
  bool quotePlaceholder = false;  // "#引号" in the expression stands for a double quote
};

// One expression run once over one subject, and questions about the matches it gave. The
// expression sees characters: a two-byte character of the subject is one character to it.
// Match and group indexes count from 1; a question about a match or group that does not exist
// gives the empty text. Belongs to the thread that constructed it, which it sets up for the
// regular-expression component until it is destroyed.
class RegexObject {
 public:
  RegexObject();
  ~RegexObject();
  RegexObject(const RegexObject&) = delete;
  RegexObject& operator=(const RegexObject&) = delete;

  // Compiles pattern with the options and runs it over subject, which is kept. True when a match
  // collection was obtained, also one without matches; false when the expression is rejected.
  bool Create(std::string_view pattern, std::string_view subject, const RegexOptions& options = {});

  // The current expression; empty before the first Create.
  AnsiText PatternText() const;

  // The kept subject with the matches replaced (every one under global, otherwise the first); in
  // the replacement "$1".."$99" stand for groups, "$&" for the match and "$$" for "$".
  AnsiText Replace(std::string_view replacement) const;

  std::int32_t MatchCount() const;

  // The text of a match. position, when given, receives its 0-based byte offset in the subject,
  // or -2 when there is no such match.
  AnsiText MatchText(std::int32_t matchIndex, std::int32_t* position = nullptr) const;

  // The text of a group of a match; empty also when the group took no part in it. position, when
  // given, receives the group text's 0-based byte offset, searched from the match's own place in
  // the subject, or -2 when there is no such group or it took no part.
  AnsiText SubmatchText(std::int32_t matchIndex, std::int32_t submatchIndex,
                        std::int32_t* position = nullptr) const;

  // Groups of the first match; 0 when there is no match.
  std::int32_t SubmatchCount() const;

 private:
  void Release();
  std::int32_t BytePosition(std::string_view found, std::int32_t firstIndex) const;

  RegexInstance* regex_ = nullptr;
  RegexMatchList* matches_ = nullptr;
  AnsiText subject_;
  std::u16string subjectUnits_;  // what the engine's matches refer to
};

// A backslash before every "?", "*", "+", "[", "]", "(", ")", "{" and "}", and "#引号" turned into
// a double quote. Backslash, ".", "^", "$" and "|" keep their meaning in an expression.
AnsiText EscapeRegexText(std::string_view text);

struct CollectOptions {
  std::int32_t maxLength = 0;    // 0: any length; otherwise only texts of at most this many bytes
  std::string_view prefix = {};  // put before each text
  std::string_view suffix = {};  // put after each text
  bool keepLeft = false;         // put the left marker back in front
  // Put the right marker back at the end. With a maxLength only when keepLeft is not set.
  bool keepRight = false;
};

// Collects, left to right and without overlap, the shortest text between each leftMarker and the
// next rightMarker after it, across lines, letter case ignored. The markers are matched as
// expressions after EscapeRegexText, so a dot in them matches any character but a line feed.
// results (when given) loses its former members and receives the texts; returns their number.
std::int32_t CollectBetween(std::string_view text, std::string_view leftMarker,
                            std::string_view rightMarker, TextArray* results = nullptr,
                            const CollectOptions& options = {});
