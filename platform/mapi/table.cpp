// The one table model: a snapshot of rows with a column set, a restriction, a
// sort order, a cursor and bookmarks. Every table of the stand-in is one.
//
// Where MAPI leaves room:
//  - Restrict and SortTable put the cursor back at the beginning.
//  - QueryRows with a negative count reads the rows before the cursor, returns
//    them in table order and leaves the cursor on the first of them; a count of
//    zero is MAPI_E_INVALID_PARAMETER.
//  - A bookmark remembers a position, not a row. One past the end after the
//    view shrank is moved to the end with MAPI_W_POSITION_CHANGED.
//  - Sorting orders strings without regard to case (as lists are shown), is
//    stable, puts rows lacking the key first when ascending; categories and
//    MV_INSTANCE keys are MAPI_E_TOO_COMPLEX.
#include <wcrt.h>

#include <algorithm>
#include <map>
#include <mutex>

#include "core.h"

namespace standin::mapi {
namespace {

constexpr ULONG kRestrictFlags = TBL_BATCH | TBL_ASYNC;

class RowTable final : public ComObject<IMAPITable> {
 public:
  RowTable(std::vector<Row> rows, std::vector<ULONG> columns, const char* prefix)
      : rows_(std::move(rows)), columns_(std::move(columns)), prefix_(prefix ? prefix : "IMAPITable") {
    ResetView();
  }
  RowTable(RowLoader load, std::vector<ULONG> columns, const char* prefix)
      : load_(std::move(load)), loaded_(false), columns_(std::move(columns)),
        prefix_(prefix ? prefix : "IMAPITable") {}

  STDMETHODIMP GetLastError(HRESULT, ULONG, LPMAPIERROR* lppMAPIError) override {
    MAPI_FAULT_POINT(Fault("GetLastError"));
    if (lppMAPIError) *lppMAPIError = nullptr;
    return MAPI_E_NO_SUPPORT;
  }
  STDMETHODIMP Advise(ULONG, LPMAPIADVISESINK, ULONG_PTR* lpulConnection) override {
    MAPI_FAULT_POINT(Fault("Advise"));
    if (lpulConnection) *lpulConnection = 0;
    return MAPI_E_NO_SUPPORT;
  }
  STDMETHODIMP Unadvise(ULONG_PTR) override {
    MAPI_FAULT_POINT(Fault("Unadvise"));
    return MAPI_E_NO_SUPPORT;
  }

  STDMETHODIMP GetStatus(ULONG* lpulTableStatus, ULONG* lpulTableType) override {
    MAPI_FAULT_POINT(Fault("GetStatus"));
    if (!lpulTableStatus || !lpulTableType) return MAPI_E_INVALID_PARAMETER;
    *lpulTableStatus = TBLSTAT_COMPLETE;
    *lpulTableType = TBLTYPE_SNAPSHOT;
    return S_OK;
  }

  STDMETHODIMP SetColumns(LPSPropTagArray lpPropTagArray, ULONG ulFlags) override {
    MAPI_FAULT_POINT(Fault("SetColumns"));
    if (!lpPropTagArray) return MAPI_E_INVALID_PARAMETER;
    if (ulFlags & ~kRestrictFlags) return MAPI_E_UNKNOWN_FLAGS;
    std::lock_guard<std::mutex> guard(mutex_);
    columns_.assign(lpPropTagArray->aulPropTag, lpPropTagArray->aulPropTag + lpPropTagArray->cValues);
    // Rows read for other columns are read again, whole.
    if (partial_ && !std::all_of(columns_.begin(), columns_.end(), [this](ULONG tag) {
          return std::any_of(loadedColumns_.begin(), loadedColumns_.end(),
                             [tag](ULONG have) { return PROP_ID(have) == PROP_ID(tag); });
        }))
      return Load(true);
    return S_OK;
  }

