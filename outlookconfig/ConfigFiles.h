// The configuration files: where they are, the checks their paths pass, and
// writing a new set beside the old one so that the old set is replaced only by
// a complete new one.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

// The profiles export: the argument itself, or "olconfig.reg" in it when it
// names an existing folder. False for no argument, a path too long for it, a
// pattern or a device (logged with the argument).
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
// their places all together or not at all: each name always holds a whole
// file. A run stopped in the middle (a killed process, a power cut) is
// completed or undone by the next one (Recover). Temporaries not put in place
// are removed when the object goes.
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
  // Makes the files whole again after an earlier run that stopped: a commit
  // cut short is completed from its temporaries, files an earlier version set
  // aside come back, and (removeLeftovers) what an unfinished writing left is
  // removed. False, with *failed and the last error set, when a file cannot be
  // moved or removed.
  bool Recover(size_t* failed, bool removeLeftovers);
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
  // Removes the temporaries, the last first: false with *failed at the first
  // that cannot be removed; without failed, each failure is logged.
  bool RemoveTemporaries(size_t* failed);
  void Undo(size_t placed);

  std::vector<File> m_files;
};
