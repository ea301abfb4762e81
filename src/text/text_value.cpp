#include "text/text_value.h"

#include "platform/system.h"
#include "text/texts.h"

#include <cstddef>

namespace {

// The test for an index below 1 comes first, so index 0 of an empty list is code 4.
[[noreturn]] void IndexOutOfRange(std::int32_t index) {
  if (index < 1) FatalRuntimeError(4, AnsiText(IndexBelowOneMessage));
  FatalRuntimeError(1, AnsiText(IndexBeyondEndMessage));
}

}  // namespace

AnsiText FatalErrorText(std::int32_t code, const AnsiText& message) {
  AnsiText text(FatalErrorHead);
  text += "\r\n\r\n";
  if (code != 0) text.append(FatalErrorCodeHead).append(std::to_string(code)).append("\r\n\r\n");
  if (!message.empty()) text.append(FatalErrorMessageHead).append(message).append("\r\n");
  return text;
}

void FatalRuntimeError(std::int32_t code, const AnsiText& message) {
  ShowFatalErrorBox(FatalErrorText(code, message), AnsiText(FatalErrorTitle));
  EndProcess(-1);
}

std::int32_t ArrayCount(const TextArray& array) {
  return static_cast<std::int32_t>(array.size());
}

const AnsiText& ArrayItem(const TextArray& array, std::int32_t index) {
  if (index < 1 || static_cast<std::size_t>(index) > array.size()) {
    IndexOutOfRange(index);
  }
  return array[static_cast<std::size_t>(index) - 1];
}

int ArrayItem(const ByteBuffer& buffer, std::int32_t index) {
  if (index < 1 || static_cast<std::size_t>(index) > buffer.size()) {
    IndexOutOfRange(index);
  }
  return buffer[static_cast<std::size_t>(index) - 1];
}

void ArrayAppend(TextArray& array, const AnsiText& text) {
  array.push_back(text);
}
