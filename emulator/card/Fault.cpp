#include "Fault.h"

#include <array>
#include <charconv>
#include <csignal>

namespace emu {
namespace {

// A fault is a switch (`flag` only), a count (`number` only), both, or a switch with a
// time (`flag` and `time`).
struct FaultName {
  std::string_view name;
  bool FaultSet::*flag;
  std::uint32_t FaultSet::*number;
  std::uint64_t FaultSet::*time = nullptr;
};

constexpr std::array<FaultName, 8> kFaultNames{{
    {"lines-busy", &FaultSet::linesBusy, nullptr},
    {"no-flash", &FaultSet::noFlash, nullptr},
    {"stuck-busy", &FaultSet::stuckBusy, nullptr},
    {"erase-hang", &FaultSet::eraseHang, nullptr},
    {"wp-stuck", &FaultSet::wpStuck, nullptr},
    {"corrupt-pass", nullptr, &FaultSet::corruptPasses},
    {"power-cut", &FaultSet::powerCut, &FaultSet::powerCutAfter},
    {"power-cut-at", &FaultSet::powerCutAt, nullptr, &FaultSet::powerCutAtNs},
}};

struct SignalName {
  std::string_view name;
  int signal;
};

constexpr std::array<SignalName, 11> kSignalNames{{
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
    {"STOP", SIGSTOP},
}};

constexpr std::string_view kSignalFault = "signal";
constexpr std::string_view kSignalExpected = "fault needs =NAME:N with a signal and a count: ";

struct TimeUnit {
  std::string_view suffix;
  std::uint64_t ns;
};
// The two-letter units first, so that "ms" is not taken for "s".
constexpr std::array<TimeUnit, 4> kTimeUnits{
    {{"ns", 1}, {"us", 1000}, {"ms", 1000000}, {"s", 1000000000}}};

constexpr std::string_view kUnknownFault = "unknown fault: ";
constexpr std::string_view kNumberExpected = "fault needs =N with a decimal count: ";
constexpr std::string_view kNumberNotTaken = "fault takes no number: ";
constexpr std::string_view kTimeExpected =
    "fault needs =TIME, a decimal count with ns, us, ms or s: ";

const FaultName* FindFault(std::string_view name) {
  for (const FaultName& entry : kFaultNames) {
    if (entry.name == name) {
      return &entry;
    }
  }
  return nullptr;
}

bool ParseCount(std::string_view text, std::uint32_t& value) {
  if (text.empty()) {
    return false;
  }
  const char* end = text.data() + text.size();
  const auto [stop, status] = std::from_chars(text.data(), end, value);
  return status == std::errc() && stop == end;
}

// A decimal count and its unit, in nanoseconds, without overflow.
bool ParseTime(std::string_view text, std::uint64_t& ns) {
  for (const TimeUnit& unit : kTimeUnits) {
    if (text.size() <= unit.suffix.size() ||
        text.substr(text.size() - unit.suffix.size()) != unit.suffix) {
      continue;
    }
    const std::string_view digits = text.substr(0, text.size() - unit.suffix.size());
    std::uint64_t count = 0;
    const char* end = digits.data() + digits.size();
    const auto [stop, status] = std::from_chars(digits.data(), end, count);
    if (status != std::errc() || stop != end || count > UINT64_MAX / unit.ns) {
      return false;
    }
    ns = count * unit.ns;
    return true;
  }
  return false;
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

std::vector<std::string_view> FaultNames() {
  std::vector<std::string_view> names;
  for (const FaultName& entry : kFaultNames) {
    names.push_back(entry.name);
  }
  names.push_back(kSignalFault);
  return names;
}

std::vector<std::string_view> SignalNames() {
  std::vector<std::string_view> names;
  for (const SignalName& entry : kSignalNames) {
    names.push_back(entry.name);
  }
  return names;
}

bool ParseFault(std::string_view name, FaultSet& faults, std::string& error) {
  const std::size_t equals = name.find('=');
  const bool hasNumber = equals != std::string_view::npos;
  if (name.substr(0, equals) == kSignalFault) {
    return ParseSignal(name, hasNumber ? name.substr(equals + 1) : std::string_view(), faults,
                       error);
  }
  const FaultName* entry = FindFault(name.substr(0, equals));
  if (entry == nullptr) {
    return Fail(error, kUnknownFault, name);
  }

  std::uint32_t count = 0;
  std::uint64_t ns = 0;
  if (entry->time != nullptr) {
    if (!hasNumber || !ParseTime(name.substr(equals + 1), ns)) {
      return Fail(error, kTimeExpected, name);
    }
  } else if (entry->number == nullptr) {
    if (hasNumber) {
      return Fail(error, kNumberNotTaken, name);
    }
  } else if (!hasNumber || !ParseCount(name.substr(equals + 1), count)) {
    return Fail(error, kNumberExpected, name);
  }

  if (entry->flag != nullptr) {
    faults.*(entry->flag) = true;
  }
  if (entry->number != nullptr) {
    faults.*(entry->number) = count;
  }
  if (entry->time != nullptr) {
    faults.*(entry->time) = ns;
  }
  return true;
}

}  // namespace emu
