// The indexed matchers against the rules read literally: for random row sets,
// every source row must find the same destination row (or none) as comparing
// it with each destination row in table order.
#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include <mapiutil.h>

#include "MAPIPack/RowIndex.h"
#include "support/PropTrival.h"

namespace {

// Rows built in memory: values point into strings the set owns.
class MemoryRows {
 public:
  MemoryRows(size_t rows, size_t columns)
      : block_(CbNewSRowSet(rows)), values_(rows * columns), texts_(rows * columns) {
    set()->cRows = static_cast<ULONG>(rows);
    for (size_t r = 0; r < rows; ++r) {
      set()->aRow[r].cValues = static_cast<ULONG>(columns);
      set()->aRow[r].lpProps = &values_[r * columns];
    }
    columns_ = columns;
  }
  SRowSet* set() { return reinterpret_cast<SRowSet*>(block_.data()); }
  SPropValue& at(size_t row, size_t column) { return values_[row * columns_ + column]; }
  std::u16string& text(size_t row, size_t column) { return texts_[row * columns_ + column]; }

 private:
  std::vector<unsigned char> block_;
  std::vector<SPropValue> values_;
  std::vector<std::u16string> texts_;
  size_t columns_ = 0;
};

class RandomRows {
 public:
  explicit RandomRows(unsigned seed) : random_(seed) {}

  size_t Pick(size_t n) { return std::uniform_int_distribution<size_t>(0, n - 1)(random_); }

  // A time from a small set, so that equal times are common; some differ only
  // in one half.
  void Time(SPropValue& v, ULONG tag) {
    static const DWORD kLow[] = {0, 1, 0x11112222};
    static const DWORD kHigh[] = {0, 0x01DC0000};
    v.ulPropTag = tag;
    v.Value.ft.dwLowDateTime = kLow[Pick(3)];
    v.Value.ft.dwHighDateTime = kHigh[Pick(2)];
  }

  // A text value: present in various cases and lengths, empty, missing, of
  // another type, or a wide value without a string.
  void Text(SPropValue& v, std::u16string& storage, ULONG tag) {
    static const char16_t* kTexts[] = {u"a", u"A", u"ab", u"aB", u"", u"Report", u"report", u"\u00e4", u"\u00c4"};
    v = {};
    switch (Pick(8)) {
      case 0:
        v.ulPropTag = CHANGE_PROP_TYPE(tag, PT_ERROR);
        v.Value.err = MAPI_E_NOT_FOUND;
        return;
      case 1:
        v.ulPropTag = CHANGE_PROP_TYPE(tag, PT_STRING8);
        v.Value.lpszA = const_cast<LPSTR>("a");
        return;
      case 2:
        v.ulPropTag = tag;
        v.Value.lpszW = nullptr;
        return;
      default:
        storage = kTexts[Pick(std::size(kTexts))];
        v.ulPropTag = tag;
        v.Value.lpszW = reinterpret_cast<LPWSTR>(storage.data());
        return;
    }
  }

  // A folder name, with letters whose case partners lie outside ASCII.
  void Name(SPropValue& v, std::u16string& storage) {
    static const char16_t* kNames[] = {u"Inbox", u"INBOX", u"inbox",  u"\u00e4rger", u"\u00c4RGER", u"i",
                                       u"I",     u"\u0131", u"s",      u"S",          u"\u017f",      u"k",
                                       u"K",     u"\u212a", u"Drafts", u"drafts ",    u""};
    v = {};
    if (Pick(10) == 0) {
      v.ulPropTag = CHANGE_PROP_TYPE(PR_DISPLAY_NAME_W, PT_ERROR);
      v.Value.err = MAPI_E_NOT_FOUND;
      return;
    }
    storage = kNames[Pick(std::size(kNames))];
    v.ulPropTag = PR_DISPLAY_NAME_W;
    v.Value.lpszW = reinterpret_cast<LPWSTR>(storage.data());
  }

