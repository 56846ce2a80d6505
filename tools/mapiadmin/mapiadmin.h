// The admin tool of the stand-in mail client: shared pieces of its commands.
// Everything goes through the platform's MAPI; the tool knows nothing of how
// the stand-in keeps its profiles or store files.
#pragma once

#include <stdexcept>
#include <string>
#include <vector>

#include <mapiutil.h>

#include "owners/MapiOwners.h"

namespace CLI {
class App;
}

namespace mailimport {
struct ImportedMessage;
}

namespace mapiadmin {

// A failed step: the message names it, with the MAPI result when there is one.
class Failure : public std::runtime_error {
 public:
  explicit Failure(const std::string& what, HRESULT hr = E_FAIL);
  HRESULT hr;
};

// Throws a Failure when hr is an error (warnings go on).
void Check(HRESULT hr, const std::string& what);

std::u16string W(const std::string& text);
std::string U(std::u16string_view text);

// MAPI initialised for the life of the object.
class MapiSubsystem {
 public:
  MapiSubsystem();
  ~MapiSubsystem();
  MapiSubsystem(const MapiSubsystem&) = delete;
  MapiSubsystem& operator=(const MapiSubsystem&) = delete;
};

CInterfacePtr<IProfAdmin> OpenProfileAdmin();
CInterfacePtr<IMsgServiceAdmin> OpenServiceAdmin(IProfAdmin* admin, const std::string& profile);
CInterfacePtr<IMAPISession> Logon(const std::string& profile);
// The store whose display name is given (case-insensitive), of the profile's
// session; the first match wins.
CInterfacePtr<IMsgStore> OpenStoreByName(IMAPISession* session, const std::string& displayName);
// The IPM subtree of a store.
CInterfacePtr<IMAPIFolder> OpenIpmSubtree(IMsgStore* store);
// A folder below the IPM subtree by its path ("Inbox/Projects"); made when
// create is set and a part is missing.
CInterfacePtr<IMAPIFolder> OpenFolderPath(IMsgStore* store, const std::string& path, bool create);
// A property of an object as a single value (null when missing).
std::u16string GetString(IMAPIProp* object, ULONG tag);
// Sets properties and fails with a clear message when any is refused.
void SetProps(IMAPIProp* object, std::vector<SPropValue> values, const std::string& what);

// Property values over data the caller keeps alive.
SPropValue UnicodeValue(ULONG tag, const std::u16string& text);
SPropValue BinaryValue(ULONG tag, const std::string& bytes);
SPropValue LongValue(ULONG tag, LONG value);
SPropValue TimeValue(ULONG tag, const FILETIME& ft);

// A mail message as the import makes it: properties, recipients, attachments
// and the raw bytes, saved into the folder.
void WriteMailMessage(IMAPIFolder* folder, const mailimport::ImportedMessage& m);
// An item (calendar item, contact, ...) of the given properties, saved into the folder.
void WriteItem(IMAPIFolder* folder, std::vector<SPropValue> props);

// Writes text to standard output.
void Print(const std::string& text);

// The commands, one file each.
void AddInstallCommand(CLI::App& app);
void AddProfileCommand(CLI::App& app);
void AddServiceCommand(CLI::App& app);
void AddStoreCommand(CLI::App& app);
void AddImportCommand(CLI::App& app);
void AddItemCommands(CLI::App& app);
void AddDumpCommand(CLI::App& app);
void AddExportCommand(CLI::App& app);
void AddAccountCommand(CLI::App& app);
void AddGenerateCommand(CLI::App& app);

// Registers the account manager and makes the machine's account-list key.
void InstallAccounts();

// The raw message an import keeps, so that an export gives it back byte for byte.
#define PR_STANDIN_RAW_MESSAGE PROP_TAG(PT_BINARY, 0x6710)

// Calendar items: when and where.
#define PR_START_DATE PROP_TAG(PT_SYSTIME, 0x0060)
#define PR_END_DATE PROP_TAG(PT_SYSTIME, 0x0061)
#define PR_LOCATION_W PROP_TAG(PT_UNICODE, 0x3A0D)

}  // namespace mapiadmin
