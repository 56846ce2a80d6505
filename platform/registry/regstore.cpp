#include "regstore.h"

#include <algorithm>

#include "regnames.h"

namespace standin::reg {
namespace {

KeyRow RowFrom(const Stmt& s) {
  KeyRow k;
  k.id = s.Int(0);
  k.parent = s.IsNull(1) ? 0 : s.Int(1);
  k.name = s.Utf16(2);
  k.cls = s.Utf16(3);
  k.isVolatile = s.Int(4) != 0;
  k.readOnly = s.Int(5) != 0;
  k.written = s.Int(6);
  return k;
}

ValueRow ValueFrom(const Stmt& s) {
  ValueRow v;
  v.name = s.Utf16(0);
  v.type = static_cast<DWORD>(s.Int(1));
  v.data = s.Bytes(2);
  return v;
}

#define KEY_COLUMNS "id, parent, name, class, volatile, readonly, written"

void InsertTree(KeyId id, const KeyTree& node, int64_t now) {
  for (const KeyTree& child : node.children) InsertTree(AddChild(id, child.name, u"", false, now), child, now);
  for (const ValueRow& v : node.values) SetValue(id, v.name, v.type, v.data);
  Touch(id, node.written ? node.written : now);
}

}  // namespace

bool KeyExists(KeyId id) {
  Stmt s = Db().Prepare("SELECT 1 FROM keys WHERE id = ?1");
  return s.Bind(1, id).Step();
}

std::optional<KeyRow> GetKey(KeyId id) {
  Stmt s = Db().Prepare("SELECT " KEY_COLUMNS " FROM keys WHERE id = ?1");
  if (!s.Bind(1, id).Step()) return std::nullopt;
  return RowFrom(s);
}

std::optional<KeyId> FindChild(KeyId parent, std::u16string_view name) {
  Stmt s = Db().Prepare("SELECT id FROM keys WHERE parent = ?1 AND fold = ?2");
  if (!s.Bind(1, parent).BindBytes(2, FoldedName(name)).Step()) return std::nullopt;
  return s.Int(0);
}

KeyId AddChild(KeyId parent, std::u16string_view name, std::u16string_view cls, bool isVolatile, int64_t now) {
  Stmt s = Db().Prepare(
      "INSERT INTO keys(parent, name, fold, class, volatile, written) VALUES (?1, ?2, ?3, ?4, ?5, ?6)");
  s.Bind(1, parent).BindBytes(2, NameBytes(name)).BindBytes(3, FoldedName(name)).BindBytes(4, NameBytes(cls));
  s.Bind(5, isVolatile ? 1 : 0).Bind(6, now).Run();
  KeyId id = sqlite3_last_insert_rowid(Db().handle());
  Touch(parent, now);
  return id;
}

void Touch(KeyId id, int64_t now) {
  Db().Prepare("UPDATE keys SET written = ?2 WHERE id = ?1").Bind(1, id).Bind(2, now).Run();
}

void SetReadOnlyMark(KeyId id, bool readOnly) {
  Db().Prepare("UPDATE keys SET readonly = ?2 WHERE id = ?1").Bind(1, id).Bind(2, readOnly ? 1 : 0).Run();
}

bool EffectivelyReadOnly(KeyId id) {
  Stmt s = Db().Prepare(
      "WITH RECURSIVE up(id, parent, ro) AS ("
      "  SELECT id, parent, readonly FROM keys WHERE id = ?1"
      "  UNION ALL SELECT k.id, k.parent, k.readonly FROM keys k JOIN up ON k.id = up.parent)"
      " SELECT max(ro) FROM up");
  return s.Bind(1, id).Step() && s.Int(0) != 0;
}

bool ReadOnlyBelow(KeyId id) {
  Stmt s = Db().Prepare(
      "WITH RECURSIVE down(id) AS ("
      "  SELECT id FROM keys WHERE parent = ?1"
      "  UNION ALL SELECT k.id FROM keys k JOIN down ON k.parent = down.id)"
      " SELECT 1 FROM keys WHERE readonly != 0 AND id IN (SELECT id FROM down) LIMIT 1");
  return s.Bind(1, id).Step();
}

int64_t CountChildren(KeyId id) {
  Stmt s = Db().Prepare("SELECT count(*) FROM keys WHERE parent = ?1");
  return s.Bind(1, id).Step() ? s.Int(0) : 0;
}

void DeleteSubtree(KeyId id, bool includeKey) {
  // Collect first: the statements below change the rows a recursive walk reads.
  std::vector<KeyId> doomed;
  {
    Stmt s = Db().Prepare(
        "WITH RECURSIVE down(id) AS ("
        "  SELECT id FROM keys WHERE parent = ?1"
        "  UNION ALL SELECT k.id FROM keys k JOIN down ON k.parent = down.id)"
        " SELECT id FROM down");
    s.Bind(1, id);
    while (s.Step()) doomed.push_back(s.Int(0));
  }
  if (includeKey) doomed.push_back(id);
  else Db().Prepare("DELETE FROM vals WHERE key = ?1").Bind(1, id).Run();
  for (KeyId k : doomed) {
    Db().Prepare("DELETE FROM vals WHERE key = ?1").Bind(1, k).Run();
    Db().Prepare("DELETE FROM keys WHERE id = ?1").Bind(1, k).Run();
  }
}

std::optional<ValueRow> GetValue(KeyId key, std::u16string_view name) {
  Stmt s = Db().Prepare("SELECT name, type, data FROM vals WHERE key = ?1 AND fold = ?2");
  if (!s.Bind(1, key).BindBytes(2, FoldedName(name)).Step()) return std::nullopt;
  return ValueFrom(s);
}

void SetValue(KeyId key, std::u16string_view name, DWORD type, std::string_view data) {
  std::string fold = FoldedName(name);
  Stmt update = Db().Prepare("UPDATE vals SET type = ?3, data = ?4 WHERE key = ?1 AND fold = ?2");
  update.Bind(1, key).BindBytes(2, fold).Bind(3, type).BindBytes(4, data).Run();
  if (sqlite3_changes(Db().handle()) > 0) return;
  Stmt insert = Db().Prepare(
      "INSERT INTO vals(key, fold, seq, name, type, data)"
      " VALUES (?1, ?2, (SELECT coalesce(max(seq), 0) + 1 FROM vals WHERE key = ?1), ?3, ?4, ?5)");
  insert.Bind(1, key).BindBytes(2, fold).BindBytes(3, NameBytes(name)).Bind(4, type).BindBytes(5, data).Run();
}

bool DeleteValue(KeyId key, std::u16string_view name) {
  Db().Prepare("DELETE FROM vals WHERE key = ?1 AND fold = ?2").Bind(1, key).BindBytes(2, FoldedName(name)).Run();
  return sqlite3_changes(Db().handle()) > 0;
}

std::optional<KeyRow> ChildAt(KeyId parent, DWORD index) {
  Stmt s = Db().Prepare("SELECT " KEY_COLUMNS " FROM keys WHERE parent = ?1 ORDER BY fold LIMIT 1 OFFSET ?2");
  if (!s.Bind(1, parent).Bind(2, index).Step()) return std::nullopt;
  return RowFrom(s);
}

std::optional<ValueRow> ValueAt(KeyId key, DWORD index) {
  Stmt s = Db().Prepare("SELECT name, type, data FROM vals WHERE key = ?1 ORDER BY seq LIMIT 1 OFFSET ?2");
  if (!s.Bind(1, key).Bind(2, index).Step()) return std::nullopt;
  return ValueFrom(s);
}

KeyStats Stats(KeyId id) {
  KeyStats st;
  Stmt keys = Db().Prepare(
      "SELECT count(*), coalesce(max(length(name)), 0) / 2, coalesce(max(length(class)), 0) / 2"
      " FROM keys WHERE parent = ?1");
  if (keys.Bind(1, id).Step()) {
    st.subKeys = static_cast<DWORD>(keys.Int(0));
    st.maxSubKeyLen = static_cast<DWORD>(keys.Int(1));
    st.maxClassLen = static_cast<DWORD>(keys.Int(2));
  }
  Stmt vals = Db().Prepare(
      "SELECT count(*), coalesce(max(length(name)), 0) / 2, coalesce(max(length(data)), 0)"
      " FROM vals WHERE key = ?1");
  if (vals.Bind(1, id).Step()) {
    st.values = static_cast<DWORD>(vals.Int(0));
    st.maxValueNameLen = static_cast<DWORD>(vals.Int(1));
    st.maxValueLen = static_cast<DWORD>(vals.Int(2));
  }
  return st;
}

KeyTree ReadTree(KeyId id) {
  KeyTree tree;
  if (auto row = GetKey(id)) {
    tree.name = row->name;
    tree.written = row->written;
  }
  {
    Stmt s = Db().Prepare("SELECT name, type, data FROM vals WHERE key = ?1 ORDER BY seq");
    s.Bind(1, id);
    while (s.Step()) tree.values.push_back(ValueFrom(s));
  }
  std::vector<KeyId> children;
  {
    Stmt s = Db().Prepare("SELECT id FROM keys WHERE parent = ?1 AND volatile = 0 ORDER BY fold");
    s.Bind(1, id);
    while (s.Step()) children.push_back(s.Int(0));
  }
  for (KeyId child : children) tree.children.push_back(ReadTree(child));
  return tree;
}

void ReplaceContents(KeyId id, const KeyTree& tree, int64_t now) {
  DeleteSubtree(id, false);
  InsertTree(id, tree, now);
}

}  // namespace standin::reg
