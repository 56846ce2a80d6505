// CObject, run-time class information and the diagnostic dump context.
#include <afx.h>

#include <cstring>
#include <iterator>

#include "fwplatform.h"

const CRuntimeClass CObject::classCObject = {"CObject", static_cast<int>(sizeof(CObject)), 0xFFFF, nullptr, nullptr,
                                             nullptr,   nullptr};

CDumpContext afxDump;

CObject* CRuntimeClass::CreateObject() {
  if (!m_pfnCreateObject) return nullptr;
  try {
    return m_pfnCreateObject();
  } catch (...) {
    // The framework reports a failed creation as a null object.
    return nullptr;
  }
}

BOOL CRuntimeClass::IsDerivedFrom(const CRuntimeClass* pBaseClass) const {
  if (!pBaseClass) return FALSE;
  for (const CRuntimeClass* c = this; c; c = c->m_pBaseClass)
    if (c == pBaseClass) return TRUE;
  return FALSE;
}

CRuntimeClass* CObject::GetRuntimeClass() const { return RUNTIME_CLASS(CObject); }

CObject::~CObject() {}

void CObject::Serialize(CArchive&) {
  // CObject itself has nothing to store.
}

void CObject::AssertValid() const {}

void CObject::Dump(CDumpContext& dc) const {
  dc << "a " << GetRuntimeClass()->m_lpszClassName << " at " << static_cast<const void*>(this) << "\n";
}

BOOL CObject::IsKindOf(const CRuntimeClass* pClass) const { return GetRuntimeClass()->IsDerivedFrom(pClass); }

BOOL CObject::IsSerializable() const { return GetRuntimeClass()->m_wSchema != 0xFFFF; }

IMPLEMENT_DYNAMIC(CCmdTarget, CObject)

CCmdTarget::~CCmdTarget() {}

namespace {
template <class... Args>
void DumpFormatted(LPCWSTR format, const Args&... args) {
  WCHAR text[64];
  swprintf_s(text, std::size(text), format, args...);
  OutputDebugStringW(text);
}
}  // namespace

CDumpContext& CDumpContext::operator<<(LPCSTR text) {
  if (text) OutputDebugStringW(fw::Widen(text, std::strlen(text)).c_str());
  return *this;
}

CDumpContext& CDumpContext::operator<<(LPCWSTR text) {
  if (text) OutputDebugStringW(text);
  return *this;
}

CDumpContext& CDumpContext::operator<<(int n) {
  DumpFormatted(TEXT("%d"), n);
  return *this;
}

CDumpContext& CDumpContext::operator<<(UINT n) {
  DumpFormatted(TEXT("%u"), n);
  return *this;
}

CDumpContext& CDumpContext::operator<<(LONGLONG n) {
  DumpFormatted(TEXT("%I64d"), n);
  return *this;
}

CDumpContext& CDumpContext::operator<<(ULONGLONG n) {
  DumpFormatted(TEXT("%I64u"), n);
  return *this;
}

CDumpContext& CDumpContext::operator<<(const void* p) {
  DumpFormatted(TEXT("$%p"), p);
  return *this;
}

CDumpContext& CDumpContext::operator<<(const CObject* pOb) {
  if (!pOb) return *this << "NULL";
  pOb->Dump(*this);
  return *this;
}

CDumpContext& CDumpContext::operator<<(const CObject& ob) {
  ob.Dump(*this);
  return *this;
}