  STDMETHODIMP QueryColumns(ULONG ulFlags, LPSPropTagArray* lpPropTagArray) override {
    MAPI_FAULT_POINT(Fault("QueryColumns"));
    if (!lpPropTagArray) return MAPI_E_INVALID_PARAMETER;
    *lpPropTagArray = nullptr;
    if (ulFlags & ~TBL_ALL_COLUMNS) return MAPI_E_UNKNOWN_FLAGS;
    std::lock_guard<std::mutex> guard(mutex_);
    std::vector<ULONG> tags = columns_;
    if (ulFlags & TBL_ALL_COLUMNS) {
      HRESULT hr = Load(true);
      if (FAILED(hr)) return hr;
      tags.clear();
      for (const Row& row : rows_)
        for (const OwnedProp& p : row)
          if (std::find(tags.begin(), tags.end(), p.tag) == tags.end()) tags.push_back(p.tag);
    }
    void* block = nullptr;
    HRESULT hr = MAPIAllocateBuffer(static_cast<ULONG>(CbNewSPropTagArray(tags.size())), &block);
    if (FAILED(hr)) return hr;
    auto* out = static_cast<LPSPropTagArray>(block);
    out->cValues = static_cast<ULONG>(tags.size());
    std::copy(tags.begin(), tags.end(), out->aulPropTag);
    *lpPropTagArray = out;
    return S_OK;
  }

  STDMETHODIMP GetRowCount(ULONG ulFlags, ULONG* lpulCount) override {
    MAPI_FAULT_POINT(Fault("GetRowCount"));
    if (!lpulCount) return MAPI_E_INVALID_PARAMETER;
    *lpulCount = 0;
    if (ulFlags) return MAPI_E_UNKNOWN_FLAGS;
    std::lock_guard<std::mutex> guard(mutex_);
    HRESULT hr = Load(false);
    if (FAILED(hr)) return hr;
    *lpulCount = static_cast<ULONG>(view_.size());
    return S_OK;
  }

  STDMETHODIMP SeekRow(BOOKMARK bkOrigin, LONG lRowCount, LONG* lplRowsSought) override {
    MAPI_FAULT_POINT(Fault("SeekRow"));
    if (lplRowsSought) *lplRowsSought = 0;
    std::lock_guard<std::mutex> guard(mutex_);
    HRESULT hr = Load(false);
    if (FAILED(hr)) return hr;
    size_t origin = 0;
    hr = Origin(bkOrigin, &origin);
    if (FAILED(hr)) return hr;
    const long long target =
        std::clamp<long long>(static_cast<long long>(origin) + lRowCount, 0, static_cast<long long>(view_.size()));
    cursor_ = static_cast<size_t>(target);
    if (lplRowsSought) *lplRowsSought = static_cast<LONG>(target - static_cast<long long>(origin));
    return hr;
  }

  STDMETHODIMP SeekRowApprox(ULONG ulNumerator, ULONG ulDenominator) override {
    MAPI_FAULT_POINT(Fault("SeekRowApprox"));
    if (!ulDenominator || ulNumerator > ulDenominator) return MAPI_E_INVALID_PARAMETER;
    std::lock_guard<std::mutex> guard(mutex_);
    HRESULT hr = Load(false);
    if (FAILED(hr)) return hr;
    cursor_ = static_cast<size_t>(static_cast<unsigned long long>(view_.size()) * ulNumerator / ulDenominator);
    return S_OK;
  }

  STDMETHODIMP QueryPosition(ULONG* lpulRow, ULONG* lpulNumerator, ULONG* lpulDenominator) override {
    MAPI_FAULT_POINT(Fault("QueryPosition"));
    if (!lpulRow || !lpulNumerator || !lpulDenominator) return MAPI_E_INVALID_PARAMETER;
    std::lock_guard<std::mutex> guard(mutex_);
    HRESULT hr = Load(false);
    if (FAILED(hr)) return hr;
    *lpulRow = static_cast<ULONG>(cursor_);
    *lpulNumerator = static_cast<ULONG>(cursor_);
    *lpulDenominator = static_cast<ULONG>(std::max<size_t>(view_.size(), 1));
    return S_OK;
  }

  STDMETHODIMP FindRow(LPSRestriction lpRestriction, BOOKMARK bkOrigin, ULONG ulFlags) override {
    MAPI_FAULT_POINT(Fault("FindRow"));
    if (!lpRestriction) return MAPI_E_INVALID_PARAMETER;
    if (ulFlags & ~DIR_BACKWARD) return MAPI_E_UNKNOWN_FLAGS;
    std::lock_guard<std::mutex> guard(mutex_);
    HRESULT hr = Load(true);
    if (FAILED(hr)) return hr;
    size_t origin = 0;
    hr = Origin(bkOrigin, &origin);
    if (FAILED(hr)) return hr;
    const bool backward = (ulFlags & DIR_BACKWARD) != 0;
    const long long n = static_cast<long long>(view_.size());
    long long i =
        backward ? std::min<long long>(static_cast<long long>(origin), n - 1) : static_cast<long long>(origin);
    for (; i >= 0 && i < n; i += backward ? -1 : 1) {
      bool match = false;
      HRESULT ehr = EvaluateRestriction(rows_[view_[static_cast<size_t>(i)]], lpRestriction, &match);
      if (FAILED(ehr)) return ehr;
      if (match) {
        cursor_ = static_cast<size_t>(i);
        return hr;
      }
    }
    if (n == 0) {  // nothing to look at, but the restriction must still be sound
      bool unused = false;
      HRESULT ehr = EvaluateRestriction(Row{}, lpRestriction, &unused);
      if (FAILED(ehr)) return ehr;
    }
    return MAPI_E_NOT_FOUND;
  }

