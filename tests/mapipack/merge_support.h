// Helpers of the merge tests: a store with a source and a destination folder
// under its IPM subtree, items with chosen names and times, the library's log
// sent to a file of the test, and counting progress sinks.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include <standin/fault.h>
#include <standin/root.h>

#include "../mapi/store_support.h"
#include "MAPIPack/MAPIProgress.h"
#include "support/Log.h"

namespace merge_test {

using store_test::Held;
using store_test::RowsHeld;

// One item as the tests arrange and read it. Names are optional: an absent
// name is not set at all.
struct Item {
  std::string subject;
  std::optional<std::u16string> given;
  std::optional<std::u16string> surname;
  uint64_t created = 0;
  uint64_t modified = 0;
  bool operator==(const Item&) const = default;
};

inline std::ostream& operator<<(std::ostream& os, const Item& item) {
  auto name = [](const std::optional<std::u16string>& n) {
    return n ? "'" + standin::ToUtf8(*n) + "'" : std::string("-");
  };
  return os << "{" << item.subject << " " << name(item.given) << " " << name(item.surname) << " c=" << item.created
            << " m=" << item.modified << "}";
}

// The progress sink of the tests: counts the steps, cancels at a chosen one.
struct StepCounter {
  unsigned steps = 0;
  unsigned cancelAt = 0;  // 0: never
  static int Callback(ULONG, ULONG, void* context) {
    auto* self = static_cast<StepCounter*>(context);
    ++self->steps;
    return self->cancelAt && self->steps == self->cancelAt ? 1 : 0;
  }
};

class MergeFixture : public testing_support::FreshRoot {
 protected:
  void SetUp() override {
    FreshRoot::SetUp();
    savedLog_ = g_logSettings;
    std::filesystem::create_directories(RootFile("Logs"));
    logPath_ = RootFile("Logs/merge.log");
    LogSettings s = {false, LOG_INFO, LOG_MEDIA_FILE, {}};
    std::u16string w = standin::ToWindowsPath(logPath_);
    wcscpy_s(s.szLogFile, reinterpret_cast<LPCWSTR>(w.c_str()));
    ApplyLogSettings(s);
    ASSERT_EQ(g_logSettings.nMedia, LOG_MEDIA_FILE);

    const std::string path = store_test::StorePath(root());
    ASSERT_EQ(standin::mapi::CreateStoreFile(store_test::U(path), u"Merge Store"), S_OK);
    store_ = store_test::OpenStore(path);
    ASSERT_TRUE(store_);
    auto subtree = store_test::OpenFolder(store_.get(), store_test::BinProp(store_.get(), PR_IPM_SUBTREE_ENTRYID));
    ASSERT_TRUE(subtree);
    source_ = store_test::CreateFolder(subtree.get(), "Merge Source");
    destination_ = store_test::CreateFolder(subtree.get(), "Merge Destination");
    ASSERT_TRUE(source_ && destination_);
    ASSERT_EQ(CreateProcessMethod(StepCounter::Callback, &counter_, &progress_), S_OK);
  }
  void TearDown() override {
    standin::ClearAllFaults();
    if (progress_) progress_->Release();
    source_.reset();
    destination_.reset();
    store_.reset();
    g_logSettings = savedLog_;
    FreshRoot::TearDown();
  }

  static HRESULT AddItem(IMAPIFolder* folder, const Item& item) {
    LPMESSAGE raw = nullptr;
    HRESULT hr = folder->CreateMessage(nullptr, 0, &raw);
    if (FAILED(hr)) return hr;
    Held<IMessage> message(raw);
    std::u16string subject = store_test::U(item.subject), cls = u"IPM.Contact";
    std::u16string given = item.given.value_or(u""), surname = item.surname.value_or(u"");
    std::vector<SPropValue> props = {store_test::Unicode(PR_SUBJECT_W, subject),
                                     store_test::Unicode(PR_MESSAGE_CLASS_W, cls),
                                     store_test::Time(PR_CREATION_TIME, item.created),
                                     store_test::Time(PR_LAST_MODIFICATION_TIME, item.modified)};
    if (item.given) props.push_back(store_test::Unicode(PR_GIVEN_NAME_W, given));
    if (item.surname) props.push_back(store_test::Unicode(PR_SURNAME_W, surname));
    hr = message->SetProps(static_cast<ULONG>(props.size()), props.data(), nullptr);
    if (FAILED(hr)) return hr;
    return message->SaveChanges(FORCE_SAVE);
  }
  static void AddItems(IMAPIFolder* folder, const std::vector<Item>& items) {
    for (const Item& item : items) ASSERT_EQ(AddItem(folder, item), S_OK) << item;
  }

  // The folder's items in table order.
  static std::vector<Item> Items(IMAPIFolder* folder) {
    auto rows = store_test::Contents(
        folder, {PR_SUBJECT_W, PR_GIVEN_NAME_W, PR_SURNAME_W, PR_CREATION_TIME, PR_LAST_MODIFICATION_TIME});
    std::vector<Item> items;
    if (!rows) return items;
    for (ULONG i = 0; i < rows->cRows; ++i) {
      const SPropValue* p = rows->aRow[i].lpProps;
      Item item;
      item.subject = store_test::Narrow(p[0].Value.lpszW);
      if (PROP_TYPE(p[1].ulPropTag) == PT_UNICODE) item.given = reinterpret_cast<const char16_t*>(p[1].Value.lpszW);
      if (PROP_TYPE(p[2].ulPropTag) == PT_UNICODE)
        item.surname = reinterpret_cast<const char16_t*>(p[2].Value.lpszW);
      item.created = store_test::TimeOf(p[3]);
      item.modified = store_test::TimeOf(p[4]);
      items.push_back(item);
    }
    return items;
  }

  // The log file's text (UTF-8, as the library writes it).
  std::string LogText() const { return testing_support::ReadFileBytes(logPath_); }
  size_t LogCount(const std::string& needle) const {
    const std::string text = LogText();
    size_t n = 0;
    for (size_t at = text.find(needle); at != std::string::npos; at = text.find(needle, at + 1)) ++n;
    return n;
  }

  Held<IMsgStore> store_;
  Held<IMAPIFolder> source_;
  Held<IMAPIFolder> destination_;
  StepCounter counter_;
  IMAPIProgress* progress_ = nullptr;
  std::string logPath_;

 private:
  LogSettings savedLog_{};
};

}  // namespace merge_test
