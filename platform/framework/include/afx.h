// The application framework's core (the stand-in's counterpart of the framework
// DLL): CObject and run-time class information, CString, extension modules.
//
// Everything here is exported from the framework library (libcvframework on
// the stand-in, cvframework.dll on Windows, where mingw has no such framework).
// A CString is one pointer to its characters, with a small header (length,
// capacity) in front of them; every buffer is allocated and freed inside the
// framework library, so a CString can cross from one module to another in
// exported signatures, as on the platform.
//
// Thread safety: CString and CObject instances are not shared between threads
// without the caller's lock; the list of extension modules is process-wide and
// locked.
#pragma once

#include <cstddef>
#include <type_traits>

#include <windows.h>

#ifndef PASCAL
#define PASCAL
#endif
#ifndef AFXAPI
#define AFXAPI
#endif
#if !defined(_WIN32)
#define AFX_FRAMEWORK_API STANDIN_API
#elif defined(cvframework_EXPORTS)
#define AFX_FRAMEWORK_API __declspec(dllexport)
#else
#define AFX_FRAMEWORK_API __declspec(dllimport)
#endif

// The framework's diagnostics as in a release build: ASSERT checks nothing,
// VERIFY still evaluates its expression.
#ifndef ASSERT
#define ASSERT(f) ((void)0)
#endif
#ifndef VERIFY
#define VERIFY(f) ((void)(f))
#endif
#ifndef ASSERT_VALID
#define ASSERT_VALID(p) ((void)0)
#endif

class CObject;
class CArchive;
class CDumpContext;

// ---- run-time class information ----

struct AFX_FRAMEWORK_API CRuntimeClass {
  LPCSTR m_lpszClassName;
  int m_nObjectSize;
  UINT m_wSchema;  // 0xFFFF: not serializable
  CObject*(PASCAL* m_pfnCreateObject)();
  CRuntimeClass* m_pBaseClass;
  CRuntimeClass* m_pNextClass;
  const void* m_pClassInit;

  // A new object of the class, or null when the class cannot create objects.
  CObject* CreateObject();
  BOOL IsDerivedFrom(const CRuntimeClass* pBaseClass) const;
};

#define _RUNTIME_CLASS(class_name) (const_cast<CRuntimeClass*>(&class_name::class##class_name))
#define RUNTIME_CLASS(class_name) _RUNTIME_CLASS(class_name)

#define DECLARE_DYNAMIC(class_name)                   \
 public:                                              \
  static const CRuntimeClass class##class_name;       \
  CRuntimeClass* GetRuntimeClass() const override;

#define DECLARE_DYNCREATE(class_name) \
  DECLARE_DYNAMIC(class_name)         \
  static CObject* PASCAL CreateObject();

#define IMPLEMENT_RUNTIMECLASS(class_name, base_class_name, wSchema, pfnNew)                                 \
  const CRuntimeClass class_name::class##class_name = {#class_name, static_cast<int>(sizeof(class_name)),  \
                                                       wSchema,     pfnNew,                                 \
                                                       RUNTIME_CLASS(base_class_name), nullptr, nullptr};   \
  CRuntimeClass* class_name::GetRuntimeClass() const { return RUNTIME_CLASS(class_name); }

#define IMPLEMENT_DYNAMIC(class_name, base_class_name) \
  IMPLEMENT_RUNTIMECLASS(class_name, base_class_name, 0xFFFF, nullptr)

#define IMPLEMENT_DYNCREATE(class_name, base_class_name)                    \
  CObject* PASCAL class_name::CreateObject() { return new class_name; }     \
  IMPLEMENT_RUNTIMECLASS(class_name, base_class_name, 0xFFFF, class_name::CreateObject)

// ---- CObject ----

// The root of the framework's classes. The virtual functions keep the
// framework's slot order: GetRuntimeClass, the destructor, Serialize,
// AssertValid, Dump.
class AFX_FRAMEWORK_API CObject {
 public:
  virtual CRuntimeClass* GetRuntimeClass() const;
  virtual ~CObject() = 0;
  virtual void Serialize(CArchive& ar);
  virtual void AssertValid() const;
  virtual void Dump(CDumpContext& dc) const;