  STDMETHODIMP Restrict(LPSRestriction lpRestriction, ULONG ulFlags) override {
    MAPI_FAULT_POINT(Fault("Restrict"));
    if (ulFlags & ~kRestrictFlags) return MAPI_E_UNKNOWN_FLAGS;
    std::lock_guard<std::mutex> guard(mutex_);
    HRESULT loaded = Load(true);
    if (FAILED(loaded)) return loaded;
    std::vector<size_t> view;
    if (lpRestriction) {
      bool match = false;
      HRESULT hr = EvaluateRestriction(Row{}, lpRestriction, &match);  // checks the tree once
      if (FAILED(hr)) return hr;
      for (size_t i = 0; i < rows_.size(); ++i) {
        EvaluateRestriction(rows_[i], lpRestriction, &match);
        if (match) view.push_back(i);
      }
    } else {
      for (size_t i = 0; i < rows_.size(); ++i) view.push_back(i);
    }
    view_ = std::move(view);
    Sort();
    cursor_ = 0;
    return S_OK;
  }

  STDMETHODIMP CreateBookmark(BOOKMARK* lpbkPosition) override {
    MAPI_FAULT_POINT(Fault("CreateBookmark"));
    if (!lpbkPosition) return MAPI_E_INVALID_PARAMETER;
    std::lock_guard<std::mutex> guard(mutex_);
    *lpbkPosition = nextBookmark_++;
    bookmarks_[*lpbkPosition] = cursor_;
    return S_OK;
  }

  STDMETHODIMP FreeBookmark(BOOKMARK bkPosition) override {
    MAPI_FAULT_POINT(Fault("FreeBookmark"));
    if (bkPosition <= BOOKMARK_END) return S_OK;  // the predefined ones are never freed
    std::lock_guard<std::mutex> guard(mutex_);
    return bookmarks_.erase(bkPosition) ? S_OK : MAPI_E_INVALID_BOOKMARK;
  }

  STDMETHODIMP SortTable(LPSSortOrderSet lpSortCriteria, ULONG ulFlags) override {
    MAPI_FAULT_POINT(Fault("SortTable"));
    if (!lpSortCriteria) return MAPI_E_INVALID_PARAMETER;
    if (ulFlags & ~kRestrictFlags) return MAPI_E_UNKNOWN_FLAGS;
    if (lpSortCriteria->cCategories) return MAPI_E_TOO_COMPLEX;
    std::vector<SSortOrder> keys(lpSortCriteria->aSort, lpSortCriteria->aSort + lpSortCriteria->cSorts);
    for (const SSortOrder& k : keys) {
      if (k.ulOrder != TABLE_SORT_ASCEND && k.ulOrder != TABLE_SORT_DESCEND) return MAPI_E_INVALID_PARAMETER;
      if (PROP_TYPE(k.ulPropTag) & MV_INSTANCE) return MAPI_E_TOO_COMPLEX;
    }
    std::lock_guard<std::mutex> guard(mutex_);
    HRESULT hr = Load(true);
    if (FAILED(hr)) return hr;
    sort_ = std::move(keys);
    Sort();
    cursor_ = 0;
    return S_OK;
  }

