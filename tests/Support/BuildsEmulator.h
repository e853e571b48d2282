// The processor emulator a build for another processor runs its programs through (qemu-i386
// for a 32-bit build on a kernel that cannot run 32-bit programs); empty when the kernel runs
// them itself.
#pragma once

namespace testbuild {

constexpr const char kBuildsEmulator[] = TVR_BUILDS_EMULATOR;
constexpr bool kThroughAnEmulator = kBuildsEmulator[0] != '\0';

// A death test's child that executes the test program again needs a kernel that runs it:
// through an emulator the child is a fork of the test instead.
constexpr const char* kDeathTestStyle = kThroughAnEmulator ? "fast" : "threadsafe";

}  // namespace testbuild
