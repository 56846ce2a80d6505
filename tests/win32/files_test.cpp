// Paths and files seen through Windows paths: the Z: mapping, the path helpers
// at their MAX_PATH limits, searches with wildcards, the not-found errors
// (missing folder or missing file), copies and moves that fail without leaving
// half a file, handles, and the C run-time's wide text streams.
#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <shlobj.h>
#include <shlwapi.h>
#include <windows.h>
#include <standin/fault.h>
#include <standin/root.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <set>
#include <string>

#include "common/fresh_root.h"

namespace {

namespace fs = std::filesystem;
using testing_support::ReadFileBytes;
using testing_support::WriteFileBytes;

constexpr WCHAR kGuard = 0xBEEF;

class FilesTest : public testing_support::FreshRoot {
 protected:
  void SetUp() override {
    FreshRoot::SetUp();
    dir_ = RootFile("files");
    fs::create_directories(dir_);
  }
  // A place below the test's folder, as a Windows path.
  std::u16string W(const std::string& rel) const { return standin::ToWindowsPath(dir_ + "/" + rel); }
  std::string P(const std::string& rel) const { return dir_ + "/" + rel; }
  // Names in the test's folder other than the ones given.
  std::set<std::string> Names() const {
    std::set<std::string> names;
    for (const auto& e : fs::directory_iterator(dir_)) names.insert(e.path().filename().string());
    return names;
  }
  std::string dir_;
};

class PathsTest : public testing_support::FreshRoot {};
class StreamsTest : public FilesTest {};

// ---- the Z: mapping ----

TEST_F(PathsTest, WindowsPathsMapToTheLinuxFileSystem) {
  EXPECT_EQ(standin::ToPosixPath(u"Z:\\home\\me\\a.pst"), "/home/me/a.pst");
  EXPECT_EQ(standin::ToPosixPath(u"z:/home/me"), "/home/me");
  EXPECT_EQ(standin::ToPosixPath(u"\\home\\me"), "/home/me");
  EXPECT_EQ(standin::ToPosixPath(u"/home/me"), "/home/me");
  EXPECT_EQ(standin::ToPosixPath(u"Z:"), "/");
  EXPECT_EQ(standin::ToPosixPath(u"Z:\\"), "/");
  EXPECT_EQ(standin::ToPosixPath(u"Z:\\\\a\\\\\\b\\"), "/a/b/");
  EXPECT_EQ(standin::ToPosixPath(u"sub\\file.txt"), "sub/file.txt");  // relative stays relative
  EXPECT_EQ(standin::ToPosixPath(u"\\\\?\\Z:\\very\\long"), "/very/long");
  // Other drives and network shares have no place here.
  EXPECT_EQ(standin::ToPosixPath(u"C:\\Windows"), "");
  EXPECT_EQ(standin::ToPosixPath(u"c:"), "");
  EXPECT_EQ(standin::ToPosixPath(u"\\\\server\\share\\x"), "");

  EXPECT_EQ(standin::ToWindowsPath("/home/me/a.pst"), u"Z:\\home\\me\\a.pst");
  EXPECT_EQ(standin::ToWindowsPath("/"), u"Z:\\");
  EXPECT_EQ(standin::ToWindowsPath("rel/x"), u"rel\\x");
  EXPECT_EQ(standin::ToPosixPath(standin::ToWindowsPath("/tmp/grüße dir/ä")), "/tmp/grüße dir/ä");

  SetLastError(0);
  EXPECT_EQ(GetFileAttributesW(u"C:\\Windows"), INVALID_FILE_ATTRIBUTES);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_PATH_NOT_FOUND));
}

// ---- path helpers ----

