// The folder wrapper: listing sub-folders as catalog records, counting, and
// the incremental copy of messages and sub-folder trees between two stores.
#include "MAPIPack/MAPIFolder.h"
#include "MAPIPack/MAPIHelpers.h"
#include "folder_support.h"

namespace folder_test {
namespace {

constexpr uint64_t kT1 = 0x01DC000011112222ull;
constexpr uint64_t kT2 = 0x01DC000033334444ull;

class FolderTest : public StoreFixture {
 protected:
  void SetUp() override {
    StoreFixture::SetUp();
    sourceTop_ = Subtree(source_.get());
    destTop_ = Subtree(dest_.get());
    ASSERT_TRUE(sourceTop_ && destTop_);
    from_ = Child(sourceTop_.get(), "Work");
    to_ = Child(destTop_.get(), "Work");
  }
  void TearDown() override {
    from_.reset();
    to_.reset();
    sourceTop_.reset();
    destTop_.reset();
    StoreFixture::TearDown();
  }
  int CopyContents(ProgressDouble& progress) {
    return CMAPIFolder::CopyFolderContents(from_.get(), to_.get(), &progress);
  }
  int CopyHierarchy(ProgressDouble& progress, int recurse = 1) {
    return CMAPIFolder::CopyFolderHierarchy(source_.get(), dest_.get(), from_.get(), to_.get(), &progress,
                                            CMAPIFolder::CopyFolderContents, recurse);
  }
  Held<IMAPIFolder> sourceTop_, destTop_, from_, to_;
};

// ---- listing ----

TEST_F(FolderTest, ListingRecordsNameClassAndIdentifier) {
  CMAPIFolder empty(from_.get());
  ULONG count = 7;
  OLCATALOGDATA* records = reinterpret_cast<OLCATALOGDATA*>(this);
  EXPECT_EQ(empty.GetCategory(&count, &records), 1);
  EXPECT_EQ(count, 0u);
  EXPECT_EQ(records, nullptr);

  Child(from_.get(), "Plain");
  CMAPIFolder work(from_.get());
  ASSERT_EQ(work.GetCategory(&count, &records), 1);
  ASSERT_EQ(count, 1u);
  EXPECT_EQ(Narrow(records[0].szName), "Plain");
  EXPECT_EQ(records[0].nType, 0);
  const OLCATALOGDATA zero = {};
  EXPECT_EQ(std::memcmp(records[0].szClass, zero.szClass, sizeof zero.szClass), 0) << "no class: all zero";
  EXPECT_EQ(records[0].cbEntryID, 24u);
  delete[] records;

  standin::ArmFault("HrQueryAllRows", MAPI_E_CALL_FAILED);
  count = 7;
  EXPECT_EQ(work.GetCategory(&count, &records), 0) << "a level that could not be read is no empty level";
  EXPECT_EQ(count, 0u);
  EXPECT_EQ(records, nullptr);
  EXPECT_EQ(LogCount("CMAPIFolder::GetCategory HrQueryAllRows Failed."), 1u) << LogText();
  standin::ClearAllFaults();
  standin::ArmFault("IMAPIFolder::GetHierarchyTable", MAPI_E_CALL_FAILED);
  EXPECT_EQ(work.GetCategory(&count, &records), 0);
  standin::ClearAllFaults();
  CMAPIFolder none(nullptr);
  EXPECT_EQ(none.GetCategory(&count, &records), 0);
}

TEST_F(FolderTest, LongIdentifiersNamesAndClassesAreKeptWithinTheRecord) {
  std::string longId(40, '\0');
  for (size_t i = 0; i < longId.size(); ++i) longId[i] = static_cast<char>(i + 1);
  std::u16string longName(60, u'n'), longClass(60, u'c');
  FakeFolder fake({{FakeBinary(PR_ENTRYID, longId), FakeText(PR_DISPLAY_NAME_W, longName),
                    FakeText(PR_CONTAINER_CLASS_W, longClass)},
                   {FakeBinary(PR_ENTRYID, "short"), FakeLong(PR_SUBFOLDERS, 1)}});
  CMAPIFolder folder(&fake);
  ULONG count = 0;
  OLCATALOGDATA* records = nullptr;
  ASSERT_EQ(folder.GetCategory(&count, &records), 1);
  ASSERT_EQ(count, 2u);
  EXPECT_EQ(records[0].cbEntryID, 40u) << "the full length";
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(records[0].abEntryID), 24), longId.substr(0, 24));
  EXPECT_EQ(std::u16string(reinterpret_cast<const char16_t*>(records[0].szName)), longName.substr(0, 49));
  EXPECT_EQ(std::u16string(reinterpret_cast<const char16_t*>(records[0].szClass)), longClass.substr(0, 49));
  EXPECT_EQ(records[1].cbEntryID, 5u);
  EXPECT_EQ(records[1].abEntryID[5], 0);
  EXPECT_EQ(records[1].szName[0], 0) << "no name: an empty one";
  delete[] records;
}

