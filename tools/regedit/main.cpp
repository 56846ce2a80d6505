// regedit: the platform's registry editor, started by programs as on the
// platform:
//   regedit [/s] file...      imports registry script files (/s: no message)
//   regedit /e file [key]     exports the key with everything below it (the
//                             whole registry without a key)
// Exit codes: 0 done; 1 a file could not be read (or is not a registry
// script), or the export could not be made; 2 the command line is not
// understood; 3 the file was read but some keys or values could not be
// written (or, exporting, read). With several files the first failure counts.
// Lines the editor cannot use are reported on standard error and skipped.
#include <algorithm>
#include <cstdio>
#include <exception>
#include <string>
#include <vector>

#include <shellapi.h>
#include <windows.h>
#include <wcrt.h>

#include "owners/ScopedOwner.h"
#include "regfile.h"
#include "regtree.h"

namespace {

enum ExitCode { kDone = 0, kCannotRead = 1, kUsage = 2, kPartly = 3 };

constexpr const char* kUsageText =
    "usage: regedit [/s] file...      import registry script files\n"
    "       regedit /e file [key]     export a key (the whole registry without one)\n";

std::string U(std::u16string_view text) { return standin::ToUtf8(text); }

void Report(const std::u16string& file, const regedit::RegProblem& p) {
  if (p.line)
    std::fprintf(stderr, "regedit: %s(%u): %s\n", U(file).c_str(), p.line, p.what.c_str());
  else
    std::fprintf(stderr, "regedit: %s: %s\n", U(file).c_str(), p.what.c_str());
}

struct LocalMemoryTraits {
  using Value = LPWSTR*;
  static Value Empty() { return nullptr; }
  static bool IsValid(Value p) { return p != nullptr; }
  static void Free(Value p) { LocalFree(p); }
};

bool ReadWholeFile(const std::u16string& path, std::string* bytes, DWORD* error) {
  CScopedHandle file(CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                 OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
  LARGE_INTEGER size{};
  if (!file || !GetFileSizeEx(file.Get(), &size)) {
    *error = GetLastError();
    return false;
  }
  bytes->assign(static_cast<size_t>(size.QuadPart), '\0');
  for (size_t done = 0; done < bytes->size();) {
    DWORD chunk = static_cast<DWORD>(std::min<size_t>(bytes->size() - done, 1u << 30)), got = 0;
    if (!ReadFile(file.Get(), bytes->data() + done, chunk, &got, nullptr)) {
      *error = GetLastError();
      return false;
    }
    if (got == 0) {
      bytes->resize(done);  // the file shrank meanwhile
      break;
    }
    done += got;
  }
  return true;
}

// Writes the file whole, or removes what was written.
bool WriteWholeFile(const std::u16string& path, const std::string& bytes, DWORD* error) {
  {
    CScopedHandle file(
        CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file) {
      *error = GetLastError();
      return false;
    }
    bool ok = true;
    for (size_t done = 0; ok && done < bytes.size();) {
      DWORD chunk = static_cast<DWORD>(std::min<size_t>(bytes.size() - done, 1u << 30)), put = 0;
      ok = WriteFile(file.Get(), bytes.data() + done, chunk, &put, nullptr) && put > 0;
      done += put;
    }
    if (ok) return true;
    *error = GetLastError();
  }
  DeleteFileW(path.c_str());
  return false;
}

int Import(const std::u16string& file, bool silent) {
  std::string bytes;
  DWORD error = 0;
  if (!ReadWholeFile(file, &bytes, &error)) {
    std::fprintf(stderr, "regedit: cannot import %s: the file cannot be read (error %u)\n", U(file).c_str(), error);
    return kCannotRead;
  }
  regedit::RegVersion version;
  std::vector<regedit::RegProblem> problems;
  unsigned failures = regedit::ImportRegText(regedit::DecodeRegFile(bytes), &version, &problems);
  if (version == regedit::RegVersion::kNone) {
    std::fprintf(stderr, "regedit: cannot import %s: the file is not a registry script\n", U(file).c_str());
    return kCannotRead;
  }
  for (const auto& p : problems) Report(file, p);
  if (failures) {
    std::fprintf(stderr, "regedit: not all data of %s could be written to the registry\n", U(file).c_str());
    return kPartly;
  }
  if (!silent)
    std::printf("The keys and values contained in %s have been successfully added to the registry.\n",
                U(file).c_str());
  return kDone;
}

int Export(const std::u16string& file, const std::u16string* key) {
  regedit::RegWriter writer;
  std::vector<regedit::RegProblem> problems;
  LONG rc = key ? regedit::ExportRegKey(*key, &writer, &problems) : regedit::ExportRegistry(&writer, &problems);
  if (rc != ERROR_SUCCESS) {
    std::fprintf(stderr, "regedit: cannot export %s: the key %s cannot be opened (error %d)\n", U(file).c_str(),
                 key ? U(*key).c_str() : "of the registry", static_cast<int>(rc));
    return kCannotRead;
  }
  DWORD error = 0;
  if (!WriteWholeFile(file, writer.Finish(), &error)) {
    std::fprintf(stderr, "regedit: cannot export %s: the file cannot be written (error %u)\n", U(file).c_str(), error);
    return kCannotRead;
  }
  for (const auto& p : problems) Report(file, p);
  return problems.empty() ? kDone : kPartly;
}

int Run() {
  // The command line as the platform passed it: a program started with a
  // command line of parameters only (" /s \"file\"") has an empty first word.
  int argc = 0;
  CScopedOwner<LocalMemoryTraits> argv(CommandLineToArgvW(GetCommandLineW(), &argc));
  if (!argv) {
    std::fprintf(stderr, "regedit: the command line cannot be read\n");
    return kUsage;
  }
  bool silent = false, exporting = false;
  std::vector<std::u16string> args;
  for (int i = 1; i < argc; ++i) {
    std::u16string arg = argv.Get()[i];
    // A switch is one letter after '/' or '-'; "/tmp/a.reg" is a file.
    if (arg.size() != 2 || (arg[0] != u'/' && arg[0] != u'-')) {
      args.push_back(std::move(arg));
      continue;
    }
    switch (standin::FoldCase(arg[1])) {
      case u'S': silent = true; break;
      case u'E': exporting = true; break;
      case u'?':
      case u'H': std::fputs(kUsageText, stdout); return kDone;
      default:
        std::fprintf(stderr, "regedit: the switch %s is not known\n%s", U(arg).c_str(), kUsageText);
        return kUsage;
    }
  }
  if (exporting) {
    if (args.empty() || args.size() > 2) {
      std::fprintf(stderr, "regedit: /e takes a file and perhaps a key\n%s", kUsageText);
      return kUsage;
    }
    return Export(args[0], args.size() == 2 ? &args[1] : nullptr);
  }
  if (args.empty()) {
    std::fputs(kUsageText, stderr);
    return kUsage;
  }
  // Every file is imported; the first failure is the result.
  int result = kDone;
  for (const std::u16string& file : args) {
    if (int r = Import(file, silent); result == kDone) result = r;
  }
  return result;
}

}  // namespace

int main() {
  try {
    return Run();
  } catch (const std::exception& e) {
    // A file too large for memory, and the like: reported, never a crash.
    std::fprintf(stderr, "regedit: %s\n", e.what());
    return kCannotRead;
  }
}
