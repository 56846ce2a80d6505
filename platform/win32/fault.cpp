#include <standin/fault.h>

#include "terminate.h"

#include <cstdlib>
#include <map>
#include <mutex>
#include <string>

namespace standin {
namespace {

struct Fault {
  int32_t code = 0;
  unsigned nth = 0;  // 0: always
  bool armed = false;
  bool dies = false;  // the process is killed at the call instead
  unsigned calls = 0;
};

struct FaultTable {
  std::mutex lock;
  std::map<std::string, Fault, std::less<>> faults;
};

int32_t ParseCode(const std::string& text) {
  return static_cast<int32_t>(std::strtoll(text.c_str(), nullptr, 0));
}

// CORVANE_FAULTS="name=code[@n];..." arms faults in a child process; the code
// "kill" makes the process die there (SIGKILL), as a power cut or a killed
// host would stop it at that very call.
void LoadFromEnvironment(FaultTable& t) {
  const char* env = std::getenv("CORVANE_FAULTS");
  if (!env) return;
  std::string all(env);
  size_t start = 0;
  while (start < all.size()) {
    size_t end = all.find(';', start);
    if (end == std::string::npos) end = all.size();
    std::string item = all.substr(start, end - start);
    start = end + 1;
    size_t eq = item.find('=');
    if (eq == std::string::npos || eq == 0) continue;
    Fault f;
    std::string value = item.substr(eq + 1);
    size_t at = value.find('@');
    if (at != std::string::npos) {
      f.nth = static_cast<unsigned>(std::strtoul(value.c_str() + at + 1, nullptr, 10));
      value.resize(at);
    }
    f.dies = value == "kill";
    f.code = f.dies ? 0 : ParseCode(value);
    f.armed = true;
    t.faults[item.substr(0, eq)] = f;
  }
}

FaultTable& Table() {
  static FaultTable* table = [] {
    auto* t = new FaultTable;
    LoadFromEnvironment(*t);
    return t;
  }();
  return *table;
}

}  // namespace

void ArmFault(const std::string& call, int32_t code, unsigned nth) {
  FaultTable& t = Table();
  std::lock_guard<std::mutex> guard(t.lock);
  Fault& f = t.faults[call];
  f.code = code;
  f.nth = nth;
  f.armed = true;
  f.calls = 0;
}

void ClearFault(const std::string& call) {
  FaultTable& t = Table();
  std::lock_guard<std::mutex> guard(t.lock);
  t.faults.erase(call);
}

void ClearAllFaults() {
  FaultTable& t = Table();
  std::lock_guard<std::mutex> guard(t.lock);
  t.faults.clear();
}

unsigned FaultCallCount(const std::string& call) {
  FaultTable& t = Table();
  std::lock_guard<std::mutex> guard(t.lock);
  auto it = t.faults.find(call);
  return it == t.faults.end() ? 0 : it->second.calls;
}

bool TakeFault(const char* call, int32_t* code) {
  FaultTable& t = Table();
  std::lock_guard<std::mutex> guard(t.lock);
  if (t.faults.empty()) return false;
  auto it = t.faults.find(std::string_view(call));
  if (it == t.faults.end()) return false;
  Fault& f = it->second;
  ++f.calls;
  if (!f.armed || (f.nth != 0 && f.calls != f.nth)) return false;
  if (f.dies) KillThisProcess();
  *code = f.code;
  return true;
}

}  // namespace standin
