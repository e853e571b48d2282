// --help and the manual page against the tables the options are parsed with: every option,
// --card key, flash part, timing, refused call, fault and signal name the parser takes is in both.
#include <gtest/gtest.h>

#include <fstream>
#include <iterator>
#include <string>

#include "Fault.h"
#include "Options.h"

namespace emu {
namespace {

TEST(HelpText, HelpAndManualPageNameEveryTableEntry) {
  std::ifstream in(TVR_EMU_MANUAL);
  const std::string source((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  // Without the markup inside words: "\-" is a hyphen, "\fB" and its kind switch fonts.
  std::string page;
  for (std::size_t i = 0; i < source.size(); ++i) {
    const bool escape = source[i] == '\\' && i + 1 < source.size();
    if (escape && source[i + 1] == 'f') {
      i += 2;
    } else {
      page += escape && source[i + 1] == '-' ? source[++i] : source[i];
    }
  }
  const std::string help = FrontEndUsage();
  ASSERT_FALSE(page.empty());
  for (const auto& [names, suffix, inHelp] :
       {std::tuple{OptionNames(), "", true}, std::tuple{CardKeyNames(), "=", true},
        std::tuple{FlashPartKeys(), "", true}, std::tuple{TimingKeys(), "", true},
        std::tuple{RefusalNames(), "", true}, std::tuple{FaultNames(), "", true},
        std::tuple{SignalNames(), "", false}}) {
    for (const std::string_view name : names) {
      const std::string text = std::string(name) + suffix;
      EXPECT_TRUE(!inHelp || help.find(text) != std::string::npos)
          << "missing from --help: " << text;
      EXPECT_NE(page.find(text), std::string::npos) << "missing from the page: " << text;
    }
  }
}

}  // namespace
}  // namespace emu
