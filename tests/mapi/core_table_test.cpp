// The table model and the utility functions over it: cursor, columns,
// restrict, sort, find, bookmarks, faults; HrQueryAllRows, HrGetOneProp,
// HrSetOneProp.
#include <mapiutil.h>
#include <standin/fault.h>

#include <algorithm>
#include <memory>
#include <string>
#include <vector>

#include "../../platform/mapi/core.h"
#include "common/fresh_root.h"

namespace {

using standin::mapi::Row;

class MapiCoreTable : public testing_support::FreshRoot {};
class MapiCoreUtil : public testing_support::FreshRoot {};

struct TableDeleter {
  void operator()(IMAPITable* t) const { t->Release(); }
};
using TablePtr = std::unique_ptr<IMAPITable, TableDeleter>;
struct RowsDeleter {
  void operator()(SRowSet* r) const { FreeProws(r); }
};
using RowsPtr = std::unique_ptr<SRowSet, RowsDeleter>;

// Rows 0..5: PR_ROWID = i, a name, a group; row 3 has no comment.
const char16_t* const kNames[] = {u"delta", u"Alpha", u"charlie", u"bravo", u"alpha", u"Echo"};
const LONG kGroups[] = {2, 1, 2, 1, 2, 1};

TablePtr NewTable(const char* prefix = "IMAPITable") {
  std::vector<Row> rows;
  for (LONG i = 0; i < 6; ++i) {
    Row r = {standin::mapi::MakeLong(PR_ROWID, i), standin::mapi::MakeUnicode(PR_DISPLAY_NAME_W, kNames[i]),
             standin::mapi::MakeLong(PR_OBJECT_TYPE, kGroups[i])};
    if (i != 3) r.push_back(standin::mapi::MakeUnicode(PR_COMMENT_W, u"note"));
    rows.push_back(std::move(r));
  }
  return TablePtr(standin::mapi::NewRowTable(std::move(rows), {PR_ROWID, PR_DISPLAY_NAME_W}, prefix));
}

// PR_ROWID of each row in a set (column 0).
std::vector<LONG> Ids(const SRowSet* rows) {
  std::vector<LONG> ids;
  for (ULONG i = 0; i < rows->cRows; ++i) ids.push_back(rows->aRow[i].lpProps[0].Value.l);
  return ids;
}

std::vector<LONG> Read(IMAPITable* t, LONG count, ULONG flags = 0) {
  LPSRowSet rows = nullptr;
  EXPECT_EQ(t->QueryRows(count, flags, &rows), S_OK);
  RowsPtr owned(rows);
  return rows ? Ids(rows) : std::vector<LONG>{-1};
}

ULONG Position(IMAPITable* t) {
  ULONG row = 0, num = 0, den = 0;
  EXPECT_EQ(t->QueryPosition(&row, &num, &den), S_OK);
  return row;
}

SRestriction Exist(ULONG tag) {
  SRestriction r{};
  r.rt = RES_EXIST;
  r.res.resExist = {0, tag, 0};
  return r;
}

TEST_F(MapiCoreTable, QueryRowsReadsFromTheCursorAndEndsEmpty) {
  TablePtr t = NewTable();
  ULONG count = 0;
  ASSERT_EQ(t->GetRowCount(0, &count), S_OK);
  EXPECT_EQ(count, 6u);
  EXPECT_EQ(Read(t.get(), 2), (std::vector<LONG>{0, 1}));
  EXPECT_EQ(Position(t.get()), 2u);
  EXPECT_EQ(Read(t.get(), 1, TBL_NOADVANCE), (std::vector<LONG>{2}));
  EXPECT_EQ(Position(t.get()), 2u);
  EXPECT_EQ(Read(t.get(), 100), (std::vector<LONG>{2, 3, 4, 5}));
  EXPECT_EQ(Read(t.get(), 1), std::vector<LONG>{});  // at the end: an empty set, not an error
  // Backwards: the rows before the cursor, in table order; the cursor moves to the first.
  EXPECT_EQ(Read(t.get(), -2), (std::vector<LONG>{4, 5}));
  EXPECT_EQ(Position(t.get()), 4u);
  EXPECT_EQ(Read(t.get(), -10), (std::vector<LONG>{0, 1, 2, 3}));
  EXPECT_EQ(Position(t.get()), 0u);

  LPSRowSet rows = reinterpret_cast<LPSRowSet>(1);
  EXPECT_EQ(t->QueryRows(0, 0, &rows), MAPI_E_INVALID_PARAMETER);
  EXPECT_EQ(rows, nullptr);
  EXPECT_EQ(t->QueryRows(1, 0x100, &rows), MAPI_E_UNKNOWN_FLAGS);
  EXPECT_EQ(t->QueryRows(1, 0, nullptr), MAPI_E_INVALID_PARAMETER);
}

TEST_F(MapiCoreTable, SeekRowFromEachOriginClampsAndReports) {
  TablePtr t = NewTable();
  LONG sought = 99;
  EXPECT_EQ(t->SeekRow(BOOKMARK_BEGINNING, 4, &sought), S_OK);
  EXPECT_EQ(sought, 4);
  EXPECT_EQ(t->SeekRow(BOOKMARK_CURRENT, -10, &sought), S_OK);
  EXPECT_EQ(sought, -4);
  EXPECT_EQ(Position(t.get()), 0u);
  EXPECT_EQ(t->SeekRow(BOOKMARK_END, -1, &sought), S_OK);
  EXPECT_EQ(sought, -1);
  EXPECT_EQ(Read(t.get(), 5), (std::vector<LONG>{5}));
  EXPECT_EQ(t->SeekRow(BOOKMARK_END, 3, &sought), S_OK);
  EXPECT_EQ(sought, 0);
  EXPECT_EQ(t->SeekRow(BOOKMARK_BEGINNING, 2, nullptr), S_OK);
  EXPECT_EQ(Position(t.get()), 2u);
  EXPECT_EQ(t->SeekRow(BOOKMARK(12345), 0, &sought), MAPI_E_INVALID_BOOKMARK);
  EXPECT_EQ(t->SeekRowApprox(1, 2), S_OK);
  EXPECT_EQ(Position(t.get()), 3u);
  EXPECT_EQ(t->SeekRowApprox(1, 0), MAPI_E_INVALID_PARAMETER);
}

TEST_F(MapiCoreTable, ColumnsChooseAndOrderTheValues) {
  TablePtr t = NewTable();
  EXPECT_EQ(t->SetColumns(nullptr, 0), MAPI_E_INVALID_PARAMETER);
  SizedSPropTagArray(3, cols) = {3, {PR_COMMENT_W, PR_DISPLAY_NAME_A, PR_ROWID}};
  ASSERT_EQ(t->SetColumns(reinterpret_cast<LPSPropTagArray>(&cols), TBL_BATCH), S_OK);
  LPSRowSet raw = nullptr;
  ASSERT_EQ(t->QueryRows(6, 0, &raw), S_OK);
  RowsPtr rows(raw);
  ASSERT_EQ(rows->cRows, 6u);
  const SRow& r3 = rows->aRow[3];
  ASSERT_EQ(r3.cValues, 3u);
  EXPECT_EQ(r3.lpProps[0].ulPropTag, CHANGE_PROP_TYPE(PR_COMMENT_W, PT_ERROR));
  EXPECT_EQ(r3.lpProps[0].Value.err, MAPI_E_NOT_FOUND);
  EXPECT_STREQ(r3.lpProps[1].Value.lpszA, "bravo");
  EXPECT_EQ(r3.lpProps[2].Value.l, 3);
  EXPECT_EQ(rows->aRow[0].lpProps[0].ulPropTag, PR_COMMENT_W);

  LPSPropTagArray got = nullptr;
  ASSERT_EQ(t->QueryColumns(0, &got), S_OK);
  ASSERT_EQ(got->cValues, 3u);
  EXPECT_EQ(got->aulPropTag[1], PR_DISPLAY_NAME_A);
  MAPIFreeBuffer(got);
  ASSERT_EQ(t->QueryColumns(TBL_ALL_COLUMNS, &got), S_OK);
  EXPECT_EQ(got->cValues, 4u);  // every tag any row holds
  MAPIFreeBuffer(got);
}

TEST_F(MapiCoreTable, RestrictFiltersRewindsAndNullClears) {
  TablePtr t = NewTable();
  ASSERT_EQ(t->SeekRow(BOOKMARK_END, 0, nullptr), S_OK);
  SRestriction noComment{};
  SRestriction has = Exist(PR_COMMENT_W);
  noComment.rt = RES_NOT;
  noComment.res.resNot = {0, &has};
  ASSERT_EQ(t->Restrict(&noComment, 0), S_OK);
  ULONG count = 0;
  ASSERT_EQ(t->GetRowCount(0, &count), S_OK);
  EXPECT_EQ(count, 1u);
  EXPECT_EQ(Read(t.get(), 10), (std::vector<LONG>{3}));

  // A restriction that cannot be evaluated leaves the view as it was.
  SRestriction bad{};
  bad.rt = 0x77;
  EXPECT_EQ(t->Restrict(&bad, 0), MAPI_E_TOO_COMPLEX);
  ASSERT_EQ(t->GetRowCount(0, &count), S_OK);
  EXPECT_EQ(count, 1u);

  ASSERT_EQ(t->Restrict(nullptr, 0), S_OK);
  ASSERT_EQ(t->GetRowCount(0, &count), S_OK);
  EXPECT_EQ(count, 6u);
}

TEST_F(MapiCoreTable, SortTableOrdersByKeysStably) {
  TablePtr t = NewTable();
  // Names without regard to case; "Alpha" and "alpha" keep their table order.
  SizedSSortOrderSet(1, byName) = {1, 0, 0, {{PR_DISPLAY_NAME_W, TABLE_SORT_ASCEND}}};
  ASSERT_EQ(t->SortTable(reinterpret_cast<LPSSortOrderSet>(&byName), 0), S_OK);
  EXPECT_EQ(Read(t.get(), 10), (std::vector<LONG>{1, 4, 3, 2, 0, 5}));

  SizedSSortOrderSet(2, byGroupThenName) = {
      2, 0, 0, {{PR_OBJECT_TYPE, TABLE_SORT_DESCEND}, {PR_DISPLAY_NAME_W, TABLE_SORT_DESCEND}}};
  ASSERT_EQ(t->SortTable(reinterpret_cast<LPSSortOrderSet>(&byGroupThenName), 0), S_OK);
  EXPECT_EQ(Position(t.get()), 0u);
  EXPECT_EQ(Read(t.get(), 10), (std::vector<LONG>{0, 2, 4, 5, 3, 1}));

  // The sort order holds through a later restriction.
  SRestriction hasComment = Exist(PR_COMMENT_W);
  ASSERT_EQ(t->Restrict(&hasComment, 0), S_OK);
  EXPECT_EQ(Read(t.get(), 10), (std::vector<LONG>{0, 2, 4, 5, 1}));

  LPSSortOrderSet order = nullptr;
  ASSERT_EQ(t->QuerySortOrder(&order), S_OK);
  ASSERT_EQ(order->cSorts, 2u);
  EXPECT_EQ(order->aSort[1].ulOrder, TABLE_SORT_DESCEND);
  MAPIFreeBuffer(order);

  SizedSSortOrderSet(1, categorized) = {1, 1, 1, {{PR_OBJECT_TYPE, TABLE_SORT_ASCEND}}};
  EXPECT_EQ(t->SortTable(reinterpret_cast<LPSSortOrderSet>(&categorized), 0), MAPI_E_TOO_COMPLEX);
  EXPECT_EQ(t->SortTable(nullptr, 0), MAPI_E_INVALID_PARAMETER);
}

TEST_F(MapiCoreTable, FindRowAndBookmarks) {
  TablePtr t = NewTable();
  SPropValue group{};
  group.ulPropTag = PR_OBJECT_TYPE;
  group.Value.l = 1;
  SRestriction inGroup1{};
  inGroup1.rt = RES_PROPERTY;
  inGroup1.res.resProperty = {RELOP_EQ, PR_OBJECT_TYPE, &group};

  ASSERT_EQ(t->FindRow(&inGroup1, BOOKMARK_BEGINNING, 0), S_OK);
  EXPECT_EQ(Position(t.get()), 1u);
  BOOKMARK mark = 0;
  ASSERT_EQ(t->CreateBookmark(&mark), S_OK);
  EXPECT_GT(mark, BOOKMARK_END);
  ASSERT_EQ(t->SeekRow(BOOKMARK_CURRENT, 1, nullptr), S_OK);
  ASSERT_EQ(t->FindRow(&inGroup1, BOOKMARK_CURRENT, 0), S_OK);  // the current row counts
  EXPECT_EQ(Position(t.get()), 3u);
  ASSERT_EQ(t->FindRow(&inGroup1, BOOKMARK_END, DIR_BACKWARD), S_OK);
  EXPECT_EQ(Position(t.get()), 5u);
  ASSERT_EQ(t->FindRow(&inGroup1, mark, 0), S_OK);
  EXPECT_EQ(Position(t.get()), 1u);

  group.Value.l = 9;
  ASSERT_EQ(t->SeekRow(BOOKMARK_BEGINNING, 2, nullptr), S_OK);
  EXPECT_EQ(t->FindRow(&inGroup1, BOOKMARK_BEGINNING, 0), MAPI_E_NOT_FOUND);
  EXPECT_EQ(Position(t.get()), 2u);  // a failed search does not move the cursor

  ASSERT_EQ(t->SeekRow(mark, 0, nullptr), S_OK);
  EXPECT_EQ(Read(t.get(), 1), (std::vector<LONG>{1}));
  EXPECT_EQ(t->FreeBookmark(mark), S_OK);
  EXPECT_EQ(t->FreeBookmark(mark), MAPI_E_INVALID_BOOKMARK);
  EXPECT_EQ(t->SeekRow(mark, 0, nullptr), MAPI_E_INVALID_BOOKMARK);

  // A bookmark past the end of a shrunken view lands on the end with a warning.
  ASSERT_EQ(t->SeekRow(BOOKMARK_END, 0, nullptr), S_OK);
  ASSERT_EQ(t->CreateBookmark(&mark), S_OK);
  ASSERT_EQ(t->Restrict(&inGroup1, 0), S_OK);  // no rows in group 9
  LONG sought = 7;
  EXPECT_EQ(t->SeekRow(mark, 0, &sought), MAPI_W_POSITION_CHANGED);
  EXPECT_EQ(sought, 0);
  EXPECT_EQ(t->FreeBookmark(BOOKMARK_CURRENT), S_OK);
}

TEST_F(MapiCoreTable, EveryMethodHasItsFaultPoint) {
  TablePtr t = NewTable("IMAPIFolder::GetHierarchyTable");
  standin::ArmFault("IMAPIFolder::GetHierarchyTable::QueryRows", MAPI_E_NETWORK_ERROR, 2);
  EXPECT_EQ(Read(t.get(), 1), (std::vector<LONG>{0}));
  LPSRowSet rows = nullptr;
  EXPECT_EQ(t->QueryRows(1, 0, &rows), MAPI_E_NETWORK_ERROR);
  EXPECT_EQ(rows, nullptr);
  EXPECT_EQ(Position(t.get()), 1u);  // a failed read does not move the cursor
  EXPECT_EQ(Read(t.get(), 1), (std::vector<LONG>{1}));

  // Warnings pass through as the call's result too.
  standin::ArmFault("IMAPIFolder::GetHierarchyTable::SeekRow", MAPI_W_POSITION_CHANGED, 1);
  EXPECT_EQ(t->SeekRow(BOOKMARK_BEGINNING, 0, nullptr), MAPI_W_POSITION_CHANGED);

  for (const char* method : {"SetColumns", "Restrict", "SortTable", "GetRowCount", "FindRow", "CreateBookmark"}) {
    const std::string name = std::string("IMAPIFolder::GetHierarchyTable::") + method;
    standin::ArmFault(name, MAPI_E_CALL_FAILED, 1);
    SRestriction r = Exist(PR_ROWID);
    SizedSSortOrderSet(1, sort) = {1, 0, 0, {{PR_ROWID, TABLE_SORT_ASCEND}}};
    SizedSPropTagArray(1, cols) = {1, {PR_ROWID}};
    ULONG count = 0;
    BOOKMARK bk = 0;
    HRESULT hr = S_OK;
    const std::string m = method;
    if (m == "SetColumns") hr = t->SetColumns(reinterpret_cast<LPSPropTagArray>(&cols), 0);
    if (m == "Restrict") hr = t->Restrict(&r, 0);
    if (m == "SortTable") hr = t->SortTable(reinterpret_cast<LPSSortOrderSet>(&sort), 0);
    if (m == "GetRowCount") hr = t->GetRowCount(0, &count);
    if (m == "FindRow") hr = t->FindRow(&r, BOOKMARK_BEGINNING, 0);
    if (m == "CreateBookmark") hr = t->CreateBookmark(&bk);
    EXPECT_EQ(hr, MAPI_E_CALL_FAILED) << method;
    EXPECT_EQ(standin::FaultCallCount(name), 1u) << method;
  }
}

// ---- utility functions ----

TEST_F(MapiCoreUtil, HrQueryAllRowsAppliesColumnsRestrictionAndSort) {
  TablePtr t = NewTable();
  ASSERT_EQ(t->SeekRow(BOOKMARK_END, 0, nullptr), S_OK);  // reads from the start whatever the cursor
  SizedSPropTagArray(2, cols) = {2, {PR_ROWID, PR_DISPLAY_NAME_A}};
  SPropValue a{}, b{};
  a.ulPropTag = b.ulPropTag = PR_DISPLAY_NAME_A;
  a.Value.lpszA = const_cast<LPSTR>("Echo");
  b.Value.lpszA = const_cast<LPSTR>("bravo");
  SRestriction either[2] = {};
  either[0].rt = either[1].rt = RES_PROPERTY;
  either[0].res.resProperty = {RELOP_EQ, PR_DISPLAY_NAME_A, &a};
  either[1].res.resProperty = {RELOP_EQ, PR_DISPLAY_NAME_A, &b};
  SRestriction orRes{};
  orRes.rt = RES_OR;
  orRes.res.resOr = {2, either};
  SizedSSortOrderSet(1, sort) = {1, 0, 0, {{PR_ROWID, TABLE_SORT_DESCEND}}};
  LPSRowSet raw = nullptr;
  ASSERT_EQ(HrQueryAllRows(t.get(), reinterpret_cast<LPSPropTagArray>(&cols), &orRes,
                           reinterpret_cast<LPSSortOrderSet>(&sort), 0, &raw),
            S_OK);
  RowsPtr rows(raw);
  EXPECT_EQ(Ids(rows.get()), (std::vector<LONG>{5, 3}));
  ASSERT_EQ(rows->aRow[0].cValues, 2u);
  EXPECT_STREQ(rows->aRow[0].lpProps[1].Value.lpszA, "Echo");
}

TEST_F(MapiCoreUtil, HrQueryAllRowsLimitsTheRowCount) {
  TablePtr t = NewTable();
  LPSRowSet raw = reinterpret_cast<LPSRowSet>(1);
  EXPECT_EQ(HrQueryAllRows(t.get(), nullptr, nullptr, nullptr, 5, &raw), MAPI_E_TABLE_TOO_BIG);
  EXPECT_EQ(raw, nullptr);
  ASSERT_EQ(HrQueryAllRows(t.get(), nullptr, nullptr, nullptr, 6, &raw), S_OK);
  EXPECT_EQ(raw->cRows, 6u);
  FreeProws(raw);

  SRestriction none{};
  SRestriction has = Exist(PR_ROWID);
  none.rt = RES_NOT;
  none.res.resNot = {0, &has};
  ASSERT_EQ(HrQueryAllRows(t.get(), nullptr, &none, nullptr, 0, &raw), S_OK);
  EXPECT_EQ(raw->cRows, 0u);
  FreeProws(raw);
  EXPECT_EQ(HrQueryAllRows(nullptr, nullptr, nullptr, nullptr, 0, &raw), MAPI_E_INVALID_PARAMETER);
}

TEST_F(MapiCoreUtil, HrQueryAllRowsFailuresLeaveNoRows) {
  TablePtr t = NewTable();
  LPSRowSet raw = reinterpret_cast<LPSRowSet>(1);
  standin::ArmFault("HrQueryAllRows", MAPI_E_NOT_ENOUGH_MEMORY, 1);
  EXPECT_EQ(HrQueryAllRows(t.get(), nullptr, nullptr, nullptr, 0, &raw), MAPI_E_NOT_ENOUGH_MEMORY);
  // A table call failing inside: the second batch read fails after the first succeeded.
  standin::ArmFault("IMAPITable::QueryRows", MAPI_E_CALL_FAILED, 2);
  raw = reinterpret_cast<LPSRowSet>(1);
  EXPECT_EQ(HrQueryAllRows(t.get(), nullptr, nullptr, nullptr, 0, &raw), MAPI_E_CALL_FAILED);
  EXPECT_EQ(raw, nullptr);
  standin::ArmFault("IMAPITable::Restrict", MAPI_E_TOO_COMPLEX, 1);
  SRestriction has = Exist(PR_ROWID);
  EXPECT_EQ(HrQueryAllRows(t.get(), nullptr, &has, nullptr, 0, &raw), MAPI_E_TOO_COMPLEX);
}

// An object whose properties are one row; SetProps reports a problem for one id.
class RowProp final : public standin::mapi::ComObject<IMAPIProp> {
 public:
  explicit RowProp(Row row) : row_(std::move(row)) {}
  static constexpr ULONG kRefused = PROP_TAG(PT_LONG, 0x6799);
  Row row_;