TEST_F(PathsTest, PathAppendRefusesWhatDoesNotFit) {
  WCHAR path[MAX_PATH + 4];
  std::fill(std::begin(path), std::end(path), kGuard);
  wcscpy_s(path, MAX_PATH, u"Z:\\dir");
  ASSERT_TRUE(PathAppendW(path, u"file.txt"));
  EXPECT_EQ(std::u16string(path), u"Z:\\dir\\file.txt");
  wcscpy_s(path, MAX_PATH, u"Z:\\dir\\");
  ASSERT_TRUE(PathAppendW(path, u"\\\\file.txt"));
  EXPECT_EQ(std::u16string(path), u"Z:\\dir\\file.txt");

  std::u16string base = u"Z:\\" + std::u16string(250, u'd');  // 253 characters
  wcscpy_s(path, MAX_PATH, base.c_str());
  EXPECT_TRUE(PathAppendW(path, u"12345"));  // 259 characters: the last that fit
  EXPECT_EQ(wcslen(path), 259u);
  wcscpy_s(path, MAX_PATH, base.c_str());
  EXPECT_FALSE(PathAppendW(path, u"123456"));  // 260 would need 261 places
  EXPECT_EQ(std::u16string(path), base);      // unchanged
  EXPECT_FALSE(PathAppendW(path, std::u16string(1000, u'x').c_str()));
  for (size_t i = MAX_PATH; i < MAX_PATH + 4; ++i) EXPECT_EQ(path[i], kGuard);
}

TEST_F(PathsTest, SplittingPaths) {
  struct Case {
    const WCHAR* in;
    const WCHAR* out;
    BOOL changed;
  } cases[] = {
      {u"Z:\\a\\b.txt", u"Z:\\a", TRUE}, {u"Z:\\a", u"Z:\\", TRUE}, {u"Z:\\", u"Z:\\", FALSE},
      {u"file.txt", u"", TRUE},          {u"Z:file", u"Z:", TRUE},  {u"Z:", u"Z:", FALSE},
      {u"\\file", u"\\", TRUE},          {u"Z:\\a\\", u"Z:\\a", TRUE}, {u"", u"", FALSE},
  };
  for (const Case& c : cases) {
    WCHAR buf[MAX_PATH];
    wcscpy_s(buf, c.in);
    EXPECT_EQ(PathRemoveFileSpecW(buf), c.changed) << standin::ToUtf8(c.in);
    EXPECT_EQ(std::u16string(buf), c.out) << standin::ToUtf8(c.in);
  }

  const WCHAR* p = u"Z:\\mail\\archive.pst";
  EXPECT_EQ(PathFindFileNameW(p), p + 8);
  EXPECT_EQ(std::u16string(PathFindFileNameW(u"Z:\\mail\\")), u"mail\\");
  EXPECT_EQ(std::u16string(PathFindFileNameW(u"plain.txt")), u"plain.txt");
  EXPECT_EQ(std::u16string(PathFindFileNameW(u"Z:name")), u"name");

  EXPECT_EQ(std::u16string(PathFindExtensionW(u"Z:\\a\\b.pst")), u".pst");
  EXPECT_EQ(std::u16string(PathFindExtensionW(u"x.tar.gz")), u".gz");
  const WCHAR* dotDir = u"Z:\\a.b\\c";
  EXPECT_EQ(PathFindExtensionW(dotDir), dotDir + wcslen(dotDir));  // the terminator: no extension
  EXPECT_EQ(std::u16string(PathFindExtensionW(u"a.b c")), u"");
  EXPECT_EQ(std::u16string(PathFindExtensionW(u"name.")), u".");
}

TEST_F(PathsTest, RenamingExtensionsAndAddingBackslashes) {
  WCHAR buf[MAX_PATH];
  wcscpy_s(buf, u"Z:\\a\\store.pst");
  EXPECT_TRUE(PathRenameExtensionW(buf, u".bak"));
  EXPECT_EQ(std::u16string(buf), u"Z:\\a\\store.bak");
  wcscpy_s(buf, u"Z:\\a.d\\store");
  EXPECT_TRUE(PathRenameExtensionW(buf, u".pst"));
  EXPECT_EQ(std::u16string(buf), u"Z:\\a.d\\store.pst");
  std::u16string longName = u"Z:\\" + std::u16string(252, u'n') + u".x";  // 257 characters
  wcscpy_s(buf, longName.c_str());
  EXPECT_FALSE(PathRenameExtensionW(buf, u".long"));
  EXPECT_EQ(std::u16string(buf), longName);

  WCHAR guarded[MAX_PATH + 2];
  guarded[MAX_PATH] = guarded[MAX_PATH + 1] = kGuard;
  wcscpy_s(guarded, MAX_PATH, u"Z:\\a");
  LPWSTR end = PathAddBackslashW(guarded);
  EXPECT_EQ(std::u16string(guarded), u"Z:\\a\\");
  EXPECT_EQ(end, guarded + 5);
  EXPECT_EQ(PathAddBackslashW(guarded), guarded + 5);  // already there
  std::u16string full(MAX_PATH - 1, u'f');
  wcscpy_s(guarded, MAX_PATH, full.c_str());
  EXPECT_EQ(PathAddBackslashW(guarded), nullptr);
  EXPECT_EQ(std::u16string(guarded), full);
  EXPECT_EQ(guarded[MAX_PATH], kGuard);
}

