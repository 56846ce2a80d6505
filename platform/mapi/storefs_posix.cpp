#include "storefs.h"

#include <dirent.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

namespace standin::mapi::fs {

std::string DirectoryOf(const std::string& path) {
  size_t slash = path.rfind('/');
  if (slash == std::string::npos) return ".";
  return slash == 0 ? "/" : path.substr(0, slash);
}

std::string Join(const std::string& folder, const std::string& name) { return folder + "/" + name; }

bool IsRegularFile(const std::string& path) {
  struct stat st {};
  return ::stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

bool Exists(const std::string& path) {
  struct stat st {};
  return ::lstat(path.c_str(), &st) == 0;
}

bool FileSize(const std::string& path, uint64_t* size) {
  struct stat st {};
  if (::stat(path.c_str(), &st) != 0) return false;
  *size = static_cast<uint64_t>(st.st_size);
  return true;
}

bool FileIdentity(const std::string& path, std::pair<uint64_t, uint64_t>* id) {
  struct stat st {};
  if (::stat(path.c_str(), &st) != 0) return false;
  *id = {static_cast<uint64_t>(st.st_dev), static_cast<uint64_t>(st.st_ino)};
  return true;
}

long ReadHead(const std::string& path, void* buffer, size_t size) {
  FILE* f = std::fopen(path.c_str(), "rb");
  if (!f) return -1;
  size_t got = std::fread(buffer, 1, size, f);
  std::fclose(f);
  return static_cast<long>(got);
}

bool RemoveFile(const std::string& path, std::string* error) {
  if (::unlink(path.c_str()) == 0 || errno == ENOENT) return true;
  *error = std::strerror(errno);
  return false;
}

std::vector<std::string> ListFolder(const std::string& folder) {
  std::vector<std::string> names;
  DIR* dir = ::opendir(folder.c_str());
  if (!dir) return names;
  while (const dirent* entry = ::readdir(dir)) names.emplace_back(entry->d_name);
  ::closedir(dir);
  return names;
}

long CurrentProcess() { return static_cast<long>(::getpid()); }

bool ProcessGone(long process) { return ::kill(static_cast<pid_t>(process), 0) != 0 && errno == ESRCH; }

int NameNewFile(const std::string& from, const std::string& to, std::string* error) {
  // A link, not a rename: it never replaces a file that appeared meanwhile.
  if (::link(from.c_str(), to.c_str()) == 0) return 0;
  int code = errno;
  if (code == EEXIST) return 1;
  *error = std::strerror(code);
  return -1;
}

bool SyncFolder(const std::string& folder, std::string* error) {
  int dir = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  bool ok = dir >= 0 && ::fsync(dir) == 0;
  if (!ok) *error = std::strerror(errno);
  if (dir >= 0 && ::close(dir) != 0 && ok) {
    *error = "cannot close it: " + std::string(std::strerror(errno));
    ok = false;
  }
  return ok;
}

}  // namespace standin::mapi::fs
