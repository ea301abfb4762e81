// Regular-expression seam, shaped like the scripting component the Windows build drives
// ("VBScript.RegExp" through IDispatch): an instance holds one expression and its options, runs it
// over a subject and hands back a collection of matches to read. Texts cross as UTF-16 and
// positions count UTF-16 units from 0.
//
// Dialect: the component's. A dot matches any character but a line feed and no option changes
// that; "^" and "$" match at line feeds under Multiline; letter case is ignored under IgnoreCase;
// lazy quantifiers, classes and backslash escapes as the component reads them. Execute finds the
// matches left to right without overlap, every one under Global and the first one otherwise; after
// an empty match the search goes on one character further.
//
// Every call accepts null handles and then fails quietly, so a caller can go on with the empty
// value of each step as the component's callers do. Handles belong to the thread that created
// them, between its RegexEnterThread and RegexLeaveThread.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

struct RegexInstance;   // one expression with its options (the component instance)
struct RegexMatchList;  // the matches of one Execute (the component's match collection)

// Sets up / releases the component's runtime on the calling thread (CoInitialize with a null
// argument, whatever it returns / CoUninitialize). Calls pair up on one thread.
void RegexEnterThread();
void RegexLeaveThread();

// A new instance: empty pattern, every option off. Null when the component cannot be created.
RegexInstance* RegexCreate();
void RegexRelease(RegexInstance* regex);

enum class RegexOption { IgnoreCase, Multiline, Singleline, Global };

// Writes an option; false when the write fails. Singleline always fails: the component has no
// such option.
bool RegexSetOption(RegexInstance* regex, RegexOption option, bool value);
// An option's value; false when the read fails.
bool RegexOptionValue(const RegexInstance* regex, RegexOption option);

// The expression is only stored here; a rejected one makes RegexExecute and RegexReplace fail.
bool RegexSetPattern(RegexInstance* regex, std::u16string_view pattern);
std::u16string RegexPattern(const RegexInstance* regex);

// Runs the expression over the subject. Null when the expression is rejected; a collection,
// possibly without matches, otherwise. The collection may refer to the subject's units: the caller
// keeps them unchanged until it releases the collection (a page is not copied once more).
RegexMatchList* RegexExecute(RegexInstance* regex, std::u16string_view subject);
void RegexReleaseMatches(RegexMatchList* matches);

// The subject with the matches replaced (every one under Global, the first otherwise). In the
// replacement "$1" to "$99" stand for groups, "$&" for the match, "$`" and "$'" for the text
// before and after it, "$$" for "$". False when the expression is rejected.
bool RegexReplace(RegexInstance* regex, std::u16string_view subject,
                  std::u16string_view replacement, std::u16string& result);

std::int32_t RegexMatchCount(const RegexMatchList* matches);

// Match index counts from 0. False (and nothing written) when there is no such match.
bool RegexMatchAt(const RegexMatchList* matches, std::int32_t index, std::u16string& value,
                  std::int32_t& firstIndex);

// Where a match stands, first index and length in UTF-16 units, without its text. False (and
// nothing written) when there is no such match.
bool RegexMatchSpan(const RegexMatchList* matches, std::int32_t index, std::int32_t& firstIndex,
                    std::int32_t& length);

// Number of capturing groups of a match; 0 when there is no such match.
std::int32_t RegexGroupCount(const RegexMatchList* matches, std::int32_t index);

enum class RegexGroupState { Missing, Unset, Matched };

// Group index counts from 0 (the first capturing group). Missing: no such match or group; Unset:
// the group took no part in the match (value emptied); Matched: value holds its text, maybe empty.
RegexGroupState RegexGroupAt(const RegexMatchList* matches, std::int32_t index, std::int32_t group,
                             std::u16string& value);