TEST_F(FolderTest, SubFoldersAreCreatedOnceWithTheirClass) {
  OLCATALOGDATA record = {};
  wcscpy_s(record.szName, OLCATALOG_NAME_CHARS, TEXT("Meetings"));
  wcscpy_s(record.szClass, OLCATALOG_NAME_CHARS, TEXT("IPF.Appointment"));
  CMAPIFolder parent(to_.get());
  Held<IMAPIFolder> first(parent.CreateSubFolder(record));
  ASSERT_TRUE(first);
  Held<IMAPIFolder> again(parent.CreateSubFolder(record));
  ASSERT_TRUE(again);
  EXPECT_EQ(BinProp(first.get(), PR_ENTRYID), BinProp(again.get(), PR_ENTRYID)) << "opened, not made twice";
  auto rows = Hierarchy(to_.get(), {PR_DISPLAY_NAME_W, PR_CONTAINER_CLASS_W});
  ASSERT_EQ(rows->cRows, 1u);
  EXPECT_EQ(Narrow(rows->aRow[0].lpProps[1].Value.lpszW), "IPF.Appointment");

  standin::ArmFault("IMAPIFolder::CreateFolder", MAPI_E_NO_ACCESS);
  wcscpy_s(record.szName, OLCATALOG_NAME_CHARS, TEXT("Refused"));
  EXPECT_EQ(parent.CreateSubFolder(record), nullptr);
  standin::ClearAllFaults();
  EXPECT_EQ(LogCount("m_folderPtr->CreateFolder(FOLDER_GENERIC, (LPTSTR)folderData.szName, 0, NULL, "
                     "_getCreateFolderFlag(), &subFolderPtr) failed, HRESULT:0x80070005"),
            1u)
      << LogText();
  EXPECT_EQ(LogCount("Create sub folder failed, name: Refused"), 1u);
  EXPECT_EQ(CMAPIFolder::_getCreateFolderFlag(), 0x80000001u);
}

TEST_F(FolderTest, TotalCountAddsEveryFolderBelow) {
  auto a = Child(from_.get(), "A");
  auto b = Child(a.get(), "B");
  auto c = Child(from_.get(), "C");
  AddMessage(from_.get(), "top", kT1);
  for (int i = 0; i < 3; ++i) AddMessage(a.get(), "a", kT1 + i);
  for (int i = 0; i < 5; ++i) AddMessage(b.get(), "b", kT1 + i);
  CMAPIFolder work(from_.get());
  EXPECT_EQ(work.GetContentCount(), 1u);
  EXPECT_EQ(work.GetTotalContentCount(source_.get()), 9u);
  CMAPIFolder none(nullptr);
  EXPECT_EQ(none.GetContentCount(), 0u);
}

// ---- the message copy ----

TEST_F(FolderTest, ASecondCopyCopiesNothingButStillStepsPerMessage) {
  AddMessage(from_.get(), "One", kT1);
  AddMessage(from_.get(), "Two", kT1);
  AddMessage(from_.get(), nullptr, kT1);
  ProgressDouble progress;
  ASSERT_EQ(CopyContents(progress), 0);
  EXPECT_EQ(Count(to_.get()), 3u);
  EXPECT_EQ(progress.steps, 3u);

  standin::ClearFault("IMAPIFolder::CopyMessages");
  ASSERT_EQ(CopyContents(progress), 0);
  EXPECT_EQ(Count(to_.get()), 3u);
  EXPECT_EQ(progress.steps, 6u);
  EXPECT_EQ(standin::FaultCallCount("IMAPIFolder::CopyMessages"), 0u);
  EXPECT_EQ(LogText(), "") << "nothing to report";
}

TEST_F(FolderTest, DuplicatesNeedTheSameTimeAndExactlyTheSameSubject) {
  AddMessage(to_.get(), "Report", kT1);
  AddMessage(to_.get(), "Minutes", kT1);
  AddMessage(to_.get(), nullptr, kT2);
  AddMessage(from_.get(), "Report", kT2);    // other time: copied
  AddMessage(from_.get(), "minutes", kT1);   // other case: copied
  AddMessage(from_.get(), "Minutes", kT1);   // present
  AddMessage(from_.get(), nullptr, kT2);     // both without subject: present
  AddMessage(from_.get(), "", kT2);          // an empty subject is a subject: copied
  AddMessage(from_.get(), nullptr, kT1);     // no subject against subjects: copied
  ProgressDouble progress;
  ASSERT_EQ(CopyContents(progress), 0);
  EXPECT_EQ(progress.steps, 6u);
  auto subjects = Subjects(to_.get());
  std::sort(subjects.begin(), subjects.end());
  std::vector<std::string> expected = {"", "<none>", "<none>", "Minutes", "Report", "Report", "minutes"};
  std::sort(expected.begin(), expected.end());
  EXPECT_EQ(subjects, expected);
}

