// The names support/PlatformExtras.h adds have the platform's documented
// values, whichever headers define them.
#include <initguid.h>  // this unit defines the identifiers it checks

#include <windows.h>

#include "support/PlatformExtras.h"
#include "wincheck.h"

static_assert(MDB_ONLINE == 0x00000100);
static_assert(MAPI_NO_CACHE == 0x00000200);
static_assert(MAPI_FORCE_ACCESS == 0x00080000);
static_assert(PR_IPM_DRAFTS_ENTRYID == 0x36D70102);
static_assert(PR_ADDITIONAL_REN_ENTRYIDS == 0x36D81102);
static_assert(PR_PST_PATH_A == 0x6700001E);
static_assert(PR_PST_PATH_W == 0x6700001F);
static_assert(PROP_ACCT_ID == 0x00010003);
static_assert(PROP_ACCT_NAME == 0x0002001F);
static_assert(PROP_ACCT_USER_DISPLAY_NAME == 0x000B001F);
static_assert(PROP_ACCT_USER_EMAIL_ADDR == 0x000C001F);
static_assert(static_cast<unsigned long>(E_ACCT_NOT_FOUND) == 0x800C8101);
static_assert(static_cast<unsigned long>(E_OLK_ALREADY_INITIALIZED) == 0x800C8002);

namespace wincheck {
namespace {

bool Is(const GUID& id, const char* text) {
  WCHAR wide[40];
  if (StringFromGUID2(id, wide, 40) != 39) return false;
  for (int i = 0; i < 39; ++i)
    if (wide[i] != static_cast<WCHAR>(text[i])) return false;
  return true;
}

}  // namespace

void CheckPlatformExtras() {
  WINCHECK(Is(CLSID_OlkAccountManager, "{ED475410-B0D6-11D2-8C3B-00104B2A6676}"), "CLSID_OlkAccountManager");
  WINCHECK(Is(CLSID_OlkPOP3Account, "{ED475411-B0D6-11D2-8C3B-00104B2A6676}"), "CLSID_OlkPOP3Account");
  WINCHECK(Is(CLSID_OlkMail, "{ED475418-B0D6-11D2-8C3B-00104B2A6676}"), "CLSID_OlkMail");
  WINCHECK(Is(IID_IOlkAccountManager, "{9240A6CD-AF41-11D2-8C3B-00104B2A6676}"), "IID_IOlkAccountManager");
  WINCHECK(Is(IID_IOlkAccount, "{9240A6D2-AF41-11D2-8C3B-00104B2A6676}"), "IID_IOlkAccount");
  WINCHECK(Is(IID_IOlkEnum, "{9240A6C1-AF41-11D2-8C3B-00104B2A6676}"), "IID_IOlkEnum");
  WINCHECK(Is(IID_IOlkAccountHelper, "{9240A6CB-AF41-11D2-8C3B-00104B2A6676}"), "IID_IOlkAccountHelper");
}

}  // namespace wincheck