  STDMETHODIMP GetLastError(HRESULT, ULONG, LPMAPIERROR*) override { return MAPI_E_NO_SUPPORT; }
  STDMETHODIMP SaveChanges(ULONG) override { return MAPI_E_NO_SUPPORT; }
  STDMETHODIMP GetProps(LPSPropTagArray tags, ULONG, ULONG* count, LPSPropValue* values) override {
    HRESULT hr = standin::mapi::BuildPropArray(row_, tags, count, values);
    if (FAILED(hr)) return hr;
    for (ULONG i = 0; i < *count; ++i)
      if (PROP_TYPE((*values)[i].ulPropTag) == PT_ERROR) return MAPI_W_ERRORS_RETURNED;
    return S_OK;
  }
  STDMETHODIMP GetPropList(ULONG, LPSPropTagArray*) override { return MAPI_E_NO_SUPPORT; }
  STDMETHODIMP OpenProperty(ULONG, LPCIID, ULONG, ULONG, LPUNKNOWN*) override { return MAPI_E_NO_SUPPORT; }
  STDMETHODIMP SetProps(ULONG n, LPSPropValue values, LPSPropProblemArray* problems) override {
    for (ULONG i = 0; i < n; ++i) {
      if (values[i].ulPropTag == kRefused) {
        void* block = nullptr;
        MAPIAllocateBuffer(sizeof(SPropProblemArray), &block);
        auto* p = static_cast<LPSPropProblemArray>(block);
        p->cProblem = 1;
        p->aProblem[0] = {i, kRefused, MAPI_E_NO_ACCESS};
        *problems = p;
        return S_OK;
      }
      standin::mapi::OwnedProp o;
      if (!standin::mapi::ToOwned(values[i], &o)) return MAPI_E_INVALID_TYPE;
      row_.push_back(o);
    }
    if (problems) *problems = nullptr;
    return S_OK;
  }
  STDMETHODIMP DeleteProps(LPSPropTagArray, LPSPropProblemArray*) override { return MAPI_E_NO_SUPPORT; }
  STDMETHODIMP CopyTo(ULONG, LPCIID, LPSPropTagArray, ULONG_PTR, LPMAPIPROGRESS, LPCIID, LPVOID, ULONG,
                      LPSPropProblemArray*) override {
    return MAPI_E_NO_SUPPORT;
  }
  STDMETHODIMP CopyProps(LPSPropTagArray, ULONG_PTR, LPMAPIPROGRESS, LPCIID, LPVOID, ULONG,
                         LPSPropProblemArray*) override {
    return MAPI_E_NO_SUPPORT;
  }
  STDMETHODIMP GetNamesFromIDs(LPSPropTagArray*, LPGUID, ULONG, ULONG*, LPMAPINAMEID**) override {
    return MAPI_E_NO_SUPPORT;
  }
  STDMETHODIMP GetIDsFromNames(ULONG, LPMAPINAMEID*, ULONG, LPSPropTagArray*) override { return MAPI_E_NO_SUPPORT; }