TEST_F(FolderTest, ASecondAttemptThatWorksLeavesNoTrace) {
  AddMessage(from_.get(), "Retried", kT1);
  AddMessage(from_.get(), "Plain", kT1);
  standin::ArmFault("IMAPIFolder::CopyMessages", MAPI_E_CALL_FAILED, 1);
  ProgressDouble progress;
  EXPECT_EQ(CopyContents(progress), 0);
  EXPECT_EQ(standin::FaultCallCount("IMAPIFolder::CopyMessages"), 3u);
  EXPECT_EQ(Count(to_.get()), 2u);
  EXPECT_EQ(LogCount("Copy message failed"), 0u) << LogText();
}

TEST_F(FolderTest, AMessageThatFailsTwiceStopsTheCopy) {
  AddMessage(from_.get(), "Stuck", kT1);
  AddMessage(from_.get(), "Never", kT1);
  standin::ArmFault("IMAPIFolder::CopyMessages", MAPI_E_CALL_FAILED);
  ProgressDouble progress;
  EXPECT_EQ(CopyContents(progress), COPY_FAILED);
  EXPECT_EQ(standin::FaultCallCount("IMAPIFolder::CopyMessages"), 2u) << "two attempts, then the loop ends";
  EXPECT_EQ(progress.steps, 1u);
  EXPECT_EQ(LogCount("ERROR: File:'.\\MAPIPack\\MAPIFolder' Line: "), 1u) << LogText();
  EXPECT_EQ(LogCount("Copy message failed.Name:Stuck, Error:"), 1u) << LogText();
  EXPECT_EQ(LogCount(",HRESULT:0x80004005"), 1u) << LogText();
}

TEST_F(FolderTest, AnUnreadableTableEndsWithItsCode) {
  AddMessage(from_.get(), "Any", kT1);
  standin::ArmFault("IMAPIFolder::GetContentsTable", MAPI_E_NO_ACCESS, 2);
  ProgressDouble progress;
  EXPECT_EQ(CopyContents(progress), 5) << "the low 16 bits";
  EXPECT_EQ(progress.steps, 0u);
  EXPECT_EQ(LogCount("destinationFolder->GetContentsTable(0, &destinContentTablePtr) failed, HRESULT:0x80070005"),
            1u)
      << LogText();
  EXPECT_EQ(LogCount("Skinnping HrQueryAllRows("), 2u) << LogText();
  EXPECT_EQ(Count(to_.get()), 0u);
}

TEST_F(FolderTest, ACancelOnTheTenthStepStopsBeforeTheEleventhMessage) {
  for (int i = 0; i < 15; ++i) AddMessage(from_.get(), ("M" + std::to_string(i)).c_str(), kT1 + i);
  ProgressDouble progress;
  progress.cancelAt = 10;
  EXPECT_EQ(CopyContents(progress), COPY_CANCELLED);
  EXPECT_EQ(progress.steps, 10u);
  EXPECT_EQ(Count(to_.get()), 10u);
  EXPECT_EQ(LogCount("User canceled."), 1u);
}

TEST_F(FolderTest, AStepRefusedWithoutCancellingGoesOn) {
  for (int i = 0; i < 3; ++i) AddMessage(from_.get(), "Same", kT1 + i);
  ProgressDouble progress;
  progress.windowGone = true;
  EXPECT_EQ(CopyContents(progress), COPY_CANCELLED);
  EXPECT_EQ(Count(to_.get()), 3u);
  EXPECT_EQ(LogCount("User canceled."), 3u);
}

TEST_F(FolderTest, AnEmptySourceCopiesNothingAndDoesNotStep) {
  ProgressDouble progress;
  EXPECT_EQ(CopyContents(progress), 0);
  EXPECT_EQ(progress.steps, 0u);
}

// ---- the sub-folder copy ----

