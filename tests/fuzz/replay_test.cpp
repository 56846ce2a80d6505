// The inputs that once made a fuzz target fail, fed again to the same FuzzOne
// the fuzzer calls (built here without the fuzzer): each must now run through.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <string>
#include <vector>

#include "common/fresh_root.h"
#include "fuzz_target.h"

namespace fs = std::filesystem;

namespace {

std::vector<fs::path> KeptInputs() {
  std::vector<fs::path> files;
  std::error_code ec;
  for (const auto& e : fs::directory_iterator(fs::path(CORVANE_FUZZ_REGRESSIONS) / CORVANE_FUZZ_TARGET, ec))
    if (e.is_regular_file()) files.push_back(e.path());
  std::sort(files.begin(), files.end());
  return files;
}

TEST(FuzzRegressions, EveryKeptInputRunsThrough) {
  std::vector<fs::path> files = KeptInputs();
  if (files.empty()) GTEST_SKIP() << "no kept inputs for " << CORVANE_FUZZ_TARGET;
  for (const fs::path& file : files) {
    SCOPED_TRACE(file.filename().string());
    std::string bytes = testing_support::ReadFileBytes(file.string());
    EXPECT_EQ(FuzzOne(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size()), 0);
  }
}

}  // namespace
