// BOutlookConfig exports the profiles key with the system's registry editor:
// the file is a version 5.00 export in UTF-16LE, which the same editor's
// silent import puts back after the key is gone.
#include <string>

#include "wincheck.h"

namespace wincheck {
namespace {

const wchar_t kProfileKey[] =
    L"HKCU\\Software\\Microsoft\\Windows NT\\CurrentVersion\\Windows Messaging Subsystem\\Profiles\\Outlook";
const wchar_t kAccountsKey[] = L"HKLM\\Software\\Microsoft\\Office\\Outlook\\Outlook 10 Accounts";

std::string Utf16(const char* text) {
  std::string bytes;
  for (const char* c = text; *c; ++c) bytes += std::string{*c, '\0'};
  return bytes;
}

bool ProfileHoldsListedAccount() {
  wchar_t name[64] = {};
  DWORD size = sizeof name;
  std::wstring path = std::wstring(kProfileKey).substr(5) + L"\\9375CFF0413111d3B88A00104B2A6676\\00000003";
  return RegGetValueW(HKEY_CURRENT_USER, path.c_str(), L"Account Name", RRF_RT_REG_SZ, nullptr, name, &size) ==
             ERROR_SUCCESS &&
         std::wstring(name) == L"Exchange at work";
}

}  // namespace

void CheckConfiguration(HMODULE full) {
  auto backup = Export<int (*)(LPCWSTR)>(full, "BOutlookConfig");
  WINCHECK(backup != nullptr, "BOutlookConfig resolves");
  if (!backup) return;
  // The profile the account check made, and the machine's account list.
  WINCHECK(RunProgram(L"reg.exe add \"" + std::wstring(kAccountsKey) + L"\" /v Version /t REG_DWORD /d 1 /f") == 0,
           "reg add makes the account list");
  WINCHECK(ProfileHoldsListedAccount(), "the profile holds its accounts");

  std::wstring folder = ProgramFolder() + L"config";
  CreateDirectoryW(folder.c_str(), nullptr);
  std::wstring file = folder + L"\\olconfig.reg";
  DeleteFileW(file.c_str());
  WINCHECK(backup(folder.c_str()) == 0, "BOutlookConfig saves the configuration");
  std::string bytes = ReadBytes(file);
  WINCHECK(bytes.rfind("\xFF\xFE" + Utf16("Windows Registry Editor Version 5.00\r\n"), 0) == 0,
           "the profiles file is a version 5.00 export in UTF-16LE");
  WINCHECK(bytes.find(Utf16("[HKEY_CURRENT_USER\\Software\\Microsoft\\Windows NT\\CurrentVersion\\Windows Messaging "
                            "Subsystem\\Profiles\\Outlook\\9375CFF0413111d3B88A00104B2A6676\\00000003]")) !=
               std::string::npos,
           "the export holds the profile's accounts");
  WINCHECK(!ReadBytes(folder + L"\\oaconnect.reg").empty(), "the account list is saved beside it");

  WINCHECK(RunProgram(L"reg.exe delete \"" + std::wstring(kProfileKey) + L"\" /f") == 0 &&
               !ProfileHoldsListedAccount(),
           "the profile is deleted");
  WINCHECK(RunProgram(L"regedit.exe /s \"" + file + L"\"") == 0 && ProfileHoldsListedAccount(),
           "the registry editor imports the export back");
}

}  // namespace wincheck
