// mapiadmin import: real mail (.eml files, mbox files) into a folder of a store.
#include <cstring>

#include <CLI/CLI.hpp>

#include "mailimport.h"
#include "mapiadmin.h"

namespace mapiadmin {

namespace {

using mailimport::ImportedMessage;

SPropValue Unicode(ULONG tag, const std::u16string& text) {
  SPropValue v = {};
  v.ulPropTag = tag;
  v.Value.lpszW = const_cast<LPWSTR>(text.c_str());
  return v;
}

SPropValue Binary(ULONG tag, const std::string& bytes) {
  SPropValue v = {};
  v.ulPropTag = tag;
  v.Value.bin.cb = static_cast<ULONG>(bytes.size());
  v.Value.bin.lpb = reinterpret_cast<LPBYTE>(const_cast<char*>(bytes.data()));
  return v;
}

SPropValue Long(ULONG tag, LONG value) {
  SPropValue v = {};
  v.ulPropTag = tag;
  v.Value.l = value;
  return v;
}

SPropValue Time(ULONG tag, const FILETIME& ft) {
  SPropValue v = {};
  v.ulPropTag = tag;
  v.Value.ft = ft;
  return v;
}

// The recipients as an address list in MAPI memory, freed with the object.
class AddressList {
 public:
  explicit AddressList(const ImportedMessage& m) {
    std::vector<std::pair<const mailimport::Recipient*, LONG>> all;
    for (const auto& r : m.to) all.emplace_back(&r, MAPI_TO);
    for (const auto& r : m.cc) all.emplace_back(&r, MAPI_CC);
    for (const auto& r : m.bcc) all.emplace_back(&r, MAPI_BCC);
    if (all.empty()) return;
    Check(MAPIAllocateBuffer(static_cast<ULONG>(CbNewADRLIST(all.size())), reinterpret_cast<LPVOID*>(&list_)),
          "allocating recipients");
    std::memset(list_, 0, CbNewADRLIST(all.size()));
    for (const auto& [recipient, type] : all) {
      ADRENTRY& entry = list_->aEntries[list_->cEntries++];
      Check(MAPIAllocateBuffer(4 * sizeof(SPropValue), reinterpret_cast<LPVOID*>(&entry.rgPropVals)),
            "allocating recipients");
      entry.cValues = 4;
      const std::u16string& name = recipient->name.empty() ? recipient->email : recipient->name;
      entry.rgPropVals[0] = Unicode(PR_DISPLAY_NAME_W, name);
      entry.rgPropVals[1] = Unicode(PR_EMAIL_ADDRESS_W, recipient->email);
      entry.rgPropVals[2] = Unicode(PR_ADDRTYPE_W, kSmtp);
      entry.rgPropVals[3] = Long(PR_RECIPIENT_TYPE, type);
    }
  }
  ~AddressList() { FreePadrlist(list_); }
  AddressList(const AddressList&) = delete;
  AddressList& operator=(const AddressList&) = delete;
  LPADRLIST Get() const { return list_; }

 private:
  static inline const std::u16string kSmtp = u"SMTP";
  LPADRLIST list_ = nullptr;
};

void WriteMessage(IMAPIFolder* folder, const ImportedMessage& m) {
  CInterfacePtr<IMessage> message;
  Check(folder->CreateMessage(nullptr, 0, message.Put()), "making a message");
  static const std::u16string kNote = u"IPM.Note", kSmtp = u"SMTP";
  std::vector<SPropValue> props = {Unicode(PR_MESSAGE_CLASS_W, kNote),   Unicode(PR_SUBJECT_W, m.subject),
                                   Unicode(PR_SENDER_NAME_W, m.senderName), Unicode(PR_SENDER_EMAIL_ADDRESS_W, m.senderEmail),
                                   Unicode(PR_SENDER_ADDRTYPE_W, kSmtp), Long(PR_MESSAGE_FLAGS, MSGFLAG_READ),
                                   Binary(PR_STANDIN_RAW_MESSAGE, m.raw)};
  if (!m.messageId.empty()) props.push_back(Unicode(PR_INTERNET_MESSAGE_ID_W, m.messageId));
  if (!m.plainBody.empty()) props.push_back(Unicode(PR_BODY_W, m.plainBody));
  if (!m.htmlBody.empty()) props.push_back(Binary(PR_HTML, m.htmlBody));
  if (!m.headers.empty()) props.push_back(Unicode(PR_TRANSPORT_MESSAGE_HEADERS_W, m.headers));
  if (m.hasDate) {
    // The mail's own date, so that importing the same mail twice gives equal items.
    for (ULONG tag : {PR_CLIENT_SUBMIT_TIME, PR_MESSAGE_DELIVERY_TIME, PR_CREATION_TIME, PR_LAST_MODIFICATION_TIME})
      props.push_back(Time(tag, m.date));
  }
  SetProps(message.Get(), std::move(props), "setting the message's properties");

  AddressList recipients(m);
  if (recipients.Get()) Check(message->ModifyRecipients(MODRECIP_ADD, recipients.Get()), "adding recipients");

  for (const auto& a : m.attachments) {
    CInterfacePtr<IAttach> attach;
    ULONG number = 0;
    Check(message->CreateAttach(nullptr, 0, &number, attach.Put()), "adding an attachment");
    std::vector<SPropValue> attachProps = {Long(PR_ATTACH_METHOD, ATTACH_BY_VALUE), Binary(PR_ATTACH_DATA_BIN, a.data),
                                           Unicode(PR_ATTACH_MIME_TAG_W, a.mimeType)};
    if (!a.fileName.empty()) {
      attachProps.push_back(Unicode(PR_ATTACH_LONG_FILENAME_W, a.fileName));
      attachProps.push_back(Unicode(PR_ATTACH_FILENAME_W, a.fileName));
      attachProps.push_back(Unicode(PR_DISPLAY_NAME_W, a.fileName));
    }
    if (!a.contentId.empty()) attachProps.push_back(Unicode(PR_ATTACH_CONTENT_ID_W, a.contentId));
    SetProps(attach.Get(), std::move(attachProps), "setting the attachment's properties");
    Check(attach->SaveChanges(0), "saving an attachment");
  }
  Check(message->SaveChanges(0), "saving the message");
}

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
              WriteMessage(target.Get(), m);
              ++imported;
              return true;
            },
            &error);
        if (!ok) throw Failure(file + ": " + error);
      } else {
        ImportedMessage m;
        if (!mailimport::ReadEmlFile(file, &m, &error)) throw Failure(file + ": " + error);
        WriteMessage(target.Get(), m);
        ++imported;
      }
    }
    Print(std::to_string(imported) + " messages imported into " + folder + "\n");
  });
}

}  // namespace mapiadmin
