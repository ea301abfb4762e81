#include "platform/web_address.h"

namespace {

bool StartsWithScheme(std::string_view address, std::string_view scheme) {
  if (address.size() < scheme.size()) return false;
  for (std::size_t i = 0; i < scheme.size(); ++i) {
    char c = address[i];
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    if (c != scheme[i]) return false;
  }
  return true;
}

}  // namespace

bool IsWebAddress(std::string_view address) {
  if (address.size() > MaxWebAddressLength) return false;
  std::size_t hostStart = 0;
  if (StartsWithScheme(address, "http://")) {
    hostStart = 7;
  } else if (StartsWithScheme(address, "https://")) {
    hostStart = 8;
  } else {
    return false;
  }
  if (hostStart == address.size() || address[hostStart] == '/') return false;  // no host
  for (const char c : address) {
    const auto byte = static_cast<unsigned char>(c);
    if (byte < 0x20 || byte == 0x7F || c == '"') return false;
  }
  return true;
}
