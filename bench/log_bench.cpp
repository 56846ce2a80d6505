// The log's costs: a dropped line must cost one comparison; a written line one
// open, append and close of the log file.
#include <benchmark/benchmark.h>

#include <cstdlib>
#include <filesystem>
#include <string>

#include <standin/root.h>

#include "support/Log.h"

namespace {

void BM_DroppedLine(benchmark::State& state) {
  LogSettings s = {true, LOG_ERROR, LOG_MEDIA_DEBUGGER, {}};
  ApplyLogSettings(s);
  for (auto _ : state) LogMessage(LOG_INFO, TEXT("copied %d of %s"), 3, TEXT("Inbox"));
}
BENCHMARK(BM_DroppedLine);

void BM_FileLine(benchmark::State& state) {
  std::string dir = std::filesystem::temp_directory_path() / "corvane-log-bench";
  std::filesystem::create_directories(dir);
  LogSettings s = {true, LOG_INFO, LOG_MEDIA_FILE, {}};
  wcscpy_s(s.szLogFile, standin::ToWindowsPath(dir + "/bench.log").c_str());
  ApplyLogSettings(s);
  for (auto _ : state)
    LogMessageAt(LOG_ERROR, TEXT(".\\MAPIPack\\MAPIFolder"), 212, TEXT("%s failed, HRESULT:0x%4x,error:%d"),
                 TEXT("pFolder->CopyMessages(&list, NULL, pDest, 0, NULL, 0)"), 0x80004005, 5);
  std::filesystem::remove_all(dir);
}
BENCHMARK(BM_FileLine);

void BM_FormatLine(benchmark::State& state) {
  WCHAR out[LOG_LINE_CHARS];
  for (auto _ : state) {
    _snwprintf_s(out, LOG_LINE_CHARS, _TRUNCATE, TEXT("File:'%s' Line: %d;  %s failed, HRESULT:0x%4x,error:%d"),
                 TEXT(".\\MAPIPack\\MAPIFolder"), 212, TEXT("pFolder->CopyMessages"), 0x80004005, 5);
    benchmark::DoNotOptimize(out);
  }
}
BENCHMARK(BM_FormatLine);

}  // namespace