TEST_F(FolderTest, SubFolderNamesMatchWithoutRegardToCase) {
  auto sourceSub = Child(from_.get(), "Projects");
  AddMessage(sourceSub.get(), "Plan", kT1);
  auto deeper = Child(sourceSub.get(), "Old");
  AddMessage(deeper.get(), "Archive", kT1);
  auto destSub = Child(to_.get(), "PROJECTS");
  ProgressDouble progress;
  ASSERT_EQ(CopyHierarchy(progress), 0);
  auto rows = Hierarchy(to_.get(), {PR_DISPLAY_NAME_W});
  ASSERT_EQ(rows->cRows, 1u) << "the existing folder is used";
  EXPECT_EQ(Subjects(destSub.get()), std::vector<std::string>{"Plan"});
  auto destDeeper = Child(destSub.get(), "Old");
  EXPECT_EQ(Subjects(destDeeper.get()), std::vector<std::string>{"Archive"});
  EXPECT_EQ(LogCount("Processing the folder, Name:Projects"), 1u) << LogText();
  EXPECT_EQ(progress.steps, 2u);

  // Without recursion only the first level is copied.
  auto other = Child(sourceSub.get(), "New");
  AddMessage(other.get(), "Fresh", kT2);
  ASSERT_EQ(CopyHierarchy(progress, 0), 0);
  EXPECT_EQ(Hierarchy(destSub.get(), {PR_DISPLAY_NAME_W})->cRows, 1u);
}

TEST_F(FolderTest, AFolderThatCannotBeCreatedStopsTheCopy) {
  Child(from_.get(), "First");
  Child(from_.get(), "Second");
  standin::ArmFault("IMAPIFolder::CreateFolder", MAPI_E_NO_ACCESS);
  ProgressDouble progress;
  EXPECT_EQ(CopyHierarchy(progress), COPY_FAILED);
  EXPECT_EQ(standin::FaultCallCount("IMAPIFolder::CreateFolder"), 1u);
  EXPECT_EQ(LogCount("Can not operate the folder, Name:First, Error: 5"), 1u) << LogText();
  EXPECT_EQ(LogCount("Skinnping pSubSource->CopyTo("), 1u) << LogText();
  EXPECT_EQ(LogCount("Second"), 0u);
}

TEST_F(FolderTest, ProcessFolderCopiesTheFolderThenItsTree) {
  AddMessage(from_.get(), "Top", kT1);
  auto sub = Child(from_.get(), "Sub");
  AddMessage(sub.get(), "Below", kT1);
  CMAPIFolder work(from_.get(), 3);
  ProgressDouble progress;
  EXPECT_EQ(work.ProcessFolder(source_.get(), dest_.get(), to_.get(), 1, &progress), 0);
  EXPECT_EQ(Subjects(to_.get()), std::vector<std::string>{"Top"});
  EXPECT_EQ(Subjects(Child(to_.get(), "Sub").get()), std::vector<std::string>{"Below"});
  EXPECT_EQ(LogCount("INFO: File:'.\\MAPIPack\\MAPIFolder' Line: "), 2u);
  EXPECT_EQ(LogCount("Processing the folder, Name: Work, and type is 3"), 1u) << LogText();

  // A hierarchy failure is the result even when the messages were copied.
  standin::ArmFault("IMAPIFolder::GetHierarchyTable", MAPI_E_CALL_FAILED);
  EXPECT_EQ(work.ProcessFolder(source_.get(), dest_.get(), to_.get(), 1, &progress), 0x4005);
  standin::ClearAllFaults();
  standin::ArmFault("IMAPIFolder::GetProps", MAPI_E_CALL_FAILED);
  EXPECT_EQ(work.ProcessFolder(source_.get(), dest_.get(), to_.get(), 0, &progress), 0);
  standin::ClearAllFaults();
  EXPECT_EQ(LogCount("Could not processing the folder name. Error"), 1u) << LogText();
}

TEST_F(FolderTest, ACalendarTreeIsMergedFolderByFolder) {
  // The same creation time and a newer copy in the destination: the calendar
  // merge keeps the destination's item, where a message copy would add one.
  auto mail = Child(from_.get(), "Mail");
  AddMessage(mail.get(), "Source item", kT1, kT1);
  auto destMail = Child(to_.get(), "Mail");
  AddMessage(destMail.get(), "Destination item", kT2, kT1);
  CMAPIFolder calendar(from_.get(), 7);
  ProgressDouble progress;
  EXPECT_EQ(calendar.ProcessFolder(source_.get(), dest_.get(), to_.get(), 1, &progress), 0);
  EXPECT_EQ(Subjects(destMail.get()), std::vector<std::string>{"Destination item"});

  CMAPIFolder plain(from_.get(), 0);
  EXPECT_EQ(plain.ProcessFolder(source_.get(), dest_.get(), to_.get(), 1, &progress), 0);
  EXPECT_EQ(Count(destMail.get()), 2u);
}

}  // namespace
}  // namespace folder_test
