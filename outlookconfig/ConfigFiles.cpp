#include "outlookconfig/ConfigFiles.h"

#include <shlwapi.h>
#include <wcrt.h>

#include "support/Log.h"
#include "support/OutlookTrivial.h"

namespace {

const WCHAR kProfilesFileName[] = TEXT("olconfig.reg");
// Beside each file: its new content until it takes its place, and a copy of
// the old one while it does.
const WCHAR kTemporarySuffix[] = TEXT(".new");
const WCHAR kPreviousSuffix[] = TEXT(".old");

bool Exists(const std::basic_string<WCHAR>& path) { return GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES; }

// Moves a file over another; the last error is kept for the caller.
bool MoveOver(const std::basic_string<WCHAR>& from, const std::basic_string<WCHAR>& to) {
  return MoveFileExW(from.c_str(), to.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH) != FALSE;
}

}  // namespace

bool ResolveConfigFile(LPCWSTR argument, WCHAR (&file)[MAX_PATH]) {
  if (!argument) return false;
  bool fits = true;
  if (PathIsDirectoryW(argument)) {
    fits = wcscpy_s(file, argument) == 0;
    size_t length = fits ? wcslen(file) : 0;
    if (fits && (length == 0 || file[length - 1] != TEXT('\\'))) fits = wcscat_s(file, TEXT("\\")) == 0;
    fits = fits && wcscat_s(file, kProfilesFileName) == 0;
  } else {
    fits = wcscpy_s(file, argument) == 0;
  }
  // A pattern or a device would write or read some other file than the one
  // named: refused here, with what was named.
  if (!fits || HasWildcard(file) || NamesDevice(file)) {
    file[0] = 0;
    LogMessage(LOG_ERROR, TEXT("A invalid path: %s"), argument);
    return false;
  }
  return true;
}

bool HasFileType(LPCWSTR path, LPCWSTR type) {
  if (!path || !type) return false;
  LPCWSTR extension = PathFindExtensionW(path);
  if (!extension || extension[0] != TEXT('.')) return false;
  return lstrcmpiW(extension + 1, type) == 0;
}

bool HasExistingFolder(LPCWSTR path) {
  WCHAR folder[MAX_PATH] = {};
  if (!path || wcscpy_s(folder, path) != 0) return false;
  if (!PathRemoveFileSpecW(folder) || folder[0] == 0) return false;
  return PathIsDirectoryW(folder) != FALSE;
}

bool IsNonEmptyFile(LPCWSTR path) {
  WIN32_FILE_ATTRIBUTE_DATA data = {};
  if (!path || !GetFileAttributesExW(path, GetFileExInfoStandard, &data)) return false;
  return !(data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) && (data.nFileSizeLow != 0 || data.nFileSizeHigh != 0);
}

bool ReplaceFileName(LPCWSTR path, LPCWSTR name, WCHAR (&file)[MAX_PATH]) {
  WCHAR folder[MAX_PATH] = {};
  if (!path || wcscpy_s(folder, path) != 0 || !PathRemoveFileSpecW(folder)) return false;
  return PathCombineW(file, folder, name) != nullptr;
}

CReplacementFiles::~CReplacementFiles() { RemoveTemporaries(nullptr); }

bool CReplacementFiles::Add(LPCWSTR file) {
  File f;
  f.final = file ? file : TEXT("");
  f.temporary = f.final + kTemporarySuffix;
  f.previous = f.final + kPreviousSuffix;
  if (f.final.empty() || f.temporary.size() >= MAX_PATH || f.previous.size() >= MAX_PATH) return false;
  m_files.push_back(std::move(f));
  return true;
}

bool CReplacementFiles::RemoveTemporaries(size_t* failed) {
  // The last first: temporaries are written and put in place first to last,
  // so one left without those before it tells of a commit cut short.
  for (size_t i = m_files.size(); i-- > 0;) {
    const File& f = m_files[i];
    if (!Exists(f.temporary) || DeleteFileW(f.temporary.c_str())) continue;
    if (!failed) {
      LogMessage(LOG_ERROR, TEXT("Could not delete the file:%s,Error:%d"), f.temporary.c_str(), GetLastError());
      continue;
    }
    *failed = i;
    return false;
  }
  return true;
}

bool CReplacementFiles::Recover(size_t* failed, bool removeLeftovers) {
  const size_t count = m_files.size();
  // An earlier version set the old files aside before the new ones came:
  // one missing with its old file beside it means all come back.
  bool setAside = false;
  for (const File& f : m_files) setAside = setAside || (!Exists(f.final) && Exists(f.previous));
  size_t first = 0;
  while (first < count && !Exists(m_files[first].temporary)) ++first;
  if (setAside || first == 0 || first == count) {
    for (size_t i = 0; setAside && i < count; ++i) {
      if (Exists(m_files[i].previous) && !MoveOver(m_files[i].previous, m_files[i].final)) {
        *failed = i;
        return false;
      }
    }
    // What a writing that did not finish left.
    return !removeLeftovers || RemoveTemporaries(failed);
  }
  // A commit cut short after its first moves: the rest of the new files are
  // whole, and take their places.
  LogMessage(LOG_INFO, TEXT("Completing the replacement of the file:%s"), m_files[0].final.c_str());
  for (size_t i = first; i < count; ++i) {
    if (Exists(m_files[i].temporary) && !MoveOver(m_files[i].temporary, m_files[i].final)) {
      *failed = i;
      return false;
    }
  }
  return true;
}

bool CReplacementFiles::IsWritten(size_t i) const { return IsNonEmptyFile(m_files[i].temporary.c_str()); }

bool CReplacementFiles::Commit(size_t* failed) {
  // Copies of the old files are the way back should a file not take its
  // place. Each new file replaces its old one in one move: no name is ever
  // without a whole file.
  for (size_t i = 0; i < m_files.size(); ++i) {
    File& f = m_files[i];
    f.hadPrevious = Exists(f.final);
    if (f.hadPrevious && !CopyFileW(f.final.c_str(), f.previous.c_str(), FALSE)) {
      *failed = i;
      Undo(0);
      return false;
    }
  }
  for (size_t i = 0; i < m_files.size(); ++i) {
    if (!MoveOver(m_files[i].temporary, m_files[i].final)) {
      *failed = i;
      Undo(i);
      return false;
    }
  }
  for (const File& f : m_files) {
    // The new set is in place: an old copy that stays behind is only untidy.
    if (f.hadPrevious && !DeleteFileW(f.previous.c_str()))
      LogMessage(LOG_ERROR, TEXT("Could not delete the file:%s,Error:%d"), f.previous.c_str(), GetLastError());
  }
  return true;
}

void CReplacementFiles::Undo(size_t placed) {
  DWORD error = GetLastError();
  // The temporaries not placed go first, so that nothing later takes the
  // files for a commit cut short.
  RemoveTemporaries(nullptr);
  for (size_t i = 0; i < m_files.size(); ++i) {
    const File& f = m_files[i];
    if (i < placed) {
      bool back = f.hadPrevious ? MoveOver(f.previous, f.final) : DeleteFileW(f.final.c_str()) != FALSE;
      if (!back) LogMessage(LOG_ERROR, TEXT("Could not restore the file:%s,Error:%d"), f.final.c_str(), GetLastError());
    } else if (f.hadPrevious && !DeleteFileW(f.previous.c_str())) {
      LogMessage(LOG_ERROR, TEXT("Could not delete the file:%s,Error:%d"), f.previous.c_str(), GetLastError());
    }
  }
  SetLastError(error);
}
