// mapiadmin export: writes the imported messages of a folder back as .eml
// files, byte for byte as they were imported.
#include <cstdio>

#include <CLI/CLI.hpp>
#include <standin/root.h>

#include "mapiadmin.h"

namespace mapiadmin {

void AddExportCommand(CLI::App& app) {
  static std::string profile, store, folder, outDir;
  CLI::App* cmd = app.add_subcommand("export", "write a folder's imported messages as .eml files");
  cmd->add_option("profile", profile, "profile name")->required();
  cmd->add_option("--store", store, "store display name")->required();
  cmd->add_option("--folder", folder, "folder path below the top of the store")->required();
  cmd->add_option("--out", outDir, "folder to write into")->required()->check(CLI::ExistingDirectory);
  cmd->callback([] {
    MapiSubsystem mapi;
    CInterfacePtr<IMAPISession> session = Logon(profile);
    CInterfacePtr<IMsgStore> msgStore = OpenStoreByName(session.Get(), store);
    CInterfacePtr<IMAPIFolder> source = OpenFolderPath(msgStore.Get(), folder, false);
    CInterfacePtr<IMAPITable> contents;
    Check(source->GetContentsTable(0, contents.Put()), "reading the folder");
    SizedSPropTagArray(1, columns) = {1, {PR_ENTRYID}};
    CRowSet rows;
    Check(HrQueryAllRows(contents.Get(), reinterpret_cast<LPSPropTagArray>(&columns), nullptr, nullptr, 0, rows.Put()),
          "reading the folder");
    int written = 0;
    for (ULONG i = 0; i < rows.Count(); ++i) {
      const SBinary& id = rows->aRow[i].lpProps[0].Value.bin;
      ULONG type = 0;
      CInterfacePtr<IMessage> message;
      Check(source->OpenEntry(id.cb, reinterpret_cast<LPENTRYID>(id.lpb), &IID_IMessage, 0, &type,
                              message.PutAs<IUnknown>()),
            "opening a message");
      CMapiBuffer<SPropValue> raw;
      if (FAILED(HrGetOneProp(message.Get(), PR_STANDIN_RAW_MESSAGE, raw.Put()))) continue;  // not imported
      std::string path = outDir + "/" + std::to_string(++written) + ".eml";
      FILE* f = std::fopen(path.c_str(), "wb");
      if (!f) throw Failure("cannot write " + path);
      size_t n = std::fwrite(raw->Value.bin.lpb, 1, raw->Value.bin.cb, f);
      if (std::fclose(f) != 0 || n != raw->Value.bin.cb) throw Failure("cannot write " + path);
    }
    Print(std::to_string(written) + " messages written to " + outDir + "\n");
  });
}

}  // namespace mapiadmin
