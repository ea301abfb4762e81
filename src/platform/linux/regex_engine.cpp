// The regular-expression seam over PCRE2's 16-bit library, set up to read expressions as the
// scripting component does: "\uXXXX" escapes, a back reference to an unset group matching the
// empty text, "$" at the very end only unless Multiline, and lines broken by line feeds alone, so
// a dot matches everything but a line feed.
//
// Matching is compiled to machine code where PCRE2 can. Its early-fail tracking keeps a lazy
// "left([\s|\S]*?)right" linear even on a page full of left markers without a right one, which
// the interpreter would rescan from every marker; a match limit that grows with the subject bounds
// whatever else a hostile page can make an expression do.
#define PCRE2_CODE_UNIT_WIDTH 16
#include "platform/regex_engine.h"

#include <pcre2.h>

#include <algorithm>
#include <cstddef>
#include <memory>
#include <vector>

struct RegexInstance {
  std::u16string pattern;
  bool ignoreCase = false;
  bool multiline = false;
  bool global = false;
};

struct RegexMatchList {
  std::u16string_view subject;      // the caller's, kept by it while the list lives
  std::size_t pairs = 1;            // start/end pairs per match: the match and its groups
  std::vector<PCRE2_SIZE> offsets;  // pairs per match, one match after another; PCRE2_UNSET
};

