#include "fuzz_target.h"

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>

#include <standin/root.h>

#include "common/fresh_root.h"

namespace fs = std::filesystem;

namespace fuzzing {

namespace {

// The work root and the prepared machine's pristine copy, removed at exit.
struct Folders {
  testing_support::TempDir work;
  testing_support::TempDir pristine;
  bool prepared = false;
};

Folders& State() {
  static Folders folders;
  return folders;
}

void Empty(const std::string& folder) {
  std::error_code ec;
  for (const auto& entry : fs::directory_iterator(folder, ec)) fs::remove_all(entry.path(), ec);
}

}  // namespace

InputRoot::InputRoot() {
  Empty(path());
  testing_support::UseRoot(path());
}

InputRoot::InputRoot(const std::function<void(const std::string& root)>& prepare) {
  Folders& s = State();
  Empty(path());
  testing_support::UseRoot(path());
  if (!s.prepared) {
    prepare(path());
    fs::copy(path(), s.pristine.path(), fs::copy_options::recursive);
    s.prepared = true;
    return;
  }
  fs::copy(s.pristine.path(), path(), fs::copy_options::recursive);
}

const std::string& InputRoot::path() const { return State().work.path(); }

std::string InputRoot::File(const std::string& rel) const { return path() + "/" + rel; }

void Admin(const std::string& root, const std::vector<std::string>& args) {
  std::vector<std::string> argv = {testing_support::BuiltProgram("mapiadmin")};
  argv.insert(argv.end(), args.begin(), args.end());
  testing_support::ChildResult r = testing_support::RunChild(argv, {"CORVANE_PLATFORM_ROOT=" + root});
  if (r.exitCode != 0) {
    std::fprintf(stderr, "fuzz: mapiadmin %s failed:\n%s\n", args.empty() ? "" : args[0].c_str(), r.output.c_str());
    std::abort();
  }
}

std::u16string WindowsPath(const std::string& posixPath) { return standin::ToWindowsPath(posixPath); }

void WriteBytes(const std::string& path, std::string_view bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
}

}  // namespace fuzzing