TEST_F(PathsTest, GetFullPathNameReportsTheSizeItNeeds) {
  WCHAR cwd[MAX_PATH];
  ASSERT_GT(GetCurrentDirectoryW(MAX_PATH, cwd), 0u);
  std::u16string expected = std::u16string(cwd) + u"\\sub\\file.txt";
  WCHAR out[MAX_PATH];
  LPWSTR filePart = nullptr;
  EXPECT_EQ(GetFullPathNameW(u"sub\\.\\x\\..\\file.txt", MAX_PATH, out, &filePart), expected.size());
  EXPECT_EQ(std::u16string(out), expected);
  EXPECT_EQ(std::u16string(filePart), u"file.txt");

  WCHAR small[8];
  std::fill(std::begin(small), std::end(small), kGuard);
  EXPECT_EQ(GetFullPathNameW(u"sub\\file.txt", 4, small, nullptr), expected.size() + 1);  // with the terminator
  for (WCHAR c : small) EXPECT_EQ(c, kGuard);
  EXPECT_EQ(GetFullPathNameW(u"Z:\\a\\..\\..\\b", MAX_PATH, out, nullptr), 4u);
  EXPECT_EQ(std::u16string(out), u"Z:\\b");
  EXPECT_EQ(GetFullPathNameW(u"Z:\\dir\\", MAX_PATH, out, &filePart), 7u);
  EXPECT_EQ(filePart, nullptr);
}

// ---- searches and attributes ----

TEST_F(FilesTest, FindWithWildcardsIsCaseInsensitive) {
  WriteFileBytes(P("alpha.txt"), "1");
  WriteFileBytes(P("beta.TXT"), "22");
  WriteFileBytes(P("gamma.log"), "333");
  WriteFileBytes(P("noext"), "");
  fs::create_directories(P("sub"));
  auto find = [&](const std::u16string& pattern) {
    std::set<std::string> found;
    WIN32_FIND_DATAW data;
    HANDLE h = FindFirstFileW(pattern.c_str(), &data);
    if (h == INVALID_HANDLE_VALUE) return found;
    do {
      std::string name = standin::ToUtf8(data.cFileName);
      if (name != "." && name != "..") found.insert(name);
    } while (FindNextFileW(h, &data));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_NO_MORE_FILES));
    EXPECT_TRUE(FindClose(h));
    return found;
  };
  EXPECT_EQ(find(W("*.txt")), (std::set<std::string>{"alpha.txt", "beta.TXT"}));
  EXPECT_EQ(find(W("?ETA.*")), (std::set<std::string>{"beta.TXT"}));
  EXPECT_EQ(find(W("*")), (std::set<std::string>{"alpha.txt", "beta.TXT", "gamma.log", "noext", "sub"}));
  EXPECT_EQ(find(W("*.*")), (std::set<std::string>{"alpha.txt", "beta.TXT", "gamma.log", "noext", "sub"}));
  EXPECT_EQ(find(W("g*.l?g")), (std::set<std::string>{"gamma.log"}));
  EXPECT_EQ(find(W("*.none")), std::set<std::string>{});
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_FILE_NOT_FOUND));

  WIN32_FIND_DATAW data;
  HANDLE h = FindFirstFileW(W("gamma.log").c_str(), &data);  // an exact name
  ASSERT_NE(h, INVALID_HANDLE_VALUE);
  EXPECT_EQ(std::u16string(data.cFileName), u"gamma.log");
  EXPECT_EQ(data.nFileSizeLow, 3u);
  EXPECT_FALSE(data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY);
  EXPECT_FALSE(FindNextFileW(h, &data));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_NO_MORE_FILES));
  FindClose(h);
  h = FindFirstFileW(W("sub").c_str(), &data);
  ASSERT_NE(h, INVALID_HANDLE_VALUE);
  EXPECT_TRUE(data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY);
  FindClose(h);
  EXPECT_FALSE(FindClose(h));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_HANDLE));
}

