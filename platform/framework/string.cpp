// CString: UTF-16 text in one allocation, a CStringData header followed by the
// characters and a terminator. Each CString owns its buffer; the empty string
// shares one read-only buffer that is never written or freed.
#include <afx.h>
#include <wcrt.h>

#include <algorithm>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <new>
#include <stdexcept>
#include <utility>

#include "fwplatform.h"

namespace {

struct NilString {
  CStringData header;
  WCHAR text[2];
};
NilString g_nil = {{0, 0}, {0, 0}};
static_assert(offsetof(NilString, text) == sizeof(CStringData), "the characters follow the header");

// Lengths are ints, as in the framework; a little room is kept for arithmetic.
constexpr int kMaxLength = INT_MAX / 2 - 16;

bool IsSpace(WCHAR c) { return c == TEXT(' ') || (c >= TEXT('\t') && c <= TEXT('\r')); }

int CheckedLength(size_t n) {
  if (n > static_cast<size_t>(kMaxLength)) throw std::bad_alloc();
  return static_cast<int>(n);
}

bool InSet(WCHAR c, LPCWSTR set) {
  if (!set) return false;
  for (; *set; ++set)
    if (*set == c) return true;
  return false;
}

}  // namespace

struct CStringImpl {
  static LPWSTR Nil() { return g_nil.text; }
  static CStringData* Hdr(LPWSTR p) { return reinterpret_cast<CStringData*>(p) - 1; }
  static bool IsNil(const CString& s) { return s.m_pszData == Nil(); }

  // A new buffer with room for capacity characters, all zero.
  static LPWSTR Allocate(int capacity) {
    if (capacity < 0 || capacity > kMaxLength) throw std::bad_alloc();
    size_t bytes = sizeof(CStringData) + (static_cast<size_t>(capacity) + 1) * sizeof(WCHAR);
    auto* h = static_cast<CStringData*>(std::malloc(bytes));
    if (!h) throw std::bad_alloc();
    h->nDataLength = 0;
    h->nAllocLength = capacity;
    auto* text = reinterpret_cast<LPWSTR>(h + 1);
    std::memset(text, 0, (static_cast<size_t>(capacity) + 1) * sizeof(WCHAR));
    return text;
  }
  static void Free(LPWSTR p) {
    if (p != Nil()) std::free(Hdr(p));
  }

  // Sets the length of an owned buffer (n within its room) and terminates it.
  static void SetLength(CString& s, int n) {
    if (IsNil(s)) return;
    Hdr(s.m_pszData)->nDataLength = n;
    s.m_pszData[n] = 0;
  }

  // Makes s own a buffer with room for at least n characters, text kept. With
  // grow, the room grows by half again, so that appending is linear.
  static void Reserve(CString& s, int n, bool grow) {
    const CStringData* h = s.Header();
    if (!IsNil(s) && h->nAllocLength >= n) return;
    int len = h->nDataLength;
    int room = std::max(n, len);
    if (grow) {
      int half = h->nAllocLength / 2;
      int wanted = h->nAllocLength > kMaxLength - half ? kMaxLength : h->nAllocLength + half;
      room = std::max({room, wanted, 15});
    }
    LPWSTR fresh = Allocate(room);
    std::memcpy(fresh, s.m_pszData, static_cast<size_t>(len) * sizeof(WCHAR));
    Hdr(fresh)->nDataLength = len;
    Free(s.m_pszData);
    s.m_pszData = fresh;
  }

  static void Assign(CString& s, LPCWSTR pch, int n) {
    if (!pch || n <= 0) {
      SetLength(s, 0);
      return;
    }
    if (!IsNil(s) && s.GetAllocLength() >= n) {
      // The source may be part of this very string.
      std::memmove(s.m_pszData, pch, static_cast<size_t>(n) * sizeof(WCHAR));
      SetLength(s, n);
      return;
    }
    LPWSTR fresh = Allocate(n);
    std::memcpy(fresh, pch, static_cast<size_t>(n) * sizeof(WCHAR));
    Free(s.m_pszData);
    s.m_pszData = fresh;
    SetLength(s, n);
  }

