#include "EmuFault.h"

#include <array>
#include <charconv>
#include <csignal>

namespace emu {
namespace {

// A fault is either a switch (`flag` only), a count (`number` only) or both.
struct FaultName {
  std::string_view name;
  bool FaultSet::*flag;
  std::uint32_t FaultSet::*number;
};

constexpr std::array<FaultName, 7> kFaultNames{{
    {"lines-busy", &FaultSet::linesBusy, nullptr},
    {"no-flash", &FaultSet::noFlash, nullptr},
    {"stuck-busy", &FaultSet::stuckBusy, nullptr},
    {"erase-hang", &FaultSet::eraseHang, nullptr},
    {"wp-stuck", &FaultSet::wpStuck, nullptr},
    {"corrupt-pass", nullptr, &FaultSet::corruptPasses},
    {"power-cut", &FaultSet::powerCut, &FaultSet::powerCutAfter},
}};

struct SignalName {
  std::string_view name;
  int signal;
};

constexpr std::array<SignalName, 10> kSignalNames{{
    {"INT", SIGINT},
    {"TERM", SIGTERM},
    {"HUP", SIGHUP},
    {"QUIT", SIGQUIT},
    {"TSTP", SIGTSTP},
    {"USR1", SIGUSR1},
    {"ALRM", SIGALRM},
    {"PIPE", SIGPIPE},
    {"XFSZ", SIGXFSZ},
    {"KILL", SIGKILL},
}};

constexpr std::string_view kSignalFault = "signal";
constexpr std::string_view kSignalExpected = "fault needs =NAME:N with a signal and a count: ";
constexpr std::string_view kUnknownFault = "unknown fault: ";
constexpr std::string_view kNumberExpected = "fault needs =N with a decimal count: ";
constexpr std::string_view kNumberNotTaken = "fault takes no number: ";

const FaultName* FindFault(std::string_view name) {
  for (const FaultName& entry : kFaultNames) {
    if (entry.name == name) return &entry;
  }
  return nullptr;
}

bool ParseCount(std::string_view text, std::uint32_t& value) {
  if (text.empty()) return false;
  const char* end = text.data() + text.size();
  const auto [stop, status] = std::from_chars(text.data(), end, value);
  return status == std::errc() && stop == end;
}

bool Fail(std::string& error, std::string_view reason, std::string_view name) {
  error = std::string(reason) + std::string(name);
  return false;
}

// "NAME:N" of the signal fault.
bool ParseSignal(std::string_view name, std::string_view value, FaultSet& faults,
                 std::string& error) {
  const std::size_t colon = value.find(':');
  std::uint32_t count = 0;
  if (colon == std::string_view::npos || !ParseCount(value.substr(colon + 1), count)) {
    return Fail(error, kSignalExpected, name);
  }
  for (const SignalName& entry : kSignalNames) {
    if (entry.name == value.substr(0, colon)) {
      faults.signal = entry.signal;
      faults.signalAfterBytes = count;
      return true;
    }
  }
  return Fail(error, kSignalExpected, name);
}

}  // namespace

bool ParseFault(std::string_view name, FaultSet& faults, std::string& error) {
  const std::size_t equals = name.find('=');
  const bool hasNumber = equals != std::string_view::npos;
  if (name.substr(0, equals) == kSignalFault) {
    return ParseSignal(name, hasNumber ? name.substr(equals + 1) : std::string_view(), faults, error);
  }
  const FaultName* entry = FindFault(name.substr(0, equals));
  if (entry == nullptr) return Fail(error, kUnknownFault, name);

  std::uint32_t count = 0;
  if (entry->number == nullptr) {
    if (hasNumber) return Fail(error, kNumberNotTaken, name);
  } else if (!hasNumber || !ParseCount(name.substr(equals + 1), count)) {
    return Fail(error, kNumberExpected, name);
  }

  if (entry->flag != nullptr) faults.*(entry->flag) = true;
  if (entry->number != nullptr) faults.*(entry->number) = count;
  return true;
}

}  // namespace emu
