#include "profile_store.h"

#include <wcrt.h>

#include <cstring>
#include <random>

namespace standin::mapi::profiles {

const WCHAR kProfilesPath[] = u"Software\\Microsoft\\Windows NT\\CurrentVersion\\Windows Messaging Subsystem\\Profiles";
const WCHAR kDefaultProfileValue[] = u"DefaultProfile";
// The subsystem's own section for the profile's message service list.
const MAPIUID kServiceListSection = {
    {0x92, 0x07, 0xf3, 0xe0, 0xa3, 0xb1, 0x10, 0x19, 0x90, 0x8b, 0x08, 0x00, 0x2b, 0x2a, 0x56, 0xc2}};

namespace {

std::u16string ProfilePath(const std::u16string& profile) { return std::u16string(kProfilesPath) + u"\\" + profile; }
std::u16string SectionPath(const std::u16string& profile, const MAPIUID& uid) {
  return ProfilePath(profile) + u"\\" + UidHex(uid);
}

bool IsString(ULONG type) { return type == PT_UNICODE || type == PT_STRING8; }

}  // namespace

void RegKey::Reset() {
  if (key_) (void)RegCloseKey(key_);  // a close that fails leaves nothing to undo
  key_ = nullptr;
}

HRESULT FromRegistry(LSTATUS status) {
  switch (status) {
    case ERROR_SUCCESS:
      return S_OK;
    case ERROR_FILE_NOT_FOUND:
      return MAPI_E_NOT_FOUND;
    case ERROR_ACCESS_DENIED:
      return MAPI_E_NO_ACCESS;
    default:
      return MAPI_E_CALL_FAILED;
  }
}

std::u16string UidHex(const MAPIUID& uid) {
  static const char kDigits[] = "0123456789abcdef";
  std::u16string out;
  for (BYTE b : uid.ab) {
    out += static_cast<char16_t>(kDigits[b >> 4]);
    out += static_cast<char16_t>(kDigits[b & 15]);
  }
  return out;
}

MAPIUID NewUid() {
  static thread_local std::mt19937_64 engine{std::random_device{}()};
  MAPIUID uid;
  for (int i = 0; i < 16; i += 8) {
    uint64_t v = engine();
    std::memcpy(uid.ab + i, &v, 8);
  }
  return uid;
}

MAPIUID UidFromBytes(const std::string& bytes, size_t offset) {
  MAPIUID uid{};
  if (bytes.size() >= offset + 16) std::memcpy(uid.ab, bytes.data() + offset, 16);
  return uid;
}

std::string UidBytes(const MAPIUID& uid) { return std::string(reinterpret_cast<const char*>(uid.ab), 16); }

std::u16string ValueNameOf(ULONG tag) {
  static const char kDigits[] = "0123456789abcdef";
  ULONG swapped = (PROP_TYPE(tag) << 16) | PROP_ID(tag);
  std::u16string out(8, u'0');
  for (int i = 7; i >= 0; --i, swapped >>= 4)
    out[static_cast<size_t>(i)] = static_cast<char16_t>(kDigits[swapped & 15]);
  return out;
}

bool ParseValueName(std::u16string_view name, ULONG* tag) {
  if (name.size() != 8) return false;
  ULONG v = 0;
  for (char16_t c : name) {
    int d;
    if (c >= u'0' && c <= u'9')
      d = c - u'0';
    else if (c >= u'a' && c <= u'f')
      d = c - u'a' + 10;
    else if (c >= u'A' && c <= u'F')
      d = c - u'A' + 10;
    else
      return false;
    v = (v << 4) | static_cast<ULONG>(d);
  }
  *tag = PROP_TAG(v >> 16, v & 0xFFFF);
  return true;
}

std::string EncodeValue(const OwnedProp& prop) {
  std::string data = prop.data;
  if (PROP_TYPE(prop.tag) == PT_UNICODE) data.append(2, '\0');
  if (PROP_TYPE(prop.tag) == PT_STRING8) data.push_back('\0');
  return data;
}

bool DecodeValue(ULONG tag, const std::string& data, OwnedProp* out) {
  out->tag = tag;
  out->data = data;
  ULONG type = PROP_TYPE(tag);
  if (type == PT_UNICODE) {
    if (data.size() % 2 != 0) return false;
    // Up to the first null unit: the stored terminator and anything after it.
    for (size_t i = 0; i + 1 < data.size(); i += 2)
      if (data[i] == 0 && data[i + 1] == 0) {
        out->data.resize(i);
        break;
      }
  } else if (type == PT_STRING8) {
    size_t nul = data.find('\0');
    if (nul != std::string::npos) out->data.resize(nul);
  } else if (type == PT_LONG || type == PT_ERROR) {
    return data.size() == 4;
  } else if (type == PT_BOOLEAN || type == PT_I2) {
    return data.size() == 2;
  }
  return true;
}

std::u16string NameArg(const WCHAR* name, ULONG flags) {
  if (!name) return {};
  if (flags & MAPI_UNICODE) return name;
  return standin::ToUtf16(reinterpret_cast<const char*>(name));
}

bool ValidProfileName(std::u16string_view name) {
  if (name.empty() || name.size() > 64) return false;
  for (char16_t c : name)
    if (c == u'\\' || c < 0x20) return false;
  return true;
}

HRESULT ListProfiles(std::vector<std::u16string>* names) {
  names->clear();
  RegKey key;
  LSTATUS st = RegOpenKeyExW(HKEY_CURRENT_USER, kProfilesPath, 0, KEY_READ, key.put());
  if (st == ERROR_FILE_NOT_FOUND) return S_OK;
  if (st != ERROR_SUCCESS) return FromRegistry(st);
  for (DWORD i = 0;; ++i) {
    WCHAR name[256];
    DWORD len = 256;
    st = RegEnumKeyExW(key.get(), i, name, &len, nullptr, nullptr, nullptr, nullptr);
    if (st == ERROR_NO_MORE_ITEMS) break;
    if (st != ERROR_SUCCESS) return FromRegistry(st);
    names->emplace_back(name, len);
  }
  return S_OK;
}

HRESULT ProfileExists(const std::u16string& name) {
  if (!ValidProfileName(name)) return MAPI_E_NOT_FOUND;
  RegKey key;
  return FromRegistry(RegOpenKeyExW(HKEY_CURRENT_USER, ProfilePath(name).c_str(), 0, KEY_READ, key.put()));
}

HRESULT CreateProfile(const std::u16string& name) {
  if (!ValidProfileName(name)) return MAPI_E_INVALID_PARAMETER;
  RegKey key;
  DWORD disposition = 0;
  LSTATUS st = RegCreateKeyExW(HKEY_CURRENT_USER, ProfilePath(name).c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr,
                               key.put(), &disposition);
  // MAPI_E_NO_ACCESS means "exists" to callers: a refused write must not look like it.
  if (st != ERROR_SUCCESS) return MAPI_E_CALL_FAILED;
  if (disposition == REG_OPENED_EXISTING_KEY) return MAPI_E_NO_ACCESS;
  return S_OK;
}

HRESULT DeleteProfile(const std::u16string& name) {
  HRESULT hr = ProfileExists(name);
  if (FAILED(hr)) return hr;
  std::u16string current;
  hr = GetDefaultProfile(&current);
  if (FAILED(hr)) return hr;
  RegKey profiles;
  LSTATUS st = RegOpenKeyExW(HKEY_CURRENT_USER, kProfilesPath, 0, KEY_ALL_ACCESS, profiles.put());
  if (st != ERROR_SUCCESS) return FromRegistry(st);
  st = RegDeleteTreeW(profiles.get(), name.c_str());
  if (st != ERROR_SUCCESS) return FromRegistry(st);
  st = RegDeleteKeyW(profiles.get(), name.c_str());
  if (st != ERROR_SUCCESS && st != ERROR_FILE_NOT_FOUND) return FromRegistry(st);
  if (!current.empty() && standin::CompareNoCase(current, name) == 0) {
    st = RegDeleteValueW(profiles.get(), kDefaultProfileValue);
    if (st != ERROR_SUCCESS && st != ERROR_FILE_NOT_FOUND) return FromRegistry(st);
  }
  return S_OK;
}

HRESULT GetDefaultProfile(std::u16string* name) {
  name->clear();
  RegKey key;
  LSTATUS st = RegOpenKeyExW(HKEY_CURRENT_USER, kProfilesPath, 0, KEY_READ, key.put());
  if (st == ERROR_FILE_NOT_FOUND) return S_OK;
  if (st != ERROR_SUCCESS) return FromRegistry(st);
  DWORD type = 0, size = 0;
  st = RegQueryValueExW(key.get(), kDefaultProfileValue, nullptr, &type, nullptr, &size);
  if (st == ERROR_FILE_NOT_FOUND) return S_OK;
  if (st != ERROR_SUCCESS) return FromRegistry(st);
  if (type != REG_SZ || size < 2) return S_OK;
  std::u16string value(size / 2, u'\0');
  st = RegQueryValueExW(key.get(), kDefaultProfileValue, nullptr, &type, reinterpret_cast<BYTE*>(value.data()), &size);
  if (st != ERROR_SUCCESS) return FromRegistry(st);
  value.resize(std::char_traits<char16_t>::length(value.c_str()));
  if (ProfileExists(value) == S_OK) *name = value;
  return S_OK;
}

HRESULT SetDefaultProfile(const std::u16string& name) {
  RegKey key;
  LSTATUS st = RegOpenKeyExW(HKEY_CURRENT_USER, kProfilesPath, 0, KEY_SET_VALUE, key.put());
  if (st != ERROR_SUCCESS) return FromRegistry(st);
  if (name.empty()) {
    st = RegDeleteValueW(key.get(), kDefaultProfileValue);
    return st == ERROR_FILE_NOT_FOUND ? S_OK : FromRegistry(st);
  }
  HRESULT hr = ProfileExists(name);
  if (FAILED(hr)) return hr;
  return FromRegistry(RegSetValueExW(key.get(), kDefaultProfileValue, 0, REG_SZ,
                                     reinterpret_cast<const BYTE*>(name.c_str()),
                                     static_cast<DWORD>((name.size() + 1) * 2)));
}

HRESULT SectionExists(const std::u16string& profile, const MAPIUID& uid) {
  RegKey key;
  return FromRegistry(RegOpenKeyExW(HKEY_CURRENT_USER, SectionPath(profile, uid).c_str(), 0, KEY_READ, key.put()));
}

HRESULT ReadSection(const std::u16string& profile, const MAPIUID& uid, Row* props) {
  props->clear();
  RegKey key;
  LSTATUS st = RegOpenKeyExW(HKEY_CURRENT_USER, SectionPath(profile, uid).c_str(), 0, KEY_READ, key.put());
  if (st != ERROR_SUCCESS) return FromRegistry(st);
  DWORD maxName = 0, maxData = 0;
  st = RegQueryInfoKeyW(key.get(), nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, &maxName, &maxData,
                        nullptr, nullptr);
  if (st != ERROR_SUCCESS) return FromRegistry(st);
  std::u16string name(maxName + 1, u'\0');
  std::string data(maxData + 1, '\0');
  for (DWORD i = 0;; ++i) {
    DWORD nameLen = maxName + 1, dataLen = maxData + 1, type = 0;
    st = RegEnumValueW(key.get(), i, name.data(), &nameLen, nullptr, &type, reinterpret_cast<BYTE*>(data.data()),
                       &dataLen);
    if (st == ERROR_NO_MORE_ITEMS) break;
    if (st != ERROR_SUCCESS) return FromRegistry(st);
    ULONG tag = 0;
    OwnedProp prop;
    // Values that are not properties (written by someone else) are not ours.
    if (type != REG_BINARY || !ParseValueName(std::u16string_view(name.data(), nameLen), &tag)) continue;
    if (!DecodeValue(tag, data.substr(0, dataLen), &prop)) continue;
    props->push_back(std::move(prop));
  }
  return S_OK;
}

HRESULT WriteSection(const std::u16string& profile, const MAPIUID& uid, const Row& props) {
  RegKey key;
  LSTATUS st = RegCreateKeyExW(HKEY_CURRENT_USER, SectionPath(profile, uid).c_str(), 0, nullptr, 0, KEY_ALL_ACCESS,
                               nullptr, key.put(), nullptr);
  if (st != ERROR_SUCCESS) return FromRegistry(st);
  for (const OwnedProp& prop : props) {
    ULONG type = PROP_TYPE(prop.tag);
    if (IsString(type)) {
      ULONG other = PROP_TAG(type == PT_UNICODE ? PT_STRING8 : PT_UNICODE, PROP_ID(prop.tag));
      st = RegDeleteValueW(key.get(), ValueNameOf(other).c_str());
      if (st != ERROR_SUCCESS && st != ERROR_FILE_NOT_FOUND) return FromRegistry(st);
    }
    std::string data = EncodeValue(prop);
    st = RegSetValueExW(key.get(), ValueNameOf(prop.tag).c_str(), 0, REG_BINARY,
                        reinterpret_cast<const BYTE*>(data.data()), static_cast<DWORD>(data.size()));
    if (st != ERROR_SUCCESS) return FromRegistry(st);
  }
  return S_OK;
}

HRESULT DeleteSectionProps(const std::u16string& profile, const MAPIUID& uid, const std::vector<ULONG>& tags) {
  RegKey key;
  LSTATUS st = RegOpenKeyExW(HKEY_CURRENT_USER, SectionPath(profile, uid).c_str(), 0, KEY_ALL_ACCESS, key.put());
  if (st != ERROR_SUCCESS) return FromRegistry(st);
  for (ULONG tag : tags) {
    st = RegDeleteValueW(key.get(), ValueNameOf(tag).c_str());
    if (st != ERROR_SUCCESS && st != ERROR_FILE_NOT_FOUND) return FromRegistry(st);
  }
  return S_OK;
}

HRESULT DeleteSection(const std::u16string& profile, const MAPIUID& uid) {
  RegKey key;
  LSTATUS st = RegOpenKeyExW(HKEY_CURRENT_USER, ProfilePath(profile).c_str(), 0, KEY_ALL_ACCESS, key.put());
  if (st != ERROR_SUCCESS) return FromRegistry(st);
  std::u16string name = UidHex(uid);
  st = RegDeleteTreeW(key.get(), name.c_str());
  if (st != ERROR_SUCCESS && st != ERROR_FILE_NOT_FOUND) return FromRegistry(st);
  st = RegDeleteKeyW(key.get(), name.c_str());
  if (st != ERROR_SUCCESS && st != ERROR_FILE_NOT_FOUND) return FromRegistry(st);
  return S_OK;
}

std::optional<std::u16string> RowText(const Row& row, ULONG id) {
  if (const OwnedProp* w = FindProp(row, PROP_TAG(PT_UNICODE, id))) {
    std::u16string text(w->data.size() / 2, u'\0');
    std::memcpy(text.data(), w->data.data(), text.size() * 2);
    return text;
  }
  if (const OwnedProp* a = FindProp(row, PROP_TAG(PT_STRING8, id))) return standin::ToUtf16(a->data);
  return std::nullopt;
}

std::optional<LONG> RowLong(const Row& row, ULONG tag) {
  const OwnedProp* p = FindProp(row, tag);
  if (!p || p->data.size() != 4) return std::nullopt;
  LONG v;
  std::memcpy(&v, p->data.data(), 4);
  return v;
}

std::vector<MAPIUID> RowUidList(const Row& row, ULONG tag) {
  std::vector<MAPIUID> uids;
  const OwnedProp* p = FindProp(row, tag);
  if (!p) return uids;
  for (size_t off = 0; off + 16 <= p->data.size(); off += 16) uids.push_back(UidFromBytes(p->data, off));
  return uids;
}

OwnedProp MakeUidList(ULONG tag, const std::vector<MAPIUID>& uids) {
  OwnedProp p;
  p.tag = tag;
  for (const MAPIUID& uid : uids) p.data += UidBytes(uid);
  return p;
}

Row WithBothStringForms(const Row& row) {
  Row out = row;
  for (const OwnedProp& p : row) {
    ULONG type = PROP_TYPE(p.tag);
    if (!IsString(type)) continue;
    ULONG other = PROP_TAG(type == PT_UNICODE ? PT_STRING8 : PT_UNICODE, PROP_ID(p.tag));
    if (FindProp(row, other)) continue;
    std::optional<std::u16string> text = RowText(row, PROP_ID(p.tag));
    if (type == PT_UNICODE)
      out.push_back(MakeString8(other, standin::ToUtf8(*text)));
    else
      out.push_back(MakeUnicode(other, *text));
  }
  return out;
}

}  // namespace standin::mapi::profiles