  static void Append(CString& s, LPCWSTR pch, int n) {
    if (!pch || n <= 0) return;
    int len = s.GetLength();
    if (n > kMaxLength - len) throw std::bad_alloc();
    if (IsNil(s) || s.GetAllocLength() < len + n) {
      // Into a new buffer: the source may live in the old one.
      int half = s.GetAllocLength() / 2;
      int room = std::max({len + n, s.GetAllocLength() > kMaxLength - half ? kMaxLength : s.GetAllocLength() + half,
                           15});
      LPWSTR fresh = Allocate(room);
      std::memcpy(fresh, s.m_pszData, static_cast<size_t>(len) * sizeof(WCHAR));
      std::memcpy(fresh + len, pch, static_cast<size_t>(n) * sizeof(WCHAR));
      Free(s.m_pszData);
      s.m_pszData = fresh;
    } else {
      std::memmove(s.m_pszData + len, pch, static_cast<size_t>(n) * sizeof(WCHAR));
    }
    SetLength(s, len + n);
  }

  static CString Concat(LPCWSTR a, int na, LPCWSTR b, int nb) {
    CString out;
    if (na > kMaxLength - nb) throw std::bad_alloc();
    Reserve(out, na + nb, false);
    Append(out, a, na);
    Append(out, b, nb);
    return out;
  }

  template <class Pred>
  static void TrimLeft(CString& s, Pred drop) {
    int len = s.GetLength(), i = 0;
    while (i < len && drop(s.m_pszData[i])) ++i;
    if (i) Assign(s, s.m_pszData + i, len - i);
  }
  template <class Pred>
  static void TrimRight(CString& s, Pred drop) {
    int len = s.GetLength(), n = len;
    while (n > 0 && drop(s.m_pszData[n - 1])) --n;
    if (n != len) SetLength(s, n);
  }
};

// ---- construction and assignment ----

CString::CString() noexcept : m_pszData(CStringImpl::Nil()) {}

CString::CString(const CString& other) : m_pszData(CStringImpl::Nil()) {
  CStringImpl::Assign(*this, other.m_pszData, other.GetLength());
}

CString::CString(CString&& other) noexcept : m_pszData(other.m_pszData) { other.m_pszData = CStringImpl::Nil(); }

CString::CString(LPCWSTR psz) : m_pszData(CStringImpl::Nil()) {
  if (psz) CStringImpl::Assign(*this, psz, CheckedLength(wcslen(psz)));
}

CString::CString(LPCWSTR pch, int nLength) : m_pszData(CStringImpl::Nil()) {
  CStringImpl::Assign(*this, pch, nLength);
}

CString::CString(LPCSTR psz) : m_pszData(CStringImpl::Nil()) {
  if (!psz) return;
  fw::WString w = fw::Widen(psz, std::strlen(psz));
  CStringImpl::Assign(*this, w.data(), CheckedLength(w.size()));
}

CString::CString(LPCSTR pch, int nLength) : m_pszData(CStringImpl::Nil()) {
  if (!pch || nLength <= 0) return;
  fw::WString w = fw::Widen(pch, static_cast<size_t>(nLength));
  CStringImpl::Assign(*this, w.data(), CheckedLength(w.size()));
}

CString::CString(WCHAR ch, int nRepeat) : m_pszData(CStringImpl::Nil()) {
  if (nRepeat <= 0) return;
  CStringImpl::Reserve(*this, nRepeat, false);
  for (int i = 0; i < nRepeat; ++i) m_pszData[i] = ch;
  CStringImpl::SetLength(*this, nRepeat);
}

CString::~CString() { CStringImpl::Free(m_pszData); }

CString& CString::operator=(const CString& other) {
  if (this != &other) CStringImpl::Assign(*this, other.m_pszData, other.GetLength());
  return *this;
}

CString& CString::operator=(CString&& other) noexcept {
  if (this != &other) {
    CStringImpl::Free(m_pszData);
    m_pszData = other.m_pszData;
    other.m_pszData = CStringImpl::Nil();
  }
  return *this;
}

CString& CString::operator=(LPCWSTR psz) {
  CStringImpl::Assign(*this, psz, psz ? CheckedLength(wcslen(psz)) : 0);
  return *this;
}

CString& CString::operator=(LPCSTR psz) {
  *this = CString(psz);
  return *this;
}

