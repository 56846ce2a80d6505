// mapiadmin import: real mail (.eml files, mbox files) into a folder of a store.
#include <cstdio>
#include <cstring>

#include <CLI/CLI.hpp>

#include "mailimport.h"
#include "mapiadmin.h"

namespace mapiadmin {

namespace {

using mailimport::ImportedMessage;

bool IsMbox(const std::string& path) {
  FILE* f = std::fopen(path.c_str(), "rb");
  if (!f) throw Failure("cannot read " + path);
  char head[8] = {};
  size_t n = std::fread(head, 1, 5, f);
  std::fclose(f);
  return n == 5 && std::memcmp(head, "From ", 5) == 0 && path.size() > 5 && path.substr(path.size() - 4) != ".eml";
}

}  // namespace

void AddImportCommand(CLI::App& app) {
  static std::string profile, store, folder;
  static std::vector<std::string> files;
  CLI::App* cmd = app.add_subcommand("import", "import .eml and mbox files into a folder (made when missing)");
  cmd->add_option("profile", profile, "profile name")->required();
  cmd->add_option("--store", store, "store display name")->required();
  cmd->add_option("--folder", folder, "folder path below the top of the store")->default_val("Inbox");
  cmd->add_option("files", files, ".eml or mbox files")->required()->check(CLI::ExistingFile);
  cmd->callback([] {
    mailimport::MimeRuntime mime;
    MapiSubsystem mapi;
    CInterfacePtr<IMAPISession> session = Logon(profile);
    CInterfacePtr<IMsgStore> msgStore = OpenStoreByName(session.Get(), store);
    CInterfacePtr<IMAPIFolder> target = OpenFolderPath(msgStore.Get(), folder, true);
    size_t imported = 0;
    for (const std::string& file : files) {
      std::string error;
      if (IsMbox(file)) {
        bool ok = mailimport::ForEachMboxMessage(
            file,
            [&](const mailimport::MboxEntry&, ImportedMessage&& m) {
              WriteMailMessage(target.Get(), m);
              ++imported;
              return true;
            },
            &error);
        if (!ok) throw Failure(file + ": " + error);
      } else {
        ImportedMessage m;
        if (!mailimport::ReadEmlFile(file, &m, &error)) throw Failure(file + ": " + error);
        WriteMailMessage(target.Get(), m);
        ++imported;
      }
    }
    Print(std::to_string(imported) + " messages imported into " + folder + "\n");
  });
}

}  // namespace mapiadmin
