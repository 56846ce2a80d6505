// The admin tool's mail accounts and the machine's account pieces, run as a
// process; the registry is read back directly.
#include <cstring>

#include <nlohmann/json.hpp>
#include <standin/accounts.h>
#include <standin/root.h>

#include "common/fresh_root.h"

namespace testing_support {
namespace {

using namespace standin::accounts;

class AccountAdminTest : public FreshRoot {
 protected:
  ChildResult Admin(std::vector<std::string> args, std::vector<std::string> env = {}) {
    args.insert(args.begin(), BuiltProgram("mapiadmin"));
    return RunChild(args, env);
  }
  std::string Ok(std::vector<std::string> args) {
    ChildResult r = Admin(args);
    EXPECT_EQ(r.exitCode, 0) << r.output;
    return r.output;
  }
  std::string Add(std::vector<std::string> args) {
    args.insert(args.begin(), {"account", "add", "Outlook"});
    return Ok(args);
  }
  // The value of an account as type and raw bytes; false when it is missing.
  static bool Value(DWORD id, const char16_t* name, DWORD* type, std::string* bytes) {
    HKEY key = nullptr;
    std::u16string path = AccountKeyPath(u"Outlook") + u"\\" + AccountKeyName(id);
    if (RegOpenKeyExW(HKEY_CURRENT_USER, path.c_str(), 0, KEY_READ, &key) != ERROR_SUCCESS) return false;
    DWORD size = 0;
    bool found = RegQueryValueExW(key, name, nullptr, type, nullptr, &size) == ERROR_SUCCESS;
    bytes->assign(size, '\0');
    found = found && RegQueryValueExW(key, name, nullptr, type, reinterpret_cast<BYTE*>(bytes->data()), &size) ==
                         ERROR_SUCCESS;
    RegCloseKey(key);
    return found;
  }
  static std::string Utf16(const std::u16string& text) {
    return std::string(reinterpret_cast<const char*>(text.c_str()), (text.size() + 1) * sizeof(char16_t));
  }
  static bool KeyExists(HKEY root, const std::u16string& path) {
    HKEY key = nullptr;
    if (RegOpenKeyExW(root, path.c_str(), 0, KEY_READ, &key) != ERROR_SUCCESS) return false;
    RegCloseKey(key);
    return true;
  }
};

TEST_F(AccountAdminTest, InstallMakesTheAccountListKeyAndItsTwinOnWow64Machines) {
  const std::u16string plain = std::u16string(u"Software\\") + kAccountListTail;
  const std::u16string twin = std::u16string(u"Software\\Wow6432Node\\") + kAccountListTail;
  Ok({"install"});
  EXPECT_TRUE(KeyExists(HKEY_LOCAL_MACHINE, plain));
  EXPECT_FALSE(KeyExists(HKEY_LOCAL_MACHINE, twin));
  standin::SetMachineSetting("wow64", "absent");
  Ok({"install"});
  EXPECT_FALSE(KeyExists(HKEY_LOCAL_MACHINE, twin));
  standin::SetMachineSetting("wow64", "1");
  Ok({"install"});
  EXPECT_TRUE(KeyExists(HKEY_LOCAL_MACHINE, twin));
  EXPECT_TRUE(KeyExists(HKEY_LOCAL_MACHINE, plain));
}

TEST_F(AccountAdminTest, AccountsAreKeptAsTheMailClientKeepsThem) {
  Ok({"install"});
  EXPECT_EQ("1\n", Add({"--kind", "pop", "--name", "Home", "--email", "home@example.com", "--pop3-server",
                        "pop.example.com", "--smtp-server", "smtp.example.com", "--display-name", "Ada"}));
  DWORD type = 0;
  std::string bytes;
  ASSERT_TRUE(Value(1, kEmail, &type, &bytes));
  EXPECT_EQ(static_cast<DWORD>(REG_BINARY), type);
  EXPECT_EQ(Utf16(u"home@example.com"), bytes);
  ASSERT_TRUE(Value(1, kPop3Server, &type, &bytes));
  EXPECT_EQ(static_cast<DWORD>(REG_BINARY), type);
  EXPECT_EQ(Utf16(u"pop.example.com"), bytes);
  ASSERT_TRUE(Value(1, kType, &type, &bytes));
  EXPECT_EQ(static_cast<DWORD>(REG_SZ), type);
  EXPECT_EQ(Utf16(u"{ED475411-B0D6-11D2-8C3B-00104B2A6676}"), bytes);
  EXPECT_FALSE(Value(1, kMapiProvider, &type, &bytes));

  // A "POP3 Server" of the wrong type.
  EXPECT_EQ("2\n", Add({"--kind", "pop", "--name", "Odd", "--email", "odd@example.com", "--pop3-server", "pop.odd",
                        "--pop3-server-type", "sz"}));
  ASSERT_TRUE(Value(2, kPop3Server, &type, &bytes));
  EXPECT_EQ(static_cast<DWORD>(REG_SZ), type);
  EXPECT_EQ(Utf16(u"pop.odd"), bytes);

  // An Exchange account: "MAPI Provider" 5 and no "Email"; or another provider.
  EXPECT_EQ("3\n", Add({"--kind", "mapi", "--name", "Work"}));
  ASSERT_TRUE(Value(3, kMapiProvider, &type, &bytes));
  EXPECT_EQ(static_cast<DWORD>(REG_DWORD), type);
  EXPECT_EQ(std::string("\x05\0\0\0", 4), bytes);
  EXPECT_FALSE(Value(3, kEmail, &type, &bytes));
  EXPECT_EQ("4\n", Add({"--kind", "mapi", "--name", "Other", "--mapi-provider", "7"}));
  ASSERT_TRUE(Value(4, kMapiProvider, &type, &bytes));
  EXPECT_EQ(std::string("\x07\0\0\0", 4), bytes);

  auto listed = nlohmann::json::parse(Ok({"account", "list", "Outlook", "--json"}));
  ASSERT_EQ(4u, listed.size()) << listed;
  EXPECT_EQ(1, listed[0]["id"]);
  EXPECT_EQ("00000001", listed[0]["key"]);
  EXPECT_EQ("POP/SMTP", listed[0]["kind"]);
  EXPECT_EQ("Ada", listed[0]["values"]["Display Name"]["text"]);
  EXPECT_EQ("REG_SZ", listed[1]["values"]["POP3 Server"]["type"]);
  EXPECT_EQ("MAPI", listed[2]["kind"]);
  EXPECT_EQ(5, listed[2]["values"]["MAPI Provider"]["value"]);
  EXPECT_FALSE(listed[2]["values"].contains("Email"));
  EXPECT_EQ("00000001\tPOP/SMTP\tHome\thome@example.com\n00000002\tPOP/SMTP\tOdd\todd@example.com\n"
            "00000003\tMAPI\tWork\n00000004\tMAPI\tOther\n",
            Ok({"account", "list", "Outlook"}));
}

TEST_F(AccountAdminTest, BadRequestsChangeNothing) {
  Ok({"install"});
  EXPECT_EQ("[]\n", Ok({"account", "list", "Outlook", "--json"}));
  ChildResult r = Admin({"account", "add", "Outlook", "--kind", "smoke-signal", "--name", "x"});
  EXPECT_EQ(2, r.exitCode) << r.output;
  r = Admin({"account", "add", "Nowhere", "--kind", "pop", "--name", "x"});
  EXPECT_EQ(1, r.exitCode);
  EXPECT_NE(std::string::npos, r.output.find("there is no profile 'Nowhere'")) << r.output;
  // A value that cannot be written leaves no half-made account behind, and
  // its id is not given again.
  r = Admin({"account", "add", "Outlook", "--kind", "pop", "--name", "x", "--email", "x@example.com"},
            {"CORVANE_FAULTS=RegSetValueExW=5@4"});
  EXPECT_EQ(1, r.exitCode) << r.output;
  EXPECT_EQ("[]\n", Ok({"account", "list", "Outlook", "--json"}));
  EXPECT_EQ("2\n", Add({"--kind", "imap", "--name", "y"}));
}

}  // namespace
}  // namespace testing_support
