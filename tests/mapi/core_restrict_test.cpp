// The restriction evaluator: a table of cases over one row, the profile-table
// shape the library uses (RES_OR of RES_PROPERTY), malformed trees and depth.
#include <mapiutil.h>

#include <string>
#include <vector>

#include "../../platform/mapi/core.h"
#include "common/fresh_root.h"

namespace {

using standin::mapi::Row;

class MapiCoreRestrict : public testing_support::FreshRoot {};

const ULONG kTagMv = PROP_TAG(PT_MV_UNICODE, 0x6701);
const ULONG kTagFlags = PROP_TAG(PT_LONG, 0x6702);
const ULONG kTagMissing = PROP_TAG(PT_LONG, 0x6703);
const ULONG kTagBin = PROP_TAG(PT_BINARY, 0x6704);
const ULONG kTagOther = PROP_TAG(PT_LONG, 0x6705);

Row TestRow() {
  const BYTE bin[] = {1, 2, 3, 4};
  char16_t a[] = u"Work", b[] = u"Home";
  LPWSTR list[] = {a, b};
  SPropValue mv{};
  mv.ulPropTag = kTagMv;
  mv.Value.MVszW = {2, list};
  standin::mapi::OwnedProp mvOwned;
  EXPECT_TRUE(standin::mapi::ToOwned(mv, &mvOwned));
  return {standin::mapi::MakeUnicode(PR_DISPLAY_NAME_W, u"Outlook Profile"),
          standin::mapi::MakeLong(kTagFlags, 0x0C),
          standin::mapi::MakeLong(kTagOther, 12),
          standin::mapi::MakeBool(PR_HASATTACH, true),
          standin::mapi::MakeBinary(kTagBin, bin, sizeof bin),
          standin::mapi::MakeSysTime(PR_CLIENT_SUBMIT_TIME, FILETIME{100, 1}),
          mvOwned};
}

// Restriction builders; the values live in a pool the case keeps.
struct Pool {
  std::vector<std::unique_ptr<SPropValue>> values;
  std::vector<std::unique_ptr<std::u16string>> wide;
  std::vector<std::unique_ptr<std::string>> narrow;
  std::vector<std::unique_ptr<std::vector<SRestriction>>> lists;
  std::vector<std::unique_ptr<SRestriction>> singles;

