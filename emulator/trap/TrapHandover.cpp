#include "TrapHandover.h"

#include <charconv>
#include <cstdint>
#include <sstream>
#include <string>

namespace trap {

std::string EncodeArguments(const std::vector<std::string>& args) {
  constexpr char kDigits[] = "0123456789abcdef";
  std::string text;
  for (const std::string& arg : args) {
    if (!text.empty()) {
      text += ' ';
    }
    // An empty argument still needs a word of its own.
    text += '-';
    for (const char c : arg) {
      const auto byte = static_cast<unsigned char>(c);
      text += kDigits[byte >> 4];
      text += kDigits[byte & 0xF];
    }
  }
  return text;
}

std::optional<std::vector<std::string>> DecodeArguments(const std::string& text) {
  std::vector<std::string> args;
  std::istringstream words(text);
  std::string word;
  while (words >> word) {
    if (word[0] != '-' || word.size() % 2 != 1) {
      return std::nullopt;
    }
    std::string arg;
    for (std::size_t i = 1; i < word.size(); i += 2) {
      std::uint8_t byte = 0;
      const char* end = word.data() + i + 2;
      const auto [stop, status] = std::from_chars(word.data() + i, end, byte, 16);
      if (status != std::errc() || stop != end) {
        return std::nullopt;
      }
      arg += static_cast<char>(byte);
    }
    args.push_back(arg);
  }
  return args;
}

std::string EncodeHandshake(const Handshake& handshake) {
  return std::to_string(handshake.token) + " " + std::to_string(handshake.library);
}

std::optional<Handshake> DecodeHandshake(const std::string& text) {
  Handshake handshake;
  std::istringstream words(text);
  if (!(words >> handshake.token >> handshake.library) || handshake.token < 0 ||
      handshake.library < 0) {
    return std::nullopt;
  }
  return handshake;
}

}  // namespace trap
