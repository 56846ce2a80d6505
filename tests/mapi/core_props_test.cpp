// Owned property values: every type through SPropValue -> owned -> SPropValue,
// the kept encoding, and the arrays and row sets built from owned rows.
#include <mapiutil.h>
#include <standin/fault.h>

#include <cmath>
#include <cstring>
#include <string>
#include <vector>

#include "../../platform/mapi/core.h"
#include "common/fresh_root.h"

namespace {

using standin::mapi::OwnedProp;
using standin::mapi::Row;

class MapiCoreProps : public testing_support::FreshRoot {};

// Sample values for every type the stand-in keeps (the arrays live here).
short g_i2[] = {-3, 7};
LONG g_l[] = {1, -2, 0x7FFFFFFF};
float g_flt[] = {1.5f, -0.25f};
double g_dbl[] = {3.25, -1e300};
CURRENCY g_cur[] = {{.int64 = 123456789012LL}, {.int64 = -5}};
FILETIME g_ft[] = {{0x89ABCDEF, 0x01D2ABCD}, {0, 0}};
GUID g_guid[] = {{0x01020304, 0x0506, 0x0708, {9, 10, 11, 12, 13, 14, 15, 16}},
                 {0xFFFFFFFF, 0, 0xFFFF, {0, 0, 0, 0, 0, 0, 0, 1}}};
LARGE_INTEGER g_li[] = {{.QuadPart = -9000000000LL}, {.QuadPart = 42}};
char g_a0[] = "plain", g_a1[] = "", g_a2[] = "\xc3\xa9t\xc3\xa9";
LPSTR g_sa[] = {g_a0, g_a1, g_a2};
char16_t g_w0[] = u"Posteingang", g_w1[] = u"", g_w2[] = u"\u00e9\U0001F600";
LPWSTR g_sw[] = {g_w0, g_w1, g_w2};
BYTE g_b0[] = {0, 1, 2, 0, 255}, g_b1[] = {7};
SBinary g_bin[] = {{5, g_b0}, {0, nullptr}, {1, g_b1}};

std::vector<SPropValue> Samples() {
  std::vector<SPropValue> v;
  auto add = [&v](ULONG type, auto fill) {
    SPropValue p{};
    p.ulPropTag = PROP_TAG(type, 0x6600 + static_cast<ULONG>(v.size()));
    fill(p.Value);
    v.push_back(p);
  };
  add(PT_NULL, [](_PV& x) { x.x = 0; });
  add(PT_I2, [](_PV& x) { x.i = -12345; });
  add(PT_LONG, [](_PV& x) { x.l = -7; });
  add(PT_R4, [](_PV& x) { x.flt = 2.5f; });
  add(PT_DOUBLE, [](_PV& x) { x.dbl = -0.125; });
  add(PT_CURRENCY, [](_PV& x) { x.cur.int64 = 99999999999LL; });
  add(PT_APPTIME, [](_PV& x) { x.at = 45000.75; });
  add(PT_ERROR, [](_PV& x) { x.err = MAPI_E_NOT_FOUND; });
  add(PT_BOOLEAN, [](_PV& x) { x.b = 1; });
  add(PT_I8, [](_PV& x) { x.li.QuadPart = 0x0123456789ABCDEFLL; });
  add(PT_STRING8, [](_PV& x) { x.lpszA = g_a2; });
  add(PT_UNICODE, [](_PV& x) { x.lpszW = g_w2; });
  add(PT_SYSTIME, [](_PV& x) { x.ft = g_ft[0]; });
  add(PT_CLSID, [](_PV& x) { x.lpguid = &g_guid[0]; });
  add(PT_BINARY, [](_PV& x) { x.bin = g_bin[0]; });
  add(PT_BINARY, [](_PV& x) { x.bin = g_bin[1]; });
  add(PT_STRING8, [](_PV& x) { x.lpszA = g_a1; });
  add(PT_MV_I2, [](_PV& x) { x.MVi = {2, g_i2}; });
  add(PT_MV_LONG, [](_PV& x) { x.MVl = {3, g_l}; });
  add(PT_MV_R4, [](_PV& x) { x.MVflt = {2, g_flt}; });
  add(PT_MV_DOUBLE, [](_PV& x) { x.MVdbl = {2, g_dbl}; });
  add(PT_MV_CURRENCY, [](_PV& x) { x.MVcur = {2, g_cur}; });
  add(PT_MV_APPTIME, [](_PV& x) { x.MVat = {2, g_dbl}; });
  add(PT_MV_SYSTIME, [](_PV& x) { x.MVft = {2, g_ft}; });
  add(PT_MV_STRING8, [](_PV& x) { x.MVszA = {3, g_sa}; });
  add(PT_MV_BINARY, [](_PV& x) { x.MVbin = {3, g_bin}; });
  add(PT_MV_UNICODE, [](_PV& x) { x.MVszW = {3, g_sw}; });
  add(PT_MV_CLSID, [](_PV& x) { x.MVguid = {2, g_guid}; });
  add(PT_MV_I8, [](_PV& x) { x.MVli = {2, g_li}; });
  add(PT_MV_LONG, [](_PV& x) { x.MVl = {0, nullptr}; });
  return v;
}

// Deep equality of two values of one type.
::testing::AssertionResult SameValue(const SPropValue& a, const SPropValue& b) {
  if (a.ulPropTag != b.ulPropTag) return ::testing::AssertionFailure() << "tags differ";
  const ULONG type = PROP_TYPE(a.ulPropTag);
  auto fail = [&] { return ::testing::AssertionFailure() << "values of type 0x" << std::hex << type << " differ"; };
  auto same = [](const void* x, const void* y, size_t n) { return n == 0 || std::memcmp(x, y, n) == 0; };
  switch (type) {
    case PT_NULL:
      return ::testing::AssertionSuccess();
    case PT_I2:
      return a.Value.i == b.Value.i ? ::testing::AssertionSuccess() : fail();
    case PT_BOOLEAN:
      return (a.Value.b != 0) == (b.Value.b != 0) ? ::testing::AssertionSuccess() : fail();
    case PT_LONG:
    case PT_ERROR:
    case PT_R4:
      return same(&a.Value.l, &b.Value.l, 4) ? ::testing::AssertionSuccess() : fail();
    case PT_DOUBLE:
    case PT_APPTIME:
    case PT_CURRENCY:
    case PT_I8:
    case PT_SYSTIME:
      return same(&a.Value.li, &b.Value.li, 8) ? ::testing::AssertionSuccess() : fail();
    case PT_CLSID:
      return same(a.Value.lpguid, b.Value.lpguid, 16) ? ::testing::AssertionSuccess() : fail();
    case PT_STRING8:
      return std::string(a.Value.lpszA) == b.Value.lpszA ? ::testing::AssertionSuccess() : fail();
    case PT_UNICODE:
      return std::u16string(a.Value.lpszW) == b.Value.lpszW ? ::testing::AssertionSuccess() : fail();
    case PT_BINARY:
      return a.Value.bin.cb == b.Value.bin.cb && same(a.Value.bin.lpb, b.Value.bin.lpb, a.Value.bin.cb)
                 ? ::testing::AssertionSuccess()
                 : fail();
    default:
      break;
  }
  if (a.Value.MVi.cValues != b.Value.MVi.cValues) return fail() << " (counts)";
  const ULONG n = a.Value.MVi.cValues;
  for (ULONG i = 0; i < n; ++i) {
    bool ok = true;
    switch (type & ~MV_FLAG) {
      case PT_I2:
        ok = a.Value.MVi.lpi[i] == b.Value.MVi.lpi[i];
        break;
      case PT_LONG:
        ok = a.Value.MVl.lpl[i] == b.Value.MVl.lpl[i];
        break;
      case PT_R4:
        ok = same(&a.Value.MVflt.lpflt[i], &b.Value.MVflt.lpflt[i], 4);
        break;
      case PT_DOUBLE:
      case PT_APPTIME:
        ok = same(&a.Value.MVdbl.lpdbl[i], &b.Value.MVdbl.lpdbl[i], 8);
        break;
      case PT_CURRENCY:
        ok = a.Value.MVcur.lpcur[i].int64 == b.Value.MVcur.lpcur[i].int64;
        break;
      case PT_I8:
        ok = a.Value.MVli.lpli[i].QuadPart == b.Value.MVli.lpli[i].QuadPart;
        break;
      case PT_SYSTIME:
        ok = same(&a.Value.MVft.lpft[i], &b.Value.MVft.lpft[i], 8);
        break;
      case PT_CLSID:
        ok = same(&a.Value.MVguid.lpguid[i], &b.Value.MVguid.lpguid[i], 16);
        break;
      case PT_STRING8:
        ok = std::string(a.Value.MVszA.lppszA[i]) == b.Value.MVszA.lppszA[i];
        break;
      case PT_UNICODE:
        ok = std::u16string(a.Value.MVszW.lppszW[i]) == b.Value.MVszW.lppszW[i];
        break;
      case PT_BINARY:
        ok = a.Value.MVbin.lpbin[i].cb == b.Value.MVbin.lpbin[i].cb &&
             same(a.Value.MVbin.lpbin[i].lpb, b.Value.MVbin.lpbin[i].lpb, a.Value.MVbin.lpbin[i].cb);
        break;
    }
    if (!ok) return fail() << " (element " << i << ")";
  }
  return ::testing::AssertionSuccess();
}

TEST_F(MapiCoreProps, EveryTypeSurvivesTheRoundTrip) {
  for (const SPropValue& in : Samples()) {
    SCOPED_TRACE(testing::Message() << "tag 0x" << std::hex << in.ulPropTag);
    OwnedProp owned;
    ASSERT_TRUE(standin::mapi::ToOwned(in, &owned));
    EXPECT_EQ(owned.tag, in.ulPropTag);
    void* parent = nullptr;
    ASSERT_EQ(MAPIAllocateBuffer(sizeof(SPropValue), &parent), S_OK);
    auto* out = static_cast<SPropValue*>(parent);
    ASSERT_EQ(standin::mapi::ToMapi(owned, out, parent), S_OK);
    EXPECT_TRUE(SameValue(in, *out));
    // Strings come back terminated and the output does not alias the input.
    if (PROP_TYPE(in.ulPropTag) == PT_STRING8) {
      EXPECT_NE(out->Value.lpszA, in.Value.lpszA);
    }
    MAPIFreeBuffer(parent);
  }
}

TEST_F(MapiCoreProps, KeptEncodingIsTheDocumentedOne) {
  SPropValue v{};
  OwnedProp o;
  v.ulPropTag = PROP_TAG(PT_LONG, 1);
  v.Value.l = 0x01020304;
  ASSERT_TRUE(standin::mapi::ToOwned(v, &o));
  EXPECT_EQ(o.data, std::string("\x04\x03\x02\x01", 4));

  v.ulPropTag = PROP_TAG(PT_BOOLEAN, 1);
  v.Value.b = 0x55;  // any non-zero value is kept as 1
  ASSERT_TRUE(standin::mapi::ToOwned(v, &o));
  EXPECT_EQ(o.data, std::string("\x01\x00", 2));

  v.ulPropTag = PROP_TAG(PT_SYSTIME, 1);
  v.Value.ft = {0x44332211, 0x88776655};
  ASSERT_TRUE(standin::mapi::ToOwned(v, &o));
  EXPECT_EQ(o.data, std::string("\x11\x22\x33\x44\x55\x66\x77\x88", 8));

  v.ulPropTag = PROP_TAG(PT_UNICODE, 1);
  v.Value.lpszW = const_cast<LPWSTR>(u"Ab");
  ASSERT_TRUE(standin::mapi::ToOwned(v, &o));
  EXPECT_EQ(o.data, std::string("A\0b\0", 4));

  v.ulPropTag = PROP_TAG(PT_MV_BINARY, 1);
  v.Value.MVbin = {3, g_bin};
  ASSERT_TRUE(standin::mapi::ToOwned(v, &o));
  EXPECT_EQ(o.data, std::string("\x03\0\0\0"
                                "\x05\0\0\0"
                                "\0\x01\x02\0\xff"
                                "\0\0\0\0"
                                "\x01\0\0\0\x07",
                                22));

  FILETIME ft{0x44332211, 0x88776655};
  EXPECT_EQ(standin::mapi::MakeSysTime(PROP_TAG(PT_SYSTIME, 1), ft).data,
            std::string("\x11\x22\x33\x44\x55\x66\x77\x88", 8));
  EXPECT_EQ(standin::mapi::MakeLong(1, -1).data, std::string("\xff\xff\xff\xff", 4));
  EXPECT_EQ(standin::mapi::MakeBool(1, true).data, std::string("\x01\x00", 2));
  EXPECT_EQ(standin::mapi::MakeUnicode(1, u"\u00e9").data, std::string("\xe9\x00", 2));
}

TEST_F(MapiCoreProps, TypesThatCannotBeKeptAreRefused) {
  OwnedProp o;
  SPropValue v{};
  for (ULONG type : {PT_UNSPECIFIED, PT_OBJECT, ULONG{0x0099}}) {
    v.ulPropTag = PROP_TAG(type, 1);
    EXPECT_FALSE(standin::mapi::ToOwned(v, &o)) << type;
  }
  // Null pointers where a value must be.
  for (ULONG type : {PT_STRING8, PT_UNICODE, PT_CLSID, PT_MV_STRING8}) {
    v = {};
    v.ulPropTag = PROP_TAG(type, 1);
    if (type & MV_FLAG) v.Value.MVszA = {1, nullptr};
    EXPECT_FALSE(standin::mapi::ToOwned(v, &o)) << type;
  }
  v.ulPropTag = PROP_TAG(PT_BINARY, 1);
  v.Value.bin = {4, nullptr};
  EXPECT_FALSE(standin::mapi::ToOwned(v, &o));
}

TEST_F(MapiCoreProps, DamagedDataIsCorruptNotACrash) {
  void* parent = nullptr;
  ASSERT_EQ(MAPIAllocateBuffer(sizeof(SPropValue), &parent), S_OK);
  auto* out = static_cast<SPropValue*>(parent);
  const std::vector<OwnedProp> bad = {
      {PROP_TAG(PT_LONG, 1), std::string(3, '\0')},
      {PROP_TAG(PT_SYSTIME, 1), std::string(9, '\0')},
      {PROP_TAG(PT_CLSID, 1), std::string(15, '\0')},
      {PROP_TAG(PT_UNICODE, 1), std::string(3, 'a')},
      {PROP_TAG(PT_MV_LONG, 1), std::string("\xff\xff\xff\x7f", 4)},         // count far beyond the data
      {PROP_TAG(PT_MV_LONG, 1), std::string("\x01\0\0\0\x02\0\0\0ab", 10)},  // element of the wrong size
      {PROP_TAG(PT_MV_BINARY, 1), std::string("\x01\0\0\0\x09\0\0\0ab", 10)},
      {PROP_TAG(PT_MV_BINARY, 1), std::string("\x00\0\0\0junk", 8)},  // bytes after the last element
      {PROP_TAG(PT_MV_I2, 1), std::string("\x01", 1)},
  };
  for (const OwnedProp& p : bad) {
    SCOPED_TRACE(testing::Message() << "tag 0x" << std::hex << p.tag << " size " << p.data.size());
    EXPECT_EQ(standin::mapi::ToMapi(p, out, parent), MAPI_E_CORRUPT_DATA);
  }
  EXPECT_EQ(standin::mapi::ToMapi({PROP_TAG(PT_OBJECT, 1), ""}, out, parent), MAPI_E_INVALID_TYPE);
  // Variable data needs a parent block.
  EXPECT_EQ(standin::mapi::ToMapi(standin::mapi::MakeString8(PROP_TAG(PT_STRING8, 1), "x"), out, nullptr),
            MAPI_E_INVALID_PARAMETER);
  EXPECT_EQ(standin::mapi::ToMapi(standin::mapi::MakeLong(PROP_TAG(PT_LONG, 1), 5), out, nullptr), S_OK);
  EXPECT_EQ(out->Value.l, 5);
  MAPIFreeBuffer(parent);
}

Row SampleRow() {
  const BYTE id[] = {1, 2, 3};
  return {standin::mapi::MakeUnicode(PR_DISPLAY_NAME_W, u"Pers\u00f6nlich"),
          standin::mapi::MakeLong(PR_OBJECT_TYPE, MAPI_STORE), standin::mapi::MakeBinary(PR_ENTRYID, id, 3),
          standin::mapi::MakeString8(PR_SUBJECT_A, "hello")};
}

TEST_F(MapiCoreProps, PropArrayFollowsTheRequestedColumns) {
  Row row = SampleRow();
  SizedSPropTagArray(6, cols) = {
      6, {PR_ENTRYID, PR_DISPLAY_NAME_A, PR_COMMENT_W, PROP_TAG(PT_UNSPECIFIED, 0x0FFE), PR_SUBJECT_W, PR_OBJECT_TYPE}};
  ULONG count = 99;
  LPSPropValue values = nullptr;
  ASSERT_EQ(standin::mapi::BuildPropArray(row, reinterpret_cast<LPSPropTagArray>(&cols), &count, &values), S_OK);
  ASSERT_EQ(count, 6u);
  EXPECT_EQ(values[0].ulPropTag, PR_ENTRYID);
  EXPECT_EQ(values[0].Value.bin.cb, 3u);
  // The other width of a string is converted, with UTF-8 as the narrow code page.
  EXPECT_EQ(values[1].ulPropTag, PR_DISPLAY_NAME_A);
  EXPECT_STREQ(values[1].Value.lpszA, "Pers\xc3\xb6nlich");
  EXPECT_EQ(values[2].ulPropTag, CHANGE_PROP_TYPE(PR_COMMENT_W, PT_ERROR));
  EXPECT_EQ(values[2].Value.err, MAPI_E_NOT_FOUND);
  EXPECT_EQ(values[3].ulPropTag, PR_OBJECT_TYPE);  // PT_UNSPECIFIED takes the stored type
  EXPECT_EQ(values[4].ulPropTag, PR_SUBJECT_W);
  EXPECT_EQ(std::u16string(values[4].Value.lpszW), u"hello");
  EXPECT_EQ(values[5].Value.l, static_cast<LONG>(MAPI_STORE));
  MAPIFreeBuffer(values);  // one block holds everything

  ASSERT_EQ(standin::mapi::BuildPropArray(row, nullptr, &count, &values), S_OK);
  ASSERT_EQ(count, row.size());
  for (ULONG i = 0; i < count; ++i) EXPECT_EQ(values[i].ulPropTag, row[i].tag);
  MAPIFreeBuffer(values);
}

TEST_F(MapiCoreProps, ARowsValuesAndWhatTheyPointToAreOneBlock) {
  // Many short strings: each carved piece is rounded up, so the block must
  // count pieces, not only bytes.
  std::vector<std::u16string> words;
  std::vector<LPWSTR> wordPointers;
  for (int i = 0; i < 20; ++i) words.push_back(i % 5 ? std::u16string(1, static_cast<char16_t>(u'a' + i)) : u"");
  for (auto& w : words) wordPointers.push_back(reinterpret_cast<LPWSTR>(w.data()));
  BYTE one[] = {7}, none[1] = {};
  SBinary bins[] = {{1, one}, {0, none}, {1, one}};
  GUID guid{0x01020304, 5, 6, {7, 8, 9, 10, 11, 12, 13, 14}};
  SPropValue mvText{}, mvBin{}, clsid{};
  mvText.ulPropTag = PROP_TAG(PT_MV_UNICODE, 0x6001);
  mvText.Value.MVszW = {static_cast<ULONG>(wordPointers.size()), wordPointers.data()};
  mvBin.ulPropTag = PROP_TAG(PT_MV_BINARY, 0x6002);
  mvBin.Value.MVbin = {3, bins};
  clsid.ulPropTag = PROP_TAG(PT_CLSID, 0x6003);
  clsid.Value.lpguid = &guid;
  Row row = SampleRow();
  for (const SPropValue& v : {mvText, mvBin, clsid}) {
    standin::mapi::OwnedProp owned;
    ASSERT_TRUE(standin::mapi::ToOwned(v, &owned));
    row.push_back(owned);
  }
  row.push_back(standin::mapi::MakeBinary(PR_SEARCH_KEY, nullptr, 0));

  standin::ArmFault("MAPIAllocateMore", MAPI_E_NOT_ENOUGH_MEMORY, 1);  // no chained block is made
  ULONG count = 0;
  LPSPropValue values = nullptr;
  HRESULT hr = standin::mapi::BuildPropArray(row, nullptr, &count, &values);
  standin::ClearFault("MAPIAllocateMore");
  ASSERT_EQ(hr, S_OK);
  ASSERT_EQ(count, row.size());
  EXPECT_EQ(std::u16string(values[0].Value.lpszW), u"Pers\u00f6nlich");
  EXPECT_STREQ(values[3].Value.lpszA, "hello");
  ASSERT_EQ(values[4].Value.MVszW.cValues, words.size());
  for (size_t i = 0; i < words.size(); ++i) EXPECT_EQ(std::u16string(values[4].Value.MVszW.lppszW[i]), words[i]);
  ASSERT_EQ(values[5].Value.MVbin.cValues, 3u);
  EXPECT_EQ(values[5].Value.MVbin.lpbin[0].lpb[0], 7);
  EXPECT_EQ(values[5].Value.MVbin.lpbin[1].cb, 0u);
  EXPECT_EQ(values[5].Value.MVbin.lpbin[2].lpb[0], 7);
  EXPECT_EQ(std::memcmp(values[6].Value.lpguid, &guid, sizeof guid), 0);
  EXPECT_EQ(values[7].Value.bin.cb, 0u);
  MAPIFreeBuffer(values);
}

TEST_F(MapiCoreProps, FailedAllocationsLeaveNothingBehind) {
  Row row = SampleRow();
  std::vector<const Row*> rows = {&row, &row, &row};
  for (unsigned nth = 1; nth <= 6; ++nth) {
    for (const char* call : {"MAPIAllocateBuffer", "MAPIAllocateMore"}) {
      SCOPED_TRACE(testing::Message() << call << " #" << nth);
      standin::ArmFault(call, MAPI_E_NOT_ENOUGH_MEMORY, nth);
      LPSRowSet set = reinterpret_cast<LPSRowSet>(1);
      HRESULT hr = standin::mapi::BuildRowSet(rows, nullptr, &set);
      standin::ClearFault(call);
      if (FAILED(hr)) {
        EXPECT_EQ(hr, MAPI_E_NOT_ENOUGH_MEMORY);
        EXPECT_EQ(set, nullptr);
      } else {
        FreeProws(set);
      }
    }
  }
}

TEST_F(MapiCoreProps, RowSetHoldsOneBlockPerRow) {
  Row a = SampleRow(), b = {standin::mapi::MakeLong(PR_OBJECT_TYPE, 3)};
  SizedSPropTagArray(2, cols) = {2, {PR_OBJECT_TYPE, PR_DISPLAY_NAME_W}};
  LPSRowSet set = nullptr;
  ASSERT_EQ(standin::mapi::BuildRowSet({&a, &b}, reinterpret_cast<LPSPropTagArray>(&cols), &set), S_OK);
  ASSERT_EQ(set->cRows, 2u);
  EXPECT_EQ(set->aRow[1].cValues, 2u);
  EXPECT_EQ(set->aRow[1].lpProps[1].ulPropTag, CHANGE_PROP_TYPE(PR_DISPLAY_NAME_W, PT_ERROR));
  // Each row's array is a block of its own: it can be taken out and freed alone.
  LPSPropValue taken = set->aRow[0].lpProps;
  set->aRow[0].lpProps = nullptr;
  EXPECT_EQ(std::u16string(taken[1].Value.lpszW), u"Pers\u00f6nlich");
  EXPECT_EQ(MAPIFreeBuffer(taken), 0u);
  FreeProws(set);

  ASSERT_EQ(standin::mapi::BuildRowSet({}, nullptr, &set), S_OK);
  EXPECT_EQ(set->cRows, 0u);
  FreeProws(set);
}

TEST_F(MapiCoreProps, FindPropAndPpropFindPropMatchTags) {
  Row row = SampleRow();
  EXPECT_EQ(standin::mapi::FindProp(row, PR_OBJECT_TYPE), &row[1]);
  EXPECT_EQ(standin::mapi::FindProp(row, PR_DISPLAY_NAME_A), nullptr);  // exact tags only

  ULONG count = 0;
  LPSPropValue values = nullptr;
  ASSERT_EQ(standin::mapi::BuildPropArray(row, nullptr, &count, &values), S_OK);
  EXPECT_EQ(PpropFindProp(values, count, PR_ENTRYID), &values[2]);
  EXPECT_EQ(PpropFindProp(values, count, PROP_TAG(PT_UNSPECIFIED, PROP_ID(PR_SUBJECT_W))), &values[3]);
  EXPECT_EQ(PpropFindProp(values, count, PR_SUBJECT_W), nullptr);
  EXPECT_EQ(PpropFindProp(nullptr, 3, PR_ENTRYID), nullptr);
  MAPIFreeBuffer(values);
}

}  // namespace
