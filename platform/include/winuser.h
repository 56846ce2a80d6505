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

#ifndef ERROR_CANNOT_FIND_WND_CLASS
#define ERROR_CANNOT_FIND_WND_CLASS 1407L
#endif
#ifndef ERROR_CLASS_HAS_WINDOWS
#define ERROR_CLASS_HAS_WINDOWS 1412L
#endif
#ifndef ERROR_INVALID_INDEX
#define ERROR_INVALID_INDEX 1413L
#endif

// Class names may be given as atoms (values below 0x10000).
#ifndef MAKEINTATOM
#define MAKEINTATOM(i) ((LPWSTR)((ULONG_PTR)((WORD)(i))))
#endif
#ifndef IS_INTRESOURCE
#define IS_INTRESOURCE(r) ((((ULONG_PTR)(r)) >> 16) == 0)
#endif

#define WM_NULL 0x0000
#define WM_CREATE 0x0001
#define WM_DESTROY 0x0002
#define WM_CLOSE 0x0010
#define WM_NCCREATE 0x0081
#define WM_NCDESTROY 0x0082
#define WM_USER 0x0400
#define WM_APP 0x8000
#define SW_HIDE 0
#define SW_SHOWNORMAL 1
#define SW_SHOW 5
#define HWND_MESSAGE ((HWND)(LONG_PTR)-3)
#define GWLP_WNDPROC (-4)
#define GWLP_ID (-12)
#define GWLP_USERDATA (-21)

// What WM_NCCREATE and WM_CREATE carry in lParam. 64-bit layout (pointers and
// handles are 8 bytes).
typedef struct tagCREATESTRUCTW {
  LPVOID lpCreateParams;
  HINSTANCE hInstance;
  HANDLE hMenu;
  HWND hwndParent;
  int cy;
  int cx;
  int y;
  int x;
  LONG style;
  LPCWSTR lpszName;
  LPCWSTR lpszClass;
  DWORD dwExStyle;
} CREATESTRUCTW, *LPCREATESTRUCTW;
static_assert(sizeof(CREATESTRUCTW) == (sizeof(void*) == 8 ? 80 : 48), "CREATESTRUCTW layout");

// Classes are process-wide here (the instance handle is not part of the class's
// identity); names compare case-insensitively. A window lives until DestroyWindow,
// which sends WM_DESTROY, destroys the window's children, then sends WM_NCDESTROY.
// Creation sends WM_NCCREATE (FALSE refuses) and WM_CREATE (-1 refuses).
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
