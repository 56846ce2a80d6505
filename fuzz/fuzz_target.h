// A fuzz target: FuzzOne reads one input the way the library or a tool reads
// data from outside. libFuzzer calls it for each generated input; the test
// suite calls it for each input kept in fuzz/regressions/<target>/.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

// Returns 0; a defect shows as a crash or a sanitizer report.
int FuzzOne(const uint8_t* data, size_t size);

namespace fuzzing {

// The platform root every input of this process runs on: one fixed folder,
// emptied before each input (or set back to the prepared machine), so that an
// input runs the same whether it comes first or after a million others. The
// machine's own records (profiles, store paths) name this folder, which is why
// it is reset in place rather than copied to a new one.
class InputRoot {
 public:
  // An empty machine.
  InputRoot();
  // The machine that prepare made once per process (below the root given to it).
  explicit InputRoot(const std::function<void(const std::string& root)>& prepare);
  InputRoot(const InputRoot&) = delete;
  InputRoot& operator=(const InputRoot&) = delete;
  // POSIX path of the root, and of a place below it.
  const std::string& path() const;
  std::string File(const std::string& rel) const;
};

// The admin tool run on the root (a failure stops the process: the target
// cannot run without its machine).
void Admin(const std::string& root, const std::vector<std::string>& args);

// POSIX path -> the path the library and the stand-in's API take.
std::u16string WindowsPath(const std::string& posixPath);

void WriteBytes(const std::string& path, std::string_view bytes);

}  // namespace fuzzing
