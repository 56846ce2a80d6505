#include "system_programs.h"

#include <cstdlib>
#include <filesystem>

#include <standin/root.h>

#include "mapiadmin.h"

namespace fs = std::filesystem;

namespace mapiadmin {

void UsePlatformRoot(const std::string& root) { setenv("CORVANE_PLATFORM_ROOT", root.c_str(), 1); }

std::string InstalledWhere() { return standin::PlatformRoot(); }

bool HasAccountManager() { return true; }

void InstallSystemPrograms() {
  std::error_code ec;
  const fs::path editor = fs::read_symlink("/proc/self/exe", ec).parent_path() / "windows" / "regedit";
  if (ec || !fs::is_regular_file(editor, ec)) throw Failure("the registry editor is missing: " + editor.string());
  const fs::path folder = standin::RootPath("Windows");
  const fs::path installed = folder / "regedit.exe";
  fs::create_directories(folder, ec);
  if (!ec) fs::remove(installed, ec);
  if (!ec) fs::create_symlink(editor, installed, ec);
  if (ec) throw Failure("cannot put the registry editor into " + folder.string() + ": " + ec.message());
}

}  // namespace mapiadmin
