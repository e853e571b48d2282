#include "Options.h"

#include <array>
#include <cerrno>
#include <charconv>
#include <string_view>

#include "SampleBios.h"

namespace emu {
namespace {

constexpr std::string_view kOptionPrefix = "--";
constexpr std::uint32_t kMaxLocation = 0xFFFF;
constexpr FlashPart kDefaultPart = FlashPart::M25p10;

// A value of a card key by its name.
template <class T>
struct Named {
  std::string_view name;
  T value;
};

constexpr std::array<Named<FlashPart>, 3> kPartNames{{
    {"at25f1024", FlashPart::At25f1024},
    {"m25p10", FlashPart::M25p10},
    {"sst25vf010", FlashPart::Sst25vf010},
}};

bool Fail(std::string& error, const std::string& reason) {
  error = reason;
  return false;
}

// Hexadecimal digits with an optional leading 0x, at most `max`.
bool ParseHex(std::string_view text, std::uint32_t max, std::uint32_t& value) {
  if (text.size() > 2 && (text.substr(0, 2) == "0x" || text.substr(0, 2) == "0X")) {
    text.remove_prefix(2);
  }
  if (text.empty()) {
    return false;
  }
  const char* end = text.data() + text.size();
  const auto [stop, status] = std::from_chars(text.data(), end, value, 16);
  return status == std::errc() && stop == end && value <= max;
}

bool ParseDecimal(std::string_view text, std::uint32_t& value) {
  const char* end = text.data() + text.size();
  const auto [stop, status] = std::from_chars(text.data(), end, value);
  return !text.empty() && status == std::errc() && stop == end;
}

bool IsLeapYear(int year) { return (year % 4 == 0 && year % 100 != 0) || year % 400 == 0; }

int DaysInMonth(int year, int month) {
  constexpr std::array<int, 12> kDays{31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  return month == 2 && IsLeapYear(year) ? 29 : kDays[static_cast<std::size_t>(month - 1)];
}

// YYYY-MM-DD, a real calendar day.
bool ParseDate(std::string_view text, std::tm& date) {
  std::uint32_t year = 0;
  std::uint32_t month = 0;
  std::uint32_t day = 0;
  if (text.size() != 10 || text[4] != '-' || text[7] != '-' ||
      !ParseDecimal(text.substr(0, 4), year) || !ParseDecimal(text.substr(5, 2), month) ||
      !ParseDecimal(text.substr(8, 2), day)) {
    return false;
  }
  if (year < 1900 || month < 1 || month > 12 || day < 1 ||
      static_cast<int>(day) > DaysInMonth(static_cast<int>(year), static_cast<int>(month))) {
    return false;
  }
  date = std::tm{};
  date.tm_year = static_cast<int>(year) - 1900;
  date.tm_mon = static_cast<int>(month) - 1;
  date.tm_mday = static_cast<int>(day);
  return true;
}

// "KEY=VALUE" split at the first "=".
std::pair<std::string_view, std::string_view> SplitKey(std::string_view item) {
  const std::size_t equals = item.find('=');
  if (equals == std::string_view::npos) {
    return {item, std::string_view()};
  }
  return {item.substr(0, equals), item.substr(equals + 1)};
}

std::vector<std::string_view> SplitCommas(std::string_view text) {
  std::vector<std::string_view> items;
  std::size_t start = 0;
  for (;;) {
    const std::size_t comma = text.find(',', start);
    items.push_back(text.substr(start, comma == std::string_view::npos ? comma : comma - start));
    if (comma == std::string_view::npos) {
      return items;
    }
    start = comma + 1;
  }
}

bool ParseModel(std::string_view value, std::uint16_t& deviceId) {
  const std::optional<std::uint16_t> found = SampleModelDeviceId(value);
  if (!found) {
    return false;
  }
  deviceId = *found;
  return true;
}

// What one KEY=VALUE of --card does to the card; false when the value is bad.
using CardKeyParser = bool (*)(std::string_view value, FrontEndCard& card, std::string& error);

struct CardKey {
  std::string_view key;
  CardKeyParser parse;
};

bool BadValue(std::string& error, std::string_view key, std::string_view value) {
  return Fail(error, "bad value for " + std::string(key) + ": '" + std::string(value) + "'");
}

template <class T, std::size_t N>
bool ParseNamedKey(const std::array<Named<T>, N>& names, std::string_view key,
                   std::string_view value, T& field, std::string& error) {
  for (const Named<T>& entry : names) {
    if (entry.name == value) {
      field = entry.value;
      return true;
    }
  }
  return BadValue(error, key, value);
}

bool ParseHex16Key(std::string_view key, std::string_view value, std::uint16_t& field,
                   std::string& error) {
  std::uint32_t number = 0;
  if (!ParseHex(value, 0xFFFF, number)) {
    return BadValue(error, key, value);
  }
  field = static_cast<std::uint16_t>(number);
  return true;
}

constexpr std::array<Named<FlashTiming>, 2> kTimingNames{{
    {"typical", FlashTiming::Typical},
    {"max", FlashTiming::Max},
}};

constexpr std::array<CardKey, 11> kCardKeys{{
    {"model",
     [](std::string_view value, FrontEndCard& card, std::string& error) {
       return ParseModel(value, card.options.deviceId) || BadValue(error, "model", value);
     }},
    {"devid",
     [](std::string_view value, FrontEndCard& card, std::string& error) {
       return ParseHex16Key("devid", value, card.options.deviceId, error);
     }},
    {"vendor",
     [](std::string_view value, FrontEndCard& card, std::string& error) {
       return ParseHex16Key("vendor", value, card.options.vendorId, error);
     }},
    {"subsys",
     [](std::string_view value, FrontEndCard& card, std::string& error) {
       std::uint32_t word = 0;
       if (!ParseHex(value, 0xFFFFFFFF, word)) {
         return BadValue(error, "subsys", value);
       }
       card.options.subsystemVendorId = static_cast<std::uint16_t>(word & 0xFFFF);
       card.options.subsystemId = static_cast<std::uint16_t>(word >> 16);
       return true;
     }},
    {"flash",
     [](std::string_view value, FrontEndCard& card, std::string& error) {
       return ParseNamedKey(kPartNames, "flash", value, card.options.part, error);
     }},
    {"image",
     [](std::string_view value, FrontEndCard& card, std::string& error) {
       card.imageFile = std::string(value);
       return !value.empty() || BadValue(error, "image", value);
     }},
    {"state",
     [](std::string_view value, FrontEndCard& card, std::string& error) {
       card.stateFile = std::string(value);
       return !value.empty() || BadValue(error, "state", value);
     }},
    {"cfg40",
     [](std::string_view value, FrontEndCard& card, std::string& error) {
       return ParseHex(value, 0xFFFFFFFF, card.options.biosWord) || BadValue(error, "cfg40", value);
     }},
    {"fault", [](std::string_view value, FrontEndCard& card,
                 std::string& error) { return ParseFault(value, card.options.faults, error); }},
    {"timing",
     [](std::string_view value, FrontEndCard& card, std::string& error) {
       return ParseNamedKey(kTimingNames, "timing", value, card.options.timing, error);
     }},
    // The part's block protection and lock bits at power-up, instead of a card in the
    // field's: status=0 starts it unlocked.
    {"status",
     [](std::string_view value, FrontEndCard& card, std::string& error) {
       std::uint32_t bits = 0;
       if (!ParseHex(value, 0xFF, bits)) {
         return BadValue(error, "status", value);
       }
       card.options.flashStatus = static_cast<std::uint8_t>(bits);
       return true;
     }},
}};

FrontEndCard DefaultCard() {
  FrontEndCard card;
  card.location = kDefaultLocation;
  card.options.part = kDefaultPart;
  return card;
}

bool ParseCard(std::string_view value, FrontEndCard& card, std::string& error) {
  const std::vector<std::string_view> items = SplitCommas(value);
  card = DefaultCard();
  if (!ParseHex(items[0], kMaxLocation, card.location)) {
    return Fail(error, "bad --card location: '" + std::string(items[0]) + "'");
  }
  for (std::size_t i = 1; i < items.size(); ++i) {
    const auto [key, keyValue] = SplitKey(items[i]);
    const CardKey* found = nullptr;
    for (const CardKey& entry : kCardKeys) {
      if (entry.key == key) {
        found = &entry;
      }
    }
    if (found == nullptr) {
      return Fail(error, "unknown --card key: '" + std::string(key) + "'");
    }
    if (!found->parse(keyValue, card, error)) {
      return false;
    }
  }
  return true;
}

bool ParseSampleOption(std::string_view value, FrontEndOptions& options, std::string& error) {
  const std::vector<std::string_view> items = SplitCommas(value);
  if (items[0].empty()) {
    return Fail(error, "--save-sample-bios needs a file name");
  }
  options.sampleFile = std::string(items[0]);
  for (std::size_t i = 1; i < items.size(); ++i) {
    const auto [key, keyValue] = SplitKey(items[i]);
    if (key != "model") {
      return Fail(error, "unknown --save-sample-bios key: '" + std::string(key) + "'");
    }
    if (!ParseModel(keyValue, options.sampleDeviceId)) {
      return BadValue(error, "model", keyValue);
    }
  }
  return true;
}

bool ParseTraceOption(std::string_view value, FrontEndOptions& options, std::string& error) {
  const std::vector<std::string_view> items = SplitCommas(value);
  if (items[0].empty()) {
    return Fail(error, "--vcd needs a file name");
  }
  FrontEndTrace trace;
  trace.file = std::string(items[0]);
  for (std::size_t i = 1; i < items.size(); ++i) {
    const auto [key, keyValue] = SplitKey(items[i]);
    std::uint32_t number = 0;
    if (key == "skip") {
      if (!ParseDecimal(keyValue, trace.window.skip)) {
        return BadValue(error, key, keyValue);
      }
    } else if (key == "keep" || key == "last") {
      if (!ParseDecimal(keyValue, number) || number == 0) {
        return BadValue(error, key, keyValue);
      }
      (key == "keep" ? trace.window.keep : trace.window.last) = number;
    } else if (key == "card") {
      if (!ParseHex(keyValue, kMaxLocation, number)) {
        return BadValue(error, key, keyValue);
      }
      trace.location = number;
    } else {
      return Fail(error, "unknown --vcd key: '" + std::string(key) + "'");
    }
  }
  if (trace.window.last && (trace.window.skip != 0 || trace.window.keep)) {
    return Fail(error, "--vcd takes last= or skip= and keep=, not both");
  }
  options.traces.push_back(trace);
  return true;
}

// A trace names a card that some --card put there, or the built-in one.
bool TracesFindTheirCards(const FrontEndOptions& options, std::string& error) {
  for (const FrontEndTrace& trace : options.traces) {
    bool found = !trace.location;
    for (const FrontEndCard& card : options.cards) {
      found = found || card.location == *trace.location;
    }
    if (!found) {
      return Fail(error, "--vcd names no card: '" + trace.file + "'");
    }
  }
  return true;
}

// One option and its value.
using OptionParser = bool (*)(std::string_view value, FrontEndOptions& options, std::string& error);

// An option without a value that switches one flag on.
template <bool FrontEndOptions::*flag>
bool SetFlag(std::string_view, FrontEndOptions& options, std::string&) {
  options.*flag = true;
  return true;
}

struct Option {
  std::string_view name;
  bool takesValue;
  OptionParser parse;
};

// Three nanosecond costs: a port access, a device read, a device write.
bool ParseBusCosts(std::string_view value, FrontEndOptions& options, std::string& error) {
  const std::vector<std::string_view> items = SplitCommas(value);
  std::array<std::uint32_t, 3> ns{};
  if (items.size() != ns.size()) {
    return BadValue(error, "--bus-costs", value);
  }
  for (std::size_t i = 0; i < ns.size(); ++i) {
    if (!ParseDecimal(items[i], ns[i])) {
      return BadValue(error, "--bus-costs", value);
    }
  }
  options.costs = AccessCosts{ns[0], ns[1], ns[2]};
  return true;
}

struct Refusal {
  std::string_view call;  // CALL=ERROR
  Request request;
  int reason;
};

constexpr std::array<Refusal, 4> kRefusals{{
    {"iopl=EPERM", Request::IoPrivilege, EPERM},
    {"iopl=ENOSYS", Request::IoPrivilege, ENOSYS},
    {"open=EPERM", Request::PhysicalMemory, EPERM},
    {"mmap=EPERM", Request::Mapping, EPERM},
}};

bool ParseRefusal(std::string_view value, FrontEndOptions& options, std::string& error) {
  for (const Refusal& refusal : kRefusals) {
    if (refusal.call == value) {
      options.refusals[static_cast<std::size_t>(refusal.request)] = refusal.reason;
      return true;
    }
  }
  return BadValue(error, "--refuse", value);
}

constexpr std::array<Option, 10> kOptions{{
    {"--card", true,
     [](std::string_view value, FrontEndOptions& options, std::string& error) {
       FrontEndCard card;
       if (!ParseCard(value, card, error)) {
         return false;
       }
       for (const FrontEndCard& other : options.cards) {
         if (other.location == card.location) {
           return Fail(error,
                       "two cards at location " + std::string(value.substr(0, value.find(','))));
         }
       }
       options.cards.push_back(card);
       return true;
     }},
    {"--uid", true,
     [](std::string_view value, FrontEndOptions& options, std::string& error) {
       return ParseDecimal(value, options.uid) || BadValue(error, "--uid", value);
     }},
    {"--date", true,
     [](std::string_view value, FrontEndOptions& options, std::string& error) {
       std::tm date{};
       if (!ParseDate(value, date)) {
         return BadValue(error, "--date", value);
       }
       options.date = date;
       return true;
     }},
    {"--stats", false, SetFlag<&FrontEndOptions::stats>},
    {"--save-sample-bios", true, ParseSampleOption},
    {"--vcd", true, ParseTraceOption},
    {"--help", false, SetFlag<&FrontEndOptions::help>},
    {"--version", false, SetFlag<&FrontEndOptions::version>},
    {"--bus-costs", true, ParseBusCosts},
    {"--refuse", true, ParseRefusal},
}};

// The names of a table's rows, in order.
template <class Row, std::size_t N>
std::vector<std::string_view> NamesOf(const std::array<Row, N>& table,
                                      std::string_view Row::*name) {
  std::vector<std::string_view> names;
  for (const Row& row : table) {
    names.push_back(row.*name);
  }
  return names;
}

const Option* FindOption(std::string_view name) {
  for (const Option& option : kOptions) {
    if (option.name == name) {
      return &option;
    }
  }
  return nullptr;
}

}  // namespace

bool ParseFrontEndOptions(const std::vector<std::string>& args, FrontEndOptions& options,
                          std::string& error) {
  options = FrontEndOptions{};
  std::size_t i = 0;
  while (i < args.size() && args[i].compare(0, kOptionPrefix.size(), kOptionPrefix) == 0) {
    const std::string& name = args[i++];
    if (name == kOptionPrefix) {
      break;
    }
    const Option* option = FindOption(name);
    if (option == nullptr) {
      return Fail(error, "unknown option: '" + name + "'");
    }
    std::string_view value;
    if (option->takesValue) {
      if (i == args.size()) {
        return Fail(error, name + " needs a value");
      }
      value = args[i++];
    }
    if (!option->parse(value, options, error)) {
      return false;
    }
  }
  options.utilityArgs.assign(args.begin() + static_cast<std::ptrdiff_t>(i), args.end());
  if (options.cards.empty()) {
    options.cards.push_back(DefaultCard());
  }
  return TracesFindTheirCards(options, error);
}

namespace {
// The models a card may name: the sample keys of the card table, "lumivane-a|...".
std::string SampleKeys() {
  std::string keys;
  for (const TvrCard& card : kTvrCards) {
    keys += (keys.empty() ? "" : "|") + std::string(card.pszSampleKey);
  }
  return keys;
}
}  // namespace

std::string MachineOptionsHelp() {
  return "  --card LOC[,KEY=VALUE]...  a card at PCI location LOC (hexadecimal); keys:\n"
         "        model=" +
         SampleKeys() +
         ", devid=HEX, vendor=HEX, subsys=HEX,\n"
         "        flash=at25f1024|m25p10|sst25vf010, image=FILE, state=FILE, cfg40=HEX,\n"
         "        timing=typical|max, status=HEX (power-up protection bits; 0: unlocked),\n"
         "        fault=NAME (lines-busy, no-flash, stuck-busy, erase-hang, wp-stuck,\n"
         "        corrupt-pass=N, power-cut=N, power-cut-at=TIME, signal=NAME:N)\n"
         "  --bus-costs PORT,READ,WRITE  ns of a port access, a device read and write\n"
         "  --uid N                    the user ID the utility sees (default 0)\n"
         "  --date YYYY-MM-DD          the date stamped into the PInS (default today)\n"
         "  --stats                    virtual time and access counts at exit\n"
         "  --refuse CALL=ERROR        the system refuses the utility a call: iopl=EPERM\n"
         "                             (lockdown), iopl=ENOSYS (no port I/O), open=EPERM\n"
         "                             (the memory device), mmap=EPERM (an aperture a driver\n"
         "                             has claimed) (repeatable)\n"
         "  --vcd FILE[,skip=N][,keep=N|,last=N][,card=LOC]\n"
         "                             record a card's lines as a Value Change Dump:\n"
         "                             after skip cycles of chip select, keep cycles, or\n"
         "                             the last cycles of the run (repeatable)\n"
         "  --save-sample-bios FILE[,model=M]  write a sample BIOS and exit\n"
         "  --help                     this text\n"
         "  --version                  the version\n";
}

std::string FrontEndUsage() {
  return "Usage: tvrbios-emu [OPTION]... [--] [SWITCH [OPERAND]]...\n"
         "Runs the Tavrin BIOS update utility on an emulated machine; the switches are the\n"
         "utility's own (/o, /i, /k, /d, /ds, /s, /dmcs, /tvout, /scan, /dev).\n"
         "\n" +
         MachineOptionsHelp() +
         "\n"
         "Exit status: 1 when the utility succeeded, 0 when not, 2 for a bad option,\n"
         "3 for an access that kills a real process, 113 when a power-cut fault struck,\n"
         "128 + N after signal N.\n";
}

std::vector<std::string_view> OptionNames() { return NamesOf(kOptions, &Option::name); }
std::vector<std::string_view> CardKeyNames() { return NamesOf(kCardKeys, &CardKey::key); }
std::vector<std::string_view> FlashPartKeys() {
  return NamesOf(kPartNames, &Named<FlashPart>::name);
}
std::vector<std::string_view> TimingKeys() {
  return NamesOf(kTimingNames, &Named<FlashTiming>::name);
}
std::vector<std::string_view> RefusalNames() { return NamesOf(kRefusals, &Refusal::call); }

}  // namespace emu
