// Helpers of the store and folder tests: two store files on a fresh root, the
// library's log in a file of the test, messages with chosen subjects and times,
// a progress sink that counts and cancels, and a folder that lists fixed rows.
#pragma once

#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include <standin/root.h>

#include "mapi/store_support.h"
#include "support/Log.h"

namespace folder_test {

using namespace store_test;

// A progress sink on the stack: counts steps and flag reads; cancels on a
// chosen step as a host callback does (flags cleared, E_FAIL), or answers
// every step with E_FAIL and keeps its flags, as a vanished window does.
class ProgressDouble : public IMAPIProgress {
 public:
  ULONG cancelAt = 0;       // the step that cancels; 0: none
  bool windowGone = false;  // every step fails, flags stay
  ULONG steps = 0;
  ULONG flagReads = 0;
  ULONG flags = MAPI_TOP_LEVEL;

  STDMETHODIMP QueryInterface(REFIID riid, void** out) override {
    if (riid == IID_IUnknown || riid == IID_IMAPIProgress) {
      *out = this;
      return S_OK;
    }
    *out = nullptr;
    return E_NOINTERFACE;
  }
  STDMETHODIMP_(ULONG) AddRef() override { return 2; }
  STDMETHODIMP_(ULONG) Release() override { return 1; }
  STDMETHODIMP Progress(ULONG, ULONG, ULONG) override {
    ++steps;
    if (windowGone) return E_FAIL;
    if (cancelAt && steps == cancelAt) {
      flags = 0;
      return E_FAIL;
    }
    return S_OK;
  }
  STDMETHODIMP GetFlags(ULONG* out) override {
    ++flagReads;
    *out = flags;
    return S_OK;
  }
  STDMETHODIMP GetMax(ULONG* out) override {
    *out = 1000;
    return S_OK;
  }
  STDMETHODIMP GetMin(ULONG* out) override {
    *out = 0;
    return S_OK;
  }
  STDMETHODIMP SetLimits(ULONG*, ULONG*, ULONG*) override { return S_OK; }
};

// A fresh root with a source and a destination store and the library's log
// going to a file of the test from LOG_INFO on.
class StoreFixture : public testing_support::FreshRoot {
 protected:
  void SetUp() override {
    FreshRoot::SetUp();
    savedLog_ = g_logSettings;
    std::filesystem::create_directories(RootFile("Logs"));
    logPath_ = RootFile("Logs/test.log");
    LogSettings s = {false, LOG_INFO, LOG_MEDIA_FILE, {}};
    std::u16string windowsPath = standin::ToWindowsPath(logPath_);
    wcscpy_s(s.szLogFile, reinterpret_cast<LPCWSTR>(windowsPath.c_str()));
    ApplyLogSettings(s);
    ASSERT_EQ(standin::mapi::CreateStoreFile(U(StorePath(root(), "source.pst")), u"Source"), S_OK);
    ASSERT_EQ(standin::mapi::CreateStoreFile(U(StorePath(root(), "dest.pst")), u"Dest"), S_OK);
    source_ = OpenStore(StorePath(root(), "source.pst"));
    dest_ = OpenStore(StorePath(root(), "dest.pst"));
    ASSERT_TRUE(source_ && dest_);
  }
  void TearDown() override {
    source_.reset();
    dest_.reset();
    g_logSettings = savedLog_;
    FreshRoot::TearDown();
  }

