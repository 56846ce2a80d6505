// mapiadmin dump: a store as JSON — folder tree, classes, counts, and for each
// message its key properties, its attachments' file names and a digest of all
// its properties, recipients and attachments — so that two stores can be
// compared.
#include <algorithm>
#include <cstring>
#include <map>

#include <CLI/CLI.hpp>
#include <nlohmann/json.hpp>

#include "mapiadmin.h"
#include "times.h"

namespace mapiadmin {

namespace {

using nlohmann::json;

// Properties that name the object in its own store or count its bytes there
// (each store counts its own way); they differ between two copies of the
// same item and stay out of its digest.
bool IsStoresOwn(ULONG tag) {
  switch (PROP_ID(tag)) {
    case PROP_ID(PR_MESSAGE_SIZE):
    case PROP_ID(PR_ENTRYID):
    case PROP_ID(PR_PARENT_ENTRYID):
    case PROP_ID(PR_RECORD_KEY):
    case PROP_ID(PR_STORE_ENTRYID):
    case PROP_ID(PR_STORE_RECORD_KEY):
    case PROP_ID(PR_INSTANCE_KEY):
    case PROP_ID(PR_ROWID):
    case PROP_ID(PR_ACCESS):
    case PROP_ID(PR_ACCESS_LEVEL):
      return true;
    default:
      return false;
  }
}

class Digest {
 public:
  void Add(const void* data, size_t size) {
    for (size_t i = 0; i < size; ++i) {
      hash_ ^= static_cast<const BYTE*>(data)[i];
      hash_ *= 0x100000001b3ull;
    }
  }
  template <class T>
  void AddValue(const T& v) {
    Add(&v, sizeof v);
  }
  void Add(const SPropValue& v) {
    AddValue(v.ulPropTag);
    switch (PROP_TYPE(v.ulPropTag)) {
      case PT_I2: AddValue(v.Value.i); break;
      case PT_LONG: case PT_ERROR: AddValue(v.Value.l); break;
      case PT_R4: AddValue(v.Value.flt); break;
      case PT_DOUBLE: case PT_APPTIME: AddValue(v.Value.dbl); break;
      case PT_BOOLEAN: AddValue(static_cast<BYTE>(v.Value.b != 0)); break;
      case PT_CURRENCY: case PT_I8: AddValue(v.Value.li.QuadPart); break;
      case PT_SYSTIME: AddValue(v.Value.ft.dwLowDateTime), AddValue(v.Value.ft.dwHighDateTime); break;
      case PT_STRING8: if (v.Value.lpszA) Add(v.Value.lpszA, std::strlen(v.Value.lpszA)); break;
      case PT_UNICODE: if (v.Value.lpszW) Add(v.Value.lpszW, wcslen(v.Value.lpszW) * sizeof(WCHAR)); break;
      case PT_BINARY: AddValue(v.Value.bin.cb), Add(v.Value.bin.lpb, v.Value.bin.cb); break;
      case PT_CLSID: if (v.Value.lpguid) AddValue(*v.Value.lpguid); break;
      case PT_MV_BINARY:
        AddValue(v.Value.MVbin.cValues);
        for (ULONG i = 0; i < v.Value.MVbin.cValues; ++i)
          AddValue(v.Value.MVbin.lpbin[i].cb), Add(v.Value.MVbin.lpbin[i].lpb, v.Value.MVbin.lpbin[i].cb);
        break;
      case PT_MV_UNICODE:
        AddValue(v.Value.MVszW.cValues);
        for (ULONG i = 0; i < v.Value.MVszW.cValues; ++i)
          if (v.Value.MVszW.lppszW[i]) Add(v.Value.MVszW.lppszW[i], (wcslen(v.Value.MVszW.lppszW[i]) + 1) * 2);
        break;
      case PT_MV_STRING8:
        AddValue(v.Value.MVszA.cValues);
        for (ULONG i = 0; i < v.Value.MVszA.cValues; ++i)
          if (v.Value.MVszA.lppszA[i]) Add(v.Value.MVszA.lppszA[i], std::strlen(v.Value.MVszA.lppszA[i]) + 1);
        break;
      case PT_MV_LONG:
        AddValue(v.Value.MVl.cValues);
        Add(v.Value.MVl.lpl, v.Value.MVl.cValues * sizeof(LONG));
        break;
      default: break;
    }
  }
  std::string Hex() const {
    char buf[20];
    std::snprintf(buf, sizeof buf, "%016llx", static_cast<unsigned long long>(hash_));
    return buf;
  }

