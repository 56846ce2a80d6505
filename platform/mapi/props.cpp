// Owned property values: the encoding tables and store files keep, and the
// conversions to and from MAPI's SPropValue.
#include <wcrt.h>

#include <bit>
#include <cstring>
#include <list>

#include "core.h"

namespace standin::mapi {
namespace {

static_assert(std::endian::native == std::endian::little, "owned values are kept little-endian in memory order");

template <class T>
void Put(std::string* out, const T& value) {
  out->append(reinterpret_cast<const char*>(&value), sizeof(T));
}
void PutBytes(std::string* out, const void* bytes, size_t size) {
  if (size) out->append(static_cast<const char*>(bytes), size);
}

uint64_t FileTimeBits(const FILETIME& ft) {
  return (static_cast<uint64_t>(ft.dwHighDateTime) << 32) | ft.dwLowDateTime;
}
FILETIME BitsFileTime(uint64_t bits) {
  FILETIME ft;
  ft.dwLowDateTime = static_cast<DWORD>(bits);
  ft.dwHighDateTime = static_cast<DWORD>(bits >> 32);
  return ft;
}

// Size of one element of a fixed-size type, 0 for variable ones.
size_t FixedSize(ULONG type) {
  switch (type) {
    case PT_I2:
    case PT_BOOLEAN:
      return 2;
    case PT_LONG:
    case PT_R4:
    case PT_ERROR:
      return 4;
    case PT_DOUBLE:
    case PT_APPTIME:
    case PT_CURRENCY:
    case PT_I8:
    case PT_SYSTIME:
      return 8;
    case PT_CLSID:
      return 16;
    default:
      return 0;
  }
}

// Encodes one element of the single-valued type `type` from its bytes.
void PutElement(std::string* out, bool multi, const void* bytes, size_t size) {
  if (multi) Put(out, static_cast<uint32_t>(size));
  PutBytes(out, bytes, size);
}

bool EncodeMulti(const SPropValue& v, ULONG base, std::string* out) {
  const ULONG count = v.Value.MVi.cValues;  // every MV array starts with its count
  Put(out, static_cast<uint32_t>(count));
  if (count == 0) return true;
  for (ULONG i = 0; i < count; ++i) {
    switch (base) {
      case PT_I2:
        if (!v.Value.MVi.lpi) return false;
        PutElement(out, true, &v.Value.MVi.lpi[i], 2);
        break;
      case PT_LONG:
        if (!v.Value.MVl.lpl) return false;
        PutElement(out, true, &v.Value.MVl.lpl[i], 4);
        break;
      case PT_R4:
        if (!v.Value.MVflt.lpflt) return false;
        PutElement(out, true, &v.Value.MVflt.lpflt[i], 4);
        break;
      case PT_DOUBLE:
        if (!v.Value.MVdbl.lpdbl) return false;
        PutElement(out, true, &v.Value.MVdbl.lpdbl[i], 8);
        break;
      case PT_APPTIME:
        if (!v.Value.MVat.lpat) return false;
        PutElement(out, true, &v.Value.MVat.lpat[i], 8);
        break;
      case PT_CURRENCY:
        if (!v.Value.MVcur.lpcur) return false;
        PutElement(out, true, &v.Value.MVcur.lpcur[i].int64, 8);
        break;
      case PT_I8:
        if (!v.Value.MVli.lpli) return false;
        PutElement(out, true, &v.Value.MVli.lpli[i].QuadPart, 8);
        break;
      case PT_SYSTIME: {
        if (!v.Value.MVft.lpft) return false;
        uint64_t bits = FileTimeBits(v.Value.MVft.lpft[i]);
        PutElement(out, true, &bits, 8);
        break;
      }
      case PT_CLSID:
        if (!v.Value.MVguid.lpguid) return false;
        PutElement(out, true, &v.Value.MVguid.lpguid[i], 16);
        break;
      case PT_STRING8: {
        if (!v.Value.MVszA.lppszA || !v.Value.MVszA.lppszA[i]) return false;
        const char* s = v.Value.MVszA.lppszA[i];
        PutElement(out, true, s, std::strlen(s));
        break;
      }
      case PT_UNICODE: {
        if (!v.Value.MVszW.lppszW || !v.Value.MVszW.lppszW[i]) return false;
        const WCHAR* s = v.Value.MVszW.lppszW[i];
        PutElement(out, true, s, wcslen(s) * sizeof(WCHAR));
        break;
      }
      case PT_BINARY: {
        if (!v.Value.MVbin.lpbin) return false;
        const SBinary& b = v.Value.MVbin.lpbin[i];
        if (b.cb && !b.lpb) return false;
        PutElement(out, true, b.lpb, b.cb);
        break;
      }
      default:
        return false;
    }
  }
  return true;
}

class Reader {
 public:
  explicit Reader(const std::string& data) : data_(data) {}
  bool Read(void* to, size_t size) {
    if (data_.size() - pos_ < size) return false;
    if (size) std::memcpy(to, data_.data() + pos_, size);
    pos_ += size;
    return true;
  }
  bool Take(size_t size, const char** at) {
    if (data_.size() - pos_ < size) return false;
    *at = data_.data() + pos_;
    pos_ += size;
    return true;
  }
  bool AtEnd() const { return pos_ == data_.size(); }
  size_t Left() const { return data_.size() - pos_; }

