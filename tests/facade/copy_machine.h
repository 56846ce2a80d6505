// Machines for the backup and synchronise tests of either build of the
// library: a fresh root with the mail client installed, stores made and
// filled with real mail by the admin tool, dumps to compare stores, and host
// programs started as processes (executable naming, logs, the operation
// mutex). Nothing here calls the library.
#pragma once

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include <mapiutil.h>
#include <mapix.h>
#include <nlohmann/json.hpp>
#include <windows.h>

#include "common/fresh_root.h"
#include "support/CatalogData.h"

namespace testing_support {
// Apart from the other facade tests' helpers of the same program.
namespace copying {

namespace fs = std::filesystem;
using nlohmann::json;

// The .eml files of the test data, in name order (empty without test data).
inline std::vector<std::string> EmlFiles() {
  std::vector<std::string> files;
  fs::path dir = TestData() / "mail/eml";
  if (!fs::exists(dir)) return files;
  for (const auto& e : fs::directory_iterator(dir)) files.push_back(e.path().string());
  std::sort(files.begin(), files.end());
  return files;
}
inline std::string Mbox(const std::string& name) { return (TestData() / "mail/mbox" / name).string(); }

// A POSIX path as the library sees it.
inline std::u16string Win(const std::string& posix) {
  std::u16string w = u"Z:" + standin::ToUtf16(posix);
  for (auto& c : w)
    if (c == u'/') c = u'\\';
  return w;
}
inline std::string Posix(const std::u16string& win) {
  std::string p = standin::ToUtf8(win.substr(2));
  for (auto& c : p)
    if (c == '\\') c = '/';
  return p;
}

inline OLCATALOGDATA Record(LONG kind, const char16_t* name) {
  OLCATALOGDATA r{};
  r.nType = kind;
  wcsncpy_s(r.szName, name, _TRUNCATE);
  return r;
}

// What a run of the host printed.
struct HostRun {
  int result = -100;
  long lastError = -100;
  std::string destination;
  unsigned steps = 0, max = 0;
  std::string output;
};

class CopyMachine : public FreshRoot {
 protected:
  void SetUp() override {
    FreshRoot::SetUp();
    Ok({"install"});
  }

  // A store file held by a profile as the service named name.
  std::string AddStore(const std::string& profile, const std::string& name) {
    std::string path = RootFile(name + ".pst");
    Ok({"service", "add", profile, "--type", "pst", "--name", name, "--path", standin::ToUtf8(Win(path))});
    return path;
  }
  void Import(const std::string& profile, const std::string& store, const std::string& folder,
              const std::vector<std::string>& files) {
    std::vector<std::string> args = {"import", profile, "--store", store, "--folder", folder};
    args.insert(args.end(), files.begin(), files.end());
    Ok(args);
  }
  json Dump(const std::string& profile, const std::string& store) {
    std::string out = Ok({"dump", profile, "--store", store});
    return out.empty() ? json() : json::parse(out)["tree"];
  }
  // The tree of a store file that no profile holds (held for the dump only).
  json DumpFile(const std::string& path) {
    if (!profileMade_) Ok({"profile", "create", "Inspect"});
    profileMade_ = true;
    Ok({"service", "add", "Inspect", "--type", "pst", "--name", "Inspected", "--path", standin::ToUtf8(Win(path))});
    json tree = Dump("Inspect", "Inspected");
    Ok({"service", "remove", "Inspect", "--name", "Inspected"});
    return tree;
  }
  std::vector<std::string> Profiles() {
    std::string out = Ok({"profile", "list", "--json"});
    return out.empty() ? std::vector<std::string>{} : json::parse(out).get<std::vector<std::string>>();
  }
  bool HasProfile(const std::string& name) {
    auto p = Profiles();
    return std::find(p.begin(), p.end(), name) != p.end();
  }
  static const json* Folder(const json& tree, const std::string& name) {
    for (const auto& f : tree["folders"])
      if (f["name"] == name) return &f;
    return nullptr;
  }
  static size_t Count(const json& tree, const std::string& name) {
    const json* f = Folder(tree, name);
    return f ? (*f)["count"].get<size_t>() : 0;
  }