 protected:
  bool Supports(REFIID riid) const override { return riid == IID_IMAPIProp; }
};

TEST_F(MapiCoreUtil, HrGetOnePropReturnsOneBlockOrNotFound) {
  auto* obj = new RowProp({standin::mapi::MakeUnicode(PR_DISPLAY_NAME_W, u"Inbox")});
  LPSPropValue value = nullptr;
  ASSERT_EQ(HrGetOneProp(obj, PR_DISPLAY_NAME_A, &value), S_OK);
  EXPECT_STREQ(value->Value.lpszA, "Inbox");
  EXPECT_EQ(MAPIFreeBuffer(value), 0u);

  value = reinterpret_cast<LPSPropValue>(1);
  EXPECT_EQ(HrGetOneProp(obj, PR_COMMENT_W, &value), MAPI_E_NOT_FOUND);
  EXPECT_EQ(value, nullptr);

  standin::ArmFault("HrGetOneProp", MAPI_E_NO_ACCESS, 1);
  EXPECT_EQ(HrGetOneProp(obj, PR_DISPLAY_NAME_W, &value), MAPI_E_NO_ACCESS);
  EXPECT_EQ(HrGetOneProp(nullptr, PR_DISPLAY_NAME_W, &value), MAPI_E_INVALID_PARAMETER);
  obj->Release();
}

TEST_F(MapiCoreUtil, HrSetOnePropReportsTheProblemAsTheResult) {
  auto* obj = new RowProp({});
  SPropValue v{};
  v.ulPropTag = PR_OBJECT_TYPE;
  v.Value.l = 5;
  ASSERT_EQ(HrSetOneProp(obj, &v), S_OK);
  ASSERT_EQ(obj->row_.size(), 1u);
  v.ulPropTag = RowProp::kRefused;
  EXPECT_EQ(HrSetOneProp(obj, &v), MAPI_E_NO_ACCESS);
  standin::ArmFault("HrSetOneProp", MAPI_E_DISK_ERROR, 1);
  EXPECT_EQ(HrSetOneProp(obj, &v), MAPI_E_DISK_ERROR);
  EXPECT_EQ(HrSetOneProp(obj, nullptr), MAPI_E_INVALID_PARAMETER);
  obj->Release();
}

TEST_F(MapiCoreUtil, FreeFunctionsTakeNull) {
  FreeProws(nullptr);
  FreePadrlist(nullptr);
  void* block = nullptr;
  ASSERT_EQ(MAPIAllocateBuffer(static_cast<ULONG>(CbNewADRLIST(2)), &block), S_OK);
  auto* list = static_cast<LPADRLIST>(block);
  list->cEntries = 2;
  for (ULONG i = 0; i < 2; ++i) {
    void* props = nullptr;
    ASSERT_EQ(MAPIAllocateBuffer(sizeof(SPropValue), &props), S_OK);
    list->aEntries[i].cValues = 1;
    list->aEntries[i].rgPropVals = static_cast<LPSPropValue>(props);
  }
  FreePadrlist(list);  // the sanitizer build proves every entry went with it
}

}  // namespace

