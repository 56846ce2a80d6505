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

std::vector<fs::path> Files(const fs::path& folder) {
  std::vector<fs::path> files;
  std::error_code ec;
  for (const auto& e : fs::directory_iterator(folder, ec))
    if (e.is_regular_file()) files.push_back(e.path());
  std::sort(files.begin(), files.end());
  return files;
}

void RunEach(const std::vector<fs::path>& files) {
  for (const fs::path& file : files) {
    SCOPED_TRACE(file.filename().string());
    std::string bytes = testing_support::ReadFileBytes(file.string());
    EXPECT_EQ(FuzzOne(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size()), 0);
  }
}

TEST(FuzzRegressions, EveryKeptInputRunsThrough) {
  std::vector<fs::path> files = Files(fs::path(CORVANE_FUZZ_REGRESSIONS) / CORVANE_FUZZ_TARGET);
  if (files.empty()) GTEST_SKIP() << "no kept inputs for " << CORVANE_FUZZ_TARGET;
  RunEach(files);
}

// The target's seeds from the shared test data: the entry runs on real files
// in the ordinary build too.
TEST(FuzzRegressions, TheSharedTestDataRunsThrough) {
#if defined(CORVANE_FUZZ_TESTDATA)
  std::vector<fs::path> files = Files(testing_support::TestData() / CORVANE_FUZZ_TESTDATA);
  REQUIRE_TEST_DATA(!files.empty());
  RunEach(files);
#else
  GTEST_SKIP() << CORVANE_FUZZ_TARGET << " is seeded from files made for it";
#endif
}

}  // namespace
