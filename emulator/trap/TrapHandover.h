// What the harness hands to the library it preloads into the program: the emulator options
// that describe the machine, carried in one environment variable, and the descriptors of
// their handshake; and how the harness itself speaks and ends a run.
#pragma once

#include <optional>
#include <string>
#include <vector>

namespace trap {

// The preloaded library, beside the harness's own executable.
constexpr const char* kLibraryFile = "libtvrbios-trap.so";
// The machine's options; the library removes it from the program's environment.
constexpr const char* kMachineVariable = "TVRBIOS_TRAP_MACHINE";
// The handshake's descriptors; the library removes it from the program's environment too.
constexpr const char* kHandshakeVariable = "TVRBIOS_TRAP_HANDSHAKE";
// Every message of the harness and its library starts with this name and ": ". A bad
// option, or a machine or program that cannot be set up, ends the run with the emulator
// front end's refusal status: the program never ran.
constexpr const char* kProgram = "tvrbios-trap";
// The program did something the harness cannot emulate, or started another process; it
// was stopped there.
constexpr int kTrapFailureStatus = 3;

// The library, opened by the harness, goes into the program by its descriptor
// ("/proc/self/fd/N"), whatever blanks or colons the folder it lies in has. The library
// writes the program's process ID to `token` once the machine runs in the program, or
// kRefusalWord when it ends the run before, then closes both.
constexpr const char* kRefusalWord = "refused";
struct Handshake {
  int token = -1;
  int library = -1;
};
std::string EncodeHandshake(const Handshake& handshake);
std::optional<Handshake> DecodeHandshake(const std::string& text);

// Each argument as hexadecimal digits, separated by blanks, so that any byte survives.
std::string EncodeArguments(const std::vector<std::string>& args);
std::optional<std::vector<std::string>> DecodeArguments(const std::string& text);

}  // namespace trap
