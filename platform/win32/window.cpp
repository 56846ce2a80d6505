// Windows and messages: an in-process table of classes and windows. Messages
// are plain calls of the window procedure on the sender's thread; the table's
// lock is never held during one, so a procedure may send messages, create
// windows or destroy its own window while it runs.
#include <algorithm>
#include <cstring>
#include <map>
#include <memory>
#include <mutex>
#include <vector>

#include "internal.h"

using namespace standin;

namespace {

struct WindowClass {
  std::u16string name;
  ATOM atom = 0;
  WNDPROC proc = nullptr;
  int extraBytes = 0;
};

struct Window {
  HWND hwnd = nullptr;
  std::shared_ptr<WindowClass> cls;
  WNDPROC proc = nullptr;  // the class's, unless replaced with GWLP_WNDPROC
  HWND parent = nullptr;
  LONG_PTR userData = 0;
  LONG_PTR id = 0;
  std::vector<unsigned char> extra;
  bool destroying = false;
};

struct WindowTable {
  std::mutex lock;
  std::map<std::u16string, std::shared_ptr<WindowClass>> classes;  // by folded name
  std::map<HWND, std::shared_ptr<Window>> windows;
  ATOM nextAtom = 0xC000;
  uintptr_t nextHandle = 0x10010;  // never reused, so a stale handle stays invalid
};

WindowTable& Table() {
  static WindowTable* table = new WindowTable;
  return *table;
}

std::u16string Folded(LPCWSTR name) {
  std::u16string key(name);
  for (char16_t& c : key) c = FoldCase(c);
  return key;
}

bool IsAtom(LPCWSTR name) { return (reinterpret_cast<uintptr_t>(name) >> 16) == 0; }

// Table lock held.
std::map<std::u16string, std::shared_ptr<WindowClass>>::iterator FindClass(WindowTable& t, LPCWSTR name) {
  if (!name) return t.classes.end();
  if (!IsAtom(name)) return t.classes.find(Folded(name));
  auto atom = static_cast<ATOM>(reinterpret_cast<uintptr_t>(name));
  return std::find_if(t.classes.begin(), t.classes.end(), [atom](const auto& c) { return c.second->atom == atom; });
}

std::shared_ptr<Window> LookupWindow(HWND hwnd) {
  WindowTable& t = Table();
  std::lock_guard<std::mutex> guard(t.lock);
  auto it = t.windows.find(hwnd);
  return it == t.windows.end() ? nullptr : it->second;
}

LRESULT Deliver(const std::shared_ptr<Window>& w, UINT msg, WPARAM wParam, LPARAM lParam) {
  WNDPROC proc;
  {
    std::lock_guard<std::mutex> guard(Table().lock);
    proc = w->proc;
  }
  return proc(w->hwnd, msg, wParam, lParam);
}

void Forget(HWND hwnd) {
  WindowTable& t = Table();
  std::lock_guard<std::mutex> guard(t.lock);
  t.windows.erase(hwnd);
}

// Reads (and with value, replaces) the long value at index; false with
// ERROR_INVALID_INDEX for an index the window does not have. Table lock held.
bool AccessLong(Window& w, int index, LONG_PTR* previous, const LONG_PTR* value) {
  switch (index) {
    case GWLP_USERDATA:
      *previous = w.userData;
      if (value) w.userData = *value;
      return true;
    case GWLP_ID:
      *previous = w.id;
      if (value) w.id = *value;
      return true;
    case GWLP_WNDPROC:
      *previous = reinterpret_cast<LONG_PTR>(w.proc);
      if (value) w.proc = reinterpret_cast<WNDPROC>(*value);
      return true;
    default:
      break;
  }
  // The class's extra bytes: any offset, so copied rather than cast.
  if (index < 0 || static_cast<size_t>(index) + sizeof(LONG_PTR) > w.extra.size()) {
    SetLastError(ERROR_INVALID_INDEX);
    return false;
  }
  std::memcpy(previous, w.extra.data() + index, sizeof(LONG_PTR));
  if (value) std::memcpy(w.extra.data() + index, value, sizeof(LONG_PTR));
  return true;
}

}  // namespace

static_assert(sizeof(WNDPROC) == sizeof(LONG_PTR), "a window procedure is stored as a long pointer");

