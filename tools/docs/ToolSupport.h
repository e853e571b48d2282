// What the programs in tools/docs/ share: whole files as bytes, and a card's flash described
// against what it held before a run and what a complete update leaves.
#pragma once

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

namespace tools {

using Bytes = std::vector<std::uint8_t>;

Bytes ReadFile(const std::filesystem::path& path);
void WriteFile(const std::filesystem::path& path, const Bytes& bytes);

// "0x0C05F".
std::string Hex(std::size_t value);

// `untouched`, `updated`, `erased`, "erased below X, as before from there" (an erase cut
// short), "the update up to X, erased after it" (programming cut short), or how many bytes
// differ from the update.
std::string FlashState(const Bytes& flash, const Bytes& before, const Bytes& updated);

}  // namespace tools
