// The registry editor's text files (".reg"): reading a file into the list of
// things it asks for, and writing keys and values in the editor's export form.
// Nothing here touches the registry or a file; the text is in memory.
//
// Reading follows the editor: a line it cannot use is reported and skipped,
// the rest of the file still counts. Two headers are known, "REGEDIT4" (the
// string-typed hex data is in the ANSI code page) and "Windows Registry Editor
// Version 5.00" (UTF-16, as the registry keeps it).
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include <windows.h>

namespace regedit {

enum class RegVersion { kNone, kRegedit4, kVersion5 };

// One thing a file asks for, in file order.
struct RegOp {
  enum Kind {
    kKey,          // [key]: values that follow go there (created when missing)
    kDeleteKey,    // [-key]: the key with everything below it goes
    kBadKey,       // a key line that could not be read: what follows has no key
    kValue,        // "name"=data
    kDeleteValue,  // "name"=-
  };
  Kind kind = kKey;
  unsigned line = 0;     // 1-based line the entry starts on
  std::u16string key;    // full key name as written, root included
  std::u16string name;   // value name; empty for the default value
  DWORD type = REG_NONE;
  std::string data;      // the value's bytes as the registry keeps them
};

// A line that was skipped, or a step that failed.
struct RegProblem {
  unsigned line = 0;
  std::string what;
};

struct RegScript {
  RegVersion version = RegVersion::kNone;  // kNone: not a registry script
  std::vector<RegOp> ops;
  std::vector<RegProblem> problems;
};

// The text of a file: UTF-16LE after the byte-order mark FF FE, otherwise the
// ANSI code page (a UTF-8 byte-order mark is passed over).
std::u16string DecodeRegFile(std::string_view bytes);

// Reads a script. Never fails: a text without a known header gives
// version kNone and nothing else.
RegScript ParseRegScript(std::u16string_view text);

// One value as its export line (line breaks inside hex data included, the
// final one not).
std::u16string FormatRegValue(std::u16string_view name, DWORD type, std::string_view data);

// An export in the "Windows Registry Editor Version 5.00" form: keys in the
// order they are added, each followed by its values.
class RegWriter {
 public:
  RegWriter();
  void AddKey(std::u16string_view fullName);
  void AddValue(std::u16string_view name, DWORD type, std::string_view data);
  // The file's bytes: UTF-16LE with a byte-order mark, CRLF line ends.
  std::string Finish() const;

 private:
  std::u16string text_;
};

}  // namespace regedit
