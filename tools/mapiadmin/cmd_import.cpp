// mapiadmin import: real mail (.eml files, mbox files) into a folder of a store.
#include <cstring>

#include <CLI/CLI.hpp>

#include "mailimport.h"
#include "mapiadmin.h"

namespace mapiadmin {

namespace {

using mailimport::ImportedMessage;

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
      entry.rgPropVals[0] = UnicodeValue(PR_DISPLAY_NAME_W, name);
      entry.rgPropVals[1] = UnicodeValue(PR_EMAIL_ADDRESS_W, recipient->email);
      entry.rgPropVals[2] = UnicodeValue(PR_ADDRTYPE_W, kSmtp);
      entry.rgPropVals[3] = LongValue(PR_RECIPIENT_TYPE, type);
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

bool IsMbox(const std::string& path) {
  FILE* f = std::fopen(path.c_str(), "rb");
  if (!f) throw Failure("cannot read " + path);
  char head[8] = {};
  size_t n = std::fread(head, 1, 5, f);
  std::fclose(f);
  return n == 5 && std::memcmp(head, "From ", 5) == 0 && path.size() > 5 && path.substr(path.size() - 4) != ".eml";
}

}  // namespace

void WriteMailMessage(IMAPIFolder* folder, const ImportedMessage& m) {
  CInterfacePtr<IMessage> message;
  Check(folder->CreateMessage(nullptr, 0, message.Put()), "making a message");
  static const std::u16string kNote = u"IPM.Note", kSmtp = u"SMTP";
  std::vector<SPropValue> props = {UnicodeValue(PR_MESSAGE_CLASS_W, kNote),
                                   UnicodeValue(PR_SUBJECT_W, m.subject),
                                   UnicodeValue(PR_SENDER_NAME_W, m.senderName),
                                   UnicodeValue(PR_SENDER_EMAIL_ADDRESS_W, m.senderEmail),
                                   UnicodeValue(PR_SENDER_ADDRTYPE_W, kSmtp),
                                   LongValue(PR_MESSAGE_FLAGS, MSGFLAG_READ),
                                   BinaryValue(PR_STANDIN_RAW_MESSAGE, m.raw)};
  if (!m.messageId.empty()) props.push_back(UnicodeValue(PR_INTERNET_MESSAGE_ID_W, m.messageId));
  if (!m.plainBody.empty()) props.push_back(UnicodeValue(PR_BODY_W, m.plainBody));
  if (!m.htmlBody.empty()) props.push_back(BinaryValue(PR_HTML, m.htmlBody));
  if (!m.headers.empty()) props.push_back(UnicodeValue(PR_TRANSPORT_MESSAGE_HEADERS_W, m.headers));
  if (m.hasDate) {
    // The mail's own date, so that importing the same mail twice gives equal items.
    for (ULONG tag : {PR_CLIENT_SUBMIT_TIME, PR_MESSAGE_DELIVERY_TIME, PR_CREATION_TIME, PR_LAST_MODIFICATION_TIME})
      props.push_back(TimeValue(tag, m.date));
  }
  SetProps(message.Get(), std::move(props), "setting the message's properties");

  AddressList recipients(m);
  if (recipients.Get()) Check(message->ModifyRecipients(MODRECIP_ADD, recipients.Get()), "adding recipients");

  for (const auto& a : m.attachments) {
    CInterfacePtr<IAttach> attach;
    ULONG number = 0;
    Check(message->CreateAttach(nullptr, 0, &number, attach.Put()), "adding an attachment");
    std::vector<SPropValue> attachProps = {LongValue(PR_ATTACH_METHOD, ATTACH_BY_VALUE),
                                           BinaryValue(PR_ATTACH_DATA_BIN, a.data),
                                           UnicodeValue(PR_ATTACH_MIME_TAG_W, a.mimeType)};
    if (!a.fileName.empty()) {
      attachProps.push_back(UnicodeValue(PR_ATTACH_LONG_FILENAME_W, a.fileName));
      attachProps.push_back(UnicodeValue(PR_ATTACH_FILENAME_W, a.fileName));
      attachProps.push_back(UnicodeValue(PR_DISPLAY_NAME_W, a.fileName));
    }
    if (!a.contentId.empty()) attachProps.push_back(UnicodeValue(PR_ATTACH_CONTENT_ID_W, a.contentId));
    SetProps(attach.Get(), std::move(attachProps), "setting the attachment's properties");
    Check(attach->SaveChanges(0), "saving an attachment");
  }
  Check(message->SaveChanges(0), "saving the message");
}

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