namespace {

struct CodeFree {
  void operator()(pcre2_code* code) const { pcre2_code_free(code); }
};
struct CompileContextFree {
  void operator()(pcre2_compile_context* context) const { pcre2_compile_context_free(context); }
};
struct MatchContextFree {
  void operator()(pcre2_match_context* context) const { pcre2_match_context_free(context); }
};
struct MatchDataFree {
  void operator()(pcre2_match_data* data) const { pcre2_match_data_free(data); }
};
using Code = std::unique_ptr<pcre2_code, CodeFree>;

Code CompileNew(const RegexInstance& regex) {
  const std::unique_ptr<pcre2_compile_context, CompileContextFree> context(
      pcre2_compile_context_create(nullptr));
  if (!context) return nullptr;
  pcre2_set_newline(context.get(), PCRE2_NEWLINE_LF);
  std::uint32_t options = PCRE2_UTF | PCRE2_MATCH_INVALID_UTF | PCRE2_ALT_BSUX |
                          PCRE2_MATCH_UNSET_BACKREF | PCRE2_DOLLAR_ENDONLY;
  if (regex.ignoreCase) options |= PCRE2_CASELESS;
  if (regex.multiline) options |= PCRE2_MULTILINE;
  int error = 0;
  PCRE2_SIZE errorOffset = 0;
  const char16_t empty = 0;
  const char16_t* pattern = regex.pattern.empty() ? &empty : regex.pattern.data();
  Code code(pcre2_compile(reinterpret_cast<PCRE2_SPTR>(pattern), regex.pattern.size(), options,
                          &error, &errorOffset, context.get()));
  if (code) pcre2_jit_compile(code.get(), PCRE2_JIT_COMPLETE);  // the interpreter stands in
  return code;
}

// Compiling (and the machine code above all) costs as much as matching a page of 100 KB, and a
// thread runs the same few expressions page after page: each thread keeps its last ones. A
// compiled expression is only read while it matches, and each thread holds its own.
struct CompiledExpression {
  std::u16string pattern;
  bool ignoreCase = false;
  bool multiline = false;
  std::shared_ptr<pcre2_code> code;
};

std::shared_ptr<pcre2_code> Compile(const RegexInstance& regex) {
  constexpr std::size_t Kept = 4;
  thread_local std::vector<CompiledExpression> recent;
  for (std::size_t k = 0; k < recent.size(); ++k) {
    if (recent[k].pattern == regex.pattern && recent[k].ignoreCase == regex.ignoreCase &&
        recent[k].multiline == regex.multiline) {
      std::rotate(recent.begin(), recent.begin() + k, recent.begin() + k + 1);
      return recent.front().code;
    }
  }
  std::shared_ptr<pcre2_code> code(CompileNew(regex).release(), CodeFree());
  if (!code) return code;
  if (recent.size() == Kept) recent.pop_back();
  recent.insert(recent.begin(), {regex.pattern, regex.ignoreCase, regex.multiline, code});
  return code;
}

// Units that one character takes at p: a surrogate pair is one character.
std::size_t CharacterAt(std::u16string_view subject, std::size_t p) {
  const bool pair = p + 1 < subject.size() && subject[p] >= 0xD800 && subject[p] <= 0xDBFF &&
                    subject[p + 1] >= 0xDC00 && subject[p + 1] <= 0xDFFF;
  return pair ? 2 : 1;
}

// The match limit of one search from offset on: ample for a lazy scan across everything that
// remains, and still a bound on what a backtracking expression can do to a hostile page.
std::uint32_t MatchLimit(std::size_t remaining) {
  constexpr std::size_t Base = 10'000'000;
  constexpr std::size_t Most = 0xFFFFFFFFu;
  return static_cast<std::uint32_t>(remaining > (Most - Base) / 16 ? Most : Base + 16 * remaining);
}

// The offsets of the matches, left to right without overlap; the first only without global. A
// search that hits its limit ends the list: what was found before it stands.
std::vector<PCRE2_SIZE> FindMatches(const pcre2_code* code, std::u16string_view subject,
                                    bool global, std::size_t pairs) {
  std::vector<PCRE2_SIZE> offsets;
  const std::unique_ptr<pcre2_match_data, MatchDataFree> data(
      pcre2_match_data_create_from_pattern(code, nullptr));
  const std::unique_ptr<pcre2_match_context, MatchContextFree> context(
      pcre2_match_context_create(nullptr));
  if (!data || !context) return offsets;
  const char16_t empty = 0;
  const auto* units = reinterpret_cast<PCRE2_SPTR>(subject.empty() ? &empty : subject.data());
  for (std::size_t offset = 0; offset <= subject.size();) {
    pcre2_set_match_limit(context.get(), MatchLimit(subject.size() - offset));
    if (pcre2_match(code, units, subject.size(), offset, 0, data.get(), context.get()) <= 0) break;
    const PCRE2_SIZE* vector = pcre2_get_ovector_pointer(data.get());
    offsets.insert(offsets.end(), vector, vector + 2 * pairs);
    if (!global) break;
    const std::size_t start = vector[0];
    const std::size_t end = vector[1];
    // An empty match (or one that "\K" made end before its start) moves on by one character.
    offset = end > start ? end : start + CharacterAt(subject, start);
  }
  return offsets;
}

std::size_t PairsOf(const pcre2_code* code) {
  std::uint32_t groups = 0;
  pcre2_pattern_info(code, PCRE2_INFO_CAPTURECOUNT, &groups);
  return std::size_t{groups} + 1;
}

// The text of a start/end pair; false for an unset pair.
bool Span(std::u16string_view subject, const PCRE2_SIZE* pair, std::u16string& value) {
  if (pair[0] == PCRE2_UNSET || pair[1] == PCRE2_UNSET || pair[0] > subject.size()) {
    value.clear();
    return false;
  }
  value.assign(subject.substr(pair[0], pair[1] > pair[0] ? pair[1] - pair[0] : 0));
  return true;
}

// The field behind an option; null for Singleline, which the component does not have.
template <typename Instance>
auto OptionField(Instance* regex, RegexOption option) -> decltype(&regex->ignoreCase) {
  if (regex == nullptr) return nullptr;
  switch (option) {
    case RegexOption::IgnoreCase:
      return &regex->ignoreCase;
    case RegexOption::Multiline:
      return &regex->multiline;
    case RegexOption::Global:
      return &regex->global;
    case RegexOption::Singleline:
      break;
  }
  return nullptr;
}

bool IsDigit(char16_t unit) {
  return unit >= u'0' && unit <= u'9';
}

// Appends the replacement for one match, reading its "$" forms.
void AppendReplacement(std::u16string& result, std::u16string_view replacement,
                       std::u16string_view subject, const PCRE2_SIZE* match, std::size_t pairs) {
  std::u16string group;
  for (std::size_t i = 0; i < replacement.size(); ++i) {
    const char16_t unit = replacement[i];
    const char16_t next = i + 1 < replacement.size() ? replacement[i + 1] : 0;
    if (unit != u'$' || next == 0) {
      result += unit;
    } else if (next == u'$') {
      result += u'$';
      ++i;
    } else if (next == u'&') {
      Span(subject, match, group);
      result += group;
      ++i;
    } else if (next == u'`') {
      result += subject.substr(0, match[0]);
      ++i;
    } else if (next == u'\'') {
      result += subject.substr(std::max(match[0], match[1]));
      ++i;
    } else if (IsDigit(next)) {
      // Two digits when they name a group, otherwise one; "$0" and a group beyond the
      // expression's stay as they are.
      std::size_t number = next - u'0';
      std::size_t digits = 1;
      if (i + 2 < replacement.size() && IsDigit(replacement[i + 2]) &&
          number * 10 + (replacement[i + 2] - u'0') < pairs) {
        number = number * 10 + (replacement[i + 2] - u'0');
        digits = 2;
      }
      if (number == 0 || number >= pairs) {
        result += u'$';
      } else {
        Span(subject, match + 2 * number, group);
        result += group;
        i += digits;
      }
    } else {
      result += u'$';
    }
  }
}

}  // namespace

