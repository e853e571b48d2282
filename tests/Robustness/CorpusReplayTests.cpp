// Every input of the fuzz targets' corpora, and every input a fuzz run once found, run
// through its target as a regular test: under the sanitizer build this replays the fuzzing
// without clang, and a finding stays fixed.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <string>
#include <vector>

#include "CorpusFiles.h"
#include "FuzzRig.h"
#include "FuzzTargets.h"

namespace {

namespace fs = std::filesystem;

using Target = int (*)(const std::uint8_t*, std::size_t);

struct Input {
  std::string target;  // the corpus folder's name
  fs::path file;
};

void PrintTo(const Input& input, std::ostream* out) { *out << input.file.string(); }

struct TargetEntry {
  const char* folder;
  Target run;
};

constexpr TargetEntry kTargets[] = {
    {"commandline", fuzz::CommandLineTarget},
    {"pinstext", fuzz::PinsTextTarget},
    {"biosfile", fuzz::BiosFileTarget},
    {"flashimage", fuzz::FlashImageTarget},
};

std::vector<Input> AllInputs() {
  std::vector<Input> inputs;
  for (const TargetEntry& target : kTargets) {
    for (const fs::path& file : CorpusFiles(target.folder)) {
      inputs.push_back({target.folder, file});
    }
  }
  return inputs;
}

Target Find(const std::string& folder) {
  for (const TargetEntry& target : kTargets) {
    if (folder == target.folder) {
      return target.run;
    }
  }
  return nullptr;
}

class CorpusReplay : public ::testing::TestWithParam<Input> {};

TEST_P(CorpusReplay, KeepsEveryPromise) {
  const Input& input = GetParam();
  const Target run = Find(input.target);
  ASSERT_NE(run, nullptr);
  const std::vector<std::uint8_t> bytes = ReadAll(input.file);
  try {
    EXPECT_EQ(run(bytes.data(), bytes.size()), 0);
  } catch (const fuzz::Finding& finding) {
    ADD_FAILURE() << input.file << ": " << finding.what();
  }
}

std::string InputName(const ::testing::TestParamInfo<Input>& info) {
  std::string name = info.param.file.parent_path().parent_path().filename().string() + "_" +
                     info.param.target + "_" + info.param.file.filename().string();
  std::replace_if(
      name.begin(), name.end(), [](char c) { return !std::isalnum(static_cast<unsigned char>(c)); },
      '_');
  return name;
}

INSTANTIATE_TEST_SUITE_P(Inputs, CorpusReplay, ::testing::ValuesIn(AllInputs()), InputName);

TEST(CorpusReplay, EveryTargetHasSeeds) {
  for (const TargetEntry& target : kTargets) {
    const fs::path folder = fs::path(TVR_FUZZ_CORPUS_DIR) / target.folder;
    ASSERT_TRUE(fs::is_directory(folder)) << folder;
    EXPECT_FALSE(fs::is_empty(folder)) << folder;
  }
}

}  // namespace