extern "C" {

ATOM WINAPI RegisterClassW(const WNDCLASSW* cls) {
  if (FaultedWithLastError("RegisterClassW")) return 0;
  if (!cls || !cls->lpfnWndProc || !cls->lpszClassName || IsAtom(cls->lpszClassName) || !*cls->lpszClassName ||
      cls->cbWndExtra < 0)
    return Fail(ERROR_INVALID_PARAMETER), 0;
  WindowTable& t = Table();
  std::lock_guard<std::mutex> guard(t.lock);
  std::u16string key = Folded(cls->lpszClassName);
  if (t.classes.count(key)) return Fail(ERROR_CLASS_ALREADY_EXISTS), 0;
  if (t.nextAtom == 0xFFFF) return Fail(ERROR_NOT_ENOUGH_MEMORY), 0;
  auto c = std::make_shared<WindowClass>();
  c->name = cls->lpszClassName;
  c->atom = t.nextAtom++;
  c->proc = cls->lpfnWndProc;
  c->extraBytes = cls->cbWndExtra;
  t.classes.emplace(std::move(key), c);
  return c->atom;
}

BOOL WINAPI UnregisterClassW(LPCWSTR className, HINSTANCE instance) {
  if (FaultedWithLastError("UnregisterClassW")) return FALSE;
  WindowTable& t = Table();
  std::lock_guard<std::mutex> guard(t.lock);
  auto it = FindClass(t, className);
  if (it == t.classes.end()) return Fail(ERROR_CLASS_DOES_NOT_EXIST);
  for (const auto& [hwnd, w] : t.windows)
    if (w->cls == it->second) return Fail(ERROR_CLASS_HAS_WINDOWS);
  t.classes.erase(it);
  return TRUE;
}

HWND WINAPI CreateWindowExW(DWORD exStyle, LPCWSTR className, LPCWSTR windowName, DWORD style, int x, int y,
                            int width, int height, HWND parent, HANDLE menu, HINSTANCE instance, LPVOID param) {
  if (FaultedWithLastError("CreateWindowExW")) return nullptr;
  auto w = std::make_shared<Window>();
  {
    WindowTable& t = Table();
    std::lock_guard<std::mutex> guard(t.lock);
    auto it = FindClass(t, className);
    if (it == t.classes.end()) return Fail(ERROR_CANNOT_FIND_WND_CLASS), nullptr;
    if (parent && parent != HWND_MESSAGE && !t.windows.count(parent)) return Fail(ERROR_INVALID_WINDOW_HANDLE), nullptr;
    w->hwnd = reinterpret_cast<HWND>(t.nextHandle);
    t.nextHandle += 4;
    w->cls = it->second;
    w->proc = it->second->proc;
    w->parent = parent == HWND_MESSAGE ? nullptr : parent;
    w->extra.assign(static_cast<size_t>(it->second->extraBytes), 0);
    t.windows.emplace(w->hwnd, w);
  }
  CREATESTRUCTW cs{param, instance, menu, parent, height, width, y, x, static_cast<LONG>(style),
                   windowName, className, exStyle};
  if (!Deliver(w, WM_NCCREATE, 0, reinterpret_cast<LPARAM>(&cs))) {
    Deliver(w, WM_NCDESTROY, 0, 0);
    Forget(w->hwnd);
    return nullptr;
  }
  if (Deliver(w, WM_CREATE, 0, reinterpret_cast<LPARAM>(&cs)) == -1) {
    DestroyWindow(w->hwnd);
    return nullptr;
  }
  // The procedure may have destroyed the window while it was being created.
  return LookupWindow(w->hwnd) ? w->hwnd : nullptr;
}

BOOL WINAPI DestroyWindow(HWND hwnd) {
  if (FaultedWithLastError("DestroyWindow")) return FALSE;
  auto w = LookupWindow(hwnd);
  if (!w) return Fail(ERROR_INVALID_WINDOW_HANDLE);
  std::vector<HWND> children;
  {
    WindowTable& t = Table();
    std::lock_guard<std::mutex> guard(t.lock);
    if (w->destroying) return TRUE;  // already on its way out
    w->destroying = true;
  }
  Deliver(w, WM_DESTROY, 0, 0);
  {
    WindowTable& t = Table();
    std::lock_guard<std::mutex> guard(t.lock);
    for (const auto& [child, cw] : t.windows)
      if (cw->parent == hwnd) children.push_back(child);
  }
  for (HWND child : children) DestroyWindow(child);
  Deliver(w, WM_NCDESTROY, 0, 0);
  Forget(hwnd);
  return TRUE;
}

BOOL WINAPI IsWindow(HWND hwnd) { return LookupWindow(hwnd) ? TRUE : FALSE; }

LRESULT WINAPI SendMessageW(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) {
  if (FaultedWithLastError("SendMessageW")) return 0;
  auto w = LookupWindow(hwnd);
  if (!w) return Fail(ERROR_INVALID_WINDOW_HANDLE), 0;
  return Deliver(w, msg, wParam, lParam);
}

LRESULT WINAPI DefWindowProcW(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) {
  switch (msg) {
    case WM_NCCREATE: return TRUE;
    case WM_CLOSE: DestroyWindow(hwnd); return 0;
    default: return 0;
  }
}

// On success the last error is left alone, as on the platform: a previous value
// of 0 is told from a failure by clearing the last error first.
LONG_PTR WINAPI SetWindowLongPtrW(HWND hwnd, int index, LONG_PTR value) {
  if (FaultedWithLastError("SetWindowLongPtrW")) return 0;
  auto w = LookupWindow(hwnd);
  if (!w) return Fail(ERROR_INVALID_WINDOW_HANDLE), 0;
  if (index == GWLP_WNDPROC && !value) return Fail(ERROR_INVALID_PARAMETER), 0;
  std::lock_guard<std::mutex> guard(Table().lock);
  LONG_PTR previous = 0;
  return AccessLong(*w, index, &previous, &value) ? previous : 0;
}

LONG_PTR WINAPI GetWindowLongPtrW(HWND hwnd, int index) {
  if (FaultedWithLastError("GetWindowLongPtrW")) return 0;
  auto w = LookupWindow(hwnd);
  if (!w) return Fail(ERROR_INVALID_WINDOW_HANDLE), 0;
  std::lock_guard<std::mutex> guard(Table().lock);
  LONG_PTR value = 0;
  return AccessLong(*w, index, &value, nullptr) ? value : 0;
}

}  // extern "C"