void RegexEnterThread() {}
void RegexLeaveThread() {}

RegexInstance* RegexCreate() {
  return new RegexInstance();
}

void RegexRelease(RegexInstance* regex) {
  delete regex;
}

bool RegexSetOption(RegexInstance* regex, RegexOption option, bool value) {
  bool* field = OptionField(regex, option);
  if (field == nullptr) return false;
  *field = value;
  return true;
}

bool RegexOptionValue(const RegexInstance* regex, RegexOption option) {
  const bool* field = OptionField(regex, option);
  return field != nullptr && *field;
}

bool RegexSetPattern(RegexInstance* regex, std::u16string_view pattern) {
  if (regex == nullptr) return false;
  regex->pattern.assign(pattern);
  return true;
}

std::u16string RegexPattern(const RegexInstance* regex) {
  return regex == nullptr ? std::u16string() : regex->pattern;
}

RegexMatchList* RegexExecute(RegexInstance* regex, std::u16string_view subject) {
  if (regex == nullptr) return nullptr;
  const std::shared_ptr<pcre2_code> code = Compile(*regex);
  if (!code) return nullptr;
  auto* matches = new RegexMatchList();
  matches->pairs = PairsOf(code.get());
  matches->offsets = FindMatches(code.get(), subject, regex->global, matches->pairs);
  matches->subject = subject;
  return matches;
}

void RegexReleaseMatches(RegexMatchList* matches) {
  delete matches;
}

bool RegexReplace(RegexInstance* regex, std::u16string_view subject,
                  std::u16string_view replacement, std::u16string& result) {
  if (regex == nullptr) return false;
  const std::shared_ptr<pcre2_code> code = Compile(*regex);
  if (!code) return false;
  const std::size_t pairs = PairsOf(code.get());
  const std::vector<PCRE2_SIZE> offsets = FindMatches(code.get(), subject, regex->global, pairs);
  result.clear();
  std::size_t copied = 0;
  for (std::size_t m = 0; m < offsets.size(); m += 2 * pairs) {
    const PCRE2_SIZE* match = offsets.data() + m;
    if (match[0] < copied) continue;  // a "\K" match reaching back over replaced text
    result += subject.substr(copied, match[0] - copied);
    AppendReplacement(result, replacement, subject, match, pairs);
    copied = std::max(match[0], match[1]);
  }
  result += subject.substr(copied);
  return true;
}

std::int32_t RegexMatchCount(const RegexMatchList* matches) {
  if (matches == nullptr) return 0;
  return static_cast<std::int32_t>(matches->offsets.size() / (2 * matches->pairs));
}

bool RegexMatchAt(const RegexMatchList* matches, std::int32_t index, std::u16string& value,
                  std::int32_t& firstIndex) {
  if (index < 0 || index >= RegexMatchCount(matches)) return false;
  const PCRE2_SIZE* match = matches->offsets.data() + 2 * matches->pairs * index;
  Span(matches->subject, match, value);
  firstIndex = static_cast<std::int32_t>(match[0]);
  return true;
}

bool RegexMatchSpan(const RegexMatchList* matches, std::int32_t index, std::int32_t& firstIndex,
                    std::int32_t& length) {
  if (index < 0 || index >= RegexMatchCount(matches)) return false;
  const PCRE2_SIZE* match = matches->offsets.data() + 2 * matches->pairs * index;
  firstIndex = static_cast<std::int32_t>(match[0]);
  length = static_cast<std::int32_t>(match[1] > match[0] ? match[1] - match[0] : 0);
  return true;
}

std::int32_t RegexGroupCount(const RegexMatchList* matches, std::int32_t index) {
  if (index < 0 || index >= RegexMatchCount(matches)) return 0;
  return static_cast<std::int32_t>(matches->pairs - 1);
}

RegexGroupState RegexGroupAt(const RegexMatchList* matches, std::int32_t index, std::int32_t group,
                             std::u16string& value) {
  value.clear();
  if (group < 0 || group >= RegexGroupCount(matches, index)) return RegexGroupState::Missing;
  const PCRE2_SIZE* match = matches->offsets.data() + 2 * matches->pairs * index;
  return Span(matches->subject, match + 2 * (group + 1), value) ? RegexGroupState::Matched
                                                                : RegexGroupState::Unset;
}