TEST_F(FilesTest, MissingFolderAndMissingFileAreDifferentErrors) {
  WIN32_FIND_DATAW data;
  SetLastError(0);
  EXPECT_EQ(FindFirstFileW(W("nothere.txt").c_str(), &data), INVALID_HANDLE_VALUE);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_FILE_NOT_FOUND));
  EXPECT_EQ(FindFirstFileW(W("missing\\x.txt").c_str(), &data), INVALID_HANDLE_VALUE);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_PATH_NOT_FOUND));
  EXPECT_EQ(FindFirstFileW(W("missing\\*.txt").c_str(), &data), INVALID_HANDLE_VALUE);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_PATH_NOT_FOUND));

  EXPECT_EQ(GetFileAttributesW(W("nothere.txt").c_str()), INVALID_FILE_ATTRIBUTES);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_FILE_NOT_FOUND));
  EXPECT_EQ(GetFileAttributesW(W("missing\\x.txt").c_str()), INVALID_FILE_ATTRIBUTES);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_PATH_NOT_FOUND));
  WriteFileBytes(P("file"), "x");
  EXPECT_EQ(GetFileAttributesW(W("file\\below").c_str()), INVALID_FILE_ATTRIBUTES);  // a file is no folder
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_PATH_NOT_FOUND));
  EXPECT_EQ(GetFileAttributesW(W("").c_str()), FILE_ATTRIBUTE_DIRECTORY);
  EXPECT_EQ(GetFileAttributesW(W("file").c_str()) & FILE_ATTRIBUTE_DIRECTORY, 0u);

  standin::ArmFault("GetFileAttributesW", ERROR_ACCESS_DENIED);
  EXPECT_EQ(GetFileAttributesW(W("file").c_str()), INVALID_FILE_ATTRIBUTES);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_ACCESS_DENIED));
}

// ---- folders ----

TEST_F(FilesTest, CreatingFolders) {
  EXPECT_TRUE(CreateDirectoryW(W("one").c_str(), nullptr));
  EXPECT_TRUE(PathIsDirectoryW(W("one").c_str()));
  SetLastError(0);
  EXPECT_FALSE(CreateDirectoryW(W("one").c_str(), nullptr));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_ALREADY_EXISTS));
  EXPECT_FALSE(CreateDirectoryW(W("two\\three").c_str(), nullptr));  // no parent
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_PATH_NOT_FOUND));

  EXPECT_EQ(SHCreateDirectory(nullptr, W("two\\three\\four").c_str()), ERROR_SUCCESS);
  EXPECT_TRUE(PathIsDirectoryW(W("two\\three\\four").c_str()));
  EXPECT_EQ(SHCreateDirectory(nullptr, W("two\\three").c_str()), ERROR_ALREADY_EXISTS);
  WriteFileBytes(P("plain"), "x");
  EXPECT_EQ(SHCreateDirectoryExW(nullptr, W("plain").c_str(), nullptr), ERROR_FILE_EXISTS);
  EXPECT_EQ(SHCreateDirectory(nullptr, u"relative\\dir"), ERROR_BAD_PATHNAME);

  standin::ArmFault("SHCreateDirectoryExW", ERROR_ACCESS_DENIED);
  EXPECT_EQ(SHCreateDirectory(nullptr, W("five\\six").c_str()), ERROR_ACCESS_DENIED);
  EXPECT_FALSE(fs::exists(P("five")));
  standin::ArmFault("CreateDirectoryW", ERROR_DISK_FULL);
  EXPECT_FALSE(CreateDirectoryW(W("seven").c_str(), nullptr));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_DISK_FULL));
  EXPECT_FALSE(fs::exists(P("seven")));
}

// ---- delete, move, copy ----

