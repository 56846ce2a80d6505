// Windows and messages: an in-process window table. A window belongs to a class
// registered with a window procedure; SendMessageW calls that procedure at once,
// on the caller's thread, and returns its result.
#pragma once

#include "winbase.h"

typedef LRESULT(CALLBACK* WNDPROC)(HWND, UINT, WPARAM, LPARAM);
typedef WORD ATOM;

typedef struct tagWNDCLASSW {
  UINT style;
  WNDPROC lpfnWndProc;
  int cbClsExtra;
  int cbWndExtra;
  HINSTANCE hInstance;
  HANDLE hIcon;
  HANDLE hCursor;
  HANDLE hbrBackground;
  LPCWSTR lpszMenuName;
  LPCWSTR lpszClassName;
} WNDCLASSW, *PWNDCLASSW, *LPWNDCLASSW;

#define WM_NULL 0x0000
#define WM_CREATE 0x0001
#define WM_DESTROY 0x0002
#define WM_CLOSE 0x0010
#define WM_USER 0x0400
#define WM_APP 0x8000
#define SW_HIDE 0
#define SW_SHOWNORMAL 1
#define SW_SHOW 5
#define HWND_MESSAGE ((HWND)(LONG_PTR)-3)
#define GWLP_USERDATA (-21)

WINBASEAPI ATOM WINAPI RegisterClassW(const WNDCLASSW* cls);
WINBASEAPI BOOL WINAPI UnregisterClassW(LPCWSTR className, HINSTANCE instance);
WINBASEAPI HWND WINAPI CreateWindowExW(DWORD exStyle, LPCWSTR className, LPCWSTR windowName, DWORD style, int x,
                                       int y, int width, int height, HWND parent, HANDLE menu, HINSTANCE instance,
                                       LPVOID param);
WINBASEAPI BOOL WINAPI DestroyWindow(HWND hwnd);
WINBASEAPI BOOL WINAPI IsWindow(HWND hwnd);
WINBASEAPI LRESULT WINAPI SendMessageW(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam);
WINBASEAPI LRESULT WINAPI DefWindowProcW(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam);
WINBASEAPI LONG_PTR WINAPI SetWindowLongPtrW(HWND hwnd, int index, LONG_PTR value);
WINBASEAPI LONG_PTR WINAPI GetWindowLongPtrW(HWND hwnd, int index);