  STDMETHODIMP QuerySortOrder(LPSSortOrderSet* lppSortCriteria) override {
    MAPI_FAULT_POINT(Fault("QuerySortOrder"));
    if (!lppSortCriteria) return MAPI_E_INVALID_PARAMETER;
    *lppSortCriteria = nullptr;
    std::lock_guard<std::mutex> guard(mutex_);
    void* block = nullptr;
    HRESULT hr = MAPIAllocateBuffer(
        static_cast<ULONG>(offsetof(SSortOrderSet, aSort) + std::max<size_t>(sort_.size(), 1) * sizeof(SSortOrder)),
        &block);
    if (FAILED(hr)) return hr;
    auto* set = static_cast<LPSSortOrderSet>(block);
    set->cSorts = static_cast<ULONG>(sort_.size());
    set->cCategories = 0;
    set->cExpanded = 0;
    std::copy(sort_.begin(), sort_.end(), set->aSort);
    *lppSortCriteria = set;
    return S_OK;
  }

  STDMETHODIMP QueryRows(LONG lRowCount, ULONG ulFlags, LPSRowSet* lppRows) override {
    MAPI_FAULT_POINT(Fault("QueryRows"));
    if (!lppRows) return MAPI_E_INVALID_PARAMETER;
    *lppRows = nullptr;
    if (lRowCount == 0) return MAPI_E_INVALID_PARAMETER;
    if (ulFlags & ~TBL_NOADVANCE) return MAPI_E_UNKNOWN_FLAGS;
    std::lock_guard<std::mutex> guard(mutex_);
    HRESULT loaded = Load(false);
    if (FAILED(loaded)) return loaded;
    size_t first = cursor_, last = cursor_;
    if (lRowCount > 0) {
      last = cursor_ + std::min<size_t>(static_cast<size_t>(lRowCount), view_.size() - cursor_);
    } else {
      const size_t back = std::min<size_t>(static_cast<size_t>(-static_cast<long long>(lRowCount)), cursor_);
      first = cursor_ - back;
    }
    std::vector<const Row*> picked;
    for (size_t i = first; i < last; ++i) picked.push_back(&rows_[view_[i]]);
    std::vector<ULONG> storage(columns_.size() + 1);
    auto* columns = reinterpret_cast<LPSPropTagArray>(storage.data());
    columns->cValues = static_cast<ULONG>(columns_.size());
    std::copy(columns_.begin(), columns_.end(), columns->aulPropTag);
    HRESULT hr = BuildRowSet(picked, columns, lppRows);
    if (FAILED(hr)) return hr;
    if (!(ulFlags & TBL_NOADVANCE)) cursor_ = lRowCount > 0 ? last : first;
    return S_OK;
  }

  STDMETHODIMP Abort() override {
    MAPI_FAULT_POINT(Fault("Abort"));
    return S_OK;  // every operation completes before it returns: nothing to stop
  }

  STDMETHODIMP ExpandRow(ULONG, LPBYTE, ULONG, ULONG, LPSRowSet* lppRows, ULONG* lpulMoreRows) override {
    MAPI_FAULT_POINT(Fault("ExpandRow"));
    if (lppRows) *lppRows = nullptr;
    if (lpulMoreRows) *lpulMoreRows = 0;
    return MAPI_E_NO_SUPPORT;
  }
  STDMETHODIMP CollapseRow(ULONG, LPBYTE, ULONG, ULONG* lpulRowCount) override {
    MAPI_FAULT_POINT(Fault("CollapseRow"));
    if (lpulRowCount) *lpulRowCount = 0;
    return MAPI_E_NO_SUPPORT;
  }
  STDMETHODIMP WaitForCompletion(ULONG, ULONG, ULONG* lpulTableStatus) override {
    MAPI_FAULT_POINT(Fault("WaitForCompletion"));
    if (lpulTableStatus) *lpulTableStatus = TBLSTAT_COMPLETE;
    return S_OK;
  }
  STDMETHODIMP GetCollapseState(ULONG, ULONG, LPBYTE, ULONG* lpcbCollapseState, LPBYTE* lppbCollapseState) override {
    MAPI_FAULT_POINT(Fault("GetCollapseState"));
    if (lpcbCollapseState) *lpcbCollapseState = 0;
    if (lppbCollapseState) *lppbCollapseState = nullptr;
    return MAPI_E_NO_SUPPORT;
  }
  STDMETHODIMP SetCollapseState(ULONG, ULONG, LPBYTE, BOOKMARK* lpbkLocation) override {
    MAPI_FAULT_POINT(Fault("SetCollapseState"));
    if (lpbkLocation) *lpbkLocation = 0;
    return MAPI_E_NO_SUPPORT;
  }

 protected:
  bool Supports(REFIID riid) const override { return riid == IID_IMAPITable; }