  static Held<IMAPIFolder> Subtree(IMsgStore* store) {
    return OpenFolder(store, BinProp(store, PR_IPM_SUBTREE_ENTRYID));
  }
  static Held<IMAPIFolder> Child(IMAPIFolder* parent, const std::string& name) {
    return CreateFolder(parent, name, MAPI_UNICODE | OPEN_IF_EXISTS);
  }
  // A saved message; no subject when subject is null.
  static void AddMessage(IMAPIFolder* folder, const char* subject, uint64_t modified, uint64_t created = 0) {
    LPMESSAGE raw = nullptr;
    ASSERT_EQ(folder->CreateMessage(nullptr, 0, &raw), S_OK);
    Held<IMessage> message(raw);
    std::u16string s = subject ? U(subject) : u"";
    std::vector<SPropValue> props = {Time(PR_LAST_MODIFICATION_TIME, modified),
                                     Time(PR_CREATION_TIME, created ? created : modified)};
    if (subject) props.push_back(Unicode(PR_SUBJECT_W, s));
    ASSERT_EQ(message->SetProps(static_cast<ULONG>(props.size()), props.data(), nullptr), S_OK);
    ASSERT_EQ(message->SaveChanges(0), S_OK);
  }
  static ULONG Count(IMAPIFolder* folder) {
    LPSPropValue v = nullptr;
    if (FAILED(HrGetOneProp(folder, PR_CONTENT_COUNT, &v))) return 0xFFFFFFFF;
    PropsHeld hold(v);
    return static_cast<ULONG>(v->Value.l);
  }
  // Subjects of a folder's messages in table order ("<none>" for none).
  static std::vector<std::string> Subjects(IMAPIFolder* folder) {
    std::vector<std::string> out;
    auto rows = Contents(folder, {PR_SUBJECT_W});
    for (ULONG i = 0; rows && i < rows->cRows; ++i)
      out.push_back(rows->aRow[i].lpProps[0].ulPropTag == PR_SUBJECT_W ? Narrow(rows->aRow[i].lpProps[0].Value.lpszW)
                                                                         : "<none>");
    return out;
  }
  std::string LogText() const { return testing_support::ReadFileBytes(logPath_); }
  size_t LogCount(const std::string& text) const {
    std::string log = LogText();
    size_t n = 0;
    for (size_t at = log.find(text); at != std::string::npos; at = log.find(text, at + text.size())) ++n;
    return n;
  }

  Held<IMsgStore> source_;
  Held<IMsgStore> dest_;
  std::string logPath_;

 private:
  LogSettings savedLog_{};
};

// A property value built in a test, owned by the test.
struct FakeProp {
  ULONG tag = 0;
  std::u16string text;
  std::string bytes;
  LONG number = 0;
};
inline FakeProp FakeText(ULONG tag, const std::u16string& text) { return {tag, text, {}, 0}; }
inline FakeProp FakeBinary(ULONG tag, const std::string& bytes) { return {tag, {}, bytes, 0}; }
inline FakeProp FakeLong(ULONG tag, LONG n) { return {tag, {}, {}, n}; }

#define FOLDER_TEST_NO_SUPPORT(method, ...) \
  STDMETHODIMP method(__VA_ARGS__) override { return MAPI_E_NO_SUPPORT; }

// A table over fixed rows: only what HrQueryAllRows asks of a table.
class FakeTable : public IMAPITable {
 public:
  explicit FakeTable(std::vector<std::vector<FakeProp>> rows) : rows_(std::move(rows)) {}
  virtual ~FakeTable() = default;
  STDMETHODIMP QueryInterface(REFIID, void** out) override {
    *out = nullptr;
    return E_NOINTERFACE;
  }
  STDMETHODIMP_(ULONG) AddRef() override { return ++refs_; }
  STDMETHODIMP_(ULONG) Release() override {
    ULONG n = --refs_;
    if (n == 0) delete this;
    return n;
  }
  STDMETHODIMP SetColumns(LPSPropTagArray tags, ULONG) override {
    columns_.assign(tags->aulPropTag, tags->aulPropTag + tags->cValues);
    return S_OK;
  }
  STDMETHODIMP SeekRow(BOOKMARK, LONG, LONG*) override {
    cursor_ = 0;
    return S_OK;
  }
  STDMETHODIMP QueryRows(LONG, ULONG, LPSRowSet* out) override {
    void* block = nullptr;
    ULONG n = static_cast<ULONG>(rows_.size() - cursor_);
    if (FAILED(MAPIAllocateBuffer(static_cast<ULONG>(CbNewSRowSet(n ? n : 1)), &block)))
      return MAPI_E_NOT_ENOUGH_MEMORY;
    auto* set = static_cast<LPSRowSet>(block);
    set->cRows = n;
    for (ULONG r = 0; r < n; ++r) set->aRow[r] = Project(rows_[cursor_ + r]);
    cursor_ = rows_.size();
    *out = set;
    return S_OK;
  }
  FOLDER_TEST_NO_SUPPORT(GetLastError, HRESULT, ULONG, LPMAPIERROR*)
  FOLDER_TEST_NO_SUPPORT(Advise, ULONG, LPMAPIADVISESINK, ULONG_PTR*)
  FOLDER_TEST_NO_SUPPORT(Unadvise, ULONG_PTR)
  FOLDER_TEST_NO_SUPPORT(GetStatus, ULONG*, ULONG*)
  FOLDER_TEST_NO_SUPPORT(QueryColumns, ULONG, LPSPropTagArray*)
  FOLDER_TEST_NO_SUPPORT(GetRowCount, ULONG, ULONG*)
  FOLDER_TEST_NO_SUPPORT(SeekRowApprox, ULONG, ULONG)
  FOLDER_TEST_NO_SUPPORT(QueryPosition, ULONG*, ULONG*, ULONG*)
  FOLDER_TEST_NO_SUPPORT(FindRow, LPSRestriction, BOOKMARK, ULONG)
  FOLDER_TEST_NO_SUPPORT(Restrict, LPSRestriction, ULONG)
  FOLDER_TEST_NO_SUPPORT(CreateBookmark, BOOKMARK*)
  FOLDER_TEST_NO_SUPPORT(FreeBookmark, BOOKMARK)
  FOLDER_TEST_NO_SUPPORT(SortTable, LPSSortOrderSet, ULONG)
  FOLDER_TEST_NO_SUPPORT(QuerySortOrder, LPSSortOrderSet*)
  FOLDER_TEST_NO_SUPPORT(Abort)
  FOLDER_TEST_NO_SUPPORT(ExpandRow, ULONG, LPBYTE, ULONG, ULONG, LPSRowSet*, ULONG*)
  FOLDER_TEST_NO_SUPPORT(CollapseRow, ULONG, LPBYTE, ULONG, ULONG*)
  FOLDER_TEST_NO_SUPPORT(WaitForCompletion, ULONG, ULONG, ULONG*)
  FOLDER_TEST_NO_SUPPORT(GetCollapseState, ULONG, ULONG, LPBYTE, ULONG*, LPBYTE*)
  FOLDER_TEST_NO_SUPPORT(SetCollapseState, ULONG, ULONG, LPBYTE, BOOKMARK*)