  BOOL IsKindOf(const CRuntimeClass* pClass) const;
  BOOL IsSerializable() const;

  static const CRuntimeClass classCObject;

 protected:
  CObject() = default;

 private:
  CObject(const CObject&) = delete;
  CObject& operator=(const CObject&) = delete;
};

// Minimal archive: the mode a Serialize override asks about. Nothing in this
// system stores objects through it.
class AFX_FRAMEWORK_API CArchive {
 public:
  enum Mode { store = 0, load = 1 };
  explicit CArchive(UINT nMode) : m_nMode(nMode) {}
  BOOL IsLoading() const { return (m_nMode & load) != 0; }
  BOOL IsStoring() const { return (m_nMode & load) == 0; }

 private:
  UINT m_nMode;
};

// Diagnostic dump target: every piece goes to the debugger output
// (OutputDebugStringW), as the framework's afxDump does without a file.
class AFX_FRAMEWORK_API CDumpContext {
 public:
  CDumpContext() = default;
  CDumpContext& operator<<(LPCSTR text);
  CDumpContext& operator<<(LPCWSTR text);
  CDumpContext& operator<<(int n);
  CDumpContext& operator<<(UINT n);
  CDumpContext& operator<<(LONGLONG n);
  CDumpContext& operator<<(ULONGLONG n);
  CDumpContext& operator<<(const void* p);
  CDumpContext& operator<<(const CObject* pOb);
  CDumpContext& operator<<(const CObject& ob);
  void Flush() {}
};
extern AFX_FRAMEWORK_API CDumpContext afxDump;

// The base of the framework's command targets; here only a CObject with its
// own run-time class.
class AFX_FRAMEWORK_API CCmdTarget : public CObject {
  DECLARE_DYNAMIC(CCmdTarget)
 public:
  CCmdTarget() = default;
  ~CCmdTarget() override;
};

// ---- CString ----

// The characters are preceded by this header in the same allocation.
struct CStringData {
  int nDataLength;   // characters in use
  int nAllocLength;  // room for characters, the terminator not counted
};

class AFX_FRAMEWORK_API CString {
 public:
  CString() noexcept;
  CString(const CString& other);
  CString(CString&& other) noexcept;
  CString(LPCWSTR psz);                // null is the empty string
  CString(LPCWSTR pch, int nLength);   // nLength characters, NULs included
  CString(LPCSTR psz);                 // narrow text in the ANSI code page (UTF-8 on the stand-in)
  CString(LPCSTR pch, int nLength);    // nLength bytes
  explicit CString(WCHAR ch, int nRepeat = 1);
  ~CString();

  CString& operator=(const CString& other);
  CString& operator=(CString&& other) noexcept;
  CString& operator=(LPCWSTR psz);
  CString& operator=(LPCSTR psz);
  CString& operator=(WCHAR ch);

  CString& operator+=(const CString& other);
  CString& operator+=(LPCWSTR psz);
  CString& operator+=(LPCSTR psz);
  CString& operator+=(WCHAR ch);
  void Append(LPCWSTR psz);
  void Append(LPCWSTR pch, int nLength);
  void AppendChar(WCHAR ch);

  operator LPCWSTR() const noexcept { return m_pszData; }
  LPCWSTR GetString() const noexcept { return m_pszData; }
  int GetLength() const noexcept { return Header()->nDataLength; }
  int GetAllocLength() const noexcept { return Header()->nAllocLength; }
  bool IsEmpty() const noexcept { return GetLength() == 0; }
  void Empty();

  // Index 0 to GetLength() (the terminator) can be read; SetAt takes an index
  // below GetLength(). Other indexes throw std::out_of_range, as the platform
  // raises its invalid-argument exception.
  WCHAR GetAt(int iChar) const;
  WCHAR operator[](int iChar) const { return GetAt(iChar); }
  void SetAt(int iChar, WCHAR ch);

  // Ordinal comparison, and comparison ignoring case by simple Unicode case
  // folding. Both give <0, 0 or >0; a null string is empty.
  int Compare(LPCWSTR psz) const;
  int CompareNoCase(LPCWSTR psz) const;

