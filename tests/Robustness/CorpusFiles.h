// The inputs kept for the fuzz targets, one folder per target: the committed corpora and the
// findings kept beside these tests.
#pragma once

#include <algorithm>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <system_error>
#include <vector>

// The files of `target`'s folders, in name order.
inline std::vector<std::filesystem::path> CorpusFiles(const std::string& target) {
  std::vector<std::filesystem::path> files;
  for (const std::filesystem::path root : {TVR_FUZZ_CORPUS_DIR, TVR_FUZZ_FINDINGS_DIR}) {
    std::error_code missing;  // a target need not have a folder of findings
    for (const std::filesystem::directory_entry& entry :
         std::filesystem::directory_iterator(root / target, missing)) {
      if (entry.is_regular_file()) {
        files.push_back(entry.path());
      }
    }
  }
  std::sort(files.begin(), files.end());
  return files;
}

inline std::vector<std::uint8_t> ReadAll(const std::filesystem::path& file) {
  std::ifstream in(file, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}