 private:
  const char* Fault(const char* method) {
    // One name per method, built once; the fault seam needs a stable C string.
    std::lock_guard<std::mutex> guard(faultMutex_);
    auto it = faultNames_.find(method);
    if (it == faultNames_.end()) it = faultNames_.emplace(method, prefix_ + "::" + method).first;
    return it->second.c_str();
  }

  void ResetView() {
    view_.clear();
    for (size_t i = 0; i < rows_.size(); ++i) view_.push_back(i);
  }

  // A loaded table reads its rows on first need: for the columns set by then,
  // or whole (every) where a restriction or sort order may name any
  // property. Rows read for some columns are read again whole when more are
  // needed; until then no restriction or order was applied, so the view
  // starts over (caller holds mutex_).
  HRESULT Load(bool every) {
    if (loaded_ && !(every && partial_)) return S_OK;
    std::vector<Row> rows;
    HRESULT hr = load_(every ? nullptr : &columns_, &rows);
    if (FAILED(hr)) return hr;
    rows_ = std::move(rows);
    loaded_ = true;
    partial_ = !every;
    loadedColumns_ = partial_ ? columns_ : std::vector<ULONG>{};
    ResetView();
    cursor_ = std::min(cursor_, view_.size());
    return S_OK;
  }

  // Resolves a bookmark to a position in the view (caller holds mutex_).
  HRESULT Origin(BOOKMARK bk, size_t* pos) {
    if (bk == BOOKMARK_BEGINNING)
      *pos = 0;
    else if (bk == BOOKMARK_CURRENT)
      *pos = std::min(cursor_, view_.size());
    else if (bk == BOOKMARK_END)
      *pos = view_.size();
    else {
      auto it = bookmarks_.find(bk);
      if (it == bookmarks_.end()) return MAPI_E_INVALID_BOOKMARK;
      if (it->second > view_.size()) {
        *pos = view_.size();
        return MAPI_W_POSITION_CHANGED;
      }
      *pos = it->second;
    }
    return S_OK;
  }

  static int CompareKey(const OwnedProp* a, const OwnedProp* b) {
    if (!a || !b) return (a ? 1 : 0) - (b ? 1 : 0);
    const ULONG type = PROP_TYPE(a->tag);
    if (type == PROP_TYPE(b->tag) && (type == PT_UNICODE || type == PT_STRING8)) {
      auto text = [type](const OwnedProp* p) {
        return type == PT_UNICODE
                   ? std::u16string(reinterpret_cast<const char16_t*>(p->data.data()), p->data.size() / 2)
                   : ToUtf16(p->data);
      };
      int c = CompareNoCase(text(a), text(b));
      if (c) return c < 0 ? -1 : 1;
    }
    return CompareValues(*a, *b);
  }

  void Sort() {
    if (sort_.empty()) return;
    std::stable_sort(view_.begin(), view_.end(), [this](size_t x, size_t y) {
      for (const SSortOrder& k : sort_) {
        OwnedProp sx, sy;
        int c = CompareKey(ResolveProp(rows_[x], k.ulPropTag, &sx), ResolveProp(rows_[y], k.ulPropTag, &sy));
        if (c) return k.ulOrder == TABLE_SORT_DESCEND ? c > 0 : c < 0;
      }
      return false;
    });
  }

  std::mutex mutex_;
  RowLoader load_;
  bool loaded_ = true;
  bool partial_ = false;  // rows hold loadedColumns_ only
  std::vector<ULONG> loadedColumns_;
  std::vector<Row> rows_;
  std::vector<ULONG> columns_;
  std::vector<size_t> view_;  // indices into rows_: restricted, then sorted
  std::vector<SSortOrder> sort_;
  size_t cursor_ = 0;
  std::map<BOOKMARK, size_t> bookmarks_;
  BOOKMARK nextBookmark_ = BOOKMARK_END + 1;
  const std::string prefix_;
  std::mutex faultMutex_;
  std::map<std::string, std::string> faultNames_;
};

}  // namespace

LPMAPITABLE NewRowTable(std::vector<Row> rows, std::vector<ULONG> defaultColumns, const char* faultPrefix) {
  return new RowTable(std::move(rows), std::move(defaultColumns), faultPrefix);
}

LPMAPITABLE NewLoadedRowTable(RowLoader load, std::vector<ULONG> defaultColumns, const char* faultPrefix) {
  return new RowTable(std::move(load), std::move(defaultColumns), faultPrefix);
}

}  // namespace standin::mapi
