// Shared set-up for the support tests: a fresh root, and the library's log
// pointed at a file of the test (or at nothing) with a fixed clock.
#pragma once

#include <string>
#include <vector>

#include "common/fresh_root.h"
#include "support/Log.h"

namespace testing_support {

class LogCapture : public FreshRoot {
 protected:
  void SetUp() override;
  void TearDown() override;
  // Sends lines of the given level and up to the test's log file.
  void LogToFile(int level, int media = LOG_MEDIA_FILE);
  // The log file's lines without the byte-order mark, split at CRLF.
  std::vector<std::string> LogLines() const;
  std::string LogBytes() const;
  std::string DebuggerOutput() const;
  std::string logPath_;       // POSIX
  std::u16string logPathW_;   // as the library sees it

 private:
  LogSettings saved_{};
};

// 2026-03-04 13:05:09.007 UTC: the prefix every line of these tests carries.
extern const SYSTEMTIME kFixedTime;
std::string TimePrefix();

}  // namespace testing_support
