// The mail accounts of the profile "Outlook" as the registry keeps them: one
// subkey per account below the profile's account key, read directly.
#pragma once

#include <afx.h>
#include <windows.h>

#include <vector>

#define PROFILES_KEY TEXT("Software\\Microsoft\\Windows NT\\CurrentVersion\\Windows Messaging Subsystem\\Profiles")
#define OUTLOOK_PROFILE_KEY PROFILES_KEY TEXT("\\Outlook")
#define ACCOUNT_KEY OUTLOOK_PROFILE_KEY TEXT("\\9375CFF0413111d3B88A00104B2A6676")

// Account keys are opened for reading, writing values and adding subkeys.
constexpr REGSAM kAccountKeyAccess = KEY_READ | KEY_SET_VALUE | KEY_CREATE_SUB_KEY;

// The names of the account subkeys, in the registry's order, into an emptied
// list: 0, or the error of opening the account key.
int ListAccountKeys(std::vector<CString>& names);
// Appends the address of every account with an "Email" but no "POP3 Server",
// and the "Account Name" of every account without "Email" whose "MAPI
// Provider" is 5: 0, or the error of opening the account key.
int ListNotPOP3Accounts(std::vector<CString>& out);
// -1 when an account has a binary "POP3 Server", 0 when none has, else the
// error of opening the account key.
int FindPOP3Account();
// Removes "Delivery Folder EntryID" and "Delivery Store EntryID" from every
// account; nothing when there is no account key.
void ClearDeliveryEntryIDs();
