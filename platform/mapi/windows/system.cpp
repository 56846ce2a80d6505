// The Windows side of the seams the stand-in's MAPI subsystem has with its
// system: the store files' file system (storefs.h), the end of a process at a
// fault armed as "kill", and case folding. Compiled against the real Windows
// headers, apart from the stand-in's, and reaching the system only here.
#include <windows.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "storefs.h"
#include "terminate.h"

namespace {

std::wstring Wide(const std::string& utf8) {
  if (utf8.empty()) return {};
  int n = MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()), nullptr, 0);
  if (n <= 0) return {};
  std::wstring out(static_cast<size_t>(n), L'\0');
  if (MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()), out.data(), n) != n) return {};
  return out;
}

std::string Narrow(const wchar_t* wide) {
  int n = WideCharToMultiByte(CP_UTF8, 0, wide, -1, nullptr, 0, nullptr, nullptr);
  if (n <= 1) return {};
  std::string out(static_cast<size_t>(n), '\0');
  if (WideCharToMultiByte(CP_UTF8, 0, wide, -1, out.data(), n, nullptr, nullptr) != n) return {};
  out.resize(static_cast<size_t>(n - 1));
  return out;
}

std::string ErrorText(DWORD code) { return "Windows error " + std::to_string(code); }

bool Attributes(const std::string& path, WIN32_FILE_ATTRIBUTE_DATA* data) {
  std::wstring wide = Wide(path);
  return !wide.empty() && GetFileAttributesExW(wide.c_str(), GetFileExInfoStandard, data);
}

// Closes a handle of the system when it goes out of scope.
struct HandleOwner {
  HANDLE handle;
  ~HandleOwner() {
    if (handle && handle != INVALID_HANDLE_VALUE) CloseHandle(handle);
  }
};

}  // namespace

namespace standin::mapi::fs {

std::string DirectoryOf(const std::string& path) {
  size_t sep = path.find_last_of("\\/");
  if (sep == std::string::npos) return ".";
  // "C:\a" is in "C:\", "\a" in "\".
  if (sep == 0 || (sep == 2 && path[1] == ':')) return path.substr(0, sep + 1);
  return path.substr(0, sep);
}

std::string Join(const std::string& folder, const std::string& name) {
  if (!folder.empty() && (folder.back() == '\\' || folder.back() == '/')) return folder + name;
  return folder + "\\" + name;
}

bool IsRegularFile(const std::string& path) {
  WIN32_FILE_ATTRIBUTE_DATA data{};
  return Attributes(path, &data) && !(data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY);
}

bool Exists(const std::string& path) {
  WIN32_FILE_ATTRIBUTE_DATA data{};
  return Attributes(path, &data);
}

bool FileSize(const std::string& path, uint64_t* size) {
  WIN32_FILE_ATTRIBUTE_DATA data{};
  if (!Attributes(path, &data) || (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)) return false;
  *size = (static_cast<uint64_t>(data.nFileSizeHigh) << 32) | data.nFileSizeLow;
  return true;
}

bool FileIdentity(const std::string& path, std::pair<uint64_t, uint64_t>* id) {
  std::wstring wide = Wide(path);
  if (wide.empty()) return false;
  HandleOwner file{CreateFileW(wide.c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                               OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr)};
  BY_HANDLE_FILE_INFORMATION info{};
  if (file.handle == INVALID_HANDLE_VALUE || !GetFileInformationByHandle(file.handle, &info)) return false;
  *id = {info.dwVolumeSerialNumber, (static_cast<uint64_t>(info.nFileIndexHigh) << 32) | info.nFileIndexLow};
  return true;
}

long ReadHead(const std::string& path, void* buffer, size_t size) {
  std::wstring wide = Wide(path);
  if (wide.empty()) return -1;
  HandleOwner file{CreateFileW(wide.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                               nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr)};
  if (file.handle == INVALID_HANDLE_VALUE) return -1;
  DWORD got = 0;
  if (!ReadFile(file.handle, buffer, static_cast<DWORD>(size), &got, nullptr)) return -1;
  return static_cast<long>(got);
}

bool RemoveFile(const std::string& path, std::string* error) {
  std::wstring wide = Wide(path);
  if (wide.empty()) {
    *error = "not a path";
    return false;
  }
  if (DeleteFileW(wide.c_str())) return true;
  DWORD code = GetLastError();
  if (code == ERROR_FILE_NOT_FOUND || code == ERROR_PATH_NOT_FOUND) return true;
  *error = ErrorText(code);
  return false;
}

std::vector<std::string> ListFolder(const std::string& folder) {
  std::vector<std::string> names;
  std::wstring pattern = Wide(Join(folder, "*"));
  WIN32_FIND_DATAW entry{};
  HANDLE find = pattern.empty() ? INVALID_HANDLE_VALUE : FindFirstFileW(pattern.c_str(), &entry);
  if (find == INVALID_HANDLE_VALUE) return names;
  do {
    names.push_back(Narrow(entry.cFileName));
  } while (FindNextFileW(find, &entry));
  FindClose(find);
  return names;
}

long CurrentProcess() { return static_cast<long>(GetCurrentProcessId()); }

bool ProcessGone(long process) {
  HandleOwner handle{OpenProcess(SYNCHRONIZE, FALSE, static_cast<DWORD>(process))};
  // No such process: its identifier names nothing any more.
  if (!handle.handle) return GetLastError() == ERROR_INVALID_PARAMETER;
  return WaitForSingleObject(handle.handle, 0) == WAIT_OBJECT_0;
}

int NameNewFile(const std::string& from, const std::string& to, std::string* error) {
  std::wstring source = Wide(from), target = Wide(to);
  if (source.empty() || target.empty()) {
    *error = "not a path";
    return -1;
  }
  // A move without MOVEFILE_REPLACE_EXISTING never replaces a file that
  // appeared meanwhile; written through, the new name is durable when it
  // returns.
  if (MoveFileExW(source.c_str(), target.c_str(), MOVEFILE_WRITE_THROUGH)) return 0;
  DWORD code = GetLastError();
  if (code == ERROR_ALREADY_EXISTS || code == ERROR_FILE_EXISTS) return 1;
  *error = ErrorText(code);
  return -1;
}

// NameNewFile already wrote the name through: there is nothing left to flush.
bool SyncFolder(const std::string&, std::string*) { return true; }

}  // namespace standin::mapi::fs

namespace standin {

void KillThisProcess() {
  TerminateProcess(GetCurrentProcess(), 9);
  std::abort();  // not reached: the process ends in TerminateProcess
}

// The registry's case folding: upper case, by the system's invariant table.
char16_t FoldCase(char16_t c) {
  if (c < 0x80) return (c >= u'a' && c <= u'z') ? static_cast<char16_t>(c - 32) : c;
  if (c >= 0xD800 && c <= 0xDFFF) return c;
  wchar_t in = static_cast<wchar_t>(c), out = 0;
  if (LCMapStringW(LOCALE_INVARIANT, LCMAP_UPPERCASE, &in, 1, &out, 1) != 1) return c;
  return static_cast<char16_t>(out);
}

}  // namespace standin
