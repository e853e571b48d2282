// The emulator front end's fixed numbers: its exit statuses, where it puts cards and their
// apertures, and the date the generated pages and the scenario tests run on.
#pragma once

#include <cstdint>

namespace emu {

// The exit status of a front end that refuses its options or cannot set up its machine.
constexpr int kRefusedStatus = 2;
// An access that would have killed the process on a real machine.
constexpr int kFatalAccessStatus = 3;
// A power-cut fault struck: distinct from the utility's own 0 and 1, so that a test can
// tell the cut from an ordinary end.
constexpr int kPowerCutExitCode = 113;

// The built-in card's location: bus 1, device 0, function 0.
constexpr std::uint32_t kDefaultLocation = 0x100;
// Each card's register aperture gets its own window of the physical address space, in the
// order of the --card options.
constexpr std::uint32_t kFirstAperture = 0xF0000000;
constexpr std::uint32_t kApertureStride = 0x00100000;

// A run date that holds still, so that the PInS dates of generated pages and scenario
// outputs do not change from day to day.
constexpr const char* kFixedRunDate = "2026-12-09";

}  // namespace emu
