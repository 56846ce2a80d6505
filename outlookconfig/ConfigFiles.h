// The configuration files: where they are, the checks their paths pass, and
// writing a new set beside the old one so that the old set is replaced only by
// a complete new one.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

// The profiles export: the argument itself, or "olconfig.reg" in it when it
// names an existing folder. False for no argument or a path too long for it.
bool ResolveConfigFile(LPCWSTR argument, WCHAR (&file)[MAX_PATH]);
// Whether the path's extension is type, without regard to case.
bool HasFileType(LPCWSTR path, LPCWSTR type);
// Whether the path has a folder part that exists as a folder.
bool HasExistingFolder(LPCWSTR path);
// Whether a file (not a folder) is at path with something in it.
bool IsNonEmptyFile(LPCWSTR path);
// The file name of path replaced by name, in file; false when it does not fit.
bool ReplaceFileName(LPCWSTR path, LPCWSTR name, WCHAR (&file)[MAX_PATH]);

// Files written under temporary names beside the ones they replace, and put in
// their places all together or not at all. Temporaries not put in place are
// removed when the object goes.
class CReplacementFiles {
 public:
  CReplacementFiles() = default;
  ~CReplacementFiles();
  CReplacementFiles(const CReplacementFiles&) = delete;
  CReplacementFiles& operator=(const CReplacementFiles&) = delete;

  // Adds a file to replace; false when its temporary names would not fit
  // MAX_PATH.
  bool Add(LPCWSTR file);
  // Where the new content of the i-th file is written.
  LPCWSTR Temporary(size_t i) const { return m_files[i].temporary.c_str(); }
  LPCWSTR Final(size_t i) const { return m_files[i].final.c_str(); }
  // Clears the way for the i-th temporary (one left by an earlier run is
  // removed); false with the last error set when it cannot be removed.
  bool ClearTemporary(size_t i);
  // Whether the i-th temporary was written and holds something.
  bool IsWritten(size_t i) const;
  // Puts every temporary in the place of its file. On failure every file is
  // as it was; *failed tells which file could not be replaced, with the last
  // error set.
  bool Commit(size_t* failed);

 private:
  struct File {
    std::basic_string<WCHAR> final, temporary, previous;
    bool hadPrevious = false;
  };
  void Undo(size_t setAside, size_t placed);

  std::vector<File> m_files;
};