 private:
  SRow Project(const std::vector<FakeProp>& row) const {
    SRow out{};
    void* block = nullptr;
    MAPIAllocateBuffer(static_cast<ULONG>(sizeof(SPropValue) * (columns_.size() + 1)), &block);
    auto* values = static_cast<LPSPropValue>(block);
    for (size_t c = 0; c < columns_.size(); ++c) {
      SPropValue& v = values[c];
      v = {};
      v.ulPropTag = CHANGE_PROP_TYPE(columns_[c], PT_ERROR);
      v.Value.err = MAPI_E_NOT_FOUND;
      for (const FakeProp& p : row) {
        if (PROP_ID(p.tag) != PROP_ID(columns_[c])) continue;
        v.ulPropTag = p.tag;
        void* more = nullptr;
        switch (PROP_TYPE(p.tag)) {
          case PT_UNICODE:
            MAPIAllocateMore(static_cast<ULONG>((p.text.size() + 1) * 2), block, &more);
            std::memcpy(more, p.text.c_str(), (p.text.size() + 1) * 2);
            v.Value.lpszW = static_cast<LPWSTR>(more);
            break;
          case PT_BINARY:
            MAPIAllocateMore(static_cast<ULONG>(p.bytes.size() + 1), block, &more);
            std::memcpy(more, p.bytes.data(), p.bytes.size());
            v.Value.bin.cb = static_cast<ULONG>(p.bytes.size());
            v.Value.bin.lpb = static_cast<LPBYTE>(more);
            break;
          case PT_BOOLEAN: v.Value.b = static_cast<unsigned short>(p.number); break;
          default: v.Value.l = p.number; break;
        }
      }
    }
    out.cValues = static_cast<ULONG>(columns_.size());
    out.lpProps = values;
    return out;
  }