 private:
  const std::string& data_;
  size_t pos_ = 0;
};

// Where decoded values get their memory: blocks chained to a parent, or one
// block sized beforehand and carved up (a row's values and what they point to
// in one allocation).
class ValueSpace {
 public:
  explicit ValueSpace(void* parent) : parent_(parent) {}
  ValueSpace(char* at, size_t size) : at_(at), left_(size) {}
  HRESULT Take(size_t size, void** out) {
    if (!parent_ && !at_) return MAPI_E_INVALID_PARAMETER;
    if (parent_) return MAPIAllocateMore(static_cast<ULONG>(size ? size : 1), parent_, out);
    const size_t rounded = Rounded(size);
    if (rounded > left_) return MAPI_E_CALL_FAILED;  // sized beforehand: cannot happen
    *out = at_;
    at_ += rounded;
    left_ -= rounded;
    return S_OK;
  }
  // Carved pieces keep the alignment of every value type.
  static size_t Rounded(size_t size) { return (size + 15) & ~size_t{15}; }

 private:
  void* parent_ = nullptr;
  char* at_ = nullptr;
  size_t left_ = 0;
};

// Copies bytes into a new piece with `terminator` zero bytes after them.
HRESULT CopyOut(const char* bytes, size_t size, size_t terminator, ValueSpace& space, void** out) {
  HRESULT hr = space.Take(size + terminator, out);
  if (FAILED(hr)) return hr;
  if (size) std::memcpy(*out, bytes, size);
  std::memset(static_cast<char*>(*out) + size, 0, terminator);
  return S_OK;
}

HRESULT DecodeSingle(ULONG type, const std::string& data, SPropValue* out, ValueSpace& space) {
  const size_t fixed = FixedSize(type);
  if (fixed && data.size() != fixed) return MAPI_E_CORRUPT_DATA;
  Reader r(data);
  switch (type) {
    case PT_NULL:
      out->Value.x = 0;
      return data.empty() ? S_OK : MAPI_E_CORRUPT_DATA;
    case PT_I2:
      r.Read(&out->Value.i, 2);
      return S_OK;
    case PT_BOOLEAN: {
      uint16_t b = 0;
      r.Read(&b, 2);
      out->Value.b = b ? 1 : 0;
      return S_OK;
    }
    case PT_LONG:
      r.Read(&out->Value.l, 4);
      return S_OK;
    case PT_ERROR:
      r.Read(&out->Value.err, 4);
      return S_OK;
    case PT_R4:
      r.Read(&out->Value.flt, 4);
      return S_OK;
    case PT_DOUBLE:
      r.Read(&out->Value.dbl, 8);
      return S_OK;
    case PT_APPTIME:
      r.Read(&out->Value.at, 8);
      return S_OK;
    case PT_CURRENCY:
      r.Read(&out->Value.cur.int64, 8);
      return S_OK;
    case PT_I8:
      r.Read(&out->Value.li.QuadPart, 8);
      return S_OK;
    case PT_SYSTIME: {
      uint64_t bits = 0;
      r.Read(&bits, 8);
      out->Value.ft = BitsFileTime(bits);
      return S_OK;
    }
    case PT_CLSID: {
      void* guid = nullptr;
      HRESULT hr = CopyOut(data.data(), 16, 0, space, &guid);
      if (FAILED(hr)) return hr;
      out->Value.lpguid = static_cast<GUID*>(guid);
      return S_OK;
    }
    case PT_STRING8: {
      void* s = nullptr;
      HRESULT hr = CopyOut(data.data(), data.size(), 1, space, &s);
      if (FAILED(hr)) return hr;
      out->Value.lpszA = static_cast<LPSTR>(s);
      return S_OK;
    }
    case PT_UNICODE: {
      if (data.size() % sizeof(WCHAR)) return MAPI_E_CORRUPT_DATA;
      void* s = nullptr;
      HRESULT hr = CopyOut(data.data(), data.size(), sizeof(WCHAR), space, &s);
      if (FAILED(hr)) return hr;
      out->Value.lpszW = static_cast<LPWSTR>(s);
      return S_OK;
    }
    case PT_BINARY: {
      void* b = nullptr;
      HRESULT hr = CopyOut(data.data(), data.size(), 0, space, &b);
      if (FAILED(hr)) return hr;
      out->Value.bin.cb = static_cast<ULONG>(data.size());
      out->Value.bin.lpb = static_cast<LPBYTE>(b);
      return S_OK;
    }
    default:
      return MAPI_E_INVALID_TYPE;
  }
}

// Size of one element in the MV array a type's value points to.
size_t ArrayElementSize(ULONG base) {
  switch (base) {
    case PT_I2:
      return sizeof(short);
    case PT_LONG:
      return sizeof(LONG);
    case PT_R4:
      return sizeof(float);
    case PT_DOUBLE:
    case PT_APPTIME:
      return sizeof(double);
    case PT_CURRENCY:
      return sizeof(CURRENCY);
    case PT_I8:
      return sizeof(LARGE_INTEGER);
    case PT_SYSTIME:
      return sizeof(FILETIME);
    case PT_CLSID:
      return sizeof(GUID);
    case PT_STRING8:
      return sizeof(LPSTR);
    case PT_UNICODE:
      return sizeof(LPWSTR);
    case PT_BINARY:
      return sizeof(SBinary);
    default:
      return 0;
  }
}

HRESULT DecodeMulti(ULONG base, const std::string& data, SPropValue* out, ValueSpace& space) {
  const size_t elementSize = ArrayElementSize(base);
  if (!elementSize) return MAPI_E_INVALID_TYPE;
  Reader r(data);
  uint32_t count = 0;
  if (!r.Read(&count, 4)) return MAPI_E_CORRUPT_DATA;
  // Each element takes at least its 4-byte length: a bound before allocating.
  if (count > r.Left() / 4) return MAPI_E_CORRUPT_DATA;
  void* array = nullptr;
  HRESULT hr = space.Take(static_cast<size_t>(count) * elementSize, &array);
  if (FAILED(hr)) return hr;
  char* base8 = static_cast<char*>(array);
  const size_t fixed = FixedSize(base);
  for (uint32_t i = 0; i < count; ++i) {
    uint32_t len = 0;
    const char* at = nullptr;
    if (!r.Read(&len, 4) || !r.Take(len, &at)) return MAPI_E_CORRUPT_DATA;
    if (fixed && len != fixed) return MAPI_E_CORRUPT_DATA;
    char* slot = base8 + i * elementSize;
    switch (base) {
      case PT_SYSTIME: {
        uint64_t bits = 0;
        std::memcpy(&bits, at, 8);
        FILETIME ft = BitsFileTime(bits);
        std::memcpy(slot, &ft, sizeof ft);
        break;
      }
      case PT_STRING8:
      case PT_UNICODE: {
        if (base == PT_UNICODE && len % sizeof(WCHAR)) return MAPI_E_CORRUPT_DATA;
        void* s = nullptr;
        hr = CopyOut(at, len, base == PT_UNICODE ? sizeof(WCHAR) : 1, space, &s);
        if (FAILED(hr)) return hr;
        std::memcpy(slot, &s, sizeof s);
        break;
      }
      case PT_BINARY: {
        void* b = nullptr;
        hr = CopyOut(at, len, 0, space, &b);
        if (FAILED(hr)) return hr;
        SBinary bin{len, static_cast<LPBYTE>(b)};
        std::memcpy(slot, &bin, sizeof bin);
        break;
      }
      default:
        std::memcpy(slot, at, len);
        break;
    }
  }
  if (!r.AtEnd()) return MAPI_E_CORRUPT_DATA;
  out->Value.MVi.cValues = count;
  out->Value.MVi.lpi = static_cast<short*>(array);  // the same pointer slot for every MV type
  return S_OK;
}

bool IsStringType(ULONG type) { return (type & ~MV_FLAG) == PT_STRING8 || (type & ~MV_FLAG) == PT_UNICODE; }

// The value of a string property converted to the other width (UTF-8 is the
// stand-in's narrow code page).
std::string ConvertString(const std::string& data, ULONG fromType) {
  if ((fromType & ~MV_FLAG) == PT_UNICODE) {
    std::u16string_view units(reinterpret_cast<const char16_t*>(data.data()), data.size() / 2);
    return ToUtf8(units);
  }
  std::u16string wide = ToUtf16(data);
  return std::string(reinterpret_cast<const char*>(wide.data()), wide.size() * 2);
}

bool ConvertStringProp(const OwnedProp& from, ULONG toTag, OwnedProp* out) {
  out->tag = toTag;
  out->data.clear();
  const ULONG fromType = PROP_TYPE(from.tag);
  if (!(fromType & MV_FLAG)) {
    if (fromType == PT_UNICODE && from.data.size() % 2) return false;
    out->data = ConvertString(from.data, fromType);
    return true;
  }
  Reader r(from.data);
  uint32_t count = 0;
  if (!r.Read(&count, 4)) return false;
  Put(&out->data, count);
  for (uint32_t i = 0; i < count; ++i) {
    uint32_t len = 0;
    const char* at = nullptr;
    if (!r.Read(&len, 4) || !r.Take(len, &at)) return false;
    if (fromType == PT_MV_UNICODE && len % 2) return false;
    std::string converted = ConvertString(std::string(at, len), fromType);
    Put(&out->data, static_cast<uint32_t>(converted.size()));
    out->data += converted;
  }
  return r.AtEnd();
}

}  // namespace

bool ToOwned(const SPropValue& v, OwnedProp* out) {
  if (!out) return false;
  std::string data;
  const ULONG type = PROP_TYPE(v.ulPropTag);
  if (type & MV_FLAG) {
    if (!EncodeMulti(v, type & ~MV_FLAG, &data)) return false;
  } else {
    switch (type) {
      case PT_NULL:
        break;
      case PT_I2:
        Put(&data, v.Value.i);
        break;
      case PT_BOOLEAN:
        Put(&data, static_cast<uint16_t>(v.Value.b ? 1 : 0));
        break;
      case PT_LONG:
        Put(&data, v.Value.l);
        break;
      case PT_ERROR:
        Put(&data, v.Value.err);
        break;
      case PT_R4:
        Put(&data, v.Value.flt);
        break;
      case PT_DOUBLE:
        Put(&data, v.Value.dbl);
        break;
      case PT_APPTIME:
        Put(&data, v.Value.at);
        break;
      case PT_CURRENCY:
        Put(&data, v.Value.cur.int64);
        break;
      case PT_I8:
        Put(&data, v.Value.li.QuadPart);
        break;
      case PT_SYSTIME:
        Put(&data, FileTimeBits(v.Value.ft));
        break;
      case PT_CLSID:
        if (!v.Value.lpguid) return false;
        PutBytes(&data, v.Value.lpguid, 16);
        break;
      case PT_STRING8:
        if (!v.Value.lpszA) return false;
        data.assign(v.Value.lpszA);
        break;
      case PT_UNICODE:
        if (!v.Value.lpszW) return false;
        PutBytes(&data, v.Value.lpszW, wcslen(v.Value.lpszW) * sizeof(WCHAR));
        break;
      case PT_BINARY:
        if (v.Value.bin.cb && !v.Value.bin.lpb) return false;
        PutBytes(&data, v.Value.bin.lpb, v.Value.bin.cb);
        break;
      default:
        return false;  // PT_OBJECT, PT_UNSPECIFIED and unknown types
    }
  }
  out->tag = v.ulPropTag;
  out->data = std::move(data);
  return true;
}

namespace {

HRESULT Decode(const OwnedProp& prop, SPropValue* out, ValueSpace& space) {
  if (!out) return MAPI_E_INVALID_PARAMETER;
  SPropValue v{};
  v.ulPropTag = prop.tag;
  const ULONG type = PROP_TYPE(prop.tag);
  HRESULT hr = (type & MV_FLAG) ? DecodeMulti(type & ~MV_FLAG, prop.data, &v, space)
                                : DecodeSingle(type, prop.data, &v, space);
  if (FAILED(hr)) return hr;  // pieces already taken go with their block
  *out = v;
  return S_OK;
}

// What a value's decoded form points to, as ValueSpace carves it; for a
// damaged value a bound that is enough (decoding it fails anyway).
size_t PointedSize(const OwnedProp& prop) {
  const ULONG type = PROP_TYPE(prop.tag);
  const size_t terminator = sizeof(WCHAR);
  if (!(type & MV_FLAG)) {
    switch (type) {
      case PT_CLSID:
      case PT_STRING8:
      case PT_UNICODE:
      case PT_BINARY:
        return ValueSpace::Rounded(prop.data.size() + terminator);
      default:
        return 0;
    }
  }
  const ULONG base = type & ~MV_FLAG;
  const size_t elementSize = ArrayElementSize(base);
  uint32_t count = 0;
  if (!elementSize || prop.data.size() < 4) return 0;
  std::memcpy(&count, prop.data.data(), 4);
  if (count > (prop.data.size() - 4) / 4) return 0;
  size_t size = ValueSpace::Rounded(count * elementSize);
  if (base == PT_STRING8 || base == PT_UNICODE || base == PT_BINARY)
    size += prop.data.size() + count * ValueSpace::Rounded(terminator + 1);
  return size;
}

}  // namespace

HRESULT ToMapi(const OwnedProp& prop, SPropValue* out, void* parent) {
  ValueSpace space(parent);
  return Decode(prop, out, space);
}

SPropValue NotFoundValue(ULONG tag) {
  SPropValue v{};
  v.ulPropTag = CHANGE_PROP_TYPE(tag, PT_ERROR);
  v.Value.err = MAPI_E_NOT_FOUND;
  return v;
}

OwnedProp MakeLong(ULONG tag, LONG value) {
  OwnedProp p{tag, {}};
  Put(&p.data, value);
  return p;
}
OwnedProp MakeBool(ULONG tag, bool value) {
  OwnedProp p{tag, {}};
  Put(&p.data, static_cast<uint16_t>(value ? 1 : 0));
  return p;
}
OwnedProp MakeUnicode(ULONG tag, std::u16string_view text) {
  OwnedProp p{tag, {}};
  PutBytes(&p.data, text.data(), text.size() * sizeof(char16_t));
  return p;
}
OwnedProp MakeString8(ULONG tag, std::string_view text) { return OwnedProp{tag, std::string(text)}; }
OwnedProp MakeBinary(ULONG tag, const void* bytes, size_t size) {
  OwnedProp p{tag, {}};
  PutBytes(&p.data, bytes, size);
  return p;
}
OwnedProp MakeSysTime(ULONG tag, const FILETIME& time) {
  OwnedProp p{tag, {}};
  Put(&p.data, FileTimeBits(time));
  return p;
}

const OwnedProp* FindProp(const Row& row, ULONG tag) {
  for (const OwnedProp& p : row)
    if (p.tag == tag) return &p;
  return nullptr;
}

const OwnedProp* ResolveProp(const Row& row, ULONG tag, OwnedProp* scratch) {
  if (const OwnedProp* exact = FindProp(row, tag)) return exact;
  const ULONG type = PROP_TYPE(tag);
  for (const OwnedProp& p : row) {
    if (PROP_ID(p.tag) != PROP_ID(tag)) continue;
    if (type == PT_UNSPECIFIED) return &p;
    const ULONG have = PROP_TYPE(p.tag);
    if (IsStringType(type) && IsStringType(have) && (type & MV_FLAG) == (have & MV_FLAG) && scratch &&
        ConvertStringProp(p, tag, scratch))
      return scratch;
  }
  return nullptr;
}

HRESULT BuildPropArray(const Row& row, const SPropTagArray* columns, ULONG* count, LPSPropValue* out) {
  if (!count || !out) return MAPI_E_INVALID_PARAMETER;
  *count = 0;
  *out = nullptr;
  const ULONG n = columns ? columns->cValues : static_cast<ULONG>(row.size());
  // The values and everything they point to in one block: a table of many
  // rows costs one allocation per row, not one per value.
  std::vector<const OwnedProp*> picked(n);
  std::list<OwnedProp> converted;
  const size_t arraySize = ValueSpace::Rounded(n * sizeof(SPropValue));
  size_t size = arraySize;
  for (ULONG i = 0; i < n; ++i) {
    OwnedProp scratch;
    const OwnedProp* prop = columns ? ResolveProp(row, columns->aulPropTag[i], &scratch) : &row[i];
    if (prop == &scratch) prop = &converted.emplace_back(std::move(scratch));
    if (prop) size += PointedSize(*prop);
    picked[i] = prop;
  }
  void* block = nullptr;
  HRESULT hr = MAPIAllocateBuffer(static_cast<ULONG>(size), &block);
  if (FAILED(hr)) return hr;
  auto* values = static_cast<LPSPropValue>(block);
  ValueSpace space(static_cast<char*>(block) + arraySize, size - arraySize);
  for (ULONG i = 0; i < n; ++i) {
    if (!picked[i]) {
      values[i] = NotFoundValue(columns->aulPropTag[i]);
      continue;
    }
    hr = Decode(*picked[i], &values[i], space);
    if (FAILED(hr)) {
      MAPIFreeBuffer(block);
      return hr;
    }
  }
  *count = n;
  *out = values;
  return S_OK;
}

HRESULT BuildRowSet(const std::vector<const Row*>& rows, const SPropTagArray* columns, LPSRowSet* out) {
  if (!out) return MAPI_E_INVALID_PARAMETER;
  *out = nullptr;
  void* block = nullptr;
  HRESULT hr = MAPIAllocateBuffer(static_cast<ULONG>(CbNewSRowSet(rows.size())), &block);
  if (FAILED(hr)) return hr;
  auto* set = static_cast<LPSRowSet>(block);
  set->cRows = 0;
  for (const Row* row : rows) {
    SRow& r = set->aRow[set->cRows];
    r.ulAdrEntryPad = 0;
    hr = BuildPropArray(*row, columns, &r.cValues, &r.lpProps);
    if (FAILED(hr)) {
      for (ULONG i = 0; i < set->cRows; ++i) MAPIFreeBuffer(set->aRow[i].lpProps);
      MAPIFreeBuffer(set);
      return hr;
    }
    ++set->cRows;
  }
  *out = set;
  return S_OK;
}

}  // namespace standin::mapi