TEST_F(FilesTest, DeleteFile) {
  WriteFileBytes(P("victim"), "x");
  standin::ArmFault("DeleteFileW", ERROR_SHARING_VIOLATION, 1);
  EXPECT_FALSE(DeleteFileW(W("victim").c_str()));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_SHARING_VIOLATION));
  EXPECT_TRUE(fs::exists(P("victim")));
  EXPECT_TRUE(DeleteFileW(W("victim").c_str()));
  EXPECT_FALSE(fs::exists(P("victim")));
  EXPECT_FALSE(DeleteFileW(W("victim").c_str()));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_FILE_NOT_FOUND));
  EXPECT_FALSE(DeleteFileW(W("missing\\victim").c_str()));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_PATH_NOT_FOUND));
  fs::create_directories(P("folder"));
  EXPECT_FALSE(DeleteFileW(W("folder").c_str()));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_ACCESS_DENIED));
}

TEST_F(FilesTest, MoveFileKeepsAnExistingTargetUnlessAskedToReplace) {
  WriteFileBytes(P("a"), "from a");
  WriteFileBytes(P("b"), "from b");
  SetLastError(0);
  EXPECT_FALSE(MoveFileExW(W("a").c_str(), W("b").c_str(), 0));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_ALREADY_EXISTS));
  EXPECT_EQ(ReadFileBytes(P("a")), "from a");
  EXPECT_EQ(ReadFileBytes(P("b")), "from b");
  EXPECT_TRUE(MoveFileExW(W("a").c_str(), W("b").c_str(), MOVEFILE_REPLACE_EXISTING));
  EXPECT_FALSE(fs::exists(P("a")));
  EXPECT_EQ(ReadFileBytes(P("b")), "from a");
  EXPECT_TRUE(MoveFileW(W("b").c_str(), W("c").c_str()));
  EXPECT_EQ(ReadFileBytes(P("c")), "from a");
  EXPECT_FALSE(MoveFileExW(W("a").c_str(), W("d").c_str(), 0));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_FILE_NOT_FOUND));
  EXPECT_FALSE(MoveFileExW(W("c").c_str(), W("missing\\d").c_str(), 0));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_PATH_NOT_FOUND));
  standin::ArmFault("MoveFileExW", ERROR_ACCESS_DENIED);
  EXPECT_FALSE(MoveFileW(W("c").c_str(), W("e").c_str()));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_ACCESS_DENIED));
  EXPECT_EQ(Names(), (std::set<std::string>{"c"}));
}

TEST_F(FilesTest, CopyFile) {
  std::string content(100000, 'p');
  WriteFileBytes(P("src"), content);
  ASSERT_TRUE(CopyFileW(W("src").c_str(), W("dst").c_str(), TRUE));
  EXPECT_EQ(ReadFileBytes(P("dst")), content);
  WriteFileBytes(P("dst"), "older");
  SetLastError(0);
  EXPECT_FALSE(CopyFileW(W("src").c_str(), W("dst").c_str(), TRUE));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_FILE_EXISTS));
  EXPECT_EQ(ReadFileBytes(P("dst")), "older");
  EXPECT_TRUE(CopyFileW(W("src").c_str(), W("dst").c_str(), FALSE));
  EXPECT_EQ(ReadFileBytes(P("dst")), content);
  EXPECT_FALSE(CopyFileW(W("none").c_str(), W("x").c_str(), FALSE));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_FILE_NOT_FOUND));
  EXPECT_FALSE(CopyFileW(W("src").c_str(), W("missing\\x").c_str(), FALSE));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_PATH_NOT_FOUND));
  EXPECT_EQ(Names(), (std::set<std::string>{"src", "dst"}));
}

