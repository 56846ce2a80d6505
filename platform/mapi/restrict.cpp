// The one restriction evaluator, used by every table (Restrict, FindRow) and by
// HrQueryAllRows.
//
// Choices where MAPI leaves room:
//  - A property the row lacks never matches: RES_PROPERTY (RELOP_NE included),
//    RES_CONTENT, RES_COMPAREPROPS, RES_BITMASK and RES_SIZE are all false then.
//  - RES_PROPERTY and RES_COMPAREPROPS compare strings as binary text, case
//    matters (as the platform's FPropCompareProp does); only RES_CONTENT with
//    FL_IGNORECASE ignores case. PT_STRING8 and PT_UNICODE values of one id are
//    compared after converting the restriction's value (UTF-8 is the narrow
//    code page).
//  - PT_BINARY orders by length first, then by bytes, as MAPI's property
//    comparison does.
//  - A multi-valued property against a single value matches when any of its
//    values does; two multi-valued values compare element by element.
//  - Values of unrelated types never match (no error).
// The whole tree is checked before any row is looked at, so a malformed
// restriction fails the same way whatever the rows hold.
#include <wcrt.h>

#include <cstring>

#include "core.h"

namespace standin::mapi {
namespace {

constexpr int kMaxDepth = 64;

bool IsString(ULONG type) { return type == PT_STRING8 || type == PT_UNICODE; }

bool ValidRelop(ULONG relop) { return relop <= RELOP_NE; }

HRESULT Validate(const SRestriction* r, int depth) {
  if (depth > kMaxDepth) return MAPI_E_TOO_COMPLEX;
  if (!r) return MAPI_E_INVALID_PARAMETER;
  switch (r->rt) {
    case RES_AND:
    case RES_OR: {
      const ULONG n = r->rt == RES_AND ? r->res.resAnd.cRes : r->res.resOr.cRes;
      const SRestriction* subs = r->rt == RES_AND ? r->res.resAnd.lpRes : r->res.resOr.lpRes;
      if (n && !subs) return MAPI_E_INVALID_PARAMETER;
      for (ULONG i = 0; i < n; ++i) {
        HRESULT hr = Validate(&subs[i], depth + 1);
        if (FAILED(hr)) return hr;
      }
      return S_OK;
    }
    case RES_NOT:
      return Validate(r->res.resNot.lpRes, depth + 1);
    case RES_CONTENT: {
      const ULONG base = PROP_TYPE(r->res.resContent.ulPropTag) & ~MV_FLAG;
      if (!r->res.resContent.lpProp || !(IsString(base) || base == PT_BINARY)) return MAPI_E_INVALID_PARAMETER;
      OwnedProp probe;
      const ULONG valueType = PROP_TYPE(r->res.resContent.lpProp->ulPropTag);
      if (!ToOwned(*r->res.resContent.lpProp, &probe) || (valueType & MV_FLAG)) return MAPI_E_INVALID_PARAMETER;
      return S_OK;
    }
    case RES_PROPERTY: {
      OwnedProp probe;
      if (!ValidRelop(r->res.resProperty.relop) || !r->res.resProperty.lpProp ||
          !ToOwned(*r->res.resProperty.lpProp, &probe))
        return MAPI_E_INVALID_PARAMETER;
      return S_OK;
    }
    case RES_COMPAREPROPS:
      return ValidRelop(r->res.resCompareProps.relop) ? S_OK : MAPI_E_INVALID_PARAMETER;
    case RES_BITMASK:
      return r->res.resBitMask.relBMR <= BMR_NEZ ? S_OK : MAPI_E_INVALID_PARAMETER;
    case RES_SIZE:
      return ValidRelop(r->res.resSize.relop) ? S_OK : MAPI_E_INVALID_PARAMETER;
    case RES_EXIST:
      return S_OK;
    default:
      return MAPI_E_TOO_COMPLEX;  // RES_SUBRESTRICTION and unknown kinds
  }
}

template <class T>
T Load(const std::string& data) {
  T v{};
  std::memcpy(&v, data.data(), std::min(sizeof(T), data.size()));
  return v;
}

template <class T>
int Order(T a, T b) {
  return a < b ? -1 : (b < a ? 1 : 0);
}

int CompareBytes(const std::string& a, const std::string& b) {
  int c = std::memcmp(a.data(), b.data(), std::min(a.size(), b.size()));
  if (c) return c < 0 ? -1 : 1;
  return Order(a.size(), b.size());
}

std::u16string Units(const std::string& data) {
  return std::u16string(reinterpret_cast<const char16_t*>(data.data()), data.size() / 2);
}

// Orders two encoded single values of the same type.
int CompareSingle(ULONG type, const std::string& a, const std::string& b) {
  switch (type) {
    case PT_I2:
      return Order(Load<int16_t>(a), Load<int16_t>(b));
    case PT_BOOLEAN:
      return Order(Load<uint16_t>(a) != 0, Load<uint16_t>(b) != 0);
    case PT_LONG:
      return Order(Load<int32_t>(a), Load<int32_t>(b));
    case PT_ERROR:
      return Order(Load<uint32_t>(a), Load<uint32_t>(b));
    case PT_R4:
      return Order(Load<float>(a), Load<float>(b));
    case PT_DOUBLE:
    case PT_APPTIME:
      return Order(Load<double>(a), Load<double>(b));
    case PT_CURRENCY:
    case PT_I8:
      return Order(Load<int64_t>(a), Load<int64_t>(b));
    case PT_SYSTIME:
      return Order(Load<uint64_t>(a), Load<uint64_t>(b));
    case PT_UNICODE: {
      std::u16string x = Units(a), y = Units(b);
      return x < y ? -1 : (y < x ? 1 : 0);
    }
    case PT_BINARY:
      if (a.size() != b.size()) return Order(a.size(), b.size());
      return CompareBytes(a, b);
    default:  // PT_STRING8 (UTF-8 bytes order as code points), PT_CLSID, PT_NULL
      return CompareBytes(a, b);
  }
}

// The elements of a multi-valued encoding; false when it is malformed.
bool Split(const std::string& data, std::vector<std::string>* out) {
  out->clear();
  if (data.size() < 4) return false;
  uint32_t count = Load<uint32_t>(data);
  size_t pos = 4;
  for (uint32_t i = 0; i < count; ++i) {
    if (data.size() - pos < 4) return false;
    uint32_t len = 0;
    std::memcpy(&len, data.data() + pos, 4);
    pos += 4;
    if (data.size() - pos < len) return false;
    out->emplace_back(data, pos, len);
    pos += len;
  }
  return pos == data.size();
}

bool Holds(ULONG relop, int order) {
  switch (relop) {
    case RELOP_LT:
      return order < 0;
    case RELOP_LE:
      return order <= 0;
    case RELOP_GT:
      return order > 0;
    case RELOP_GE:
      return order >= 0;
    case RELOP_EQ:
      return order == 0;
    default:
      return order != 0;  // RELOP_NE
  }
}

// value (from the row) relop operand; operand already has the comparable type.
bool CompareProps(ULONG relop, const OwnedProp& value, const OwnedProp& operand) {
  const ULONG vt = PROP_TYPE(value.tag), ot = PROP_TYPE(operand.tag);
  if (vt == ot && !(vt & MV_FLAG)) return Holds(relop, CompareSingle(vt, value.data, operand.data));
  std::vector<std::string> values, operands;
  if (vt == ot) {  // both multi-valued: element by element, then by count
    if (!Split(value.data, &values) || !Split(operand.data, &operands)) return false;
    const ULONG base = vt & ~MV_FLAG;
    for (size_t i = 0; i < values.size() && i < operands.size(); ++i) {
      int c = CompareSingle(base, values[i], operands[i]);
      if (c) return Holds(relop, c);
    }
    return Holds(relop, Order(values.size(), operands.size()));
  }
  if ((vt & MV_FLAG) && (vt & ~MV_FLAG) == ot) {  // any value of the row's property
    if (!Split(value.data, &values)) return false;
    for (const std::string& v : values)
      if (Holds(relop, CompareSingle(ot, v, operand.data))) return true;
  }
  return false;
}

// The operand in the width of the row's strings, so the two compare.
OwnedProp Comparable(const OwnedProp& operand, ULONG rowType) {
  const ULONG ot = PROP_TYPE(operand.tag);
  const ULONG want = (ot & MV_FLAG) ? rowType : (rowType & ~MV_FLAG);
  if (!IsString(ot & ~MV_FLAG) || !IsString(want & ~MV_FLAG) || want == ot) return operand;
  Row one{operand};
  OwnedProp converted;
  const OwnedProp* p = ResolveProp(one, CHANGE_PROP_TYPE(operand.tag, want), &converted);
  return p ? *p : operand;
}

std::u16string AsText(const std::string& data, ULONG type, bool fold) {
  std::u16string text = type == PT_UNICODE ? Units(data) : ToUtf16(data);
  if (fold)
    for (char16_t& c : text) c = FoldCase(c);
  return text;
}

bool ContentMatches(ULONG fuzzy, ULONG type, const std::string& value, const std::string& pattern) {
  const ULONG how = fuzzy & 0xFFFF;
  if (type == PT_BINARY) {
    if (how == FL_SUBSTRING) return value.find(pattern) != std::string::npos;
    if (how == FL_PREFIX) return value.compare(0, pattern.size(), pattern) == 0 && value.size() >= pattern.size();
    return value == pattern;
  }
  const bool fold = (fuzzy & FL_IGNORECASE) != 0;
  std::u16string v = AsText(value, type, fold), p = AsText(pattern, type, fold);
  if (how == FL_SUBSTRING) return v.find(p) != std::u16string::npos;
  if (how == FL_PREFIX) return v.size() >= p.size() && v.compare(0, p.size(), p) == 0;
  return v == p;
}

ULONG ValueSize(const OwnedProp& p) {
  const ULONG type = PROP_TYPE(p.tag);
  if (type == PT_STRING8) return static_cast<ULONG>(p.data.size() + 1);
  if (type == PT_UNICODE) return static_cast<ULONG>(p.data.size() + 2);
  if (type == PT_BOOLEAN) return 2;
  if (type & MV_FLAG) {
    std::vector<std::string> parts;
    if (!Split(p.data, &parts)) return 0;
    ULONG total = 0;
    for (const std::string& s : parts) total += static_cast<ULONG>(s.size());
    return total;
  }
  return static_cast<ULONG>(p.data.size());
}

bool Evaluate(const Row& row, const SRestriction& r) {
  switch (r.rt) {
    case RES_AND:
      for (ULONG i = 0; i < r.res.resAnd.cRes; ++i)
        if (!Evaluate(row, r.res.resAnd.lpRes[i])) return false;
      return true;
    case RES_OR:
      for (ULONG i = 0; i < r.res.resOr.cRes; ++i)
        if (Evaluate(row, r.res.resOr.lpRes[i])) return true;
      return false;
    case RES_NOT:
      return !Evaluate(row, *r.res.resNot.lpRes);
    case RES_CONTENT: {
      OwnedProp scratch, pattern;
      const OwnedProp* value = ResolveProp(row, r.res.resContent.ulPropTag, &scratch);
      if (!value) return false;
      ToOwned(*r.res.resContent.lpProp, &pattern);
      const ULONG vt = PROP_TYPE(value->tag), base = vt & ~MV_FLAG;
      OwnedProp operand = Comparable(pattern, base);
      if (PROP_TYPE(operand.tag) != base) return false;
      if (!(vt & MV_FLAG)) return ContentMatches(r.res.resContent.ulFuzzyLevel, base, value->data, operand.data);
      std::vector<std::string> parts;
      if (!Split(value->data, &parts)) return false;
      for (const std::string& part : parts)
        if (ContentMatches(r.res.resContent.ulFuzzyLevel, base, part, operand.data)) return true;
      return false;
    }
    case RES_PROPERTY: {
      OwnedProp scratch, operand;
      const OwnedProp* value = ResolveProp(row, r.res.resProperty.ulPropTag, &scratch);
      if (!value) return false;
      ToOwned(*r.res.resProperty.lpProp, &operand);
      return CompareProps(r.res.resProperty.relop, *value, Comparable(operand, PROP_TYPE(value->tag)));
    }
    case RES_COMPAREPROPS: {
      OwnedProp s1, s2;
      const OwnedProp* a = ResolveProp(row, r.res.resCompareProps.ulPropTag1, &s1);
      const OwnedProp* b = ResolveProp(row, r.res.resCompareProps.ulPropTag2, &s2);
      if (!a || !b) return false;
      return CompareProps(r.res.resCompareProps.relop, *a, Comparable(*b, PROP_TYPE(a->tag)));
    }
    case RES_BITMASK: {
      const OwnedProp* value = ResolveProp(row, r.res.resBitMask.ulPropTag, nullptr);
      if (!value) return false;
      const ULONG type = PROP_TYPE(value->tag);
      ULONG bits = 0;
      if (type == PT_LONG)
        bits = Load<uint32_t>(value->data);
      else if (type == PT_I2 || type == PT_BOOLEAN)
        bits = Load<uint16_t>(value->data);
      else
        return false;
      const bool zero = (bits & r.res.resBitMask.ulMask) == 0;
      return r.res.resBitMask.relBMR == BMR_EQZ ? zero : !zero;
    }
    case RES_SIZE: {
      OwnedProp scratch;
      const OwnedProp* value = ResolveProp(row, r.res.resSize.ulPropTag, &scratch);
      if (!value) return false;
      return Holds(r.res.resSize.relop, Order(ValueSize(*value), r.res.resSize.cb));
    }
    case RES_EXIST: {
      OwnedProp scratch;
      return ResolveProp(row, r.res.resExist.ulPropTag, &scratch) != nullptr;
    }
    default:
      return false;  // unreachable after Validate
  }
}

}  // namespace

HRESULT EvaluateRestriction(const Row& row, const SRestriction* restriction, bool* matches) {
  if (!matches) return MAPI_E_INVALID_PARAMETER;
  *matches = false;
  HRESULT hr = Validate(restriction, 1);
  if (FAILED(hr)) return hr;
  *matches = Evaluate(row, *restriction);
  return S_OK;
}

}  // namespace standin::mapi

namespace standin::mapi {

int CompareValues(const OwnedProp& a, const OwnedProp& b) {
  const ULONG at = PROP_TYPE(a.tag), bt = PROP_TYPE(b.tag);
  if (at != bt) return at < bt ? -1 : 1;
  if (CompareProps(RELOP_LT, a, b)) return -1;
  return CompareProps(RELOP_GT, a, b) ? 1 : 0;
}

}  // namespace standin::mapi
