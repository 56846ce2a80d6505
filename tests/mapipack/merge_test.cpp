// The calendar and contact merges over stand-in store
// folders, with the mended replacement order: the older destination copy is
// deleted only after its replacement has been saved.
#include <functional>
#include <random>

#include "MAPIPack/CalendarFolder.h"
#include "MAPIPack/ContactFolder.h"
#include "MAPIPack/MAPIHelpers.h"
#include "MAPIPack/RowIndex.h"
#include "folder_support.h"
#include "merge_support.h"

using namespace merge_test;

namespace {

using Merge = std::function<int(IMAPIFolder*, IMAPIFolder*, IMAPIProgress*)>;

Item Cal(const std::string& subject, uint64_t created, uint64_t modified) {
  return Item{subject, std::nullopt, std::nullopt, created, modified};
}
Item Contact(const std::string& subject, std::optional<std::u16string> given, std::optional<std::u16string> surname,
             uint64_t created, uint64_t modified) {
  return Item{subject, std::move(given), std::move(surname), created, modified};
}

// Times with both halves in use, so that the high half takes part.
constexpr uint64_t T(uint64_t n) { return 0x01DC000000000000ull + n * 0x100000001ull; }

const char kCalendarUnit[] = "File:'.\\MAPIPack\\CalendarFolder' Line: ";
const char kContactUnit[] = "File:'.\\MAPIPack\\ContactFolder' Line: ";

// Both merges, for the rules they share.
struct Kind {
  const char* name;
  Merge merge;
  const char* unit;
  int canceledLine;
  int copyFailedLine;
  int tablesFailedLine;
};
const Kind kKinds[] = {
    {"calendar", MergeCalendarFolder, kCalendarUnit, 186, 179, 119},
    {"contact", MergeContactFolder, kContactUnit, 224, 215, 159},
};

using MergeTest = MergeFixture;

// ---- shared rules ----

TEST_F(MergeTest, EmptySourceLeavesTheDestinationAlone) {
  AddItems(destination_.get(), {Cal("d1", T(1), T(1)), Cal("d2", T(2), T(2))});
  const auto before = Items(destination_.get());
  for (const Kind& kind : kKinds) {
    EXPECT_EQ(kind.merge(source_.get(), destination_.get(), progress_), 0) << kind.name;
    EXPECT_EQ(Items(destination_.get()), before) << kind.name;
  }
  EXPECT_EQ(counter_.steps, 0u);
  EXPECT_EQ(LogText(), "");
}

TEST_F(MergeTest, EmptyDestinationReceivesEveryItemInSourceOrder) {
  const std::vector<Item> items = {Contact("a", u"Ann", u"Lee", T(3), T(30)), Contact("b", std::nullopt, u"Bo", T(1), T(10)),
                                   Contact("c", u"Cy", std::nullopt, T(2), T(20))};
  AddItems(source_.get(), items);
  for (const Kind& kind : kKinds) {
    SCOPED_TRACE(kind.name);
    auto fresh = store_test::CreateFolder(source_.get(), std::string("into ") + kind.name);
    ASSERT_TRUE(fresh);
    counter_.steps = 0;
    EXPECT_EQ(kind.merge(source_.get(), fresh.get(), progress_), 0);
    EXPECT_EQ(Items(fresh.get()), items);
    EXPECT_EQ(counter_.steps, 3u);
    EXPECT_EQ(Items(source_.get()), items);
  }
}

TEST_F(MergeTest, CancellationAtTheThirdItemStopsAfterIt) {
  AddItems(source_.get(), {Cal("s1", T(1), T(1)), Cal("s2", T(2), T(2)), Cal("s3", T(3), T(3)),
                           Cal("s4", T(4), T(4)), Cal("s5", T(5), T(5))});
  for (const Kind& kind : kKinds) {
    SCOPED_TRACE(kind.name);
    auto fresh = store_test::CreateFolder(source_.get(), std::string("into ") + kind.name);
    ASSERT_TRUE(fresh);
    IMAPIProgress* progress = nullptr;
    StepCounter counter;
    counter.cancelAt = 3;
    ASSERT_EQ(CreateProcessMethod(StepCounter::Callback, &counter, &progress), S_OK);
    EXPECT_EQ(kind.merge(source_.get(), fresh.get(), progress), COPY_CANCELLED);
    progress->Release();
    const auto got = Items(fresh.get());
    ASSERT_EQ(got.size(), 3u);
    EXPECT_EQ(got[2].subject, "s3");
    EXPECT_EQ(counter.steps, 3u);
    EXPECT_EQ(LogCount(kind.unit + std::to_string(kind.canceledLine) + ";  User canceled."), 1u);
  }
}

TEST_F(MergeTest, DestinationRefusingNewItemsFailsTheFirstItem) {
  AddItems(source_.get(), {Cal("s1", T(1), T(1)), Cal("s2", T(2), T(2))});
  standin::ArmFault("IMAPIFolder::CreateMessage", MAPI_E_NO_ACCESS);
  for (const Kind& kind : kKinds) {
    SCOPED_TRACE(kind.name);
    counter_.steps = 0;
    EXPECT_EQ(kind.merge(source_.get(), destination_.get(), progress_), COPY_FAILED);
    EXPECT_TRUE(Items(destination_.get()).empty());
    EXPECT_EQ(counter_.steps, 1u);  // the failed item still makes its step
    EXPECT_EQ(LogCount(kind.unit + std::to_string(kind.copyFailedLine) + ";  Copy message failed.error:"), 1u);
    EXPECT_EQ(LogCount("destinationFolder->CreateMessage(0, 0, &dMsgPtr) failed, HRESULT:0x80070005"), 1u);
    standin::ArmFault("IMAPIFolder::CreateMessage", MAPI_E_NO_ACCESS);
    std::filesystem::remove(logPath_);
  }
}

TEST_F(MergeTest, UnreadableTablesEndTheMergeWithTheLowBitsAndNothingChanged) {
  AddItems(source_.get(), {Cal("s1", T(1), T(2))});
  AddItems(destination_.get(), {Cal("d1", T(1), T(1))});
  const auto before = Items(destination_.get());
  for (const Kind& kind : kKinds) {
    SCOPED_TRACE(kind.name);
    // The destination's table (the second asked for) cannot be had.
    standin::ArmFault("IMAPIFolder::GetContentsTable", MAPI_E_NO_ACCESS, 2);
    EXPECT_EQ(kind.merge(source_.get(), destination_.get(), progress_), 0x0005);
    // A warning from reading the destination's rows ends it too.
    standin::ArmFault("HrQueryAllRows", MAPI_W_ERRORS_RETURNED, 2);
    EXPECT_EQ(kind.merge(source_.get(), destination_.get(), progress_), 0x0380);
    standin::ClearAllFaults();
    EXPECT_EQ(Items(destination_.get()), before);
    EXPECT_EQ(LogCount(kind.unit + std::to_string(kind.tablesFailedLine) +
                       ";  GetContentTable or HrQueryAllRows failed. error: "),
              2u);
  }
  EXPECT_EQ(counter_.steps, 0u);
}

TEST_F(MergeTest, FailedReplacementLeavesTheOlderCopyInPlace) {
  AddItems(source_.get(), {Contact("new", u"Ann", u"Lee", T(1), T(5))});
  AddItems(destination_.get(), {Contact("old", u"Ann", u"Lee", T(1), T(4))});
  const auto before = Items(destination_.get());
  for (const char* fault : {"IMessage::CopyTo", "IMessage::SaveChanges", "IMAPIFolder::CreateMessage"}) {
    for (const Kind& kind : kKinds) {
      SCOPED_TRACE(std::string(kind.name) + " " + fault);
      standin::ArmFault(fault, MAPI_E_NO_ACCESS);
      EXPECT_EQ(kind.merge(source_.get(), destination_.get(), progress_), COPY_FAILED);
      standin::ClearAllFaults();
      EXPECT_EQ(Items(destination_.get()), before);
    }
  }
}

TEST_F(MergeTest, OlderCopyIsDeletedOnlyAfterItsReplacementIsSaved) {
  AddItems(source_.get(), {Contact("new", u"Ann", u"Lee", T(1), T(5))});
  for (const Kind& kind : kKinds) {
    SCOPED_TRACE(kind.name);
    auto dest = store_test::CreateFolder(source_.get(), std::string("into ") + kind.name);
    AddItems(dest.get(), {Contact("old", u"Ann", u"Lee", T(1), T(4))});
    // The deletion fails: both copies are left, none is lost.
    standin::ArmFault("IMAPIFolder::DeleteMessages", MAPI_E_NO_ACCESS);
    EXPECT_EQ(kind.merge(source_.get(), dest.get(), progress_), COPY_FAILED);
    standin::ClearAllFaults();
    const auto got = Items(dest.get());
    ASSERT_EQ(got.size(), 2u);
    EXPECT_EQ(got[0].subject, "old");
    EXPECT_EQ(got[1].subject, "new");
  }
}

TEST_F(MergeTest, AnItemWithoutAUsableIdentifierIsAFailedCopyAndNeverOpened) {
  using folder_test::FakeBinary;
  using folder_test::FakeLong;
  using folder_test::FakeText;
  for (const Kind& kind : kKinds) {
    SCOPED_TRACE(kind.name);
    // The provider reports the identifier as an error value.
    folder_test::FakeFolder source({}, {{FakeText(PR_GIVEN_NAME_W, u"Ann"), FakeText(PR_SURNAME_W, u"Lee"),
                                         FakeLong(PR_CREATION_TIME, 7), FakeLong(PR_LAST_MODIFICATION_TIME, 9)}});
    EXPECT_EQ(kind.merge(&source, destination_.get(), progress_), COPY_FAILED);
    EXPECT_EQ(source.openEntryCalls, 0u) << "an error code is no length";
    EXPECT_TRUE(Items(destination_.get()).empty());
    EXPECT_EQ(LogCount(std::string(kind.unit) + std::to_string(kind.copyFailedLine)), 1u) << LogText();

    // A damaged store names a folder where the item belongs: not copied as one.
    folder_test::FakeFolder damaged({}, {{FakeText(PR_GIVEN_NAME_W, u"Ann"), FakeText(PR_SURNAME_W, u"Lee"),
                                          FakeLong(PR_CREATION_TIME, 7), FakeLong(PR_LAST_MODIFICATION_TIME, 9),
                                          FakeBinary(PR_ENTRYID, "\x01\x02")}});
    damaged.openGivesItself = true;
    EXPECT_EQ(kind.merge(&damaged, destination_.get(), progress_), COPY_FAILED);
    EXPECT_EQ(damaged.openEntryCalls, 1u);
    EXPECT_EQ(damaged.copyToCalls, 0u);
  }
}

// ---- calendar ----

TEST_F(MergeTest, CalendarMatchesOnCreationTimeAndKeepsTheNewerCopy) {
  AddItems(source_.get(), {Cal("same", T(1), T(10)), Cal("newer", T(2), T(20)), Cal("older", T(3), T(30)),
                           Cal("missing", T(4), T(40))});
  AddItems(destination_.get(), {Cal("d-same", T(1), T(10)), Cal("d-older", T(2), T(19)), Cal("d-newer", T(3), T(31))});
  EXPECT_EQ(MergeCalendarFolder(source_.get(), destination_.get(), progress_), 0);
  EXPECT_EQ(Items(destination_.get()), (std::vector<Item>{Cal("d-same", T(1), T(10)), Cal("d-newer", T(3), T(31)),
                                                          Cal("newer", T(2), T(20)), Cal("missing", T(4), T(40))}));
  EXPECT_EQ(counter_.steps, 2u);  // skipped items make no step
}

TEST_F(MergeTest, CalendarConsidersOnlyTheFirstDestinationItemWithTheCreationTime) {
  AddItems(source_.get(), {Cal("s", T(5), T(30))});
  AddItems(destination_.get(), {Cal("first-newer", T(5), T(50)), Cal("second-older", T(5), T(10))});
  EXPECT_EQ(MergeCalendarFolder(source_.get(), destination_.get(), progress_), 0);
  EXPECT_EQ(Items(destination_.get()).size(), 2u);
  EXPECT_EQ(counter_.steps, 0u);

  auto other = store_test::CreateFolder(source_.get(), "other");
  AddItems(other.get(), {Cal("first-older", T(5), T(10)), Cal("second-newer", T(5), T(50))});
  EXPECT_EQ(MergeCalendarFolder(source_.get(), other.get(), progress_), 0);
  EXPECT_EQ(Items(other.get()), (std::vector<Item>{Cal("second-newer", T(5), T(50)), Cal("s", T(5), T(30))}));
}

// ---- contact ----

TEST_F(MergeTest, ContactMatchesOnNamesAndCreationTimeAndSkipsWithAStep) {
  AddItems(source_.get(), {Contact("same", u"Ann", u"Lee", T(1), T(10)), Contact("newer", u"Bo", u"Ng", T(2), T(20)),
                           Contact("older", u"Cy", u"Oh", T(3), T(30)),
                           Contact("other-surname", u"Ann", u"Li", T(1), T(10)),
                           Contact("other-case", u"ann", u"Lee", T(1), T(10)),
                           Contact("nameless", std::nullopt, std::nullopt, T(6), T(60)),
                           Contact("half-named", std::nullopt, u"Lee", T(6), T(60)),
                           Contact("empty-given", u"", u"Lee", T(1), T(10))});
  AddItems(destination_.get(),
           {Contact("d-same", u"Ann", u"Lee", T(1), T(10)), Contact("d-older", u"Bo", u"Ng", T(2), T(19)),
            Contact("d-newer", u"Cy", u"Oh", T(3), T(31)), Contact("d-nameless", std::nullopt, std::nullopt, T(6), T(60))});
  EXPECT_EQ(MergeContactFolder(source_.get(), destination_.get(), progress_), 0);
  std::vector<std::string> subjects;
  for (const Item& item : Items(destination_.get())) subjects.push_back(item.subject);
  EXPECT_EQ(subjects, (std::vector<std::string>{"d-same", "d-newer", "d-nameless", "newer", "other-surname",
                                                "other-case", "half-named", "empty-given"}));
  EXPECT_EQ(counter_.steps, 8u);  // skipped contacts make their step too
}

TEST_F(MergeTest, ContactConsidersOnlyTheFirstDestinationItemWithTheSameIdentity) {
  AddItems(source_.get(), {Contact("s", u"Ann", u"Lee", T(5), T(30))});
  AddItems(destination_.get(),
           {Contact("first-newer", u"Ann", u"Lee", T(5), T(50)), Contact("second-older", u"Ann", u"Lee", T(5), T(10))});
  EXPECT_EQ(MergeContactFolder(source_.get(), destination_.get(), progress_), 0);
  EXPECT_EQ(Items(destination_.get()).size(), 2u);
  EXPECT_EQ(counter_.steps, 1u);
}

// ---- the indexed matching against CompareContactRows ----

// Contact rows in memory, with the merge's content columns.
struct MemoryRows {
  std::vector<std::u16string> texts;  // storage for the strings (reserved up front)
  std::vector<std::vector<SPropValue>> props;
  std::vector<SRow> rows;
  std::vector<char> block;  // the SRowSet header with its rows
  const SRowSet* Set() {
    rows.clear();
    for (auto& p : props) rows.push_back(SRow{0, static_cast<ULONG>(p.size()), p.data()});
    block.assign(sizeof(SRowSet) + rows.size() * sizeof(SRow), 0);
    auto* set = reinterpret_cast<SRowSet*>(block.data());
    set->cRows = static_cast<ULONG>(rows.size());
    std::copy(rows.begin(), rows.end(), set->aRow);
    return set;
  }
};

SPropValue TextOrError(ULONG tag, std::u16string* text) {
  SPropValue v{};
  if (text) {
    v.ulPropTag = tag;
    v.Value.lpszW = reinterpret_cast<LPWSTR>(text->data());
  } else {
    v.ulPropTag = PROP_TAG(PT_ERROR, PROP_ID(tag));
    v.Value.err = MAPI_E_NOT_FOUND;
  }
  return v;
}

void RandomRows(std::mt19937& rng, size_t count, MemoryRows* out) {
  static const char16_t* const kNames[] = {nullptr, u"", u"Ann", u"ann", u"Bo"};
  out->texts.reserve(2 * count);
  for (size_t i = 0; i < count; ++i) {
    std::vector<SPropValue> p(6);
    for (int n = 0; n < 2; ++n) {
      const char16_t* name = kNames[rng() % 5];
      std::u16string* text = nullptr;
      if (name) text = &out->texts.emplace_back(name);
      p[n] = TextOrError(n == 0 ? PR_GIVEN_NAME_W : PR_SURNAME_W, text);
    }
    p[2] = store_test::Time(PR_LAST_MODIFICATION_TIME, T(rng() % 3));
    p[3] = store_test::Time(PR_CREATION_TIME, T(rng() % 4));
    p[4].ulPropTag = PR_MESSAGE_SIZE;
    p[5].ulPropTag = PR_ENTRYID;
    out->props.push_back(std::move(p));
  }
}

TEST(ContactMatching, IndexedKeyAgreesWithCompareContactRows) {
  std::mt19937 rng(20261209);
  for (int round = 0; round < 200; ++round) {
    MemoryRows source, destin;
    RandomRows(rng, 1 + rng() % 12, &source);
    RandomRows(rng, rng() % 12, &destin);
    const SRowSet* s = source.Set();
    const SRowSet* d = destin.Set();
    // The key the merge builds: given name, surname, creation time.
    auto key = [](const SRow& row) {
      return CRowKey().Text(row.lpProps[0]).Text(row.lpProps[1]).Time(row.lpProps[3]).Key();
    };
    const CFirstRowIndex index(d, key);
    for (ULONG si = 0; si < s->cRows; ++si) {
      ULONG expectRow = CFirstRowIndex::npos;
      int expectResult = 0;
      for (ULONG di = 0; di < d->cRows && !expectResult; ++di)
        if ((expectResult = CompareContactRows(si, di, s, d)) != 0) expectRow = di;
      ASSERT_EQ(index.Find(key(s->aRow[si])), expectRow) << "round " << round << " row " << si;
      if (expectRow != CFirstRowIndex::npos) {
        const bool older =
            store_test::TimeOf(d->aRow[expectRow].lpProps[2]) < store_test::TimeOf(s->aRow[si].lpProps[2]);
        EXPECT_EQ(expectResult, older ? 2 : 1);
      }
    }
  }
}

// The whole merge against a model that runs CompareContactRows over every pair.
TEST_F(MergeTest, ContactMergeAgreesWithAPairwiseModelOnRandomFolders) {
  static const char16_t* const kNames[] = {nullptr, u"", u"Ann", u"ann", u"Bo"};
  std::mt19937 rng(4242);
  auto randomItem = [&](const std::string& subject) {
    auto pick = [&]() -> std::optional<std::u16string> {
      const char16_t* n = kNames[rng() % 5];
      return n ? std::optional<std::u16string>(n) : std::nullopt;
    };
    auto given = pick();
    auto surname = pick();
    return Contact(subject, given, surname, T(rng() % 4), T(rng() % 3));
  };
  for (int round = 0; round < 4; ++round) {
    SCOPED_TRACE(round);
    auto src = store_test::CreateFolder(source_.get(), "src " + std::to_string(round));
    auto dst = store_test::CreateFolder(source_.get(), "dst " + std::to_string(round));
    std::vector<Item> srcItems, dstItems;
    for (int i = 0; i < 14; ++i) srcItems.push_back(randomItem("s" + std::to_string(i)));
    for (int i = 0; i < 10; ++i) dstItems.push_back(randomItem("d" + std::to_string(i)));
    AddItems(src.get(), srcItems);
    AddItems(dst.get(), dstItems);

    // The model, on the rows as the merge reads them.
    const std::vector<ULONG> columns = {PR_GIVEN_NAME_W, PR_SURNAME_W,    PR_LAST_MODIFICATION_TIME,
                                        PR_CREATION_TIME, PR_MESSAGE_SIZE, PR_ENTRYID};
    auto sRows = store_test::Contents(src.get(), columns);
    auto dRows = store_test::Contents(dst.get(), columns);
    ASSERT_TRUE(sRows && dRows);
    const auto srcRead = Items(src.get());
    const auto dstRead = Items(dst.get());
    std::vector<bool> deleted(dRows->cRows, false);
    std::vector<Item> copies;
    for (ULONG si = 0; si < sRows->cRows; ++si) {
      int result = 0;
      ULONG di = 0;
      for (; di < dRows->cRows; ++di)
        if ((result = CompareContactRows(si, di, sRows.get(), dRows.get())) != 0) break;
      if (result == 1) continue;
      if (result == 2) deleted[di] = true;
      copies.push_back(srcRead[si]);
    }
    std::vector<Item> expected;
    for (ULONG di = 0; di < dRows->cRows; ++di)
      if (!deleted[di]) expected.push_back(dstRead[di]);
    expected.insert(expected.end(), copies.begin(), copies.end());

    counter_.steps = 0;
    EXPECT_EQ(MergeContactFolder(src.get(), dst.get(), progress_), 0);
    EXPECT_EQ(Items(dst.get()), expected);
    EXPECT_EQ(counter_.steps, srcItems.size());
  }
}

}  // namespace
