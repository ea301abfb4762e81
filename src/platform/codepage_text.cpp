#include "platform/codepage.h"

#include <climits>

std::u16string WideFromCodePage(unsigned codePage, std::string_view bytes) {
  if (bytes.empty() || bytes.size() > INT_MAX) return {};
  const int length = static_cast<int>(bytes.size());
  const int count = ConvertToWide(codePage, 0, bytes.data(), length, nullptr, 0);
  if (count <= 0) return {};
  std::u16string units(static_cast<std::size_t>(count), u'\0');
  units.resize(static_cast<std::size_t>(
      ConvertToWide(codePage, 0, bytes.data(), length, units.data(), count)));
  return units;
}

// A unit takes at most three bytes in any code page, so the size always fits the calls' int.
std::string CodePageFromWide(unsigned codePage, std::u16string_view units) {
  if (units.empty() || units.size() > INT_MAX / 3) return {};
  const int length = static_cast<int>(units.size());
  const int size = ConvertFromWide(codePage, 0, units.data(), length, nullptr, 0);
  if (size <= 0) return {};
  std::string bytes(static_cast<std::size_t>(size), '\0');
  bytes.resize(static_cast<std::size_t>(
      ConvertFromWide(codePage, 0, units.data(), length, bytes.data(), size)));
  return bytes;
}