TEST_F(FilesTest, FailedCopyLeavesNoHalfWrittenTarget) {
  WriteFileBytes(P("src"), std::string(64 * 1024, 's'));
  standin::ArmFault("CopyFileW", ERROR_DISK_FULL);
  EXPECT_FALSE(CopyFileW(W("src").c_str(), W("new").c_str(), FALSE));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_DISK_FULL));
  standin::ClearAllFaults();

  // A copy that runs out of room half-way, in a process that may write only
  // 16 KiB per file: no target, no leftover, and an existing target intact.
  auto copyLimited = [&](const std::string& to) {
    return testing_support::RunChild(
               {testing_support::BuiltProgram("filehost"), "copy", P("src"), P(to), "16384"})
        .output;
  };
  EXPECT_EQ(copyLimited("new"), "result=0 error=" + std::to_string(ERROR_DISK_FULL) + "\n");
  WriteFileBytes(P("old"), "previous content");
  EXPECT_EQ(copyLimited("old"), "result=0 error=" + std::to_string(ERROR_DISK_FULL) + "\n");
  EXPECT_EQ(ReadFileBytes(P("old")), "previous content");
  EXPECT_EQ(Names(), (std::set<std::string>{"src", "old"}));
}

// ---- handles ----

TEST_F(FilesTest, FileHandlesReadWhatWasWritten) {
  SetLastError(0);
  HANDLE h = CreateFileW(W("data.bin").c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, CREATE_NEW, 0, nullptr);
  ASSERT_NE(h, INVALID_HANDLE_VALUE);
  DWORD written = 0;
  EXPECT_TRUE(WriteFile(h, "0123456789", 10, &written, nullptr));
  EXPECT_EQ(written, 10u);
  EXPECT_EQ(GetFileSize(h, nullptr), 10u);
  EXPECT_TRUE(CloseHandle(h));

  EXPECT_EQ(CreateFileW(W("data.bin").c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, 0, nullptr),
            INVALID_HANDLE_VALUE);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_FILE_EXISTS));

  h = CreateFileW(W("data.bin").c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
  ASSERT_NE(h, INVALID_HANDLE_VALUE);
  char buf[16] = {};
  DWORD read = 0;
  EXPECT_TRUE(ReadFile(h, buf, 4, &read, nullptr));
  EXPECT_EQ(std::string(buf, read), "0123");
  EXPECT_TRUE(ReadFile(h, buf, sizeof buf, &read, nullptr));
  EXPECT_EQ(std::string(buf, read), "456789");
  EXPECT_TRUE(ReadFile(h, buf, sizeof buf, &read, nullptr));  // at the end: success, nothing read
  EXPECT_EQ(read, 0u);
  CloseHandle(h);
  EXPECT_FALSE(ReadFile(h, buf, 4, &read, nullptr));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_HANDLE));

  h = CreateFileW(W("data.bin").c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
  ASSERT_NE(h, INVALID_HANDLE_VALUE);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_ALREADY_EXISTS));  // and truncated
  EXPECT_EQ(GetFileSize(h, nullptr), 0u);
  standin::ArmFault("WriteFile", ERROR_DISK_FULL);
  EXPECT_FALSE(WriteFile(h, "x", 1, &written, nullptr));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_DISK_FULL));
  EXPECT_EQ(written, 0u);  // never what an earlier call left there
  CloseHandle(h);
  EXPECT_EQ(ReadFileBytes(P("data.bin")), "");

  EXPECT_EQ(CreateFileW(W("none").c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr), INVALID_HANDLE_VALUE);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_FILE_NOT_FOUND));
  EXPECT_EQ(CreateFileW(W("missing\\none").c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr),
            INVALID_HANDLE_VALUE);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_PATH_NOT_FOUND));
  fs::create_directories(P("folder"));
  EXPECT_EQ(CreateFileW(W("folder").c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr), INVALID_HANDLE_VALUE);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_ACCESS_DENIED));
}

TEST_F(FilesTest, TemporaryFileNames) {
  std::u16string folder = W("");
  WCHAR first[MAX_PATH], second[MAX_PATH];
  UINT a = GetTempFileNameW(folder.c_str(), u"cvtmp", 0, first);
  UINT b = GetTempFileNameW(folder.c_str(), u"cvtmp", 0, second);
  ASSERT_NE(a, 0u);
  ASSERT_NE(b, 0u);
  EXPECT_NE(std::u16string(first), std::u16string(second));
  EXPECT_EQ(std::u16string(first).find(u"\\\\"), std::u16string::npos);  // the folder's backslash is not doubled
  EXPECT_EQ(std::u16string(PathFindFileNameW(first)).substr(0, 3), u"cvt");  // three characters of the prefix
  EXPECT_EQ(std::u16string(PathFindFileNameW(first)).size(), 3u + 4u + 4u);
  EXPECT_TRUE(PathFileExistsW(first));  // made, so that nobody else takes it
  WCHAR named[MAX_PATH];
  EXPECT_EQ(GetTempFileNameW(folder.c_str(), u"pre", 0x1A, named), 0x1Au);
  EXPECT_EQ(std::u16string(PathFindFileNameW(named)), u"pre001A.tmp");
  EXPECT_FALSE(PathFileExistsW(named));  // a given number makes nothing
}

