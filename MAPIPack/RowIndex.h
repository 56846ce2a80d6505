// Finding, for a source row, the first destination row in table order that
// names the same item. The copy and the merges read both contents tables whole;
// an index over the destination rows lets each source row cost one lookup
// instead of a scan of the destination.
#pragma once

#include <mapidefs.h>
#include <windows.h>

#include <algorithm>
#include <string>
#include <unordered_map>
#include <vector>

#include "support/PropTrival.h"

// The identity of a row as text of the platform's wide characters.
typedef std::basic_string<WCHAR> CRowKeyText;

// Builds the identity of a row from its columns. Two rows name the same item
// exactly when their keys are equal.
class CRowKey {
 public:
  // A time column, compared by both 32-bit halves as stored.
  CRowKey& Time(const SPropValue& value) {
    Raw(value.Value.ft.dwLowDateTime);
    Raw(value.Value.ft.dwHighDateTime);
    return *this;
  }
  // A text column read through GetValidString: a missing string differs from
  // every present one, two missing strings are equal, present strings are
  // compared code unit by code unit.
  CRowKey& Text(const SPropValue& value) {
    LPCWSTR text = GetValidString(&value);
    if (!text) {
      m_key.push_back(static_cast<WCHAR>(1));
      return *this;
    }
    m_key.push_back(static_cast<WCHAR>(2));
    size_t length = 0;
    while (text[length]) ++length;
    Raw(static_cast<DWORD>(length));
    m_key.append(text, length);
    return *this;
  }
  const CRowKeyText& Key() const { return m_key; }

 private:
  void Raw(DWORD v) {
    m_key.push_back(static_cast<WCHAR>(v & 0xFFFF));
    m_key.push_back(static_cast<WCHAR>(v >> 16));
  }
  CRowKeyText m_key;
};

class CFirstRowIndex {
 public:
  static constexpr ULONG npos = static_cast<ULONG>(-1);

  // keyOf(const SRow&) returns the row's key; the first row of each key is kept.
  template <class KeyOf>
  CFirstRowIndex(const SRowSet* rows, KeyOf keyOf) {
    if (!rows) return;
    m_first.reserve(rows->cRows);
    for (ULONG i = 0; i < rows->cRows; ++i) m_first.emplace(keyOf(rows->aRow[i]), i);
  }
  // The index of the first row with this key, or npos.
  ULONG Find(const CRowKeyText& key) const {
    auto it = m_first.find(key);
    return it == m_first.end() ? npos : it->second;
  }

 private:
  std::unordered_map<CRowKeyText, ULONG> m_first;
};

// Finding, for a folder name, the first row in table order whose name is the
// same without regard to case. Names are ordered by lstrcmpiW itself, so a
// lookup agrees with comparing the name to each row in turn, whatever the
// platform counts as the same letter. The rows must outlive the index.
class CFirstNameIndex {
 public:
  static constexpr ULONG npos = CFirstRowIndex::npos;

  // nameOf(const SRow&) returns the row's name, or null for a row without one
  // (such a row is never found).
  template <class NameOf>
  CFirstNameIndex(const SRowSet* rows, NameOf nameOf) {
    if (!rows) return;
    m_sorted.reserve(rows->cRows);
    for (ULONG i = 0; i < rows->cRows; ++i)
      if (LPCWSTR name = nameOf(rows->aRow[i])) m_sorted.push_back({name, i});
    // Stable: among equal names the first row in table order stays first.
    std::stable_sort(m_sorted.begin(), m_sorted.end(),
                     [](const Entry& a, const Entry& b) { return lstrcmpiW(a.name, b.name) < 0; });
  }
  // The index of the first row with this name, or npos.
  ULONG Find(LPCWSTR name) const {
    if (!name) return npos;
    auto it = std::lower_bound(m_sorted.begin(), m_sorted.end(), name,
                               [](const Entry& e, LPCWSTR n) { return lstrcmpiW(e.name, n) < 0; });
    return it != m_sorted.end() && lstrcmpiW(it->name, name) == 0 ? it->row : npos;
  }

 private:
  struct Entry {
    LPCWSTR name;
    ULONG row;
  };
  std::vector<Entry> m_sorted;
};