namespace {

// A loaded table over two rows that records what each load asked for.
struct LoadLog {
  std::vector<std::string> loads;  // "every" or the columns' ids
};

TablePtr NewLoadedTable(const std::shared_ptr<LoadLog>& log) {
  auto load = [log](const std::vector<ULONG>* columns, std::vector<Row>* rows) -> HRESULT {
    std::string what = "every";
    if (columns) {
      what.clear();
      for (ULONG tag : *columns) what += std::to_string(PROP_ID(tag)) + " ";
    }
    log->loads.push_back(what);
    rows->clear();
    for (LONG i = 0; i < 2; ++i) {
      Row r = {standin::mapi::MakeLong(PR_ROWID, i)};
      // Rows read for some columns carry only those.
      if (!columns || std::any_of(columns->begin(), columns->end(),
                                  [](ULONG t) { return PROP_ID(t) == PROP_ID(PR_DISPLAY_NAME_W); }))
        r.push_back(standin::mapi::MakeUnicode(PR_DISPLAY_NAME_W, kNames[i]));
      if (!columns) r.push_back(standin::mapi::MakeLong(PR_OBJECT_TYPE, kGroups[i]));
      rows->push_back(std::move(r));
    }
    return S_OK;
  };
  return TablePtr(standin::mapi::NewLoadedRowTable(load, {PR_ROWID}));
}

}  // namespace

