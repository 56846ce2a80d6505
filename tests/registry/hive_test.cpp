// Hive files: save and restore round trips, files written by Windows, damaged
// files, privileges.
#include <dlfcn.h>
#include <hivex.h>

#include <cstring>
#include <filesystem>

#include <standin/fault.h>
#include <standin/registry.h>

#include "reg_support.h"

using namespace regtest;
using testing_support::ReadFileBytes;
using testing_support::WriteFileBytes;

namespace {

// hivex itself, loaded at run time: an independent reader of what we write.
struct Hivex {
  void* lib = dlopen("libhivex.so.0", RTLD_NOW);
  decltype(&hivex_open) open = lib ? reinterpret_cast<decltype(&hivex_open)>(dlsym(lib, "hivex_open")) : nullptr;
  decltype(&hivex_close) close = reinterpret_cast<decltype(&hivex_close)>(Sym("hivex_close"));
  decltype(&hivex_root) root = reinterpret_cast<decltype(&hivex_root)>(Sym("hivex_root"));
  decltype(&hivex_node_children) children = reinterpret_cast<decltype(&hivex_node_children)>(Sym("hivex_node_children"));
  decltype(&hivex_node_name) name = reinterpret_cast<decltype(&hivex_node_name)>(Sym("hivex_node_name"));
  decltype(&hivex_node_name_len) nameLen = reinterpret_cast<decltype(&hivex_node_name_len)>(Sym("hivex_node_name_len"));
  decltype(&hivex_node_values) values = reinterpret_cast<decltype(&hivex_node_values)>(Sym("hivex_node_values"));
  decltype(&hivex_value_key) key = reinterpret_cast<decltype(&hivex_value_key)>(Sym("hivex_value_key"));
  decltype(&hivex_value_key_len) keyLen = reinterpret_cast<decltype(&hivex_value_key_len)>(Sym("hivex_value_key_len"));
  decltype(&hivex_value_value) value = reinterpret_cast<decltype(&hivex_value_value)>(Sym("hivex_value_value"));
  void* Sym(const char* n) { return lib ? dlsym(lib, n) : nullptr; }

  // Every key and value as "path|name type=.. len=..", in the file's order.
  void Walk(hive_h* h, hive_node_h node, const std::string& prefix, std::vector<std::string>* out) {
    hive_value_h* vs = values(h, node);
    for (size_t i = 0; vs && vs[i]; ++i) {
      char* k = key(h, vs[i]);
      hive_type t;
      size_t len = 0;
      char* data = value(h, vs[i], &t, &len);
      int32_t rawType;
      std::memcpy(&rawType, &t, sizeof rawType);
      out->push_back(prefix + "|" + std::string(k, keyLen(h, vs[i])) + " type=" + std::to_string(rawType) +
                     " len=" + std::to_string(len));
      free(data);
      free(k);
    }
    free(vs);
    hive_node_h* cs = children(h, node);
    for (size_t i = 0; cs && cs[i]; ++i) {
      char* n = name(h, cs[i]);
      std::string child(n, nameLen(h, cs[i]));
      free(n);
      out->push_back(prefix + "\\" + child);
      Walk(h, cs[i], prefix + "\\" + child, out);
    }
    free(cs);
  }
};

uint32_t Le32(const std::string& b, size_t at) {
  uint32_t v = 0;
  if (at + 4 <= b.size()) std::memcpy(&v, &b[at], 4);
  return v;
}

// Walks the subkey lists of a hive file as the platform's lookups use them:
// every "lh" list sorted by upper-cased name, each entry carrying its name's
// hash. Returns what is wrong, or nothing.
void CheckSubKeyLists(const std::string& b, size_t nk, std::vector<std::string>* problems, int depth = 0) {
  if (depth > 64 || nk + 0x50 > b.size() || b.compare(nk + 4, 2, "nk") != 0) {
    problems->push_back("no key cell at " + std::to_string(nk));
    return;
  }
  uint32_t count = Le32(b, nk + 4 + 0x14), list = Le32(b, nk + 4 + 0x1C);
  if (count == 0) return;
  size_t l = 0x1000 + list;
  if (b.compare(l + 4, 2, "lh") != 0) {
    problems->push_back("subkey list at " + std::to_string(l) + " is not an lh list");
    return;
  }
  std::u16string previous;
  for (size_t i = 0; i < (Le32(b, l + 4) >> 16); ++i) {
    size_t child = 0x1000 + Le32(b, l + 8 + 8 * i);
    uint16_t flags = static_cast<uint16_t>(Le32(b, child + 4) >> 16), len = static_cast<uint16_t>(Le32(b, child + 4 + 0x48));
    std::u16string name;
    for (size_t j = 0; j < len; j += (flags & 0x20) ? 1 : 2)
      name.push_back((flags & 0x20) ? static_cast<uint8_t>(b[child + 4 + 0x4C + j])
                                     : static_cast<char16_t>(Le32(b, child + 4 + 0x4C + j) & 0xFFFF));
    std::u16string upper;
    uint32_t hash = 0;
    for (char16_t c : name) {
      upper.push_back(standin::FoldCase(c));
      hash = hash * 37 + standin::FoldCase(c);
    }
    if (hash != Le32(b, l + 12 + 8 * i)) problems->push_back("wrong hash for " + standin::ToUtf8(name));
    if (i > 0 && !(previous < upper)) problems->push_back("out of order: " + standin::ToUtf8(name));
    previous = upper;
    CheckSubKeyLists(b, child, problems, depth + 1);
  }
}

class RegHive : public testing_support::FreshRoot {
 protected:
  void SetUp() override {
    FreshRoot::SetUp();
    SetPrivilege(SE_BACKUP_NAME, true);
    SetPrivilege(SE_RESTORE_NAME, true);
  }
  std::u16string File(const std::string& name) const { return standin::ToUtf16(RootFile(name)); }

