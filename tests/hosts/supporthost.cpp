// A small host program for the support tests. Placed beside a "corvane.ini" in
// a temporary folder, it loads the log settings as the library does at load
// time, then runs the steps given as arguments:
//   log:<level>:<text>                 LogMessage with a literal or format text
//   logat:<level>:<file>:<line>:<text> LogMessageAt
//   fmt:<level>:<format>:<number>      LogMessage with one numeric value
//   threads:<n>:<lines>                n threads logging <lines> lines each
//   banner                             LogSessionBanner
//   acquire:<holdms>                   AutoMutex::Acquire, hold, release
//   hold                               AutoMutex::Acquire and never release
// Options before the steps: --no-load (do not read the settings).
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "support/AutoMutex.h"
#include "support/Log.h"
#include "support/OutlookTrivial.h"

namespace {

std::vector<std::string> Split(const std::string& s, size_t parts) {
  std::vector<std::string> out;
  size_t start = 0;
  while (out.size() + 1 < parts) {
    size_t colon = s.find(':', start);
    if (colon == std::string::npos) break;
    out.push_back(s.substr(start, colon - start));
    start = colon + 1;
  }
  out.push_back(s.substr(start));
  return out;
}

std::u16string W(const std::string& s) { return standin::ToUtf16(s); }

void Say(const char* text) {
  std::printf("%s\n", text);
  std::fflush(stdout);
}

}  // namespace

int main(int argc, char** argv) {
  int first = 1;
  if (argc > 1 && std::strcmp(argv[1], "--no-load") == 0) ++first;
  else LoadLogSettings();

  for (int i = first; i < argc; ++i) {
    std::string step = argv[i];
    if (step.rfind("log:", 0) == 0) {
      auto p = Split(step, 3);
      LogMessage(std::atoi(p[1].c_str()), W(p[2]).c_str());
    } else if (step.rfind("logat:", 0) == 0) {
      auto p = Split(step, 5);
      std::u16string file = W(p[2]);
      LogMessageAt(std::atoi(p[1].c_str()), p[2] == "null" ? nullptr : file.c_str(), std::atoi(p[3].c_str()),
                   W(p[4]).c_str());
    } else if (step.rfind("fmt:", 0) == 0) {
      auto p = Split(step, 4);
      LogMessage(std::atoi(p[1].c_str()), W(p[2]).c_str(), std::atoi(p[3].c_str()));
    } else if (step.rfind("threads:", 0) == 0) {
      auto p = Split(step, 3);
      int n = std::atoi(p[1].c_str()), lines = std::atoi(p[2].c_str());
      std::vector<std::thread> threads;
      for (int t = 0; t < n; ++t)
        threads.emplace_back([t, lines] {
          for (int k = 0; k < lines; ++k)
            LogMessage(LOG_ERROR, TEXT("writer %d line %d of a line long enough to be written in pieces %s"), t,
                       k, TEXT("0123456789abcdefghijklmnopqrstuvwxyz0123456789abcdefghijklmnopqrstuvwxyz"));
        });
      for (auto& t : threads) t.join();
    } else if (step == "banner") {
      LogSessionBanner();
    } else if (step.rfind("acquire:", 0) == 0) {
      int hold = std::atoi(step.c_str() + 8);
      {
        AutoMutex mutex;
        DWORD r = mutex.Acquire();
        std::printf("acquire=%u\n", r);
        std::fflush(stdout);
        Sleep(static_cast<DWORD>(hold));
        Say("releasing");
      }
    } else if (step == "hold") {
      AutoMutex mutex;
      std::printf("acquire=%u\n", mutex.Acquire());
      Say("holding");
      for (;;) Sleep(1000);
    } else {
      std::fprintf(stderr, "supporthost: unknown step %s\n", step.c_str());
      return 2;
    }
  }
  std::fflush(stdout);
  return 0;
}
