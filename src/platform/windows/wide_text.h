// Code page 936 text at the boundary of the Win32 W functions. The explicit code page keeps
// Chinese texts right on a Windows of any language.
#pragma once

#include <windows.h>

#include <string>
#include <string_view>

inline std::wstring ToWide(std::string_view text) {
  if (text.empty()) return {};
  const int size = static_cast<int>(text.size());
  std::wstring wide(
      static_cast<std::size_t>(MultiByteToWideChar(936, 0, text.data(), size, nullptr, 0)), L'\0');
  MultiByteToWideChar(936, 0, text.data(), size, wide.data(), static_cast<int>(wide.size()));
  return wide;
}

inline std::string FromWide(std::wstring_view wide, unsigned codePage = 936) {
  if (wide.empty()) return {};
  const int units = static_cast<int>(wide.size());
  std::string text(static_cast<std::size_t>(WideCharToMultiByte(codePage, 0, wide.data(), units,
                                                                nullptr, 0, nullptr, nullptr)),
                   '\0');
  WideCharToMultiByte(codePage, 0, wide.data(), units, text.data(), static_cast<int>(text.size()),
                      nullptr, nullptr);
  return text;
}
