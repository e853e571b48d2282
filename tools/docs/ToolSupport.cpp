#include "ToolSupport.h"

#include <algorithm>
#include <cstdio>
#include <fstream>
#include <iterator>

namespace tools {
namespace {

constexpr std::uint8_t kErased = 0xFF;

// How many bytes from address 0 hold `value`.
std::size_t PrefixEnd(const Bytes& flash, std::uint8_t value) {
  const auto end =
      std::find_if(flash.begin(), flash.end(), [value](std::uint8_t b) { return b != value; });
  return static_cast<std::size_t>(end - flash.begin());
}

}  // namespace

Bytes ReadFile(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

void WriteFile(const std::filesystem::path& path, const Bytes& bytes) {
  std::ofstream(path, std::ios::binary)
      .write(reinterpret_cast<const char*>(bytes.data()),
             static_cast<std::streamsize>(bytes.size()));
}

std::string Hex(std::size_t value) {
  char text[24];
  std::snprintf(text, sizeof(text), "0x%05zX", value);
  return text;
}

std::string FlashState(const Bytes& flash, const Bytes& before, const Bytes& updated) {
  if (flash == before) {
    return "untouched";
  }
  if (flash == updated) {
    return "updated";
  }
  std::size_t erasedFrom = flash.size();
  while (erasedFrom > 0 && flash[erasedFrom - 1] == kErased) {
    --erasedFrom;
  }
  if (erasedFrom == 0) {
    return "erased";
  }
  // Where the old content begins that an erase cut short left standing. Bytes that held
  // 0xFF before cannot tell erased from untouched: the erase reached at least this far.
  std::size_t asBeforeFrom = flash.size();
  while (asBeforeFrom > 0 && flash[asBeforeFrom - 1] == before[asBeforeFrom - 1]) {
    --asBeforeFrom;
  }
  if (PrefixEnd(flash, kErased) >= asBeforeFrom) {
    return "erased below " + Hex(asBeforeFrom) + ", as before from there";
  }
  if (std::equal(flash.begin(), flash.begin() + static_cast<std::ptrdiff_t>(erasedFrom),
                 updated.begin())) {
    return "the update up to " + Hex(erasedFrom - 1) + ", erased after it";
  }
  std::size_t differ = 0;
  for (std::size_t i = 0; i < flash.size(); ++i) {
    differ += flash[i] != updated[i];
  }
  return std::to_string(differ) + (differ == 1 ? " byte differs" : " bytes differ") +
         " from the update";
}

}  // namespace tools
