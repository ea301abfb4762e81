#include "http/cookies.h"

#include "text/text_ops.h"

namespace {

constexpr std::string_view DeletedMark = "=deleted";

}  // namespace

AnsiText MergeCookies(AnsiText& cookies, AnsiText& received) {
  cookies = RemoveSpaces(cookies);
  received = RemoveSpaces(received);
  TextArray merged = SplitText(received, ";");
  for (const AnsiText& entry : SplitText(cookies, ";")) {
    // The test sees the kept entries appended before it, so only the first of one name survives.
    if (!HasCookieName(merged, CookieName(entry))) ArrayAppend(merged, entry);
  }
  AnsiText joined;
  for (const AnsiText& entry : merged) {
    if (CompareText(TextRight(entry, TextLength(DeletedMark)), DeletedMark) == 0) continue;
    joined.append(entry).append("; ");
  }
  joined = TextLeft(joined, TextLength(joined) - 2);
  cookies = JoinDistinct(joined, "; ");
  return cookies;
}

AnsiText CookieName(std::string_view entry) {
  const std::int32_t p = FindText(entry, "=");
  return TrimText(p == -1 ? entry : entry.substr(0, static_cast<std::size_t>(p - 1)));
}

bool HasCookieName(const TextArray& entries, std::string_view name) {
  for (const AnsiText& entry : entries) {
    if (CompareText(CookieName(entry), name) == 0) return true;
  }
  return false;
}

AnsiText JoinDistinct(std::string_view text, std::string_view separator) {
  TextArray taken;
  AnsiText result;
  for (const AnsiText& piece : SplitText(text, separator)) {
    if (ListContains(taken, piece)) continue;
    ArrayAppend(taken, piece);
    result.append(piece).append(separator);
  }
  return TextLeft(result, TextLength(result) - TextLength(separator));
}

bool ListContains(const TextArray& list, std::string_view text) {
  for (const AnsiText& member : list) {
    if (CompareText(member, text) == 0) return true;
  }
  return false;
}
