// The shell's program starting: command-line splitting and ShellExecute.
#include <filesystem>
#include <mutex>
#include <thread>

#include "handles.h"
#include "internal.h"
#include "kernel.h"

namespace fs = std::filesystem;

using namespace standin;

namespace standin {

// The program name ends at the closing quote, or unquoted at the first space
// or control character (which is consumed); backslashes are plain there. Later
// arguments are separated by spaces and tabs, where 2n backslashes before a
// quote give n backslashes and a quote that opens or closes quoting, 2n+1 give n
// backslashes and a literal quote, and other backslashes are literal. In a run
// of quotes every third one is literal; a run that leaves the count at two
// ends quoting ("a""b" is a"b, unquoted after).
std::vector<std::u16string> SplitCommandLine(std::u16string_view line) {
  std::vector<std::u16string> args;
  size_t i = 0;
  const size_t n = line.size();
  std::u16string program;
  if (n > 0 && line[0] == u'"') {
    for (i = 1; i < n && line[i] != u'"'; ++i) program += line[i];
    if (i < n) ++i;
  } else {
    for (; i < n && line[i] > u' '; ++i) program += line[i];
    if (i < n) ++i;
  }
  args.push_back(std::move(program));

  auto blank = [](char16_t c) { return c == u' ' || c == u'\t'; };
  for (;;) {
    while (i < n && blank(line[i])) ++i;
    if (i >= n) break;
    std::u16string arg;
    bool quoted = false;
    while (i < n && (quoted || !blank(line[i]))) {
      if (line[i] == u'\\') {
        size_t run = 0;
        for (; i < n && line[i] == u'\\'; ++i) ++run;
        if (i < n && line[i] == u'"') {
          arg.append(run / 2, u'\\');
          if (run % 2) {
            arg += u'"';
            ++i;
          }
        } else {
          arg.append(run, u'\\');
        }
        continue;
      }
      if (line[i] == u'"') {
        int count = quoted ? 1 : 0;
        for (; i < n && line[i] == u'"'; ++i) {
          if (++count == 3) {
            arg += u'"';
            count = 0;
          }
        }
        quoted = count == 1;
        continue;
      }
      arg += line[i++];
    }
    args.push_back(std::move(arg));
  }
  return args;
}

}  // namespace standin

namespace {

constexpr INT_PTR kStarted = 42;  // any value above 32 means success

// The last process ShellExecuteW started, for tests that wait for it.
struct LastStarted {
  std::mutex lock;
  std::shared_ptr<ChildProcess> child;
};

LastStarted& Last() {
  static LastStarted* last = new LastStarted;
  return *last;
}

INT_PTR ShellCode(DWORD error) {
  switch (error) {
    case ERROR_FILE_NOT_FOUND: return SE_ERR_FNF;
    case ERROR_PATH_NOT_FOUND:
    case ERROR_DIRECTORY: return SE_ERR_PNF;
    case ERROR_ACCESS_DENIED: return SE_ERR_ACCESSDENIED;
    case ERROR_NOT_ENOUGH_MEMORY:
    case ERROR_OUTOFMEMORY: return SE_ERR_OOM;
    case ERROR_BAD_EXE_FORMAT: return ERROR_BAD_FORMAT;
    case ERROR_SHARING_VIOLATION: return SE_ERR_SHARE;
    case ERROR_NO_ASSOCIATION: return SE_ERR_NOASSOC;
    default: return 0;  // "out of memory or resources"
  }
}

bool HasProgramExtension(const std::string& path) {
  std::u16string ext = ToUtf16(fs::path(path).extension().string());
  return CompareNoCase(ext, u".exe") == 0 || CompareNoCase(ext, u".com") == 0;
}

// Starts the file for the verb; the Win32 error, or 0 with *child set.
DWORD Execute(LPCWSTR verb, LPCWSTR file, LPCWSTR parameters, LPCWSTR directory,
              std::shared_ptr<ChildProcess>* child) {
  if (verb && *verb && CompareNoCase(verb, u"open") != 0) return ERROR_NO_ASSOCIATION;
  if (!file || !*file) return ERROR_FILE_NOT_FOUND;
  std::error_code ec;
  // The machine has no file browser to open a folder with.
  if (std::string p = ToPosixPath(file); !p.empty() && fs::is_directory(p, ec)) return ERROR_NO_ASSOCIATION;
  std::string program;
  if (!FindProgram(file, true, &program)) return GetLastError();
  if (!IsProgramFile(program)) {
    DWORD error = GetLastError();
    // A document: it would open with the program associated with its type.
    if (error == ERROR_BAD_EXE_FORMAT && !HasProgramExtension(program)) return ERROR_NO_ASSOCIATION;
    return error;
  }
  std::string folder;
  if (directory && *directory) {
    if (!PosixFromArg(directory, &folder) || !fs::is_directory(folder, ec)) return ERROR_DIRECTORY;
    folder = fs::absolute(folder, ec).string();
  }
  std::u16string line = u"\"" + ToWindowsPath(program) + u"\"";
  if (parameters && *parameters) line += u" " + std::u16string(parameters);
  *child = StartChildProcess(program, line, folder, nullptr);
  return *child ? ERROR_SUCCESS : GetLastError();
}

}  // namespace