 private:
  uint64_t hash_ = 0xcbf29ce484222325ull;
};

// Every property of an object, sorted by tag.
std::vector<SPropValue> AllProps(IMAPIProp* object, CMapiBuffer<SPropValue>& holder) {
  CMapiBuffer<SPropTagArray> tags;
  Check(object->GetPropList(MAPI_UNICODE, tags.Put()), "listing properties");
  ULONG count = 0;
  Check(object->GetProps(tags.Get(), MAPI_UNICODE, &count, holder.Put()), "reading properties");
  std::vector<SPropValue> props(holder.Get(), holder.Get() + count);
  std::sort(props.begin(), props.end(), [](const SPropValue& a, const SPropValue& b) { return a.ulPropTag < b.ulPropTag; });
  return props;
}

void DigestProps(IMAPIProp* object, Digest& digest) {
  CMapiBuffer<SPropValue> holder;
  for (const SPropValue& v : AllProps(object, holder))
    if (!IsStoresOwn(v.ulPropTag) && PROP_TYPE(v.ulPropTag) != PT_ERROR) digest.Add(v);
}

std::string Text(const SPropValue* v) {
  return v && PROP_TYPE(v->ulPropTag) == PT_UNICODE && v->Value.lpszW ? U(v->Value.lpszW) : "";
}

json MessageJson(IMessage* message) {
  Digest digest;
  DigestProps(message, digest);
  CMapiBuffer<SPropValue> holder;
  std::vector<SPropValue> props = AllProps(message, holder);
  auto find = [&](ULONG tag) -> const SPropValue* {
    for (const SPropValue& v : props)
      if (v.ulPropTag == tag) return &v;
    return nullptr;
  };
  json out = {{"subject", Text(find(PR_SUBJECT_W))}, {"class", Text(find(PR_MESSAGE_CLASS_W))}};
  if (const SPropValue* t = find(PR_CREATION_TIME)) out["created"] = FormatIsoTime(t->Value.ft);
  if (const SPropValue* t = find(PR_LAST_MODIFICATION_TIME)) out["modified"] = FormatIsoTime(t->Value.ft);
  if (const SPropValue* s = find(PR_MESSAGE_SIZE)) out["size"] = s->Value.l;

  CInterfacePtr<IMAPITable> recipients;
  CRowSet recipientRows;
  Check(message->GetRecipientTable(MAPI_UNICODE, recipients.Put()), "reading recipients");
  SizedSPropTagArray(3, recipientColumns) = {3, {PR_RECIPIENT_TYPE, PR_DISPLAY_NAME_W, PR_EMAIL_ADDRESS_W}};
  Check(HrQueryAllRows(recipients.Get(), reinterpret_cast<LPSPropTagArray>(&recipientColumns), nullptr, nullptr, 0,
                       recipientRows.Put()),
        "reading recipients");
  for (ULONG i = 0; i < recipientRows.Count(); ++i)
    for (ULONG c = 0; c < recipientRows->aRow[i].cValues; ++c) digest.Add(recipientRows->aRow[i].lpProps[c]);
  out["recipients"] = recipientRows.Count();

  CInterfacePtr<IMAPITable> attachments;
  CRowSet attachmentRows;
  Check(message->GetAttachmentTable(0, attachments.Put()), "reading attachments");
  SizedSPropTagArray(2, attachColumns) = {2, {PR_ATTACH_NUM, PR_ATTACH_LONG_FILENAME_W}};
  Check(HrQueryAllRows(attachments.Get(), reinterpret_cast<LPSPropTagArray>(&attachColumns), nullptr, nullptr, 0,
                       attachmentRows.Put()),
        "reading attachments");
  std::vector<std::string> files;
  for (ULONG i = 0; i < attachmentRows.Count(); ++i) {
    std::string file = Text(&attachmentRows->aRow[i].lpProps[1]);
    if (!file.empty()) files.push_back(file);
    CInterfacePtr<IAttach> attach;
    Check(message->OpenAttach(static_cast<ULONG>(attachmentRows->aRow[i].lpProps[0].Value.l), nullptr, 0,
                              attach.Put()),
          "opening an attachment");
    DigestProps(attach.Get(), digest);
  }
  out["attachments"] = attachmentRows.Count();
  if (!files.empty()) out["files"] = files;  // the names of those that are files
  out["digest"] = digest.Hex();
  return out;
}

json FolderJson(IMAPIFolder* folder, const std::string& name) {
  json out = {{"name", name}, {"class", U(GetString(folder, PR_CONTAINER_CLASS_W))}};
  SizedSPropTagArray(1, idColumn) = {1, {PR_ENTRYID}};
  CInterfacePtr<IMAPITable> contents;
  CRowSet rows;
  Check(folder->GetContentsTable(MAPI_UNICODE, contents.Put()), "reading folder '" + name + "'");
  Check(HrQueryAllRows(contents.Get(), reinterpret_cast<LPSPropTagArray>(&idColumn), nullptr, nullptr, 0, rows.Put()),
        "reading folder '" + name + "'");
  std::vector<json> messages;
  for (ULONG i = 0; i < rows.Count(); ++i) {
    const SBinary& id = rows->aRow[i].lpProps[0].Value.bin;
    ULONG type = 0;
    CInterfacePtr<IMessage> message;
    Check(folder->OpenEntry(id.cb, reinterpret_cast<LPENTRYID>(id.lpb), &IID_IMessage, 0, &type,
                            message.PutAs<IUnknown>()),
          "opening a message of '" + name + "'");
    messages.push_back(MessageJson(message.Get()));
  }
  // Listed in a fixed order, so that copies made in another order compare equal.
  std::sort(messages.begin(), messages.end(), [](const json& a, const json& b) {
    return std::tie(a["created"], a["subject"], a["digest"]) < std::tie(b["created"], b["subject"], b["digest"]);
  });
  out["count"] = messages.size();
  out["messages"] = messages;

  SizedSPropTagArray(2, folderColumns) = {2, {PR_ENTRYID, PR_DISPLAY_NAME_W}};
  CInterfacePtr<IMAPITable> hierarchy;
  CRowSet children;
  Check(folder->GetHierarchyTable(MAPI_UNICODE, hierarchy.Put()), "listing the folders of '" + name + "'");
  Check(HrQueryAllRows(hierarchy.Get(), reinterpret_cast<LPSPropTagArray>(&folderColumns), nullptr, nullptr, 0,
                       children.Put()),
        "listing the folders of '" + name + "'");
  std::vector<json> folders;
  for (ULONG i = 0; i < children.Count(); ++i) {
    const SBinary& id = children->aRow[i].lpProps[0].Value.bin;
    ULONG type = 0;
    CInterfacePtr<IMAPIFolder> child;
    Check(folder->OpenEntry(id.cb, reinterpret_cast<LPENTRYID>(id.lpb), &IID_IMAPIFolder, 0, &type,
                            child.PutAs<IUnknown>()),
          "opening a folder of '" + name + "'");
    folders.push_back(FolderJson(child.Get(), Text(&children->aRow[i].lpProps[1])));
  }
  std::sort(folders.begin(), folders.end(), [](const json& a, const json& b) { return a["name"] < b["name"]; });
  out["folders"] = folders;
  return out;
}

}  // namespace

void AddDumpCommand(CLI::App& app) {
  static std::string profile, store;
  CLI::App* cmd = app.add_subcommand("dump", "print a store as JSON");
  cmd->add_option("profile", profile, "profile name")->required();
  cmd->add_option("--store", store, "store display name")->required();
  cmd->callback([] {
    MapiSubsystem mapi;
    CInterfacePtr<IMAPISession> session = Logon(profile);
    CInterfacePtr<IMsgStore> msgStore = OpenStoreByName(session.Get(), store);
    CInterfacePtr<IMAPIFolder> top = OpenIpmSubtree(msgStore.Get());
    json out = {{"store", store}, {"tree", FolderJson(top.Get(), U(GetString(top.Get(), PR_DISPLAY_NAME_W)))}};
    Print(out.dump(2) + "\n");
  });
}

}  // namespace mapiadmin
