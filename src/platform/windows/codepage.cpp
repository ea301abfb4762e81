// The conversion seam on Windows is the system's own conversion functions, held to the code pages
// Pelvaro uses and to the flag rules of current Windows, so every system and Wine answer alike.
#include "platform/codepage.h"

#include <windows.h>

static_assert(sizeof(wchar_t) == sizeof(char16_t));

namespace {

// Code page 0 would be the user's ANSI code page; Pelvaro's texts are 936 on every Windows. Other
// code pages are refused as on every other platform: 0 means the call failed.
UINT SystemCodePage(unsigned codePage) {
  switch (codePage) {
    case CodePageAnsi:
    case CodePageGbk:
      return CodePageGbk;
    case CodePageUtf8:
      return CodePageUtf8;
  }
  return 0;
}

// UTF-8 takes no conversion flags but the error flag; some systems ignore others silently.
bool FlagsAllowed(UINT codePage, unsigned flags, unsigned errorFlag) {
  return codePage != CodePageUtf8 || (flags & ~errorFlag) == 0;
}

int Refuse(DWORD error) {
  SetLastError(error);
  return 0;
}

}  // namespace

int ConvertToWide(unsigned codePage, unsigned flags, const char* input, int inputLength,
                  char16_t* output, int outputCapacity) {
  const UINT system = SystemCodePage(codePage);
  if (system == 0) return Refuse(ERROR_INVALID_PARAMETER);
  if (!FlagsAllowed(system, flags, MB_ERR_INVALID_CHARS)) return Refuse(ERROR_INVALID_FLAGS);
  return MultiByteToWideChar(system, flags, input, inputLength, reinterpret_cast<wchar_t*>(output),
                             outputCapacity);
}

int ConvertFromWide(unsigned codePage, unsigned flags, const char16_t* input, int inputLength,
                    char* output, int outputCapacity) {
  const UINT system = SystemCodePage(codePage);
  if (system == 0) return Refuse(ERROR_INVALID_PARAMETER);
  if (!FlagsAllowed(system, flags, WC_ERR_INVALID_CHARS)) return Refuse(ERROR_INVALID_FLAGS);
  return WideCharToMultiByte(system, flags, reinterpret_cast<const wchar_t*>(input), inputLength,
                             output, outputCapacity, nullptr, nullptr);
}