TEST_F(MapiCoreTable, LoadedTableReadsRowsOnceForTheColumnsAsked) {
  auto log = std::make_shared<LoadLog>();
  TablePtr table = NewLoadedTable(log);
  EXPECT_TRUE(log->loads.empty()) << "nothing is read before it is needed";
  SizedSPropTagArray(2, two) = {2, {PR_ROWID, PR_DISPLAY_NAME_W}};
  ASSERT_EQ(table->SetColumns(reinterpret_cast<LPSPropTagArray>(&two), 0), S_OK);
  LPSRowSet raw = nullptr;
  ASSERT_EQ(table->QueryRows(10, 0, &raw), S_OK);
  RowsPtr rows(raw);
  ASSERT_EQ(rows->cRows, 2u);
  EXPECT_EQ(rows->aRow[1].lpProps[1].ulPropTag, PR_DISPLAY_NAME_W);
  ULONG count = 0;
  ASSERT_EQ(table->GetRowCount(0, &count), S_OK);
  EXPECT_EQ(count, 2u);
  ASSERT_EQ(log->loads, (std::vector<std::string>{"12288 12289 "})) << "read once, for the two columns";
  // A column the rows were not read for: read again, whole.
  SizedSPropTagArray(1, other) = {1, {PR_OBJECT_TYPE}};
  ASSERT_EQ(table->SetColumns(reinterpret_cast<LPSPropTagArray>(&other), 0), S_OK);
  ASSERT_EQ(table->SeekRow(BOOKMARK_BEGINNING, 0, nullptr), S_OK);
  ASSERT_EQ(table->QueryRows(1, 0, &raw), S_OK);
  RowsPtr again(raw);
  ASSERT_EQ(again->cRows, 1u);
  EXPECT_EQ(again->aRow[0].lpProps[0].ulPropTag, PR_OBJECT_TYPE);
  EXPECT_EQ(log->loads, (std::vector<std::string>{"12288 12289 ", "every"}));
}

TEST_F(MapiCoreTable, LoadedTableReadsEveryPropertyForARestriction) {
  auto log = std::make_shared<LoadLog>();
  TablePtr table = NewLoadedTable(log);
  SPropValue group = {};
  group.ulPropTag = PR_OBJECT_TYPE;
  group.Value.l = 1;
  SRestriction res = {};
  res.rt = RES_PROPERTY;
  res.res.resProperty.relop = RELOP_EQ;
  res.res.resProperty.ulPropTag = PR_OBJECT_TYPE;
  res.res.resProperty.lpProp = &group;
  ASSERT_EQ(table->Restrict(&res, 0), S_OK);
  ULONG count = 0;
  ASSERT_EQ(table->GetRowCount(0, &count), S_OK);
  EXPECT_EQ(count, 1u) << "the restriction saw a property no column names";
  EXPECT_EQ(log->loads, (std::vector<std::string>{"every"}));
}