 private:
  std::mt19937 random_;
};

// ---- the rules, read literally ----

bool SameTime(const SPropValue& a, const SPropValue& b) {
  return a.Value.ft.dwLowDateTime == b.Value.ft.dwLowDateTime && a.Value.ft.dwHighDateTime == b.Value.ft.dwHighDateTime;
}

bool SameText(const SPropValue& a, const SPropValue& b) {
  LPCWSTR x = GetValidString(&a);
  LPCWSTR y = GetValidString(&b);
  if (!x || !y) return !x && !y;
  return wcscmp(x, y) == 0;
}

template <class Same>
std::vector<ULONG> Pairwise(const SRowSet* source, const SRowSet* dest, Same same) {
  std::vector<ULONG> out;
  for (ULONG si = 0; si < source->cRows; ++si) {
    ULONG found = CFirstRowIndex::npos;
    for (ULONG di = 0; di < dest->cRows && found == CFirstRowIndex::npos; ++di)
      if (same(source->aRow[si], dest->aRow[di])) found = di;
    out.push_back(found);
  }
  return out;
}

template <class KeyOf>
std::vector<ULONG> Indexed(const SRowSet* source, const SRowSet* dest, KeyOf keyOf) {
  CFirstRowIndex index(dest, keyOf);
  std::vector<ULONG> out;
  for (ULONG si = 0; si < source->cRows; ++si) out.push_back(index.Find(keyOf(source->aRow[si])));
  return out;
}

// Builds a source and a destination of random sizes with fill(row set, row).
template <class Fill>
void ForRandomSets(size_t columns, Fill fill, const std::function<void(SRowSet*, SRowSet*)>& check) {
  RandomRows random(20260309);
  for (int round = 0; round < 400; ++round) {
    size_t sourceRows = random.Pick(40), destRows = random.Pick(40);
    MemoryRows source(sourceRows, columns), dest(destRows, columns);
    for (size_t r = 0; r < sourceRows; ++r) fill(random, source, r);
    for (size_t r = 0; r < destRows; ++r) fill(random, dest, r);
    check(source.set(), dest.set());
    if (::testing::Test::HasFailure()) {
      ADD_FAILURE() << "round " << round;
      return;
    }
  }
}

TEST(RowMatcher, MessageCopyKeyAgreesWithThePairwiseRule) {
  // Columns as the message copy reads them: subject, modification time.
  auto fill = [](RandomRows& random, MemoryRows& rows, size_t r) {
    random.Text(rows.at(r, 0), rows.text(r, 0), PR_SUBJECT_W);
    random.Time(rows.at(r, 1), PR_LAST_MODIFICATION_TIME);
  };
  ForRandomSets(2, fill, [](SRowSet* source, SRowSet* dest) {
    auto same = [](const SRow& s, const SRow& d) {
      return SameTime(s.lpProps[1], d.lpProps[1]) && SameText(s.lpProps[0], d.lpProps[0]);
    };
    auto key = [](const SRow& row) { return CRowKey().Time(row.lpProps[1]).Text(row.lpProps[0]).Key(); };
    ASSERT_EQ(Indexed(source, dest, key), Pairwise(source, dest, same));
  });
}

TEST(RowMatcher, CalendarKeyAgreesWithThePairwiseRule) {
  auto fill = [](RandomRows& random, MemoryRows& rows, size_t r) {
    random.Time(rows.at(r, 0), PR_LAST_MODIFICATION_TIME);
    random.Time(rows.at(r, 1), PR_CREATION_TIME);
  };
  ForRandomSets(2, fill, [](SRowSet* source, SRowSet* dest) {
    auto same = [](const SRow& s, const SRow& d) { return SameTime(s.lpProps[1], d.lpProps[1]); };
    auto key = [](const SRow& row) { return CRowKey().Time(row.lpProps[1]).Key(); };
    ASSERT_EQ(Indexed(source, dest, key), Pairwise(source, dest, same));
  });
}

TEST(RowMatcher, ContactKeyAgreesWithThePairwiseRule) {
  // Given name, surname, creation time.
  auto fill = [](RandomRows& random, MemoryRows& rows, size_t r) {
    random.Text(rows.at(r, 0), rows.text(r, 0), PR_GIVEN_NAME_W);
    random.Text(rows.at(r, 1), rows.text(r, 1), PR_SURNAME_W);
    random.Time(rows.at(r, 2), PR_CREATION_TIME);
  };
  ForRandomSets(3, fill, [](SRowSet* source, SRowSet* dest) {
    auto same = [](const SRow& s, const SRow& d) {
      return SameText(s.lpProps[0], d.lpProps[0]) && SameText(s.lpProps[1], d.lpProps[1]) &&
             SameTime(s.lpProps[2], d.lpProps[2]);
    };
    auto key = [](const SRow& row) {
      return CRowKey().Text(row.lpProps[0]).Text(row.lpProps[1]).Time(row.lpProps[2]).Key();
    };
    ASSERT_EQ(Indexed(source, dest, key), Pairwise(source, dest, same));
  });
}

TEST(RowMatcher, FolderNameIndexAgreesWithComparingEachName) {
  auto fill = [](RandomRows& random, MemoryRows& rows, size_t r) { random.Name(rows.at(r, 0), rows.text(r, 0)); };
  ForRandomSets(1, fill, [](SRowSet* source, SRowSet* dest) {
    auto same = [](const SRow& s, const SRow& d) {
      LPCWSTR x = GetValidString(&s.lpProps[0]);
      LPCWSTR y = GetValidString(&d.lpProps[0]);
      return x && y && lstrcmpiW(x, y) == 0;
    };
    auto nameOf = [](const SRow& row) { return GetValidString(&row.lpProps[0]); };
    CFirstNameIndex index(dest, nameOf);
    std::vector<ULONG> indexed;
    for (ULONG si = 0; si < source->cRows; ++si) indexed.push_back(index.Find(nameOf(source->aRow[si])));
    ASSERT_EQ(indexed, Pairwise(source, dest, same));
  });
}

TEST(RowMatcher, KnownCasesOfTheRules) {
  MemoryRows rows(2, 2);
  std::u16string upper = u"Minutes", lower = u"minutes";
  rows.at(0, 0) = {PR_SUBJECT_W, 0, {}};
  rows.at(0, 0).Value.lpszW = reinterpret_cast<LPWSTR>(upper.data());
  rows.at(1, 0) = {PR_SUBJECT_W, 0, {}};
  rows.at(1, 0).Value.lpszW = reinterpret_cast<LPWSTR>(lower.data());
  for (int r = 0; r < 2; ++r) rows.at(r, 1) = {PR_LAST_MODIFICATION_TIME, 0, {}};
  auto key = [](const SRow& row) { return CRowKey().Time(row.lpProps[1]).Text(row.lpProps[0]).Key(); };
  EXPECT_NE(key(rows.set()->aRow[0]), key(rows.set()->aRow[1])) << "subjects keep their case";
  CFirstNameIndex names(rows.set(), [](const SRow& row) { return GetValidString(&row.lpProps[0]); });
  EXPECT_EQ(names.Find(TEXT("MINUTES")), 0u) << "names do not; the first in table order wins";
  EXPECT_EQ(names.Find(TEXT("Agenda")), CFirstNameIndex::npos);
  EXPECT_EQ(names.Find(nullptr), CFirstNameIndex::npos);
}

}  // namespace