namespace standin {

HANDLE LastShellExecuteProcess() {
  LastStarted& last = Last();
  std::lock_guard<std::mutex> guard(last.lock);
  return last.child ? NewProcessHandle(last.child) : nullptr;
}

}  // namespace standin

extern "C" {

LPWSTR* WINAPI CommandLineToArgvW(LPCWSTR commandLine, int* argc) {
  if (FaultedWithLastError("CommandLineToArgvW")) return nullptr;
  if (!commandLine || !argc) return Fail(ERROR_INVALID_PARAMETER), nullptr;
  std::vector<std::u16string> args;
  if (*commandLine) {
    args = SplitCommandLine(commandLine);
  } else {
    // An empty command line names the running program.
    WCHAR path[MAX_PATH * 4];
    DWORD n = GetModuleFileNameW(nullptr, path, ARRAYSIZE(path));
    args.emplace_back(path, n < ARRAYSIZE(path) ? n : 0);
  }
  // One block: the pointers, a null, then the strings.
  size_t bytes = (args.size() + 1) * sizeof(LPWSTR);
  for (const auto& a : args) bytes += (a.size() + 1) * sizeof(WCHAR);
  auto* argv = static_cast<LPWSTR*>(LocalAlloc(LMEM_FIXED, bytes));
  if (!argv) return nullptr;
  auto* text = reinterpret_cast<WCHAR*>(argv + args.size() + 1);
  for (size_t k = 0; k < args.size(); ++k) {
    argv[k] = text;
    text = std::copy(args[k].begin(), args[k].end(), text);
    *text++ = 0;
  }
  argv[args.size()] = nullptr;
  *argc = static_cast<int>(args.size());
  return argv;
}

HINSTANCE WINAPI ShellExecuteW(HWND hwnd, LPCWSTR verb, LPCWSTR file, LPCWSTR parameters, LPCWSTR directory,
                               INT show) {
  int32_t fault;
  std::shared_ptr<ChildProcess> child;
  DWORD error = TakeFault("ShellExecuteW", &fault) ? static_cast<DWORD>(fault)
                                                    : Execute(verb, file, parameters, directory, &child);
  if (error != ERROR_SUCCESS) {
    SetLastError(error);
    return reinterpret_cast<HINSTANCE>(ShellCode(error));
  }
  {
    LastStarted& last = Last();
    std::lock_guard<std::mutex> guard(last.lock);
    last.child = child;
  }
  // Nobody holds a handle to wait with: reap the child as soon as it ends.
  std::thread([child] { child->Wait(INFINITE); }).detach();
  return reinterpret_cast<HINSTANCE>(kStarted);
}

BOOL WINAPI ShellExecuteExW(SHELLEXECUTEINFOW* info) {
  if (!info) return Fail(ERROR_INVALID_PARAMETER);
  int32_t fault;
  std::shared_ptr<ChildProcess> child;
  DWORD error = ERROR_INVALID_PARAMETER;
  if (TakeFault("ShellExecuteExW", &fault)) {
    // Armed with success: the request went to a program already running, and
    // no process comes back to wait for.
    if (fault == ERROR_SUCCESS) {
      info->hProcess = nullptr;
      info->hInstApp = reinterpret_cast<HINSTANCE>(kStarted);
      return TRUE;
    }
    error = static_cast<DWORD>(fault);
  } else if (info->cbSize == sizeof(SHELLEXECUTEINFOW))
    error = Execute(info->lpVerb, info->lpFile, info->lpParameters, info->lpDirectory, &child);
  info->hProcess = nullptr;
  if (error != ERROR_SUCCESS) {
    info->hInstApp = reinterpret_cast<HINSTANCE>(ShellCode(error));
    return Fail(error);
  }
  info->hInstApp = reinterpret_cast<HINSTANCE>(kStarted);
  if (info->fMask & SEE_MASK_NOCLOSEPROCESS) info->hProcess = NewProcessHandle(std::move(child));
  return TRUE;
}

}  // extern "C"
