#include "outlookconfig/ConfigFiles.h"

#include <shlwapi.h>
#include <wcrt.h>

#include "support/Log.h"
#include "support/OutlookTrivial.h"

namespace {

const WCHAR kProfilesFileName[] = TEXT("olconfig.reg");
// Beside each file: its new content until it is complete, and the old one
// while the new one takes its place.
const WCHAR kTemporarySuffix[] = TEXT(".new");
const WCHAR kPreviousSuffix[] = TEXT(".old");

bool Exists(const std::basic_string<WCHAR>& path) { return GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES; }

// Moves a file over another; the last error is kept for the caller.
bool MoveOver(const std::basic_string<WCHAR>& from, const std::basic_string<WCHAR>& to) {
  return MoveFileExW(from.c_str(), to.c_str(), MOVEFILE_REPLACE_EXISTING) != FALSE;
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
  // A pattern or a device would write or read some other file than the one named.
  if (!fits || HasWildcard(file) || NamesDevice(file)) {
    file[0] = 0;
    LogMessage(LOG_ERROR, TEXT("A invalid path: %s"), argument);
  }
  return fits;
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

CReplacementFiles::~CReplacementFiles() {
  for (const File& f : m_files) {
    if (!Exists(f.temporary)) continue;
    if (!DeleteFileW(f.temporary.c_str()))
      LogMessage(LOG_ERROR, TEXT("Could not delete the file:%s,Error:%d"), f.temporary.c_str(), GetLastError());
  }
}

bool CReplacementFiles::Add(LPCWSTR file) {
  File f;
  f.final = file ? file : TEXT("");
  f.temporary = f.final + kTemporarySuffix;
  f.previous = f.final + kPreviousSuffix;
  if (f.final.empty() || f.temporary.size() >= MAX_PATH || f.previous.size() >= MAX_PATH) return false;
  m_files.push_back(std::move(f));
  return true;
}

bool CReplacementFiles::ClearTemporary(size_t i) {
  return !Exists(m_files[i].temporary) || DeleteFileW(m_files[i].temporary.c_str());
}

bool CReplacementFiles::IsWritten(size_t i) const { return IsNonEmptyFile(m_files[i].temporary.c_str()); }

bool CReplacementFiles::Commit(size_t* failed) {
  const size_t count = m_files.size();
  // The old files step aside first, so that any of them can come back.
  for (size_t i = 0; i < count; ++i) {
    File& f = m_files[i];
    f.hadPrevious = Exists(f.final);
    if (f.hadPrevious && !MoveOver(f.final, f.previous)) {
      *failed = i;
      Undo(i, 0);
      return false;
    }
  }
  for (size_t i = 0; i < count; ++i) {
    if (!MoveOver(m_files[i].temporary, m_files[i].final)) {
      *failed = i;
      Undo(count, i);
      return false;
    }
  }
  for (const File& f : m_files) {
    // The new set is in place: an old file that stays behind is only untidy.
    if (f.hadPrevious && !DeleteFileW(f.previous.c_str()))
      LogMessage(LOG_ERROR, TEXT("Could not delete the file:%s,Error:%d"), f.previous.c_str(), GetLastError());
  }
  return true;
}

void CReplacementFiles::Undo(size_t setAside, size_t placed) {
  DWORD error = GetLastError();
  for (size_t i = 0; i < placed; ++i) {
    if (!MoveOver(m_files[i].final, m_files[i].temporary))
      LogMessage(LOG_ERROR, TEXT("Could not delete the file:%s,Error:%d"), m_files[i].final.c_str(), GetLastError());
  }
  for (size_t i = 0; i < setAside; ++i) {
    if (m_files[i].hadPrevious && !MoveOver(m_files[i].previous, m_files[i].final))
      LogMessage(LOG_ERROR, TEXT("Could not restore the file:%s,Error:%d"), m_files[i].final.c_str(), GetLastError());
  }
  SetLastError(error);
}
