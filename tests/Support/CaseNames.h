// Names of parameterised cases from what they hold ("FullWrite/sst25vf010"), never from a
// parameter's bytes or its index: letters and digits are kept, in lower case, every run of
// anything else becomes one underscore.
#pragma once

#include <cctype>
#include <string>
#include <string_view>

namespace testnames {

inline std::string CaseName(std::string_view text) {
  std::string name;
  for (const char c : text) {
    if (std::isalnum(static_cast<unsigned char>(c)) != 0) {
      name += static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    } else if (!name.empty() && name.back() != '_') {
      name += '_';
    }
  }
  while (!name.empty() && name.back() == '_') {
    name.pop_back();
  }
  return name.empty() ? "none" : name;
}

// "1f00" for the bytes 0x1F 0x00.
template <class Bytes>
std::string HexName(const Bytes& bytes) {
  static constexpr char kDigits[] = "0123456789abcdef";
  std::string name;
  for (const auto byte : bytes) {
    name += kDigits[(byte >> 4) & 0xF];
    name += kDigits[byte & 0xF];
  }
  return name;
}

}  // namespace testnames
