// The flat exports: each operation runs on a facade of its own, made and
// destroyed for the call. Strings handed out are buffers of FLAT_STRING_CHARS
// characters from the library's array allocator, returned with FreeArray2.
#include "facade/OutlookFacade2.h"

#include <memory>
#include <new>
#include <vector>

#include "MAPIPack/MAPIWrapper.h"
#include "facade/Boundary.h"
#include "support/Log.h"

namespace {

// Strings given to the synchronisation are held in buffers of this size.
constexpr size_t kSyncStringChars = 256;

// A flat string: the text, cut to FLAT_STRING_CHARS - 1 characters; null when
// no memory is left.
LPWSTR NewFlatString(LPCWSTR text) {
  LPWSTR buffer = new (std::nothrow) WCHAR[FLAT_STRING_CHARS];
  if (buffer) wcsncpy_s(buffer, FLAT_STRING_CHARS, text, _TRUNCATE);
  return buffer;
}

// Copies text into a fixed buffer; false, with a log line, when it does not fit.
template <size_t N>
bool CopyArgument(WCHAR (&buffer)[N], LPCWSTR text, LPCWSTR what) {
  if (!text) return false;
  if (wcscpy_s(buffer, text) == 0) return true;
  LogMessage(LOG_ERROR, TEXT("The %s is too long: %s"), what, text);
  return false;
}

}  // namespace

extern "C" {

int GetOutlookPstW2(LPWSTR* pstPaths, LPWSTR* displayNames, ULONG* count) {
  return RunWithoutThrowing(1, [&] {
    if (!count) return 1;
    std::vector<CString> paths, names;
    {
      COutlookFacade facade;
      facade.GetOutlookPst(paths, names);
    }
    *count = static_cast<ULONG>(paths.size());
    if (*count == 0 || !pstPaths || !displayNames) return 1;

    for (ULONG i = 0; i < *count; ++i) {
      std::unique_ptr<WCHAR[]> name(NewFlatString(names[i]));
      std::unique_ptr<WCHAR[]> path(NewFlatString(paths[i]));
      if (!name || !path) {
        // Nothing half-filled goes back: what was handed out is taken back.
        FreeArray2(pstPaths, i);
        FreeArray2(displayNames, i);
        *count = 0;
        return 1;
      }
      displayNames[i] = name.release();
      pstPaths[i] = path.release();
    }
    return 1;
  });
}

int GetOutlookPstW2CallBack(LPPSTENUMCALLBACK callback, void* context) {
  return RunWithoutThrowing(1, [&] {
    std::vector<CString> paths, names;
    {
      COutlookFacade facade;
      facade.GetOutlookPst(paths, names);
    }
    if (!callback) return 1;
    WCHAR path[FLAT_STRING_CHARS] = {};
    WCHAR name[FLAT_STRING_CHARS] = {};
    for (size_t i = 0; i < paths.size(); ++i) {
      wcsncpy_s(path, paths[i], _TRUNCATE);
      wcsncpy_s(name, names[i], _TRUNCATE);
      callback(path, name, context);
      path[0] = 0;
      name[0] = 0;
    }
    return 1;
  });
}

void FreeArray2(LPWSTR* strings, ULONG count) {
  if (!strings) return;
  for (ULONG i = 0; i < count; ++i) {
    delete[] strings[i];
    strings[i] = nullptr;
  }
}

int SyncMessageW2(LPCWSTR profileName, LPCWSTR source, LPCWSTR destination, const LONG* types, LPCWSTR* names,
                  ULONG count) {
  return RunWithoutThrowing(0, [&] {
    if (count == 0) return 1;
    if (!types || !names) return 0;
    WCHAR sourcePath[kSyncStringChars] = {};
    WCHAR destinationPath[kSyncStringChars] = {};
    WCHAR profile[kSyncStringChars] = {};
    if (!CopyArgument(sourcePath, source, TEXT("source")) ||
        !CopyArgument(destinationPath, destination, TEXT("destination")) ||
        !CopyArgument(profile, profileName, TEXT("profile name")))
      return 0;

    std::unique_ptr<OLCATALOGDATA[]> records(new (std::nothrow) OLCATALOGDATA[count]());
    if (!records) return 0;
    for (ULONG i = 0; i < count; ++i) {
      records[i].nType = types[i];
      // Names are cut to the record's field, as the listing cuts them.
      if (names[i]) wcsncpy_s(records[i].szName, names[i], _TRUNCATE);
    }

    COutlookFacade facade;
    facade.SetProfileName(profile);
    return facade.SyncMessage(sourcePath, destinationPath, records.get(), count);
  });
}

}  // extern "C"

#if !defined(CORVANE_COMPACT)
// ---- The full build's own flat exports (the compact build's Init2 is its
// Init itself). ----
extern "C" {

int Init2() { return COutlookFacade::Init(MAPI_MODE_NORMAL); }

void SafeQuit() {}

int AttatchPSTFileW2(LPCWSTR szPath, LPCWSTR szDisplayName) {
  COutlookFacade facade;
  return facade.AttatchPSTFile(szPath, szDisplayName);
}

// Backup and collection are not offered flat: one entry answers both.
int BackupMessageW2() { return 1; }

}  // extern "C"

#if defined(__clang__)
// clang takes the alias's attributes from its target.
extern "C" int CollectMessageW2() __attribute__((alias("BackupMessageW2")));
#elif defined(__GNUC__)
// nothrow as its target, which the compiler sees cannot throw where the
// function cannot be replaced at load time (Windows).
extern "C" int CollectMessageW2() __attribute__((alias("BackupMessageW2"), nothrow));
#else
extern "C" int CollectMessageW2() { return BackupMessageW2(); }
#endif
#endif  // CORVANE_COMPACT
