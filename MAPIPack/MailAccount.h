// The message services of the profile "Outlook", classified by service name:
// the PST files it holds, the mask of account kinds, and removing its IMAP
// stores.
#pragma once

#include <afx.h>
#include <mapix.h>
#include <windows.h>

#include <vector>

// Account kind bits.
#define ACCOUNT_TYPE_NONE 0
#define ACCOUNT_TYPE_PST 2
#define ACCOUNT_TYPE_IMAP 4
#define ACCOUNT_TYPE_HTTP 16
#define ACCOUNT_TYPE_MAPI 32
#define ACCOUNT_TYPE_UNKNOWN 0x40
// A kind or mask with one of these bits is not supported by the host.
#define ACCOUNT_UNSUPPORTED_MASK 0x1C

inline bool IsPSTOrNeutralAccount(int kind) { return (kind & ~ACCOUNT_TYPE_PST) == 0; }
inline bool IsUnsupportedAccount(int kind) { return (kind & ACCOUNT_UNSUPPORTED_MASK) != 0; }

int GetAccountType(LPCWSTR serviceName);
int GetServiceStoreInfo(IMsgServiceAdmin* serviceAdmin, IProviderAdmin* providerAdmin, std::vector<CString>& path,
                        std::vector<CString>& displayName);
int CollectAccountTypes(int* mask);
int GetProfilePSTFiles(std::vector<CString>& paths, std::vector<CString>& displayNames);
int DeleteIMAPServices();