CString& CString::operator=(WCHAR ch) {
  CStringImpl::Assign(*this, &ch, 1);
  return *this;
}

CString& CString::operator+=(const CString& other) {
  CStringImpl::Append(*this, other.m_pszData, other.GetLength());
  return *this;
}

CString& CString::operator+=(LPCWSTR psz) {
  Append(psz);
  return *this;
}

CString& CString::operator+=(LPCSTR psz) {
  if (psz) {
    fw::WString w = fw::Widen(psz, std::strlen(psz));
    CStringImpl::Append(*this, w.data(), CheckedLength(w.size()));
  }
  return *this;
}

CString& CString::operator+=(WCHAR ch) {
  CStringImpl::Append(*this, &ch, 1);
  return *this;
}

void CString::Append(LPCWSTR psz) {
  if (psz) CStringImpl::Append(*this, psz, CheckedLength(wcslen(psz)));
}

void CString::Append(LPCWSTR pch, int nLength) { CStringImpl::Append(*this, pch, nLength); }

void CString::AppendChar(WCHAR ch) { CStringImpl::Append(*this, &ch, 1); }

void CString::Empty() {
  CStringImpl::Free(m_pszData);
  m_pszData = CStringImpl::Nil();
}

CString operator+(const CString& a, const CString& b) {
  return CStringImpl::Concat(a, a.GetLength(), b, b.GetLength());
}
CString operator+(const CString& a, LPCWSTR b) {
  return CStringImpl::Concat(a, a.GetLength(), b, b ? CheckedLength(wcslen(b)) : 0);
}
CString operator+(LPCWSTR a, const CString& b) {
  return CStringImpl::Concat(a, a ? CheckedLength(wcslen(a)) : 0, b, b.GetLength());
}
CString operator+(const CString& a, WCHAR b) { return CStringImpl::Concat(a, a.GetLength(), &b, 1); }
CString operator+(WCHAR a, const CString& b) { return CStringImpl::Concat(&a, 1, b, b.GetLength()); }

// ---- characters and comparison ----

WCHAR CString::GetAt(int iChar) const {
  if (iChar < 0 || iChar > GetLength()) throw std::out_of_range("CString index out of range");
  return m_pszData[iChar];
}

void CString::SetAt(int iChar, WCHAR ch) {
  if (iChar < 0 || iChar >= GetLength()) throw std::out_of_range("CString index out of range");
  m_pszData[iChar] = ch;
}

int CString::Compare(LPCWSTR psz) const {
  int r = wcscmp(m_pszData, psz ? psz : TEXT(""));
  return r < 0 ? -1 : r > 0 ? 1 : 0;
}

int CString::CompareNoCase(LPCWSTR psz) const {
  return fw::CompareNoCase(m_pszData, psz ? psz : TEXT(""));
}

// ---- the buffer ----

LPWSTR CString::GetBuffer(int nMinBufLength) {
  CStringImpl::Reserve(*this, std::max(nMinBufLength, 0), false);
  return m_pszData;
}

LPWSTR CString::GetBufferSetLength(int nNewLength) {
  nNewLength = std::max(nNewLength, 0);
  GetBuffer(nNewLength);
  CStringImpl::SetLength(*this, nNewLength);
  return m_pszData;
}

void CString::ReleaseBuffer(int nNewLength) {
  if (CStringImpl::IsNil(*this)) return;
  int room = GetAllocLength();
  if (nNewLength < 0) nNewLength = static_cast<int>(wcsnlen(m_pszData, static_cast<size_t>(room)));
  CStringImpl::SetLength(*this, std::min(nNewLength, room));
}

void CString::FreeExtra() {
  if (GetLength() == 0) return Empty();
  if (GetAllocLength() == GetLength()) return;
  LPWSTR fresh = CStringImpl::Allocate(GetLength());
  std::memcpy(fresh, m_pszData, static_cast<size_t>(GetLength()) * sizeof(WCHAR));
  CStringImpl::Hdr(fresh)->nDataLength = GetLength();
  CStringImpl::Free(m_pszData);
  m_pszData = fresh;
}

// ---- parts ----

CString CString::Left(int nCount) const {
  nCount = std::clamp(nCount, 0, GetLength());
  return CString(m_pszData, nCount);
}

