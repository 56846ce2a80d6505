// The library's log sent to a file of the test, every level and without the
// time prefix, so that its lines can be matched; the settings it replaced
// come back with Stop. For test programs that link the library's objects.
#pragma once

#include <standin/root.h>
#include <wcrt.h>

#include <filesystem>
#include <string>
#include <vector>

#include "common/fresh_root.h"
#include "support/Log.h"

namespace testing_support {

class LibraryLogFile {
 public:
  // Sends the log to path (its folder is made), remembering the settings in
  // force the first time.
  void Start(const std::string& path) {
    if (!started_) saved_ = g_logSettings;
    started_ = true;
    path_ = path;
    std::filesystem::create_directories(std::filesystem::path(path).parent_path());
    LogSettings s = {false, LOG_INFO, LOG_MEDIA_FILE, {}};
    std::u16string wide = standin::ToWindowsPath(path);
    wcscpy_s(s.szLogFile, wide.c_str());
    ApplyLogSettings(s);
  }
  void Stop() {
    if (started_) g_logSettings = saved_;
    started_ = false;
  }
  bool Active() const { return g_logSettings.nMedia == LOG_MEDIA_FILE; }
  void Clear() const { std::filesystem::remove(path_); }
  // The lines without the byte-order mark; empty lines dropped.
  std::vector<std::string> Lines() const {
    std::string bytes = ReadFileBytes(path_);
    if (bytes.rfind("\xEF\xBB\xBF", 0) == 0) bytes.erase(0, 3);
    std::vector<std::string> lines;
    size_t start = 0;
    for (size_t end; (end = bytes.find("\r\n", start)) != std::string::npos; start = end + 2)
      if (end > start) lines.push_back(bytes.substr(start, end - start));
    return lines;
  }
  std::string Text() const {
    std::string all;
    for (const std::string& line : Lines()) all += line + "\n";
    return all;
  }

 private:
  std::string path_;
  LogSettings saved_{};
  bool started_ = false;
};

}  // namespace testing_support
