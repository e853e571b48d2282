// --help and the manual page against the tables the options are parsed with: every option,
// --card key, flash part, timing, fault and signal name the parser takes is in both.
#include <gtest/gtest.h>

#include <fstream>
#include <sstream>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "Fault.h"
#include "Options.h"

namespace emu {
namespace {

// The page's text with the markup that sits inside words taken out: "\-" is a hyphen,
// "\fB" and its kind switch fonts.
std::string ManualText(const char* path) {
  std::ifstream in(path);
  std::stringstream page;
  page << in.rdbuf();
  std::string text = page.str();
  std::string plain;
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (text.compare(i, 2, "\\-") == 0) {
      plain += '-';
      ++i;
    } else if (text.compare(i, 2, "\\f") == 0) {
      i += 2;
    } else {
      plain += text[i];
    }
  }
  return plain;
}

std::vector<std::string> WithSuffix(const std::vector<std::string_view>& names, std::string_view suffix) {
  std::vector<std::string> texts;
  for (const std::string_view name : names) texts.push_back(std::string(name) + std::string(suffix));
  return texts;
}

TEST(HelpText, HelpAndManualPageNameEveryTableEntry) {
  const std::string help = FrontEndUsage();
  const std::string page = ManualText(TVR_EMU_MANUAL);
  ASSERT_FALSE(page.empty());
  const std::vector<std::pair<const char*, std::vector<std::string>>> lists{
      {"option", WithSuffix(OptionNames(), "")},
      {"card key", WithSuffix(CardKeyNames(), "=")},
      {"flash part", WithSuffix(FlashPartKeys(), "")},
      {"timing", WithSuffix(TimingKeys(), "")},
      {"fault", WithSuffix(FaultNames(), "")},
  };
  for (const auto& [what, names] : lists) {
    for (const std::string& name : names) {
      EXPECT_NE(help.find(name), std::string::npos) << what << " missing from --help: " << name;
      EXPECT_NE(page.find(name), std::string::npos) << what << " missing from the page: " << name;
    }
  }
  // --help names the signal fault's form; the page lists the signals.
  for (const std::string& name : WithSuffix(SignalNames(), "")) {
    EXPECT_NE(page.find(name), std::string::npos) << "signal missing from the page: " << name;
  }
}

}  // namespace
}  // namespace emu
