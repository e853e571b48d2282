// The fuzz targets. Each takes one input and returns 0; a broken promise of the code under
// test throws a Finding, a memory or undefined-behaviour fault is left to the sanitizers.
#pragma once

#include <cstddef>
#include <cstdint>

namespace fuzz {

// The command-line parser on an arbitrary string.
int CommandLineTarget(const std::uint8_t* data, std::size_t size);
// The PInS text import on arbitrary text over the sample card's PInS.
int PinsTextTarget(const std::uint8_t* data, std::size_t size);
// The BIOS-file checks, the file report, the replacement of the BIOS and the assembly of
// the image written back, on arbitrary file contents against the emulated card.
int BiosFileTarget(const std::uint8_t* data, std::size_t size);
// The image object created on a card whose flash holds arbitrary content, then every
// read-only switch and the card report.
int FlashImageTarget(const std::uint8_t* data, std::size_t size);

}  // namespace fuzz