  LPSPropValue Long(ULONG tag, LONG v) {
    values.push_back(std::make_unique<SPropValue>());
    values.back()->ulPropTag = tag;
    values.back()->Value.l = v;
    return values.back().get();
  }
  LPSPropValue Wide(ULONG tag, std::u16string s) {
    wide.push_back(std::make_unique<std::u16string>(std::move(s)));
    values.push_back(std::make_unique<SPropValue>());
    values.back()->ulPropTag = tag;
    values.back()->Value.lpszW = wide.back()->data();
    return values.back().get();
  }
  LPSPropValue Narrow(ULONG tag, std::string s) {
    narrow.push_back(std::make_unique<std::string>(std::move(s)));
    values.push_back(std::make_unique<SPropValue>());
    values.back()->ulPropTag = tag;
    values.back()->Value.lpszA = narrow.back()->data();
    return values.back().get();
  }
  LPSPropValue Bin(ULONG tag, std::string bytes) {
    narrow.push_back(std::make_unique<std::string>(std::move(bytes)));
    values.push_back(std::make_unique<SPropValue>());
    values.back()->ulPropTag = tag;
    values.back()->Value.bin = {static_cast<ULONG>(narrow.back()->size()),
                                reinterpret_cast<LPBYTE>(narrow.back()->data())};
    return values.back().get();
  }
  SRestriction Prop(ULONG relop, ULONG tag, LPSPropValue v) {
    SRestriction r{};
    r.rt = RES_PROPERTY;
    r.res.resProperty = {relop, tag, v};
    return r;
  }
  SRestriction Content(ULONG fuzzy, ULONG tag, LPSPropValue v) {
    SRestriction r{};
    r.rt = RES_CONTENT;
    r.res.resContent = {fuzzy, tag, v};
    return r;
  }
  SRestriction List(ULONG rt, std::vector<SRestriction> subs) {
    lists.push_back(std::make_unique<std::vector<SRestriction>>(std::move(subs)));
    SRestriction r{};
    r.rt = rt;
    r.res.resAnd = {static_cast<ULONG>(lists.back()->size()), lists.back()->data()};
    return r;
  }
  SRestriction Not(SRestriction sub) {
    singles.push_back(std::make_unique<SRestriction>(sub));
    SRestriction r{};
    r.rt = RES_NOT;
    r.res.resNot = {0, singles.back().get()};
    return r;
  }
};

SRestriction Exist(ULONG tag) {
  SRestriction r{};
  r.rt = RES_EXIST;
  r.res.resExist = {0, tag, 0};
  return r;
}
SRestriction BitMask(ULONG rel, ULONG tag, ULONG mask) {
  SRestriction r{};
  r.rt = RES_BITMASK;
  r.res.resBitMask = {rel, tag, mask};
  return r;
}
SRestriction Size(ULONG relop, ULONG tag, ULONG cb) {
  SRestriction r{};
  r.rt = RES_SIZE;
  r.res.resSize = {relop, tag, cb};
  return r;
}
SRestriction CompareProps(ULONG relop, ULONG a, ULONG b) {
  SRestriction r{};
  r.rt = RES_COMPAREPROPS;
  r.res.resCompareProps = {relop, a, b};
  return r;
}

TEST_F(MapiCoreRestrict, CasesOverOneRow) {
  Pool p;
  const Row row = TestRow();
  struct Case {
    const char* what;
    SRestriction r;
    bool expected;
  };
  const Case cases[] = {
      {"EQ long", p.Prop(RELOP_EQ, kTagOther, p.Long(kTagOther, 12)), true},
      {"NE long", p.Prop(RELOP_NE, kTagOther, p.Long(kTagOther, 12)), false},
      {"LT long", p.Prop(RELOP_LT, kTagOther, p.Long(kTagOther, 13)), true},
      {"LE long", p.Prop(RELOP_LE, kTagOther, p.Long(kTagOther, 12)), true},
      {"GT long", p.Prop(RELOP_GT, kTagOther, p.Long(kTagOther, 12)), false},
      {"GE long", p.Prop(RELOP_GE, kTagOther, p.Long(kTagOther, -5)), true},
      {"missing EQ", p.Prop(RELOP_EQ, kTagMissing, p.Long(kTagMissing, 0)), false},
      {"missing NE", p.Prop(RELOP_NE, kTagMissing, p.Long(kTagMissing, 0)), false},
      {"NOT missing NE", p.Not(p.Prop(RELOP_NE, kTagMissing, p.Long(kTagMissing, 0))), true},
      {"EQ unicode", p.Prop(RELOP_EQ, PR_DISPLAY_NAME_W, p.Wide(PR_DISPLAY_NAME_W, u"Outlook Profile")), true},
      {"EQ unicode, case differs", p.Prop(RELOP_EQ, PR_DISPLAY_NAME_W, p.Wide(PR_DISPLAY_NAME_W, u"outlook profile")),
       false},
      {"EQ narrow against wide", p.Prop(RELOP_EQ, PR_DISPLAY_NAME_A, p.Narrow(PR_DISPLAY_NAME_A, "Outlook Profile")),
       true},
      {"EQ narrow value on wide tag",
       p.Prop(RELOP_EQ, PR_DISPLAY_NAME_W, p.Narrow(PR_DISPLAY_NAME_A, "Outlook Profile")), true},
      {"LT unicode", p.Prop(RELOP_LT, PR_DISPLAY_NAME_W, p.Wide(PR_DISPLAY_NAME_W, u"P")), true},
      {"EQ binary", p.Prop(RELOP_EQ, kTagBin, p.Bin(kTagBin, std::string("\1\2\3\4", 4))), true},
      {"binary: shorter sorts first", p.Prop(RELOP_GT, kTagBin, p.Bin(kTagBin, std::string("\xff\xff\xff", 3))), true},
      {"type mismatch", p.Prop(RELOP_EQ, kTagOther, p.Wide(PROP_TAG(PT_UNICODE, 0x6705), u"12")), false},
      {"MV any value", p.Prop(RELOP_EQ, kTagMv, p.Wide(PROP_TAG(PT_UNICODE, 0x6701), u"Home")), true},
      {"MV no value", p.Prop(RELOP_EQ, kTagMv, p.Wide(PROP_TAG(PT_UNICODE, 0x6701), u"Away")), false},
      {"content full", p.Content(FL_FULLSTRING, PR_DISPLAY_NAME_W, p.Wide(PR_DISPLAY_NAME_W, u"Outlook Profile")),
       true},
      {"content substring, case", p.Content(FL_SUBSTRING, PR_DISPLAY_NAME_W, p.Wide(PR_DISPLAY_NAME_W, u"PROF")),
       false},
      {"content substring, ignorecase",
       p.Content(FL_SUBSTRING | FL_IGNORECASE, PR_DISPLAY_NAME_W, p.Wide(PR_DISPLAY_NAME_W, u"PROF")), true},
      {"content prefix", p.Content(FL_PREFIX, PR_DISPLAY_NAME_W, p.Wide(PR_DISPLAY_NAME_W, u"Outl")), true},
      {"content prefix not at start", p.Content(FL_PREFIX, PR_DISPLAY_NAME_W, p.Wide(PR_DISPLAY_NAME_W, u"look")),
       false},
      {"content narrow pattern",
       p.Content(FL_SUBSTRING | FL_IGNORECASE, PR_DISPLAY_NAME_A, p.Narrow(PR_DISPLAY_NAME_A, "file")), true},
      {"content binary", p.Content(FL_SUBSTRING, kTagBin, p.Bin(kTagBin, std::string("\2\3", 2))), true},
      {"content MV", p.Content(FL_PREFIX | FL_IGNORECASE, kTagMv, p.Wide(PROP_TAG(PT_UNICODE, 0x6701), u"wo")), true},
      {"content missing", p.Content(FL_SUBSTRING, PR_COMMENT_W, p.Wide(PR_COMMENT_W, u"")), false},
      {"exist", Exist(PR_HASATTACH), true},
      {"exist other width", Exist(PR_DISPLAY_NAME_A), true},
      {"exist any type", Exist(PROP_TAG(PT_UNSPECIFIED, PROP_ID(kTagBin))), true},
      {"exist missing", Exist(kTagMissing), false},
      {"bitmask NEZ", BitMask(BMR_NEZ, kTagFlags, 0x04), true},
      {"bitmask EQZ", BitMask(BMR_EQZ, kTagFlags, 0x03), true},
      {"bitmask NEZ off", BitMask(BMR_NEZ, kTagFlags, 0x01), false},
      {"bitmask missing", BitMask(BMR_EQZ, kTagMissing, 0x01), false},
      {"size binary", Size(RELOP_EQ, kTagBin, 4), true},
      {"size unicode with terminator", Size(RELOP_EQ, PR_DISPLAY_NAME_W, 32), true},
      {"size missing", Size(RELOP_GE, kTagMissing, 0), false},
      {"compareprops EQ", CompareProps(RELOP_EQ, kTagFlags, kTagOther), true},
      {"compareprops missing", CompareProps(RELOP_NE, kTagFlags, kTagMissing), false},
      {"empty AND", p.List(RES_AND, {}), true},
      {"empty OR", p.List(RES_OR, {}), false},
      {"AND", p.List(RES_AND, {Exist(PR_HASATTACH), Exist(kTagMissing)}), false},
      {"OR", p.List(RES_OR, {Exist(kTagMissing), Exist(PR_HASATTACH)}), true},
      {"time GE",
       p.Prop(RELOP_GE, PR_CLIENT_SUBMIT_TIME,
              [&p] {
                LPSPropValue v = p.Long(PR_CLIENT_SUBMIT_TIME, 0);
                v->Value.ft = FILETIME{0xFFFFFFFF, 0};  // earlier: the high part decides
                return v;
              }()),
       true},
  };
  for (const Case& c : cases) {
    bool matches = !c.expected;
    ASSERT_EQ(standin::mapi::EvaluateRestriction(row, &c.r, &matches), S_OK) << c.what;
    EXPECT_EQ(matches, c.expected) << c.what;
  }
}

TEST_F(MapiCoreRestrict, ProfileTableLookupByEitherName) {
  // The library finds profiles with RES_OR of RES_PROPERTY on PR_DISPLAY_NAME.
  Pool p;
  SRestriction either = p.List(RES_OR, {p.Prop(RELOP_EQ, PR_DISPLAY_NAME_A, p.Narrow(PR_DISPLAY_NAME_A, "Outlook")),
                                        p.Prop(RELOP_EQ, PR_DISPLAY_NAME_A, p.Narrow(PR_DISPLAY_NAME_A, "Backup"))});
  const std::vector<std::pair<std::u16string, bool>> names = {
      {u"Outlook", true}, {u"Backup", true}, {u"Outlook2", false}, {u"", false}};
  for (const auto& [name, expected] : names) {
    Row row = {standin::mapi::MakeUnicode(PR_DISPLAY_NAME_W, name), standin::mapi::MakeBool(PR_DEFAULT_PROFILE, true)};
    bool matches = !expected;
    ASSERT_EQ(standin::mapi::EvaluateRestriction(row, &either, &matches), S_OK);
    EXPECT_EQ(matches, expected) << standin::ToUtf8(name);
  }
}

TEST_F(MapiCoreRestrict, NestingBeyondTheLimitIsTooComplex) {
  Pool p;
  auto chain = [&p](int depth) {
    SRestriction r = Exist(PR_HASATTACH);
    for (int i = 1; i < depth; ++i) r = p.Not(r);
    return r;
  };
  const Row row = TestRow();
  bool matches = false;
  SRestriction ok = chain(64);
  EXPECT_EQ(standin::mapi::EvaluateRestriction(row, &ok, &matches), S_OK);
  EXPECT_FALSE(matches);  // 63 negations of true
  SRestriction deep = chain(65);
  matches = true;
  EXPECT_EQ(standin::mapi::EvaluateRestriction(row, &deep, &matches), MAPI_E_TOO_COMPLEX);
  EXPECT_FALSE(matches);
  // Depth counts through AND/OR too.
  SRestriction wrapped = p.List(RES_OR, {Exist(kTagMissing), chain(64)});
  EXPECT_EQ(standin::mapi::EvaluateRestriction(row, &wrapped, &matches), MAPI_E_TOO_COMPLEX);
}

TEST_F(MapiCoreRestrict, MalformedTreesFailWhateverTheRowHolds) {
  Pool p;
  const Row row = TestRow();
  bool matches = false;
  std::vector<std::pair<SRestriction, HRESULT>> bad;
  bad.push_back({p.Prop(RELOP_EQ, kTagOther, nullptr), MAPI_E_INVALID_PARAMETER});
  bad.push_back({p.Prop(42, kTagOther, p.Long(kTagOther, 1)), MAPI_E_INVALID_PARAMETER});
  bad.push_back({p.Content(FL_SUBSTRING, kTagOther, p.Long(kTagOther, 1)), MAPI_E_INVALID_PARAMETER});
  bad.push_back({BitMask(7, kTagFlags, 1), MAPI_E_INVALID_PARAMETER});
  SRestriction unknown{};
  unknown.rt = 0x99;
  bad.push_back({unknown, MAPI_E_TOO_COMPLEX});
  SRestriction sub{};
  sub.rt = RES_SUBRESTRICTION;
  bad.push_back({sub, MAPI_E_TOO_COMPLEX});
  SRestriction nullList{};
  nullList.rt = RES_AND;
  nullList.res.resAnd = {2, nullptr};
  bad.push_back({nullList, MAPI_E_INVALID_PARAMETER});
  // A bad branch after one that already decides is still found.
  bad.push_back(
      {p.List(RES_OR, {Exist(PR_HASATTACH), p.Prop(RELOP_EQ, kTagOther, nullptr)}), MAPI_E_INVALID_PARAMETER});
  for (const auto& [r, code] : bad) {
    EXPECT_EQ(standin::mapi::EvaluateRestriction(row, &r, &matches), code) << "rt " << r.rt;
    EXPECT_EQ(standin::mapi::EvaluateRestriction(Row{}, &r, &matches), code) << "rt " << r.rt;
  }
  EXPECT_EQ(standin::mapi::EvaluateRestriction(row, nullptr, &matches), MAPI_E_INVALID_PARAMETER);
}

}  // namespace