  // Room for at least nMinBufLength characters plus a terminator, the current
  // text kept. Write through the result, then call ReleaseBuffer.
  LPWSTR GetBuffer(int nMinBufLength);
  LPWSTR GetBuffer() { return GetBuffer(0); }
  LPWSTR GetBufferSetLength(int nNewLength);
  // The new length: nNewLength, or -1 for up to the first NUL (never past the
  // buffer's room). Lengths beyond the room are cut to it.
  void ReleaseBuffer(int nNewLength = -1);
  void Preallocate(int nLength) { GetBuffer(nLength); }
  void FreeExtra();

  CString Left(int nCount) const;
  CString Right(int nCount) const;
  CString Mid(int iFirst) const;
  CString Mid(int iFirst, int nCount) const;

  // Index of the first match at or after iStart, or -1.
  int Find(WCHAR ch, int iStart = 0) const;
  int Find(LPCWSTR pszSub, int iStart = 0) const;
  int FindOneOf(LPCWSTR pszCharSet) const;
  int ReverseFind(WCHAR ch) const;

  CString& MakeUpper();
  CString& MakeLower();
  CString& MakeReverse();
  CString& Trim();
  CString& Trim(WCHAR chTarget);
  CString& Trim(LPCWSTR pszTargets);
  CString& TrimLeft();
  CString& TrimLeft(WCHAR chTarget);
  CString& TrimLeft(LPCWSTR pszTargets);
  CString& TrimRight();
  CString& TrimRight(WCHAR chTarget);
  CString& TrimRight(LPCWSTR pszTargets);

  // Number of replacements (removals).
  int Replace(WCHAR chOld, WCHAR chNew);
  int Replace(LPCWSTR pszOld, LPCWSTR pszNew);
  int Remove(WCHAR chRemove);
  // The new length.
  int Insert(int iIndex, WCHAR ch);
  int Insert(int iIndex, LPCWSTR psz);
  int Delete(int iIndex, int nCount = 1);

  // The next token after iStart, delimiters skipped; at the end an empty
  // string and iStart = -1.
  CString Tokenize(LPCWSTR pszTokens, int& iStart) const;

#ifdef _WIN32
  // printf-style formatting through the C library's wide formatter, as the
  // platform's framework does. A CString value is passed as its text.
  template <class... Args>
  void Format(LPCWSTR pszFormat, const Args&... args) {
    FormatList(FALSE, pszFormat, FormatValue(args)...);
  }
  template <class... Args>
  void AppendFormat(LPCWSTR pszFormat, const Args&... args) {
    FormatList(TRUE, pszFormat, FormatValue(args)...);
  }
#else
  // printf-style formatting through the platform's typed formatter: values
  // that do not match their conversions print a marker, never garbage.
  template <class... Args>
  void Format(LPCWSTR pszFormat, const Args&... args) {
    FormatTyped(false, pszFormat, args...);
  }
  template <class... Args>
  void AppendFormat(LPCWSTR pszFormat, const Args&... args) {
    FormatTyped(true, pszFormat, args...);
  }

 private:
  template <class... Args>
  void FormatTyped(bool append, LPCWSTR pszFormat, const Args&... args) {
    if constexpr (sizeof...(Args) == 0) {
      FormatPacked(pszFormat, nullptr, 0, append);
    } else {
      const standin::FormatArg packed[] = {standin::MakeFormatArg(args)...};
      FormatPacked(pszFormat, packed, sizeof...(Args), append);
    }
  }

 public:
#endif

  friend bool operator==(const CString& a, const CString& b) { return a.Compare(b) == 0; }
  friend bool operator==(const CString& a, LPCWSTR b) { return a.Compare(b) == 0; }
  friend bool operator==(LPCWSTR a, const CString& b) { return b.Compare(a) == 0; }
  friend bool operator!=(const CString& a, const CString& b) { return a.Compare(b) != 0; }
  friend bool operator!=(const CString& a, LPCWSTR b) { return a.Compare(b) != 0; }
  friend bool operator!=(LPCWSTR a, const CString& b) { return b.Compare(a) != 0; }
  friend bool operator<(const CString& a, const CString& b) { return a.Compare(b) < 0; }
  friend bool operator<(const CString& a, LPCWSTR b) { return a.Compare(b) < 0; }
  friend bool operator<(LPCWSTR a, const CString& b) { return b.Compare(a) > 0; }
  friend bool operator>(const CString& a, const CString& b) { return a.Compare(b) > 0; }
  friend bool operator>(const CString& a, LPCWSTR b) { return a.Compare(b) > 0; }
  friend bool operator>(LPCWSTR a, const CString& b) { return b.Compare(a) < 0; }
  friend bool operator<=(const CString& a, const CString& b) { return a.Compare(b) <= 0; }
  friend bool operator>=(const CString& a, const CString& b) { return a.Compare(b) >= 0; }

