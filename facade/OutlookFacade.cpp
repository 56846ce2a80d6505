// The exported class: construction with a silent sink, the lifecycle of MAPI
// for the host, the progress sink and the working profile name.
#include "facade/OutlookFacade.h"

#include <objbase.h>

#include <utility>

#include "MAPIPack/MAPIHelpers.h"
#include "MAPIPack/MAPIProgress.h"
#include "MAPIPack/MAPIWrapper.h"
#include "facade/OutlookFacade2.h"
#include "support/Log.h"
#include "support/OutlookTrivial.h"

namespace {

static_assert(sizeof(CInterfacePtr<IMAPIProgress>) == sizeof(IMAPIProgress*),
              "the facade holds its sink as one pointer");

}  // namespace

#if defined(CORVANE_COMPACT)
// ---- The compact build: no progress objects, and Init without a mode. ----
namespace {
CInterfacePtr<IMAPIProgress> InitialSink() { return {}; }
}  // namespace

int COutlookFacade::Init() { return CMAPIWrapper::InitializeMapi(MAPI_MODE_NORMAL); }

// The member's own entry is exported flat.
#if defined(__GNUC__)
extern "C" int Init2() __attribute__((alias("_ZN14COutlookFacade4InitEv")));
#else
extern "C" int Init2() { return COutlookFacade::Init(); }
#endif

#else
// ---- The full build: the host's progress sink, and Init with a mode. ----
namespace {

// The sink the host asked for. When its factory fails a silent sink takes its
// place, so that a facade always has one to hand to the copy.
CInterfacePtr<IMAPIProgress> CreateSink(LONG type, UINT_PTR callback, ULONG message, void* context) {
  CInterfacePtr<IMAPIProgress> sink;
  HRESULT hr = E_FAIL;
  if (type == CALLBACK_TYPE_WINDOW)
    hr = CreateProgressWnd(reinterpret_cast<HWND>(callback), message, context, sink.Put());
  else if (type == CALLBACK_TYPE_FUNCTION)
    hr = CreateProcessMethod(reinterpret_cast<LPPROGRESSCALLBACK>(callback), context, sink.Put());
  else
    hr = CreateProcessDumb(sink.Put());
  if (FAILED(hr) || !sink) {
    LogMessage(LOG_ERROR, TEXT("Create the progress object failed, type:%d, HRESULT:0x%08X"), type, hr);
    hr = CreateProcessDumb(sink.Put());
    if (FAILED(hr)) sink.Reset();
  }
  return sink;
}

CInterfacePtr<IMAPIProgress> InitialSink() { return CreateSink(0, 0, 0, nullptr); }

}  // namespace

int COutlookFacade::Init(int mode) {
  LogMessage(LOG_INFO, TEXT("<!-------------Init------------------->"));
  LogSessionBanner();
  return CMAPIWrapper::InitializeMapi(mode);
}

void COutlookFacade::SetCallBack(const CALLBACKDATAS& data, void* context) {
  // The new sink is made before the old one goes, so that the facade is never
  // left without one.
  CInterfacePtr<IMAPIProgress> sink = CreateSink(data.nType, data.pfnCallBack, data.uMsg, context);
  if (sink) m_progressPtr = std::move(sink);
}
#endif  // CORVANE_COMPACT

COutlookFacade::COutlookFacade() : m_szProfileName{}, m_progressPtr(InitialSink()) {
  wcscpy_s(m_szProfileName, DEFAULT_TEMP_PROFILE_NAME);
}

COutlookFacade::~COutlookFacade() = default;

void COutlookFacade::Term() {
  LogMessage(LOG_INFO, TEXT("<!-------------Term------------------->"));
  CMAPIWrapper::UninitializeMapi();
}

int COutlookFacade::IsInstalledOutlook() {
  CLSID clsid = {};
  return CLSIDFromProgID(TEXT("Outlook.Application"), &clsid) == S_OK ? 1 : 0;
}

// The flat lifecycle exports that are the members' own entries.
#if defined(__GNUC__)
extern "C" void Term2() __attribute__((alias("_ZN14COutlookFacade4TermEv")));
extern "C" int IsInstalledOutlook() __attribute__((alias("_ZN14COutlookFacade18IsInstalledOutlookEv")));
#else
extern "C" void Term2() { COutlookFacade::Term(); }
extern "C" int IsInstalledOutlook() { return COutlookFacade::IsInstalledOutlook(); }
#endif

void COutlookFacade::SetProfileName(LPCWSTR name) {
  LogMessage(LOG_INFO, TEXT("<!--SetProfileName-->"));
  LogMessage(LOG_INFO, TEXT("\tprofile name: %s"), name ? name : TEXT(""));
  LogSessionBanner();
  // A missing name keeps the current one; a longer one is cut to the field.
  if (!name) return;
  wcsncpy_s(m_szProfileName, name, _TRUNCATE);
}
