// The value types in which Pelvaro holds text and bytes, list access, and the fatal error stop.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

// Text in code page 936: bytes without a zero byte. A byte of 0x80 or above leads a two-byte
// character. Positions count bytes from 1; -1 means not found. Empty and absent are one value.
using AnsiText = std::string;

// A counted sequence of bytes of any value (HTTP bodies, UTF-16 text, conversion buffers).
using ByteBuffer = std::vector<std::uint8_t>;

// An ordered list of texts with 1-based access through ArrayItem.
using TextArray = std::vector<AnsiText>;

// Shows the runtime-error box (code line only when code is not 0, message line only when the
// message is not empty) and ends the process with exit code -1 once it is closed. The exit routine
// does not run. Safe to call from any thread.
[[noreturn]] void FatalRuntimeError(std::int32_t code, const AnsiText& message);

// The box text FatalRuntimeError shows.
AnsiText FatalErrorText(std::int32_t code, const AnsiText& message);

std::int32_t ArrayCount(const TextArray& array);

// The member at the 1-based index. An index below 1 is fatal with code 4, one above the count
// with code 1.
const AnsiText& ArrayItem(const TextArray& array, std::int32_t index);

// The byte at the 1-based index, 0 to 255, with the checks of the text form.
int ArrayItem(const ByteBuffer& buffer, std::int32_t index);

void ArrayAppend(TextArray& array, const AnsiText& text);