CString CString::Right(int nCount) const {
  nCount = std::clamp(nCount, 0, GetLength());
  return CString(m_pszData + GetLength() - nCount, nCount);
}

CString CString::Mid(int iFirst) const { return Mid(iFirst, GetLength()); }

CString CString::Mid(int iFirst, int nCount) const {
  int len = GetLength();
  iFirst = std::max(iFirst, 0);
  nCount = std::max(nCount, 0);
  if (iFirst >= len) return CString();
  nCount = std::min(nCount, len - iFirst);
  return CString(m_pszData + iFirst, nCount);
}

int CString::Find(WCHAR ch, int iStart) const {
  int len = GetLength();
  if (iStart < 0 || iStart >= len) return -1;
  for (int i = iStart; i < len; ++i)
    if (m_pszData[i] == ch) return i;
  return -1;
}

int CString::Find(LPCWSTR pszSub, int iStart) const {
  int len = GetLength();
  if (!pszSub || iStart < 0 || iStart > len) return -1;
  size_t n = wcslen(pszSub);
  if (n > static_cast<size_t>(len - iStart)) return -1;
  for (int i = iStart; static_cast<size_t>(len - i) >= n; ++i)
    if (std::memcmp(m_pszData + i, pszSub, n * sizeof(WCHAR)) == 0) return i;
  return -1;
}

int CString::FindOneOf(LPCWSTR pszCharSet) const {
  for (int i = 0; i < GetLength(); ++i)
    if (InSet(m_pszData[i], pszCharSet)) return i;
  return -1;
}

int CString::ReverseFind(WCHAR ch) const {
  for (int i = GetLength() - 1; i >= 0; --i)
    if (m_pszData[i] == ch) return i;
  return -1;
}

// ---- in-place changes ----

CString& CString::MakeUpper() {
  for (int i = 0; i < GetLength(); ++i) m_pszData[i] = fw::UpperCase(m_pszData[i]);
  return *this;
}

CString& CString::MakeLower() {
  for (int i = 0; i < GetLength(); ++i) m_pszData[i] = fw::LowerCase(m_pszData[i]);
  return *this;
}

CString& CString::MakeReverse() {
  std::reverse(m_pszData, m_pszData + GetLength());
  return *this;
}

CString& CString::Trim() { return TrimRight().TrimLeft(); }
CString& CString::Trim(WCHAR chTarget) { return TrimRight(chTarget).TrimLeft(chTarget); }
CString& CString::Trim(LPCWSTR pszTargets) { return TrimRight(pszTargets).TrimLeft(pszTargets); }

CString& CString::TrimLeft() {
  CStringImpl::TrimLeft(*this, IsSpace);
  return *this;
}
CString& CString::TrimLeft(WCHAR chTarget) {
  CStringImpl::TrimLeft(*this, [chTarget](WCHAR c) { return c == chTarget; });
  return *this;
}
CString& CString::TrimLeft(LPCWSTR pszTargets) {
  CStringImpl::TrimLeft(*this, [pszTargets](WCHAR c) { return InSet(c, pszTargets); });
  return *this;
}
CString& CString::TrimRight() {
  CStringImpl::TrimRight(*this, IsSpace);
  return *this;
}
CString& CString::TrimRight(WCHAR chTarget) {
  CStringImpl::TrimRight(*this, [chTarget](WCHAR c) { return c == chTarget; });
  return *this;
}
CString& CString::TrimRight(LPCWSTR pszTargets) {
  CStringImpl::TrimRight(*this, [pszTargets](WCHAR c) { return InSet(c, pszTargets); });
  return *this;
}

int CString::Replace(WCHAR chOld, WCHAR chNew) {
  if (chOld == chNew) return 0;
  int count = 0;
  for (int i = 0; i < GetLength(); ++i)
    if (m_pszData[i] == chOld) m_pszData[i] = chNew, ++count;
  return count;
}

