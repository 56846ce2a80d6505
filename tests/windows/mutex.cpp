// The operation mutex is machine-wide: a second process that holds it blocks
// a synchronisation here until it ends, and when it ends without releasing it
// the waiting operation reports the abandoned mutex and fails; the next one
// takes the mutex without a word.
#include <string>

#include "wincheck.h"

namespace wincheck {
namespace {

typedef int (*SyncMessageW2Fn)(LPCWSTR, LPCWSTR, LPCWSTR, const LONG*, LPCWSTR*, ULONG);

struct SyncCall {
  SyncMessageW2Fn sync;
  std::wstring source, destination;
  int result = -1;
};

DWORD WINAPI RunSync(LPVOID parameter) {
  auto* call = static_cast<SyncCall*>(parameter);
  const LONG types[] = {0};
  LPCWSTR names[] = {L"Inbox"};
  call->result = call->sync(L"", call->source.c_str(), call->destination.c_str(), types, names, 1);
  return 0;
}

void MakeFile(const std::wstring& path) {
  HANDLE file = CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  WINCHECK(file != INVALID_HANDLE_VALUE, "a store file is made");
  if (file != INVALID_HANDLE_VALUE) CloseHandle(file);
}

size_t Count(const std::string& text, const std::string& what) {
  size_t n = 0;
  for (size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1)) ++n;
  return n;
}

}  // namespace

int HoldOperationMutex(const wchar_t* ready, const wchar_t* end) {
  HANDLE mutex = CreateMutexW(nullptr, TRUE, L"Global\\OUTLOOKBACKUP");
  if (!mutex || GetLastError() == ERROR_ALREADY_EXISTS) return 2;
  HANDLE readyEvent = OpenEventW(EVENT_MODIFY_STATE, FALSE, ready);
  HANDLE endEvent = OpenEventW(SYNCHRONIZE, FALSE, end);
  if (!readyEvent || !endEvent || !SetEvent(readyEvent)) return 3;
  WaitForSingleObject(endEvent, 60000);
  return 0;  // ends holding the mutex
}

int HoldOperationMutexUntil(const wchar_t* readyFile, const wchar_t* endFile) {
  HANDLE mutex = CreateMutexW(nullptr, TRUE, L"Global\\OUTLOOKBACKUP");
  if (!mutex || GetLastError() == ERROR_ALREADY_EXISTS) return 2;
  HANDLE ready = CreateFileW(readyFile, GENERIC_WRITE, 0, nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (ready == INVALID_HANDLE_VALUE) return 3;
  CloseHandle(ready);
  for (int i = 0; i < 1200 && GetFileAttributesW(endFile) == INVALID_FILE_ATTRIBUTES; ++i) Sleep(50);
  const bool released = ReleaseMutex(mutex);
  CloseHandle(mutex);
  return released ? 0 : 4;
}

void CheckOperationMutex(HMODULE full) {
  SyncCall call{Export<SyncMessageW2Fn>(full, "SyncMessageW2"), ProgramFolder() + L"mutex-a.pst",
                ProgramFolder() + L"mutex-b.pst"};
  WINCHECK(call.sync != nullptr, "SyncMessageW2 resolves");
  if (!call.sync) return;
  MakeFile(call.source);
  MakeFile(call.destination);

  std::wstring suffix = std::to_wstring(GetCurrentProcessId());
  std::wstring readyName = L"wincheck-ready-" + suffix, endName = L"wincheck-end-" + suffix;
  HANDLE ready = CreateEventW(nullptr, TRUE, FALSE, readyName.c_str());
  HANDLE end = CreateEventW(nullptr, TRUE, FALSE, endName.c_str());
  wchar_t self[MAX_PATH] = {};
  GetModuleFileNameW(nullptr, self, MAX_PATH);
  std::wstring line = L"\"" + std::wstring(self) + L"\" --hold-mutex " + readyName + L" " + endName;
  STARTUPINFOW startup = {};
  startup.cb = sizeof(startup);
  PROCESS_INFORMATION holder = {};
  bool started = ready && end &&
                 CreateProcessW(nullptr, line.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &holder);
  WINCHECK(started && WaitForSingleObject(ready, 20000) == WAIT_OBJECT_0, "a second process holds the mutex");
  if (started) {
    HANDLE worker = CreateThread(nullptr, 0, RunSync, &call, 0, nullptr);
    WINCHECK(worker && WaitForSingleObject(worker, 1000) == WAIT_TIMEOUT, "the synchronisation waits for the holder");
    SetEvent(end);
    WINCHECK(WaitForSingleObject(holder.hProcess, 20000) == WAIT_OBJECT_0, "the holder ends");
    WINCHECK(worker && WaitForSingleObject(worker, 20000) == WAIT_OBJECT_0, "the synchronisation goes on");
    WINCHECK(call.result == 0, "a synchronisation that found the mutex abandoned fails");
    if (worker) CloseHandle(worker);
    CloseHandle(holder.hThread);
    CloseHandle(holder.hProcess);
  }
  std::string log = ReadBytes(ProgramFolder() + L"Logs\\wincheck.log");
  WINCHECK(Count(log, "File:'.\\AutoMutex' Line: 28;  ") == 1 &&
               Count(log, ": WaitForSingleObject FAILED. result:128\r\n") == 1,
           "the abandoned mutex is logged once, as the library's own line");

  // The mutex was taken over and released: the next run finds it free.
  RunSync(&call);
  log = ReadBytes(ProgramFolder() + L"Logs\\wincheck.log");
  WINCHECK(Count(log, "WaitForSingleObject FAILED") == 1, "the next synchronisation takes the mutex without a word");
  if (ready) CloseHandle(ready);
  if (end) CloseHandle(end);
  DeleteFileW(call.source.c_str());
  DeleteFileW(call.destination.c_str());
}

}  // namespace wincheck