  // Gives a folder below the top of a store its container class, the way the
  // mail client makes a calendar of its own.
  void MakeClassedFolder(const std::string& profile, const std::string& store, const std::u16string& name,
                         const std::u16string& containerClass) {
    ASSERT_EQ(MAPIInitialize(nullptr), S_OK);
    std::u16string wprofile = standin::ToUtf16(profile);
    LPMAPISESSION session = nullptr;
    ASSERT_EQ(MAPILogonEx(0, wprofile.data(), nullptr, MAPI_UNICODE | MAPI_EXTENDED | MAPI_NEW_SESSION, &session),
              S_OK);
    LPMAPITABLE table = nullptr;
    ASSERT_EQ(session->GetMsgStoresTable(0, &table), S_OK);
    SizedSPropTagArray(2, columns) = {2, {PR_DISPLAY_NAME_W, PR_ENTRYID}};
    LPSRowSet rows = nullptr;
    ASSERT_EQ(HrQueryAllRows(table, reinterpret_cast<LPSPropTagArray>(&columns), nullptr, nullptr, 0, &rows), S_OK);
    LPMDB mdb = nullptr;
    std::u16string wstore = standin::ToUtf16(store);
    for (ULONG i = 0; i < rows->cRows && !mdb; ++i) {
      const SPropValue* p = rows->aRow[i].lpProps;
      if (PROP_TYPE(p[0].ulPropTag) == PT_UNICODE && wstore == p[0].Value.lpszW) {
        ASSERT_EQ(session->OpenMsgStore(0, p[1].Value.bin.cb, reinterpret_cast<LPENTRYID>(p[1].Value.bin.lpb), nullptr,
                                        MAPI_BEST_ACCESS, &mdb),
                  S_OK);
      }
    }
    FreeProws(rows);
    table->Release();
    ASSERT_NE(mdb, nullptr);
    LPSPropValue subtreeId = nullptr;
    ASSERT_EQ(HrGetOneProp(mdb, PR_IPM_SUBTREE_ENTRYID, &subtreeId), S_OK);
    ULONG type = 0;
    LPMAPIFOLDER top = nullptr;
    ASSERT_EQ(mdb->OpenEntry(subtreeId->Value.bin.cb, reinterpret_cast<LPENTRYID>(subtreeId->Value.bin.lpb), nullptr,
                             MAPI_MODIFY, &type, reinterpret_cast<LPUNKNOWN*>(&top)),
              S_OK);
    MAPIFreeBuffer(subtreeId);
    std::u16string wname = name, wclass = containerClass;
    LPMAPIFOLDER folder = nullptr;
    ASSERT_EQ(top->CreateFolder(FOLDER_GENERIC, wname.data(), nullptr, nullptr, MAPI_UNICODE | OPEN_IF_EXISTS, &folder),
              S_OK);
    SPropValue v{};
    v.ulPropTag = PR_CONTAINER_CLASS_W;
    v.Value.lpszW = wclass.data();
    EXPECT_EQ(HrSetOneProp(folder, &v), S_OK);
    EXPECT_EQ(folder->SaveChanges(0), S_OK);
    folder->Release();
    top->Release();
    mdb->Release();
    session->Logoff(0, 0, 0);
    session->Release();
    MAPIUninitialize();
  }

  // A host program copied into folder under the given file name, beside a
  // log settings file that sends every line to the root's debugger output.
  std::string CopyHost(const std::string& folder, const std::string& fileName,
                       const std::string& program = "backuphost") {
    std::string copy = CopyProgramInto(program, folder);
    if (fileName != program) fs::rename(copy, folder + "/" + fileName);
    WriteFileBytes(folder + "/corvane.ini", "[log section]\r\nlevel=0\r\nmedia=2\r\n");
    return folder + "/" + fileName;
  }
  HostRun RunHost(const std::string& exe, const std::vector<std::string>& args,
                  std::vector<std::string> env = {}) {
    std::vector<std::string> argv = {exe};
    argv.insert(argv.end(), args.begin(), args.end());
    for (const auto& e : CopiedProgramEnv()) env.push_back(e);
    ChildResult r = RunChild(argv, env);
    return Parse(r.output);
  }
  static HostRun Parse(const std::string& output) {
    HostRun run;
    run.output = output;
    size_t at = output.find("result=");
    if (at != std::string::npos) {
      char dest[4096] = {};
      std::sscanf(output.c_str() + at, "result=%d lasterror=%ld destination=%4095[^\n]", &run.result, &run.lastError,
                  dest);
      run.destination = dest;
    }
    at = output.find("steps=");
    if (at != std::string::npos) std::sscanf(output.c_str() + at, "steps=%u max=%u", &run.steps, &run.max);
    return run;
  }
  std::string Log() const { return ReadFileBytes(RootFile("debugger-output.txt")); }

 private:
  bool profileMade_ = false;
};

// Holds the machine-wide operation mutex on a thread of its own until
// released, as another backup would.
class MutexHolder {
 public:
  MutexHolder() {
    thread_ = std::thread([this] {
      HANDLE mutex = CreateMutexW(nullptr, FALSE, u"Global\\OUTLOOKBACKUP");
      DWORD wait = mutex ? WaitForSingleObject(mutex, INFINITE) : WAIT_FAILED;
      held_.store(wait == WAIT_OBJECT_0);
      ready_.store(true);
      while (!release_.load()) std::this_thread::sleep_for(std::chrono::milliseconds(1));
      if (mutex) {
        if (wait == WAIT_OBJECT_0) ReleaseMutex(mutex);
        CloseHandle(mutex);
      }
    });
    while (!ready_.load()) std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  ~MutexHolder() { Release(); }
  bool held() const { return held_.load(); }
  void Release() {
    release_.store(true);
    if (thread_.joinable()) thread_.join();
  }

 private:
  std::thread thread_;
  std::atomic<bool> ready_{false}, held_{false}, release_{false};
};

}  // namespace copying
}  // namespace testing_support
