#include "regtree.h"

#include <algorithm>

#include <wcrt.h>

#include "owners/ScopedOwner.h"

namespace regedit {

namespace {

struct Root {
  const char16_t* name;
  HKEY key;
};

const std::vector<Root>& Roots() {
  static const std::vector<Root> roots = {
      {u"HKEY_CLASSES_ROOT", HKEY_CLASSES_ROOT}, {u"HKEY_CURRENT_USER", HKEY_CURRENT_USER},
      {u"HKEY_LOCAL_MACHINE", HKEY_LOCAL_MACHINE}, {u"HKEY_USERS", HKEY_USERS},
      {u"HKEY_CURRENT_CONFIG", HKEY_CURRENT_CONFIG},
  };
  return roots;
}

std::string U(std::u16string_view text) { return standin::ToUtf8(text); }

std::string Error(LONG rc) { return "error " + std::to_string(rc); }

struct KeyContents {
  std::vector<std::pair<std::u16string, std::pair<DWORD, std::string>>> values;
  std::vector<std::u16string> subkeys;
};

// Everything of one key, read before any of it is written, so that a key
// that fails half way leaves nothing of itself in the export.
LONG ReadKey(HKEY root, const std::u16string& path, KeyContents* out) {
  CScopedRegKey key;
  LONG rc = RegOpenKeyExW(root, path.empty() ? nullptr : path.c_str(), 0, KEY_READ, key.Put());
  if (rc != ERROR_SUCCESS) return rc;
  DWORD maxData = 0;
  rc = RegQueryInfoKeyW(key.Get(), nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, &maxData,
                        nullptr, nullptr);
  if (rc != ERROR_SUCCESS) return rc;

  // Names have fixed limits; data grows when a value outgrows what the key
  // reported (another process may write meanwhile).
  std::vector<WCHAR> name(16384);
  std::string data(maxData + 1, '\0');
  for (DWORD i = 0;;) {
    DWORD nameLen = static_cast<DWORD>(name.size()), dataLen = static_cast<DWORD>(data.size()), type = 0;
    rc = RegEnumValueW(key.Get(), i, name.data(), &nameLen, nullptr, &type, reinterpret_cast<BYTE*>(data.data()),
                       &dataLen);
    if (rc == ERROR_NO_MORE_ITEMS) break;
    if (rc == ERROR_MORE_DATA && dataLen > data.size()) {
      data.resize(dataLen);
      continue;
    }
    if (rc != ERROR_SUCCESS) return rc;
    out->values.push_back({std::u16string(name.data(), nameLen), {type, data.substr(0, dataLen)}});
    ++i;
  }
  for (DWORD i = 0;; ++i) {
    DWORD nameLen = static_cast<DWORD>(name.size());
    rc = RegEnumKeyExW(key.Get(), i, name.data(), &nameLen, nullptr, nullptr, nullptr, nullptr);
    if (rc == ERROR_NO_MORE_ITEMS) break;
    if (rc != ERROR_SUCCESS) return rc;
    out->subkeys.emplace_back(name.data(), nameLen);
  }
  return ERROR_SUCCESS;
}

}  // namespace

bool SplitRootName(std::u16string_view fullName, HKEY* root, std::u16string* rootName, std::u16string* path) {
  size_t sep = fullName.find(u'\\');
  std::u16string_view first = fullName.substr(0, sep);
  for (const Root& r : Roots()) {
    if (standin::CompareNoCase(first, r.name) != 0) continue;
    *root = r.key;
    *rootName = r.name;
    path->assign(sep == std::u16string_view::npos ? std::u16string_view() : fullName.substr(sep + 1));
    return true;
  }
  return false;
}

unsigned ApplyRegScript(const RegScript& script, std::vector<RegProblem>* problems) {
  unsigned failures = 0;
  auto fail = [&](unsigned line, std::string what) {
    problems->push_back({line, std::move(what)});
    ++failures;
  };
  // Where values go: the key of the last key line, when it could be opened.
  enum { kBeforeKeys, kOpen, kNoKey, kDeleted } state = kBeforeKeys;
  CScopedRegKey current;
  for (const RegOp& op : script.ops) {
    if (op.kind == RegOp::kValue || op.kind == RegOp::kDeleteValue) {
      if (state == kBeforeKeys) problems->push_back({op.line, "the value comes before any key; it is left out"});
      if (state == kDeleted) problems->push_back({op.line, "the value follows a key deletion; it is left out"});
      if (state != kOpen) continue;
      const std::string name = op.name.empty() ? "the default value" : "the value \"" + U(op.name) + "\"";
      LONG rc;
      if (op.kind == RegOp::kValue) {
        rc = op.data.size() > 0xFFFFFFFFu ? ERROR_INVALID_PARAMETER
                                       : RegSetValueExW(current.Get(), op.name.c_str(), 0, op.type,
                                                        reinterpret_cast<const BYTE*>(op.data.data()),
                                                        static_cast<DWORD>(op.data.size()));
        if (rc != ERROR_SUCCESS) fail(op.line, "cannot write " + name + " (" + Error(rc) + ")");
      } else {
        rc = RegDeleteValueW(current.Get(), op.name.c_str());
        if (rc != ERROR_SUCCESS && rc != ERROR_FILE_NOT_FOUND) fail(op.line, "cannot delete " + name + " (" + Error(rc) + ")");
      }
      continue;
    }

    current.Reset();
    state = op.kind == RegOp::kDeleteKey ? kDeleted : kNoKey;
    if (op.kind == RegOp::kBadKey) continue;
    HKEY root;
    std::u16string rootName, path;
    if (!SplitRootName(op.key, &root, &rootName, &path)) {
      problems->push_back({op.line, "the key " + U(op.key) + " does not start with a root key; it is left out"});
      continue;
    }
    if (op.kind == RegOp::kKey) {
      LONG rc = RegCreateKeyExW(root, path.c_str(), 0, nullptr, REG_OPTION_NON_VOLATILE, KEY_SET_VALUE, nullptr,
                                current.Put(), nullptr);
      if (rc == ERROR_SUCCESS)
        state = kOpen;
      else
        fail(op.line, "cannot open or make the key " + U(op.key) + " (" + Error(rc) + "); its values are left out");
    } else if (path.find_first_not_of(u'\\') == std::u16string::npos) {
      problems->push_back({op.line, "a root key cannot be deleted"});
    } else if (LONG rc = RegDeleteTreeW(root, path.c_str()); rc != ERROR_SUCCESS && rc != ERROR_FILE_NOT_FOUND) {
      fail(op.line, "cannot delete the key " + U(op.key) + " (" + Error(rc) + ")");
    }
  }
  return failures;
}

unsigned ImportRegText(std::u16string_view text, RegVersion* version, std::vector<RegProblem>* problems) {
  RegScript script = ParseRegScript(text);
  *version = script.version;
  if (script.version == RegVersion::kNone) return 0;
  *problems = std::move(script.problems);
  unsigned failures = ApplyRegScript(script, problems);
  std::stable_sort(problems->begin(), problems->end(), [](const auto& a, const auto& b) { return a.line < b.line; });
  return failures;
}

LONG ExportRegKey(std::u16string_view fullName, RegWriter* writer, std::vector<RegProblem>* problems) {
  HKEY root;
  std::u16string rootName, path;
  if (!SplitRootName(fullName, &root, &rootName, &path)) return ERROR_FILE_NOT_FOUND;
  while (!path.empty() && path.back() == u'\\') path.pop_back();

  // Depth first, a key before its subkeys: the tree's order, without recursion.
  struct Pending {
    std::u16string path, name;
  };
  std::vector<Pending> pending{{path, path.empty() ? rootName : rootName + u"\\" + path}};
  for (bool top = true; !pending.empty(); top = false) {
    Pending key = std::move(pending.back());
    pending.pop_back();
    KeyContents contents;
    if (LONG rc = ReadKey(root, key.path, &contents); rc != ERROR_SUCCESS) {
      if (top) return rc;
      problems->push_back({0, "the key " + U(key.name) + " cannot be read (" + Error(rc) + "); it is left out"});
      continue;
    }
    writer->AddKey(key.name);
    for (const auto& [name, value] : contents.values) writer->AddValue(name, value.first, value.second);
    for (auto it = contents.subkeys.rbegin(); it != contents.subkeys.rend(); ++it)
      pending.push_back({key.path.empty() ? *it : key.path + u"\\" + *it, key.name + u"\\" + *it});
  }
  return ERROR_SUCCESS;
}

LONG ExportRegistry(RegWriter* writer, std::vector<RegProblem>* problems) {
  // The roots a machine of the stand-in has, in the editor's order.
  for (const char16_t* root : {u"HKEY_CLASSES_ROOT", u"HKEY_CURRENT_USER", u"HKEY_LOCAL_MACHINE"}) {
    if (LONG rc = ExportRegKey(root, writer, problems); rc != ERROR_SUCCESS) return rc;
  }
  return ERROR_SUCCESS;
}

}  // namespace regedit
