// --help and the manual page against the tables the options are parsed with: every option,
// --card key, flash part, timing, fault and signal name the parser takes is in both.
#include <gtest/gtest.h>

#include <fstream>
#include <iterator>
#include <regex>
#include <string>

#include "Fault.h"
#include "Options.h"

namespace emu {
namespace {

TEST(HelpText, HelpAndManualPageNameEveryTableEntry) {
  std::ifstream in(TVR_EMU_MANUAL);
  const std::string source((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  // Without the markup inside words: "\-" is a hyphen, "\fB" and its kind switch fonts.
  const std::string page = std::regex_replace(std::regex_replace(source, std::regex(R"(\\-)"), "-"),
                                              std::regex(R"(\\f.)"), "");
  const std::string help = FrontEndUsage();
  ASSERT_FALSE(page.empty());
  for (const auto& [names, suffix, inHelp] :
       {std::tuple{OptionNames(), "", true}, std::tuple{CardKeyNames(), "=", true},
        std::tuple{FlashPartKeys(), "", true}, std::tuple{TimingKeys(), "", true},
        std::tuple{FaultNames(), "", true}, std::tuple{SignalNames(), "", false}}) {
    for (const std::string_view name : names) {
      const std::string text = std::string(name) + suffix;
      EXPECT_TRUE(!inHelp || help.find(text) != std::string::npos) << "missing from --help: " << text;
      EXPECT_NE(page.find(text), std::string::npos) << "missing from the page: " << text;
    }
  }
}

}  // namespace
}  // namespace emu