  // A tree with every value type, non-ASCII names and nesting.
  void BuildSample(const char16_t* path) {
    Key top, a, deep;
    ASSERT_EQ(ERROR_SUCCESS, Create(HKEY_CURRENT_USER, path, &top));
    ASSERT_EQ(ERROR_SUCCESS, Create(top, u"Ärger™ 日本", &a));
    ASSERT_EQ(ERROR_SUCCESS, Create(a, u"deep\\deeper", &deep));
    // "a_b" and "aZ" sort one way upper-cased (the platform) and the other lower-cased.
    for (const char16_t* name : {u"zeta", u"a_b", u"Alpha", u"beta", u"Über", u"alpha2", u"aZ"}) {
      Key k;
      ASSERT_EQ(ERROR_SUCCESS, Create(top, name, &k));
    }
    const char multi[] = "a\0\0\0b\0\0\0\0\0";
    const uint64_t q = 0x0102030405060708ull;
    ASSERT_EQ(ERROR_SUCCESS, SetString(top, nullptr, u"default"));
    ASSERT_EQ(ERROR_SUCCESS, SetString(top, u"Grüße", u"straße ™"));
    ASSERT_EQ(ERROR_SUCCESS, RegSetValueExW(top, u"exp", 0, REG_EXPAND_SZ, reinterpret_cast<const BYTE*>(u"%TEMP%"), 14));
    ASSERT_EQ(ERROR_SUCCESS, SetDword(top, u"dw", 0xfeedface));
    ASSERT_EQ(ERROR_SUCCESS, RegSetValueExW(top, u"qw", 0, REG_QWORD, reinterpret_cast<const BYTE*>(&q), 8));
    ASSERT_EQ(ERROR_SUCCESS, RegSetValueExW(top, u"multi", 0, REG_MULTI_SZ, reinterpret_cast<const BYTE*>(multi),
                                            sizeof multi - 1));
    ASSERT_EQ(ERROR_SUCCESS, RegSetValueExW(top, u"none", 0, REG_NONE, nullptr, 0));
    ASSERT_EQ(ERROR_SUCCESS, RegSetValueExW(top, u"odd", 0, 0x12345, reinterpret_cast<const BYTE*>("xyz"), 3));
    std::string big(40000, '\x5a');
    ASSERT_EQ(ERROR_SUCCESS, RegSetValueExW(deep, u"big", 0, REG_BINARY, reinterpret_cast<const BYTE*>(big.data()),
                                            static_cast<DWORD>(big.size())));
    ASSERT_EQ(ERROR_SUCCESS, RegSetValueExW(a, u"tiny", 0, REG_BINARY, reinterpret_cast<const BYTE*>("\x01"), 1));
  }
};

TEST_F(RegHive, RoundTripIntoAnotherKeyKeepsEveryValue) {
  BuildSample(u"Software\\Source");
  Key src, dst, stale;
  ASSERT_EQ(ERROR_SUCCESS, RegOpenKeyExW(HKEY_CURRENT_USER, u"Software\\Source", 0, KEY_READ, src.out()));
  ASSERT_EQ(ERROR_SUCCESS, RegSaveKeyExW(src, File("source.hiv").c_str(), nullptr, REG_LATEST_FORMAT));

  ASSERT_EQ(ERROR_SUCCESS, Create(HKEY_LOCAL_MACHINE, u"SOFTWARE\\Target\\Old\\Below", &stale));
  ASSERT_EQ(ERROR_SUCCESS, Create(HKEY_LOCAL_MACHINE, u"SOFTWARE\\Target", &dst));
  ASSERT_EQ(ERROR_SUCCESS, SetDword(dst, u"leftover", 1));
  ASSERT_EQ(ERROR_SUCCESS, RegRestoreKeyW(dst, File("source.hiv").c_str(), REG_FORCE_RESTORE));

  EXPECT_EQ(Dump(HKEY_CURRENT_USER, u"Software\\Source"), Dump(HKEY_LOCAL_MACHINE, u"SOFTWARE\\Target"));
  // What was there before is gone, and handles into it know.
  EXPECT_EQ(ERROR_KEY_DELETED, SetDword(stale, u"v", 1));
  EXPECT_EQ(ERROR_SUCCESS, SetDword(dst, u"after", 1));
}

TEST_F(RegHive, SavedHiveIsARealHiveThatHivexReads) {
  Hivex hx;
  if (!hx.open) GTEST_SKIP() << "libhivex.so.0 is not installed";
  BuildSample(u"Software\\Source");
  Key src;
  ASSERT_EQ(ERROR_SUCCESS, RegOpenKeyExW(HKEY_CURRENT_USER, u"Software\\Source", 0, KEY_READ, src.out()));
  ASSERT_EQ(ERROR_SUCCESS, RegSaveKeyW(src, File("source.hiv").c_str(), nullptr));

  std::string bytes = ReadFileBytes(RootFile("source.hiv"));
  ASSERT_GE(bytes.size(), 8192u);
  EXPECT_EQ("regf", bytes.substr(0, 4));
  EXPECT_EQ("hbin", bytes.substr(4096, 4));
  uint32_t sum = 0, stored = 0;
  for (size_t i = 0; i < 508; i += 4) {
    uint32_t d;
    std::memcpy(&d, &bytes[i], 4);
    sum ^= d;
  }
  std::memcpy(&stored, &bytes[508], 4);
  EXPECT_EQ(sum, stored);
  std::vector<std::string> problems;
  CheckSubKeyLists(bytes, 0x1000 + Le32(bytes, 0x24), &problems);
  EXPECT_TRUE(problems.empty()) << problems.front();

  hive_h* h = hx.open(RootFile("source.hiv").c_str(), 0);
  ASSERT_NE(nullptr, h);
  std::vector<std::string> seen;
  hx.Walk(h, hx.root(h), "", &seen);
  hx.close(h);
  // Subkeys in the platform's order (upper-cased), values in creation order.
  std::vector<std::string> expected = {
      "| type=1 len=16",        "|Grüße type=1 len=18", "|exp type=2 len=14",      "|dw type=4 len=4",
      "|qw type=11 len=8",      "|multi type=7 len=10", "|none type=0 len=0",      "|odd type=74565 len=3",
      "\\Alpha",                "\\alpha2",             "\\aZ",                    "\\a_b",
      "\\beta",                 "\\zeta",
      "\\Ärger™ 日本",          "\\Ärger™ 日本|tiny type=3 len=1",                 "\\Ärger™ 日本\\deep",
      "\\Ärger™ 日本\\deep\\deeper", "\\Ärger™ 日本\\deep\\deeper|big type=3 len=40000", "\\Über"};
  EXPECT_EQ(expected, seen);
}

TEST_F(RegHive, SaveRefusesAnExistingFileAndNeedsThePrivilege) {
  Key src;
  ASSERT_EQ(ERROR_SUCCESS, Create(HKEY_CURRENT_USER, u"Software\\Source", &src));
  WriteFileBytes(RootFile("taken.hiv"), "precious");
  EXPECT_EQ(ERROR_ALREADY_EXISTS, RegSaveKeyExW(src, File("taken.hiv").c_str(), nullptr, REG_LATEST_FORMAT));
  EXPECT_EQ("precious", ReadFileBytes(RootFile("taken.hiv")));
  EXPECT_EQ(ERROR_PATH_NOT_FOUND, RegSaveKeyW(src, File("no/such/folder/x.hiv").c_str(), nullptr));

  SetPrivilege(SE_BACKUP_NAME, false);
  EXPECT_EQ(ERROR_PRIVILEGE_NOT_HELD, RegSaveKeyW(src, File("new.hiv").c_str(), nullptr));
  EXPECT_FALSE(std::filesystem::exists(RootFile("new.hiv")));
  // Failed saves leave no temporary files behind.
  for (const auto& entry : std::filesystem::directory_iterator(root()))
    EXPECT_EQ(std::string::npos, entry.path().filename().string().find(".hiv.")) << entry.path();

  SetPrivilege(SE_BACKUP_NAME, true);
  ASSERT_EQ(ERROR_SUCCESS, RegSaveKeyW(src, File("new.hiv").c_str(), nullptr));
  SetPrivilege(SE_RESTORE_NAME, false);
  EXPECT_EQ(ERROR_PRIVILEGE_NOT_HELD, RegRestoreKeyW(src, File("new.hiv").c_str(), 0));
}

TEST_F(RegHive, RestoresHivesWrittenByWindows) {
  std::string minimal = TestData("hive/hivex-minimal.hive"), special = TestData("hive/hivex-special.hive");
  REQUIRE_TEST_DATA(!minimal.empty());
  Key dst;
  ASSERT_EQ(ERROR_SUCCESS, Create(HKEY_CURRENT_USER, u"Software\\FromWindows\\Child", &dst));
  ASSERT_EQ(ERROR_SUCCESS, Create(HKEY_CURRENT_USER, u"Software\\FromWindows", &dst));
  ASSERT_EQ(ERROR_SUCCESS, RegRestoreKeyW(dst, standin::ToUtf16(minimal).c_str(), 0));
  EXPECT_TRUE(Dump(HKEY_CURRENT_USER, u"Software\\FromWindows").empty());

  ASSERT_EQ(ERROR_SUCCESS, RegRestoreKeyW(dst, standin::ToUtf16(special).c_str(), REG_FORCE_RESTORE));
  std::vector<std::u16string> keys = SubKeys(dst);
  ASSERT_EQ(3u, keys.size());
  // A name with an embedded NUL is kept whole: listed in full, not openable.
  EXPECT_EQ(std::u16string(u"abcd_äöüß"), keys[0]);
  EXPECT_EQ(std::u16string(u"weird™"), keys[1]);
  EXPECT_EQ(std::u16string(u"zero\0key", 8), keys[2]);
  Key umlauts;
  ASSERT_EQ(ERROR_SUCCESS, RegOpenKeyExW(dst, u"ABCD_ÄÖÜß", 0, KEY_READ, umlauts.out()));
  DWORD type = 0, value = 0, size = sizeof value;
  ASSERT_EQ(ERROR_SUCCESS, RegQueryValueExW(umlauts, u"abcd_äöüß", nullptr, &type, reinterpret_cast<BYTE*>(&value),
                                            &size));
  EXPECT_EQ(static_cast<DWORD>(REG_DWORD), type);
  Key weird;
  ASSERT_EQ(ERROR_SUCCESS, RegOpenKeyExW(dst, u"WEIRD™", 0, KEY_READ, weird.out()));
  WCHAR name[64];
  DWORD len = 64;
  ASSERT_EQ(ERROR_SUCCESS, RegEnumValueW(weird, 0, name, &len, nullptr, &type, nullptr, nullptr));
  EXPECT_EQ(std::u16string(u"symbols $£₤₧€"), std::u16string(name, len));
  Key zero;
  EXPECT_EQ(ERROR_FILE_NOT_FOUND, RegOpenKeyExW(dst, u"zero", 0, KEY_READ, zero.out()));
}

TEST_F(RegHive, EmbeddedNulNamesSurviveASaveAndRestore) {
  std::string special = TestData("hive/hivex-special.hive");
  Hivex hx;
  REQUIRE_TEST_DATA(!special.empty());
  if (!hx.open) GTEST_SKIP() << "libhivex.so.0 is not installed";
  Key a, b;
  ASSERT_EQ(ERROR_SUCCESS, Create(HKEY_CURRENT_USER, u"Software\\A", &a));
  ASSERT_EQ(ERROR_SUCCESS, RegRestoreKeyW(a, standin::ToUtf16(special).c_str(), 0));
  ASSERT_EQ(ERROR_SUCCESS, RegSaveKeyW(a, File("again.hiv").c_str(), nullptr));

  hive_h* h = hx.open(RootFile("again.hiv").c_str(), 0);
  ASSERT_NE(nullptr, h);
  std::vector<std::string> saved;
  hx.Walk(h, hx.root(h), "", &saved);
  hx.close(h);
  const std::vector<std::string> expected = {
      "\\abcd_äöüß", "\\abcd_äöüß|abcd_äöüß type=4 len=4", "\\weird™", "\\weird™|symbols $£₤₧€ type=4 len=4",
      std::string("\\zero\0key", 9), std::string("\\zero\0key|zero\0val type=4 len=4", 31)};
  EXPECT_EQ(expected, saved);
  std::vector<std::string> problems;
  std::string bytes = ReadFileBytes(RootFile("again.hiv"));
  CheckSubKeyLists(bytes, 0x1000 + Le32(bytes, 0x24), &problems);
  EXPECT_TRUE(problems.empty()) << problems.front();

  ASSERT_EQ(ERROR_SUCCESS, Create(HKEY_CURRENT_USER, u"Software\\B", &b));
  ASSERT_EQ(ERROR_SUCCESS, RegRestoreKeyW(b, File("again.hiv").c_str(), 0));
  EXPECT_EQ(Dump(HKEY_CURRENT_USER, u"Software\\A"), Dump(HKEY_CURRENT_USER, u"Software\\B"));
  EXPECT_EQ(std::u16string(u"zero\0key", 8), SubKeys(b).back());
}

TEST_F(RegHive, DamagedFilesAreRefusedAndChangeNothing) {
  Key src, dst;
  BuildSample(u"Software\\Source");
  ASSERT_EQ(ERROR_SUCCESS, RegOpenKeyExW(HKEY_CURRENT_USER, u"Software\\Source", 0, KEY_READ, src.out()));
  ASSERT_EQ(ERROR_SUCCESS, RegSaveKeyW(src, File("good.hiv").c_str(), nullptr));
  std::string good = ReadFileBytes(RootFile("good.hiv"));
  ASSERT_EQ(ERROR_SUCCESS, Create(HKEY_CURRENT_USER, u"Software\\Target\\Keep", &dst));
  ASSERT_EQ(ERROR_SUCCESS, SetDword(dst, u"keep", 1));
  ASSERT_EQ(ERROR_SUCCESS, Create(HKEY_CURRENT_USER, u"Software\\Target", &dst));
  const std::vector<std::string> before = Dump(HKEY_CURRENT_USER, u"Software\\Target");

  struct Case {
    const char* what;
    std::string bytes;
    LONG expected;
  };
  std::string checksum = good, truncated = good.substr(0, good.size() - 4096), bin = good, header = good;
  checksum[508] ^= 0x01;
  bin[4096] = 'X';
  header[0x28] = 0x7f;  // promises more bins than the file has, checksum fixed up below
  uint32_t sum = 0;
  for (size_t i = 0; i < 508; i += 4) {
    uint32_t d;
    std::memcpy(&d, &header[i], 4);
    sum ^= d;
  }
  std::memcpy(&header[508], &sum, 4);
  const std::vector<Case> cases = {
      {"checksum", checksum, ERROR_REGISTRY_CORRUPT},
      {"truncated", truncated, ERROR_REGISTRY_CORRUPT},
      {"bin signature", bin, ERROR_REGISTRY_CORRUPT},
      {"bins size", header, ERROR_REGISTRY_CORRUPT},
      {"text", "Windows Registry Editor Version 5.00\r\n", ERROR_NOT_REGISTRY_FILE},
      {"empty", "", ERROR_NOT_REGISTRY_FILE},
      {"base block only", good.substr(0, 4096), ERROR_REGISTRY_CORRUPT},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    WriteFileBytes(RootFile("bad.hiv"), c.bytes);
    EXPECT_EQ(c.expected, RegRestoreKeyW(dst, File("bad.hiv").c_str(), REG_FORCE_RESTORE));
    EXPECT_EQ(before, Dump(HKEY_CURRENT_USER, u"Software\\Target"));
  }
  EXPECT_EQ(ERROR_FILE_NOT_FOUND, RegRestoreKeyW(dst, File("missing.hiv").c_str(), 0));
  // Each refusal was explained to the debugger.
  std::string debug = ReadFileBytes(RootFile("debugger-output.txt"));
  EXPECT_NE(std::string::npos, debug.find("checksum"));
  EXPECT_NE(std::string::npos, debug.find("regf"));
  EXPECT_NE(std::string::npos, debug.find("truncated"));
}

TEST_F(RegHive, ReadOnlyTargetsAndFaultsRefuseTheRestore) {
  BuildSample(u"Software\\Source");
  Key src, dst;
  ASSERT_EQ(ERROR_SUCCESS, RegOpenKeyExW(HKEY_CURRENT_USER, u"Software\\Source", 0, KEY_READ, src.out()));
  ASSERT_EQ(ERROR_SUCCESS, RegSaveKeyW(src, File("good.hiv").c_str(), nullptr));
  ASSERT_EQ(ERROR_SUCCESS, Create(HKEY_CURRENT_USER, u"Software\\Target", &dst));
  ASSERT_EQ(ERROR_SUCCESS, standin::SetRegistryKeyReadOnly(u"HKCU", u"Software\\Target\\Locked", true));
  EXPECT_EQ(ERROR_ACCESS_DENIED, RegRestoreKeyW(dst, File("good.hiv").c_str(), REG_FORCE_RESTORE));
  EXPECT_EQ(std::vector<std::u16string>{u"Locked"}, SubKeys(dst));

  standin::ArmFault("RegSaveKeyExW", ERROR_DISK_FULL, 0);
  EXPECT_EQ(ERROR_DISK_FULL, RegSaveKeyExW(src, File("faulted.hiv").c_str(), nullptr, REG_LATEST_FORMAT));
  EXPECT_FALSE(std::filesystem::exists(RootFile("faulted.hiv")));
  standin::ArmFault("RegRestoreKeyW", ERROR_REGISTRY_IO_FAILED, 1);
  ASSERT_EQ(ERROR_SUCCESS, standin::SetRegistryKeyReadOnly(u"HKCU", u"Software\\Target\\Locked", false));
  EXPECT_EQ(ERROR_REGISTRY_IO_FAILED, RegRestoreKeyW(dst, File("good.hiv").c_str(), 0));
  EXPECT_EQ(ERROR_SUCCESS, RegRestoreKeyW(dst, File("good.hiv").c_str(), 0));
  EXPECT_EQ(Dump(HKEY_CURRENT_USER, u"Software\\Source"), Dump(HKEY_CURRENT_USER, u"Software\\Target"));
}

// The machine's account list, saved and restored the way a configuration
// backup does it: opened with all access and saved in the latest format, then
// created if missing and restored by force.
TEST_F(RegHive, TheAccountListKeyRoundTripsThroughARegfFile) {
  for (const char16_t* path : {u"Software\\Microsoft\\Office\\Outlook\\Outlook 10 Accounts",
                               u"Software\\Wow6432Node\\Microsoft\\Office\\Outlook\\Outlook 10 Accounts"}) {
    SCOPED_TRACE(standin::ToUtf8(path));
    {
      Key list, account;
      ASSERT_EQ(ERROR_SUCCESS, Create(HKEY_LOCAL_MACHINE, path, &list));
      ASSERT_EQ(ERROR_SUCCESS, Create(list, u"00000001", &account));
      const char16_t name[] = u"Home";
      ASSERT_EQ(ERROR_SUCCESS, RegSetValueExW(account, u"Account Name", 0, REG_BINARY,
                                              reinterpret_cast<const BYTE*>(name), sizeof name));
      ASSERT_EQ(ERROR_SUCCESS, SetDword(account, u"MAPI Provider", 5));
      ASSERT_EQ(ERROR_SUCCESS, SetString(list, u"Default Mail Account", u"00000001"));
    }
    const std::vector<std::string> saved = Dump(HKEY_LOCAL_MACHINE, path);
    ASSERT_EQ(4u, saved.size());
    const std::u16string file = File("oaconnect.reg");
    std::filesystem::remove(RootFile("oaconnect.reg"));
    {
      Key list;
      ASSERT_EQ(ERROR_SUCCESS, RegOpenKeyExW(HKEY_LOCAL_MACHINE, path, 0, KEY_ALL_ACCESS, list.out()));
      ASSERT_EQ(ERROR_SUCCESS, RegSaveKeyExW(list, file.c_str(), nullptr, REG_LATEST_FORMAT));
    }
    EXPECT_EQ("regf", ReadFileBytes(RootFile("oaconnect.reg")).substr(0, 4));

    // The key goes away meanwhile, and comes back as the hive had it.
    ASSERT_EQ(ERROR_SUCCESS, RegDeleteTreeW(HKEY_LOCAL_MACHINE, path));
    {
      Key made;
      ASSERT_EQ(ERROR_SUCCESS, RegCreateKeyW(HKEY_LOCAL_MACHINE, path, made.out()));
      ASSERT_EQ(ERROR_SUCCESS, SetString(made, u"Stray", u"not in the hive"));
    }
    Key list;
    ASSERT_EQ(ERROR_SUCCESS, RegOpenKeyExW(HKEY_LOCAL_MACHINE, path, 0, KEY_QUERY_VALUE, list.out()));
    ASSERT_EQ(ERROR_SUCCESS, RegRestoreKeyW(list, file.c_str(), REG_FORCE_RESTORE));
    EXPECT_EQ(saved, Dump(HKEY_LOCAL_MACHINE, path));
  }
}

TEST_F(RegHive, OnlyAForcedRestoreGoesPastOpenHandles) {
  BuildSample(u"Software\\Source");
  Key src, dst, child, same;
  ASSERT_EQ(ERROR_SUCCESS, RegOpenKeyExW(HKEY_CURRENT_USER, u"Software\\Source", 0, KEY_READ, src.out()));
  ASSERT_EQ(ERROR_SUCCESS, RegSaveKeyW(src, File("good.hiv").c_str(), nullptr));
  ASSERT_EQ(ERROR_SUCCESS, Create(HKEY_CURRENT_USER, u"Software\\Target", &dst));
  ASSERT_EQ(ERROR_SUCCESS, Create(dst, u"Child", &child));
  ASSERT_EQ(ERROR_SUCCESS, SetString(child, u"kept", u"until forced"));
  const std::vector<std::string> before = Dump(HKEY_CURRENT_USER, u"Software\\Target");

  // A handle below the key, or another one on the key itself, stops it.
  EXPECT_EQ(ERROR_ACCESS_DENIED, RegRestoreKeyW(dst, File("good.hiv").c_str(), 0));
  EXPECT_EQ(before, Dump(HKEY_CURRENT_USER, u"Software\\Target"));
  child.Reset();
  ASSERT_EQ(ERROR_SUCCESS, RegOpenKeyExW(HKEY_CURRENT_USER, u"Software\\Target", 0, KEY_READ, same.out()));
  EXPECT_EQ(ERROR_ACCESS_DENIED, RegRestoreKeyW(dst, File("good.hiv").c_str(), 0));
  // Handles elsewhere do not.
  same.Reset();
  EXPECT_EQ(ERROR_SUCCESS, RegRestoreKeyW(dst, File("good.hiv").c_str(), 0));
  EXPECT_EQ(Dump(HKEY_CURRENT_USER, u"Software\\Source"), Dump(HKEY_CURRENT_USER, u"Software\\Target"));

  // Forced, it goes on; the handle below finds its key gone.
  ASSERT_EQ(ERROR_SUCCESS, Create(dst, u"Child", &child));
  EXPECT_EQ(ERROR_SUCCESS, RegRestoreKeyW(dst, File("good.hiv").c_str(), REG_FORCE_RESTORE));
  DWORD size = 0;
  EXPECT_EQ(ERROR_KEY_DELETED, RegQueryValueExW(child, u"kept", nullptr, nullptr, nullptr, &size));
  EXPECT_EQ(Dump(HKEY_CURRENT_USER, u"Software\\Source"), Dump(HKEY_CURRENT_USER, u"Software\\Target"));
}

}  // namespace