// ---- wide text streams ----

TEST_F(StreamsTest, AppendingUtf8TextWritesOneByteOrderMark) {
  std::u16string path = W("log.txt");
  FILE* f = _wfopen(path.c_str(), u"a+, ccs=UTF-8");
  ASSERT_NE(f, nullptr);
  EXPECT_GE(fputws(u"line one\n", f), 0);
  std::fclose(f);
  EXPECT_EQ(ReadFileBytes(P("log.txt")), "\xEF\xBB\xBFline one\r\n");

  f = _wfopen(path.c_str(), u"a+,ccs=UTF-8");
  ASSERT_NE(f, nullptr);
  EXPECT_GE(fputws(u"zwei: grüße 😀\n\n", f), 0);
  std::fclose(f);
  EXPECT_EQ(ReadFileBytes(P("log.txt")),
            "\xEF\xBB\xBFline one\r\nzwei: gr\xC3\xBC\xC3\x9F" "e \xF0\x9F\x98\x80\r\n\r\n");

  // Read back in text mode: no mark, and "\r\n" is "\n" again.
  f = _wfopen(path.c_str(), u"r,ccs=UTF-8");
  ASSERT_NE(f, nullptr);
  char line[64];
  ASSERT_NE(std::fgets(line, sizeof line, f), nullptr);
  EXPECT_STREQ(line, "line one\n");
  std::fclose(f);
}

TEST_F(StreamsTest, WritingModesAndBinaryStreams) {
  WriteFileBytes(P("t.txt"), "old old old");
  FILE* f = _wfopen(W("t.txt").c_str(), u"w,ccs=UTF-8");  // truncates, so the mark comes first
  ASSERT_NE(f, nullptr);
  fputws(u"a\n", f);
  std::fclose(f);
  EXPECT_EQ(ReadFileBytes(P("t.txt")), "\xEF\xBB\xBF" "a\r\n");

  f = _wfopen(W("b.bin").c_str(), u"wb");
  ASSERT_NE(f, nullptr);
  fputws(u"a\nb", f);
  std::fclose(f);
  EXPECT_EQ(ReadFileBytes(P("b.bin")), "a\nb");

  f = _wfopen(W("plain.txt").c_str(), u"a");
  ASSERT_NE(f, nullptr);
  fputws(u"x\n", f);
  std::fclose(f);
  EXPECT_EQ(ReadFileBytes(P("plain.txt")), "x\r\n");
}

TEST_F(StreamsTest, OpenFailuresSetTheLastError) {
  SetLastError(0);
  EXPECT_EQ(_wfopen(W("missing\\log.txt").c_str(), u"a+,ccs=UTF-8"), nullptr);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_PATH_NOT_FOUND));
  EXPECT_EQ(_wfopen(W("none.txt").c_str(), u"r"), nullptr);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_FILE_NOT_FOUND));
  EXPECT_EQ(_wfopen(u"C:\\log.txt", u"w"), nullptr);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_PATH_NOT_FOUND));
  EXPECT_EQ(_wfopen(W("x.txt").c_str(), u"q"), nullptr);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_PARAMETER));
  EXPECT_EQ(_wfopen(W("x.txt").c_str(), nullptr), nullptr);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_PARAMETER));
  standin::ArmFault("_wfopen", ERROR_SHARING_VIOLATION);
  EXPECT_EQ(_wfopen(W("x.txt").c_str(), u"w"), nullptr);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_SHARING_VIOLATION));
  EXPECT_FALSE(fs::exists(P("x.txt")));
}

}  // namespace
