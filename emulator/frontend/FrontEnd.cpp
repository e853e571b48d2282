#include "FrontEnd.h"

#include <array>
#include <cstdio>
#include <fstream>
#include <sstream>

#include "SampleBios.h"

namespace emu {

bool SaveSampleBios(const std::string& path, std::uint16_t deviceId, std::string& error) {
  const std::vector<std::uint8_t> image = BuildSampleBios(NewerSampleBios(deviceId));
  std::ofstream file(path, std::ios::binary | std::ios::trunc);
  file.write(reinterpret_cast<const char*>(image.data()),
             static_cast<std::streamsize>(image.size()));
  file.close();
  if (!file) {
    std::remove(path.c_str());
    error = "cannot write the sample BIOS to '" + path + "'";
    return false;
  }
  return true;
}

int Refuse(const char* program, const std::string& reason) {
  std::fprintf(stderr, "%s: %s\n", program, reason.c_str());
  return kRefusedStatus;
}

std::optional<int> StartFrontEnd(const char* program, const std::string& usage,
                                 const std::vector<std::string>& args, FrontEndOptions& options) {
  // --save-sample-bios, --help and --version: nothing of the utility runs.
  constexpr int kEmulatorOnlyStatus = 0;
  std::string error;
  if (!ParseFrontEndOptions(args, options, error)) {
    return Refuse(program, error);
  }
  if (options.help || options.version) {
    const std::string text = options.help ? usage : std::string(program) + " " + TVR_VERSION + "\n";
    std::fputs(text.c_str(), stdout);
    return kEmulatorOnlyStatus;
  }
  if (options.sampleFile) {
    return SaveSampleBios(*options.sampleFile, options.sampleDeviceId, error)
               ? kEmulatorOnlyStatus
               : Refuse(program, error);
  }
  return std::nullopt;
}

std::string FormatStats(Machine& machine) {
  const Counters& counters = machine.Stats();
  const std::uint64_t ns = machine.Clock().Now();
  std::array<char, 48> seconds{};
  std::snprintf(seconds.data(), seconds.size(), "%llu.%09llu",
                static_cast<unsigned long long>(ns / 1000000000),
                static_cast<unsigned long long>(ns % 1000000000));
  std::ostringstream text;
  text << "virtual time: " << seconds.data() << " s\n"
       << "port reads: " << counters.portReads << "\n"
       << "port writes: " << counters.portWrites << "\n"
       << "device reads: " << counters.deviceReads << "\n"
       << "device writes: " << counters.deviceWrites << "\n";
  return text.str();
}

}  // namespace emu
