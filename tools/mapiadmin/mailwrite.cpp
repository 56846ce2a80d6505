// A mail message of the neutral import model written into a folder: what the
// import and the generator share. It needs no mail parser.
#include <cstring>

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

}  // namespace mapiadmin