 private:
  friend struct CStringImpl;
  const CStringData* Header() const noexcept { return reinterpret_cast<const CStringData*>(m_pszData) - 1; }
#ifdef _WIN32
  template <class T>
  static auto FormatValue(const T& x) {
    if constexpr (std::is_class_v<T>) {
      static_assert(std::is_convertible_v<const T&, LPCWSTR>, "value cannot be formatted");
      return static_cast<LPCWSTR>(x);
    } else {
      using V = std::decay_t<const T&>;  // an array is passed as its address
      static_assert(std::is_scalar_v<V>, "value cannot be formatted");
      return static_cast<V>(x);
    }
  }
  void __cdecl FormatList(BOOL append, LPCWSTR pszFormat, ...);
#else
  void FormatPacked(LPCWSTR pszFormat, const standin::FormatArg* args, size_t count, bool append);
#endif

  LPWSTR m_pszData;
};

AFX_FRAMEWORK_API CString operator+(const CString& a, const CString& b);
AFX_FRAMEWORK_API CString operator+(const CString& a, LPCWSTR b);
AFX_FRAMEWORK_API CString operator+(LPCWSTR a, const CString& b);
AFX_FRAMEWORK_API CString operator+(const CString& a, WCHAR b);
AFX_FRAMEWORK_API CString operator+(WCHAR a, const CString& b);

typedef CString CStringW;
static_assert(sizeof(CString) == sizeof(void*), "a CString is one pointer, as in exported signatures");
static_assert(sizeof(CStringData) % sizeof(WCHAR) == 0, "characters follow the header");

// ---- extension modules ----

// The record an extension module keeps about itself (a static of the module).
struct AFX_EXTENSION_MODULE {
  BOOL bInitialized;
  HMODULE hModule;
  HMODULE hResource;
  CRuntimeClass* pFirstSharedClass;
  void* pFirstSharedFactory;
};

// Fills the record for the module (once; later calls succeed without change).
// FALSE when hModule is null or the call is failed through the fault seam
// ("AfxInitExtensionModule"); the record is then left as it was.
AFX_FRAMEWORK_API BOOL AFXAPI AfxInitExtensionModule(AFX_EXTENSION_MODULE& state, HMODULE hModule);
// Deletes the CDynLinkLibrary objects of the module (of every module with bAll).
AFX_FRAMEWORK_API void AFXAPI AfxTermExtensionModule(AFX_EXTENSION_MODULE& state, BOOL bAll = FALSE);

// An extension module's entry in the framework's process-wide module list: the
// constructor adds it, the destructor removes it. Always made with new (the
// framework's AfxTermExtensionModule deletes it). When allocation fails, or the
// fault seam fails "CDynLinkLibrary", new yields null and nothing is listed.
class AFX_FRAMEWORK_API CDynLinkLibrary : public CCmdTarget {
  DECLARE_DYNAMIC(CDynLinkLibrary)
 public:
  explicit CDynLinkLibrary(AFX_EXTENSION_MODULE& state, BOOL bSystem = FALSE);
  CDynLinkLibrary(HINSTANCE hModule, HINSTANCE hResource);
  ~CDynLinkLibrary() override;

  static void* operator new(std::size_t size) noexcept;
  static void operator delete(void* p) noexcept;

  HMODULE m_hModule;
  HMODULE m_hResource;
  CRuntimeClass* m_pFirstSharedClass;
  BOOL m_bSystem;
  CDynLinkLibrary* m_pNextDLL;  // the list's link, under the framework's lock

 private:
  void Register();
};

// How many CDynLinkLibrary objects are listed (for hModule only, unless null).
AFX_FRAMEWORK_API int AFXAPI AfxGetModuleCount(HMODULE hModule = nullptr);
