// Special folders of the platform root, and folder creation.
#pragma once

#include "winbase.h"

#define CSIDL_DESKTOP 0x0000
#define CSIDL_PERSONAL 0x0005
#define CSIDL_MYDOCUMENTS CSIDL_PERSONAL
#define CSIDL_APPDATA 0x001a
#define CSIDL_LOCAL_APPDATA 0x001c
#define CSIDL_COMMON_APPDATA 0x0023
#define CSIDL_WINDOWS 0x0024
#define CSIDL_SYSTEM 0x0025
#define CSIDL_PROGRAM_FILES 0x0026
#define CSIDL_PROFILE 0x0028
#define CSIDL_FLAG_CREATE 0x8000
#define SHGFP_TYPE_CURRENT 0

// The folders live under the platform root: "Users\<name>\AppData\Roaming",
// "Users\<name>\Documents", "Windows", ...; create asks for the folder to be made.
WINBASEAPI BOOL WINAPI SHGetSpecialFolderPathW(HWND hwnd, LPWSTR path, int csidl, BOOL create);
WINBASEAPI HRESULT WINAPI SHGetFolderPathW(HWND hwnd, int csidl, HANDLE token, DWORD flags, LPWSTR path);
// Creates the folder and every missing parent. ERROR_SUCCESS, ERROR_ALREADY_EXISTS
// or ERROR_FILE_EXISTS when it (or a file of that name) is there, else an error.
WINBASEAPI int WINAPI SHCreateDirectoryExW(HWND hwnd, LPCWSTR path, const SECURITY_ATTRIBUTES* sa);
WINBASEAPI int WINAPI SHCreateDirectory(HWND hwnd, LPCWSTR path);