int CString::Replace(LPCWSTR pszOld, LPCWSTR pszNew) {
  if (!pszOld || !*pszOld) return 0;
  int oldLen = CheckedLength(wcslen(pszOld));
  int newLen = pszNew ? CheckedLength(wcslen(pszNew)) : 0;
  int len = GetLength(), count = 0, from = 0;
  CString out;
  for (int at = Find(pszOld, 0); at >= 0; at = Find(pszOld, at + oldLen)) {
    CStringImpl::Append(out, m_pszData + from, at - from);
    CStringImpl::Append(out, pszNew, newLen);
    from = at + oldLen;
    ++count;
  }
  if (!count) return 0;
  CStringImpl::Append(out, m_pszData + from, len - from);
  *this = std::move(out);
  return count;
}

int CString::Remove(WCHAR chRemove) {
  int len = GetLength(), kept = 0;
  for (int i = 0; i < len; ++i)
    if (m_pszData[i] != chRemove) m_pszData[kept++] = m_pszData[i];
  CStringImpl::SetLength(*this, kept);
  return len - kept;
}

int CString::Insert(int iIndex, WCHAR ch) { return Insert(iIndex, CString(ch, 1)); }

int CString::Insert(int iIndex, LPCWSTR psz) {
  int len = GetLength();
  iIndex = std::clamp(iIndex, 0, len);
  int n = psz ? CheckedLength(wcslen(psz)) : 0;
  if (n == 0) return len;
  // Built apart, as psz may point into this string.
  CString out = CStringImpl::Concat(m_pszData, iIndex, psz, n);
  CStringImpl::Append(out, m_pszData + iIndex, len - iIndex);
  *this = std::move(out);
  return GetLength();
}

int CString::Delete(int iIndex, int nCount) {
  int len = GetLength();
  iIndex = std::max(iIndex, 0);
  nCount = std::max(nCount, 0);
  if (iIndex >= len || nCount == 0) return len;
  nCount = std::min(nCount, len - iIndex);
  std::memmove(m_pszData + iIndex, m_pszData + iIndex + nCount,
               static_cast<size_t>(len - iIndex - nCount) * sizeof(WCHAR));
  CStringImpl::SetLength(*this, len - nCount);
  return len - nCount;
}

CString CString::Tokenize(LPCWSTR pszTokens, int& iStart) const {
  int len = GetLength();
  if (iStart < 0 || iStart >= len) {
    iStart = -1;
    return CString();
  }
  if (!pszTokens || !*pszTokens) {
    CString rest(m_pszData + iStart, len - iStart);
    iStart = len + 1;
    return rest;
  }
  int from = iStart;
  while (from < len && InSet(m_pszData[from], pszTokens)) ++from;
  if (from == len) {
    iStart = -1;
    return CString();
  }
  int until = from;
  while (until < len && !InSet(m_pszData[until], pszTokens)) ++until;
  iStart = until + 1;
  return CString(m_pszData + from, until - from);
}

// ---- formatting ----

#ifdef _WIN32
void __cdecl CString::FormatList(BOOL append, LPCWSTR pszFormat, ...) {
  // Into a separate buffer, as the values may point into this string.
  va_list args;
  va_start(args, pszFormat);
  va_list measure;
  va_copy(measure, args);
  int n = pszFormat ? _vscwprintf(pszFormat, measure) : 0;
  va_end(measure);
  CString out;
  if (n > 0) {
    LPWSTR buf = out.GetBuffer(CheckedLength(static_cast<size_t>(n)));
    _vsnwprintf(buf, static_cast<size_t>(n), pszFormat, args);
    out.ReleaseBuffer(n);
  }
  va_end(args);
  if (append) *this += out;
  else *this = std::move(out);
}
#else
void CString::FormatPacked(LPCWSTR pszFormat, const standin::FormatArg* args, size_t count, bool append) {
  // Into a separate buffer, grown until the text fits: the values may point
  // into this string.
  CString out;
  int room = 128;
  for (;;) {
    LPWSTR buf = out.GetBuffer(room);
    bool truncated = false;
    int n = standin::FormatWide(buf, static_cast<size_t>(room) + 1, pszFormat, args, count, &truncated);
    if (!truncated) {
      out.ReleaseBuffer(n);
      break;
    }
    if (room >= kMaxLength) throw std::bad_alloc();
    room = room > kMaxLength / 2 ? kMaxLength : room * 2;
  }
  if (append) *this += out;
  else *this = std::move(out);
}
#endif
