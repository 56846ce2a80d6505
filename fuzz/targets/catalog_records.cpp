// Catalog records handed in by a host: the input as an array of records
// (names without their terminator, kinds out of range, cbEntryID over 24),
// given to the listing, the backup and the synchronisation of a small machine
// whose store holds a few messages in a few folders.
#include <windows.h>

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <memory>
#include <vector>

#include <mapix.h>

#include "common/fresh_root.h"
#include "core.h"
#include "facade/OutlookFacade2.h"
#include "fuzz_target.h"
#include "owners/ScopedOwner.h"

namespace {

constexpr size_t kMaxRecords = 4;

// The store file answers its own path, as the mail client's do.
void RecordPath(const std::string& path) {
  CInterfacePtr<IMsgStore> store;
  if (FAILED(standin::mapi::OpenStoreFile(fuzzing::WindowsPath(path), u"Personal Folders", MDB_WRITE, store.Put())))
    std::abort();
  std::u16string wide = fuzzing::WindowsPath(path);
  SPropValue value{};
  value.ulPropTag = PR_PST_PATH_W;
  value.Value.lpszW = reinterpret_cast<LPWSTR>(wide.data());
  if (FAILED(store->SetProps(1, &value, nullptr))) std::abort();
}

void Prepare(const std::string& root) {
  std::string source = root + "/source.pst", destination = root + "/destination.pst";
  fuzzing::Admin(root, {"install"});
  fuzzing::Admin(root, {"service", "add", "Outlook", "--type", "pst", "--name", "Mail", "--path", source, "--default"});
  fuzzing::Admin(root, {"store", "create", destination});
  // Two messages in the Inbox, a mailing list's in a folder of its own.
  std::filesystem::path mail = testing_support::TestData() / "mail";
  std::vector<std::string> eml;
  std::error_code ec;
  for (const auto& e : std::filesystem::directory_iterator(mail / "eml", ec)) eml.push_back(e.path().string());
  std::sort(eml.begin(), eml.end());
  eml.resize(std::min<size_t>(eml.size(), 2));
  if (!eml.empty()) {
    std::vector<std::string> args = {"import", "Outlook", "--store", "Mail", "--folder", "Inbox"};
    args.insert(args.end(), eml.begin(), eml.end());
    fuzzing::Admin(root, args);
  }
  std::filesystem::path list = mail / "mbox" / "mailparser-from-quoting.mbox";
  if (std::filesystem::exists(list))
    fuzzing::Admin(root, {"import", "Outlook", "--store", "Mail", "--folder", "Lists", list.string()});
  RecordPath(source);
  RecordPath(destination);
  std::filesystem::create_directories(root + "/backup");
}

}  // namespace

int FuzzOne(const uint8_t* data, size_t size) {
  if (size == 0) return 0;
  fuzzing::InputRoot root(Prepare);
  size_t count = std::min(kMaxRecords, (size + sizeof(OLCATALOGDATA) - 1) / sizeof(OLCATALOGDATA));
  // Exactly the records the host hands in, and not a byte more: the sanitizer
  // sees any read past them.
  std::unique_ptr<OLCATALOGDATA[]> records(new OLCATALOGDATA[count]);
  std::memset(records.get(), 0, count * sizeof(OLCATALOGDATA));
  std::memcpy(records.get(), data, std::min(size, count * sizeof(OLCATALOGDATA)));
  std::unique_ptr<OLCATALOGDATA[]> copy(new OLCATALOGDATA[count]);

  std::u16string source = fuzzing::WindowsPath(root.File("source.pst"));
  std::u16string destination = fuzzing::WindowsPath(root.File("destination.pst"));
  LPCWSTR src = reinterpret_cast<LPCWSTR>(source.c_str());
  if (Init2() != 1) return 0;
  {
    COutlookFacade facade;
    std::vector<OLCATALOGDATA> path(records.get(), records.get() + count);
    OLCATALOGDATA* listed = nullptr;
    DWORD listedCount = 0;
    facade.GetSubCatalog(src, path, &listed, &listedCount);
    delete[] listed;

    std::memcpy(copy.get(), records.get(), count * sizeof(OLCATALOGDATA));
    CString backup(reinterpret_cast<LPCWSTR>(fuzzing::WindowsPath(root.File("backup/backup.pst")).c_str()));
    facade.BackupMessage(src, backup, copy.get(), static_cast<ULONG>(count), 0);

    std::memcpy(copy.get(), records.get(), count * sizeof(OLCATALOGDATA));
    facade.SyncMessage(src, reinterpret_cast<LPCWSTR>(destination.c_str()), copy.get(), static_cast<ULONG>(count));
  }
  Term2();
  return 0;
}
