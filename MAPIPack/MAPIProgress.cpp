// The progress objects: a window sink, a function sink and a
// silent sink, all reached through IMAPIProgress. They never log.
#include "MAPIPack/MAPIProgress.h"

#include <cstdint>
#include <new>

#include "MAPIPack/MAPIProgressImpl.h"

// The block whose address a window notification carries in wParam: four 32-bit
// values, in order cancel word, step, maximum, context.
namespace {
enum { eCancelWord, eCurrent, eMax, eContext, eBlockValues };
}

HRESULT CMAPIProgressWnd::OnProgress(ULONG current, ULONG max, void* userData) {
  // A window that has gone away fails the step; the flags stay as they are.
  if (!IsWindow(m_window)) return E_FAIL;
  // On this 64-bit platform the context is a pointer: the block's fourth value
  // holds only its low 32 bits; the full pointer travels in lParam.
  DWORD block[eBlockValues] = {};
  block[eCancelWord] = 0;
  block[eCurrent] = current;
  block[eMax] = max;
  block[eContext] = static_cast<DWORD>(reinterpret_cast<uintptr_t>(userData));
  // SendMessageW answers 0 both when the window procedure returns 0 and when the
  // message cannot be delivered. The procedure may leave any last error behind
  // (a call inside it that failed), so only the platform's own "invalid window"
  // error means the message never arrived; a stale one is cleared first.
  SetLastError(0);
  LRESULT answer =
      SendMessageW(m_window, m_message, reinterpret_cast<WPARAM>(block), reinterpret_cast<LPARAM>(userData));
  if (answer == 0 && GetLastError() == ERROR_INVALID_WINDOW_HANDLE) return E_FAIL;
  // The window has handled the message: read what it left in the cancel word.
  if (static_cast<volatile DWORD*>(block)[eCancelWord] != 0) {
    m_flags = 0;
    return E_FAIL;
  }
  return S_OK;
}

HRESULT CMAPIProcessMethod::OnProgress(ULONG current, ULONG max, void* userData) {
  if (!m_callback) return S_OK;
  if (m_callback(current, max, userData) != 0) {
    m_flags = 0;
    return E_FAIL;
  }
  return S_OK;
}

HRESULT MAPIProcessDumb::OnProgress(ULONG, ULONG, void*) { return S_OK; }

namespace {
// Hands out a freshly made object (count 0) through QueryInterface, so that the
// holder starts with exactly one reference; disposes of it when that fails.
template <class T>
HRESULT HandOut(T* object, IMAPIProgress** out) {
  HRESULT hr = object->QueryInterface(IID_IMAPIProgress, reinterpret_cast<void**>(out));
  if (FAILED(hr)) {
    // The count is still 0: one reference is taken and given back, which
    // deletes the object as Release does.
    object->AddRef();
    object->Release();
  }
  return hr;
}
}  // namespace

HRESULT CreateProgressWnd(HWND window, UINT message, void* userData, IMAPIProgress** out) {
  CMAPIProgressWnd* object = new (std::nothrow) CMAPIProgressWnd();
  if (!object) return E_OUTOFMEMORY;
  ULONG min = 0, max = 1000, flags = 0;
  object->SetLimits(&min, &max, &flags);
  object->m_window = window;
  object->m_message = message;
  object->m_userData = userData;
  return HandOut(object, out);
}

HRESULT CreateProcessMethod(LPPROGRESSCALLBACK callback, void* userData, IMAPIProgress** out) {
  CMAPIProcessMethod* object = new (std::nothrow) CMAPIProcessMethod();
  if (!object) return E_OUTOFMEMORY;
  ULONG min = 0, max = 1000, flags = MAPI_TOP_LEVEL;
  object->SetLimits(&min, &max, &flags);
  object->m_callback = callback;
  object->m_userData = userData;
  return HandOut(object, out);
}

HRESULT CreateProcessDumb(IMAPIProgress** out) {
  MAPIProcessDumb* object = new (std::nothrow) MAPIProcessDumb();
  if (!object) return E_OUTOFMEMORY;
  ULONG min = 0, max = 1000, flags = MAPI_TOP_LEVEL;
  object->SetLimits(&min, &max, &flags);
  return HandOut(object, out);
}
