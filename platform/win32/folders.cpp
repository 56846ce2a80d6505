// Special folders of the platform root and folder creation.
#include <sys/stat.h>

#include <filesystem>

#include "internal.h"

namespace fs = std::filesystem;

namespace standin {

std::string UserName() {
  std::string user = MachineSetting("user", "user");
  // A user name is one path component.
  if (user.empty() || user.find('/') != std::string::npos || user == "." || user == "..") user = "user";
  return user;
}

}  // namespace standin

using namespace standin;

namespace {

// The folder's place below the root, or empty for an unknown folder.
std::string SpecialFolder(int csidl) {
  const std::string home = "Users/" + UserName();
  switch (csidl & 0xFF) {
    case CSIDL_DESKTOP: return home + "/Desktop";
    case CSIDL_PERSONAL: return home + "/Documents";
    case CSIDL_APPDATA: return home + "/AppData/Roaming";
    case CSIDL_LOCAL_APPDATA: return home + "/AppData/Local";
    case CSIDL_PROFILE: return home;
    case CSIDL_COMMON_APPDATA: return "ProgramData";
    case CSIDL_WINDOWS: return "Windows";
    case CSIDL_SYSTEM: return "Windows/System32";
    case CSIDL_PROGRAM_FILES: return "Program Files";
    default: return {};
  }
}

}  // namespace

extern "C" {

BOOL WINAPI SHGetSpecialFolderPathW(HWND, LPWSTR path, int csidl, BOOL create) {
  if (FaultedWithLastError("SHGetSpecialFolderPathW")) return FALSE;
  if (!path) return Fail(ERROR_INVALID_PARAMETER);
  std::string rel = SpecialFolder(csidl);
  if (rel.empty()) return Fail(ERROR_INVALID_PARAMETER);
  std::string full = RootPath(rel);
  std::error_code ec;
  // The machine's standard folders always exist, as on an installed system.
  fs::create_directories(full, ec);
  if (!fs::is_directory(full, ec)) return Fail(ERROR_FILE_NOT_FOUND);
  std::u16string w = ToWindowsPath(full);
  if (w.size() >= MAX_PATH) return Fail(ERROR_FILENAME_EXCED_RANGE);
  std::copy(w.begin(), w.end(), path);
  path[w.size()] = 0;
  return TRUE;
}

HRESULT WINAPI SHGetFolderPathW(HWND hwnd, int csidl, HANDLE, DWORD, LPWSTR path) {
  std::string rel = SpecialFolder(csidl);
  if (rel.empty()) return E_INVALIDARG;
  // The platform reports a folder that does not exist yet with its path all the same.
  std::string full = RootPath(rel);
  std::error_code ec;
  if (csidl & CSIDL_FLAG_CREATE) fs::create_directories(full, ec);
  std::u16string w = ToWindowsPath(full);
  if (!path || w.size() >= MAX_PATH) return E_INVALIDARG;
  std::copy(w.begin(), w.end(), path);
  path[w.size()] = 0;
  return fs::is_directory(full, ec) ? S_OK : S_FALSE;
}

int WINAPI SHCreateDirectoryExW(HWND, LPCWSTR path, const SECURITY_ATTRIBUTES*) {
  int32_t code;
  if (TakeFault("SHCreateDirectoryExW", &code)) return code;
  std::string p;
  if (!path || PathIsRelativeW(path)) return ERROR_BAD_PATHNAME;
  if (!PosixFromArg(path, &p)) return ERROR_BAD_PATHNAME;
  struct stat st {};
  if (stat(p.c_str(), &st) == 0) return S_ISDIR(st.st_mode) ? ERROR_ALREADY_EXISTS : ERROR_FILE_EXISTS;
  std::error_code ec;
  fs::create_directories(p, ec);
  if (ec) return ErrorFromErrno(ec.value());
  return ERROR_SUCCESS;
}

int WINAPI SHCreateDirectory(HWND hwnd, LPCWSTR path) {
  int32_t code;
  if (TakeFault("SHCreateDirectory", &code)) return code;
  return SHCreateDirectoryExW(hwnd, path, nullptr);
}

}  // extern "C"