  std::vector<std::vector<FakeProp>> rows_;
  std::vector<ULONG> columns_;
  size_t cursor_ = 0;
  ULONG refs_ = 1;
};

// A folder whose hierarchy and contents tables list fixed rows and that counts
// the items it is asked to open (found only when openGivesItself: the folder
// itself, as a damaged store can answer) and the copies asked of it; nothing
// else is supported.
class FakeFolder : public IMAPIFolder {
 public:
  explicit FakeFolder(std::vector<std::vector<FakeProp>> rows, std::vector<std::vector<FakeProp>> contents = {})
      : rows_(std::move(rows)), contents_(std::move(contents)) {}
  unsigned openEntryCalls = 0;
  unsigned copyToCalls = 0;
  bool openGivesItself = false;
  STDMETHODIMP QueryInterface(REFIID, void** out) override {
    *out = nullptr;
    return E_NOINTERFACE;
  }
  STDMETHODIMP_(ULONG) AddRef() override { return 2; }
  STDMETHODIMP_(ULONG) Release() override { return 1; }
  STDMETHODIMP GetHierarchyTable(ULONG, LPMAPITABLE* out) override {
    *out = new FakeTable(rows_);
    return S_OK;
  }
  FOLDER_TEST_NO_SUPPORT(GetLastError, HRESULT, ULONG, LPMAPIERROR*)
  FOLDER_TEST_NO_SUPPORT(SaveChanges, ULONG)
  FOLDER_TEST_NO_SUPPORT(GetProps, LPSPropTagArray, ULONG, ULONG*, LPSPropValue*)
  FOLDER_TEST_NO_SUPPORT(GetPropList, ULONG, LPSPropTagArray*)
  FOLDER_TEST_NO_SUPPORT(OpenProperty, ULONG, LPCIID, ULONG, ULONG, LPUNKNOWN*)
  FOLDER_TEST_NO_SUPPORT(SetProps, ULONG, LPSPropValue, LPSPropProblemArray*)
  FOLDER_TEST_NO_SUPPORT(DeleteProps, LPSPropTagArray, LPSPropProblemArray*)
  STDMETHODIMP CopyTo(ULONG, LPCIID, LPSPropTagArray, ULONG_PTR, LPMAPIPROGRESS, LPCIID, LPVOID, ULONG,
                      LPSPropProblemArray*) override {
    ++copyToCalls;
    return MAPI_E_NO_SUPPORT;
  }
  FOLDER_TEST_NO_SUPPORT(CopyProps, LPSPropTagArray, ULONG_PTR, LPMAPIPROGRESS, LPCIID, LPVOID, ULONG,
                         LPSPropProblemArray*)
  FOLDER_TEST_NO_SUPPORT(GetNamesFromIDs, LPSPropTagArray*, LPGUID, ULONG, ULONG*, LPMAPINAMEID**)
  FOLDER_TEST_NO_SUPPORT(GetIDsFromNames, ULONG, LPMAPINAMEID*, ULONG, LPSPropTagArray*)
  STDMETHODIMP GetContentsTable(ULONG, LPMAPITABLE* out) override {
    *out = new FakeTable(contents_);
    return S_OK;
  }
  STDMETHODIMP OpenEntry(ULONG, LPENTRYID, LPCIID, ULONG, ULONG* type, LPUNKNOWN* out) override {
    ++openEntryCalls;
    *out = openGivesItself ? this : nullptr;
    if (openGivesItself) *type = MAPI_FOLDER;
    return openGivesItself ? S_OK : MAPI_E_NOT_FOUND;
  }
  FOLDER_TEST_NO_SUPPORT(SetSearchCriteria, LPSRestriction, LPENTRYLIST, ULONG)
  FOLDER_TEST_NO_SUPPORT(GetSearchCriteria, ULONG, LPSRestriction*, LPENTRYLIST*, ULONG*)
  FOLDER_TEST_NO_SUPPORT(CreateMessage, LPCIID, ULONG, LPMESSAGE*)
  FOLDER_TEST_NO_SUPPORT(CopyMessages, LPENTRYLIST, LPCIID, LPVOID, ULONG_PTR, LPMAPIPROGRESS, ULONG)
  FOLDER_TEST_NO_SUPPORT(DeleteMessages, LPENTRYLIST, ULONG_PTR, LPMAPIPROGRESS, ULONG)
  FOLDER_TEST_NO_SUPPORT(CreateFolder, ULONG, LPWSTR, LPWSTR, LPCIID, ULONG, LPMAPIFOLDER*)
  FOLDER_TEST_NO_SUPPORT(CopyFolder, ULONG, LPENTRYID, LPCIID, LPVOID, LPWSTR, ULONG_PTR, LPMAPIPROGRESS, ULONG)
  FOLDER_TEST_NO_SUPPORT(DeleteFolder, ULONG, LPENTRYID, ULONG_PTR, LPMAPIPROGRESS, ULONG)
  FOLDER_TEST_NO_SUPPORT(SetReadFlags, LPENTRYLIST, ULONG_PTR, LPMAPIPROGRESS, ULONG)
  FOLDER_TEST_NO_SUPPORT(GetMessageStatus, ULONG, LPENTRYID, ULONG, ULONG*)
  FOLDER_TEST_NO_SUPPORT(SetMessageStatus, ULONG, LPENTRYID, ULONG, ULONG, ULONG*)
  FOLDER_TEST_NO_SUPPORT(SaveContentsSort, LPSSortOrderSet, ULONG)
  FOLDER_TEST_NO_SUPPORT(EmptyFolder, ULONG_PTR, LPMAPIPROGRESS, ULONG)

 private:
  std::vector<std::vector<FakeProp>> rows_;
  std::vector<std::vector<FakeProp>> contents_;
};

#undef FOLDER_TEST_NO_SUPPORT

}  // namespace folder_test
