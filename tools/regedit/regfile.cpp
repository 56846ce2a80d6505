#include "regfile.h"

#include <wcrt.h>

namespace regedit {

namespace {

constexpr std::u16string_view kHeader4 = u"REGEDIT4";
constexpr std::u16string_view kHeader5 = u"Windows Registry Editor Version 5.00";

// The editor breaks a hex list after the comma that brings its line to this
// many characters or more; a continuation line starts with two spaces. A line
// thus ends by column 80 unless the value's name alone is longer.
constexpr size_t kHexBreakColumn = 77;
constexpr std::u16string_view kHexBreak = u"\\\r\n  ";

bool IsBlank(char16_t c) { return c == u' ' || c == u'\t'; }

std::u16string_view SkipBlanks(std::u16string_view s) {
  while (!s.empty() && IsBlank(s.front())) s.remove_prefix(1);
  return s;
}

// Nothing but blanks and perhaps a ';' comment is left.
bool AtEnd(std::u16string_view s) {
  s = SkipBlanks(s);
  return s.empty() || s.front() == u';';
}

int HexDigit(char16_t c) {
  if (c >= u'0' && c <= u'9') return c - u'0';
  if (c >= u'a' && c <= u'f') return c - u'a' + 10;
  if (c >= u'A' && c <= u'F') return c - u'A' + 10;
  return -1;
}

// Reads 1 to maxDigits hex digits; a further digit makes the number invalid.
bool ReadHexNumber(std::u16string_view* s, size_t maxDigits, uint32_t* value) {
  size_t n = 0;
  uint32_t v = 0;
  while (n < s->size() && HexDigit((*s)[n]) >= 0) {
    if (++n > maxDigits) return false;
    v = v << 4 | static_cast<uint32_t>(HexDigit((*s)[n - 1]));
  }
  if (n == 0) return false;
  s->remove_prefix(n);
  *value = v;
  return true;
}

std::string Utf16Bytes(std::u16string_view text) {
  std::string out;
  out.reserve(text.size() * 2);
  for (char16_t c : text) {
    out.push_back(static_cast<char>(c & 0xFF));
    out.push_back(static_cast<char>(c >> 8));
  }
  return out;
}

char16_t UnitAt(std::string_view bytes, size_t i) {
  return static_cast<char16_t>(static_cast<uint8_t>(bytes[2 * i]) | static_cast<uint8_t>(bytes[2 * i + 1]) << 8);
}

// Text between quotes at the start of s: \\ and \" stand for \ and ", any
// other backslash makes the text invalid. On success s is left after the
// closing quote.
bool ReadQuoted(std::u16string_view* s, std::u16string* text) {
  text->clear();
  for (size_t i = 1; i < s->size(); ++i) {
    char16_t c = (*s)[i];
    if (c == u'"') {
      s->remove_prefix(i + 1);
      return true;
    }
    if (c == u'\\') {
      if (i + 1 >= s->size() || ((*s)[i + 1] != u'\\' && (*s)[i + 1] != u'"')) return false;
      c = (*s)[++i];
    }
    text->push_back(c);
  }
  return false;
}

std::u16string Escaped(std::u16string_view text) {
  std::u16string out;
  out.reserve(text.size());
  for (char16_t c : text) {
    if (c == u'\\' || c == u'"') out.push_back(u'\\');
    out.push_back(c);
  }
  return out;
}

// The text of REG_SZ data when a quoted string gives it back: whole UTF-16
// units, no NUL but a final terminator, no line break. Anything else is
// written as hex(1), so that no byte is lost.
bool TextOfString(std::string_view data, std::u16string* text) {
  if (data.size() % 2) return false;
  size_t units = data.size() / 2;
  if (units > 0 && UnitAt(data, units - 1) == 0) --units;
  text->clear();
  for (size_t i = 0; i < units; ++i) {
    char16_t c = UnitAt(data, i);
    if (c == 0 || c == u'\r' || c == u'\n') return false;
    text->push_back(c);
  }
  return true;
}

void AppendHex(std::u16string* out, uint32_t value, int minDigits) {
  static const char16_t kDigits[] = u"0123456789abcdef";
  char16_t buf[8];
  int n = 0;
  do {
    buf[n++] = kDigits[value & 0xF];
    value >>= 4;
  } while (value || n < minDigits);
  while (n) out->push_back(buf[--n]);
}

class Parser {
 public:
  explicit Parser(std::u16string_view text);
  RegScript Run();

 private:
  bool NextLine(std::u16string_view* line, unsigned* number);
  void Problem(unsigned line, std::string what) { script_.problems.push_back({line, std::move(what)}); }
  bool ReadHeader();
  void KeyLine(std::u16string_view rest, unsigned line);
  void ValueLine(std::u16string_view rest, unsigned line);
  // Reads a hex list that may go on over further lines; false when broken
  // (reported).
  bool HexList(std::u16string_view rest, unsigned line, std::string* bytes);
  void SetStringData(DWORD type, std::string* bytes) const;

  std::vector<std::u16string_view> lines_;
  size_t next_ = 0;
  RegScript script_;
};

Parser::Parser(std::u16string_view text) {
  // Lines end with CR LF, LF or a lone CR.
  size_t start = 0;
  for (size_t i = 0; i < text.size(); ++i) {
    if (text[i] != u'\r' && text[i] != u'\n') continue;
    lines_.push_back(text.substr(start, i - start));
    if (text[i] == u'\r' && i + 1 < text.size() && text[i + 1] == u'\n') ++i;
    start = i + 1;
  }
  if (start < text.size()) lines_.push_back(text.substr(start));
}

bool Parser::NextLine(std::u16string_view* line, unsigned* number) {
  if (next_ >= lines_.size()) return false;
  *number = static_cast<unsigned>(next_ + 1);
  *line = lines_[next_++];
  return true;
}

bool Parser::ReadHeader() {
  std::u16string_view line;
  unsigned number;
  while (NextLine(&line, &number)) {
    line = SkipBlanks(line);
    if (line.empty() || line.front() == u';') continue;
    for (auto [header, version] : {std::pair{kHeader4, RegVersion::kRegedit4}, {kHeader5, RegVersion::kVersion5}}) {
      if (line.substr(0, header.size()) == header && AtEnd(line.substr(header.size()))) {
        script_.version = version;
        return true;
      }
    }
    return false;
  }
  return false;
}

RegScript Parser::Run() {
  if (!ReadHeader()) return {};
  std::u16string_view line;
  unsigned number;
  while (NextLine(&line, &number)) {
    line = SkipBlanks(line);
    if (line.empty() || line.front() == u';' || line.front() == u'#') continue;
    if (line.front() == u'[')
      KeyLine(line.substr(1), number);
    else if (line.front() == u'"' || line.front() == u'@')
      ValueLine(line, number);
    else
      Problem(number, "the line is not a key, a value or a comment");
  }
  return std::move(script_);
}

void Parser::KeyLine(std::u16string_view rest, unsigned line) {
  RegOp op;
  op.line = line;
  op.kind = RegOp::kKey;
  if (!rest.empty() && rest.front() == u'-') {
    op.kind = RegOp::kDeleteKey;
    rest.remove_prefix(1);
  }
  // The name runs to the last ']' of the line; what follows it is ignored.
  size_t close = rest.rfind(u']');
  if (close == std::u16string_view::npos || close == 0) {
    Problem(line, close ? "the key name has no closing ']'" : "the key name is empty");
    script_.ops.push_back({RegOp::kBadKey, line});
    return;
  }
  op.key.assign(rest.substr(0, close));
  // The registry's calls take names to their first NUL: a key named past it
  // would be another key (a deletion, its parent).
  if (op.key.find(u'\0') != std::u16string::npos) {
    Problem(line, "the key name holds a NUL character");
    script_.ops.push_back({RegOp::kBadKey, line});
    return;
  }
  script_.ops.push_back(std::move(op));
}

void Parser::ValueLine(std::u16string_view rest, unsigned line) {
  RegOp op;
  op.line = line;
  op.kind = RegOp::kValue;
  if (rest.front() == u'@') {
    rest.remove_prefix(1);
  } else if (!ReadQuoted(&rest, &op.name)) {
    return Problem(line, "the value name is not closed, or has an escape other than \\\\ and \\\"");
  } else if (op.name.find(u'\0') != std::u16string::npos) {
    return Problem(line, "the value name holds a NUL character");  // it would name another value
  }
  rest = SkipBlanks(rest);
  if (rest.empty() || rest.front() != u'=') return Problem(line, "the value name is not followed by '='");
  rest = SkipBlanks(rest.substr(1));

  if (!rest.empty() && rest.front() == u'"') {
    std::u16string text;
    if (!ReadQuoted(&rest, &text) || !AtEnd(rest))
      return Problem(line, "the string is not closed, has an unknown escape, or is followed by more text");
    op.type = REG_SZ;
    op.data = Utf16Bytes(text);
    op.data.append(2, '\0');
  } else if (!rest.empty() && rest.front() == u'-') {
    if (!AtEnd(rest.substr(1))) return Problem(line, "the deletion '-' is followed by more text");
    op.kind = RegOp::kDeleteValue;
  } else if (rest.substr(0, 6) == u"dword:") {
    rest = SkipBlanks(rest.substr(6));
    uint32_t value = 0;
    if (!ReadHexNumber(&rest, 8, &value) || !AtEnd(rest))
      return Problem(line, "a dword needs one to eight hex digits and nothing more");
    op.type = REG_DWORD;
    for (int i = 0; i < 4; ++i) op.data.push_back(static_cast<char>(value >> (8 * i) & 0xFF));
  } else if (rest.substr(0, 3) == u"hex") {
    rest.remove_prefix(3);
    uint32_t type = REG_BINARY;
    if (!rest.empty() && rest.front() == u'(') {
      rest.remove_prefix(1);
      if (!ReadHexNumber(&rest, 8, &type) || rest.empty() || rest.front() != u')')
        return Problem(line, "the type in hex(...) is not one to eight hex digits");
      rest.remove_prefix(1);
    }
    if (rest.empty() || rest.front() != u':') return Problem(line, "the value's data is not understood");
    if (!HexList(rest.substr(1), line, &op.data)) return;
    op.type = type;
    SetStringData(op.type, &op.data);
  } else {
    return Problem(line, "the value's data is not understood");
  }
  script_.ops.push_back(std::move(op));
}

bool Parser::HexList(std::u16string_view rest, unsigned line, std::string* bytes) {
  enum { kFirst, kAfterByte, kAfterComma } state = kFirst;
  for (;;) {
    rest = SkipBlanks(rest);
    if (rest.empty() || rest.front() == u';') return true;
    char16_t c = rest.front();
    if (c == u',') {
      if (state != kAfterByte) break;
      state = kAfterComma;
      rest.remove_prefix(1);
    } else if (HexDigit(c) >= 0) {
      uint32_t value = 0;
      if (state == kAfterByte || !ReadHexNumber(&rest, 2, &value)) break;
      bytes->push_back(static_cast<char>(value));
      state = kAfterByte;
    } else if (c == u'\\') {
      // The list goes on on the next line; the break must follow a comma.
      if (state == kAfterByte || !AtEnd(rest.substr(1))) break;
      unsigned number = line;
      std::u16string_view next;
      do {
        // A list broken at the end of the file ends there.
        if (!NextLine(&next, &number)) return true;
        next = SkipBlanks(next);
      } while (next.empty() || next.front() == u';');
      if (HexDigit(next.front()) < 0) {
        Problem(number, "the hex data continued from line " + std::to_string(line) + " does not go on here; both lines are skipped");
        return false;
      }
      rest = next;
      line = number;
    } else {
      break;
    }
  }
  Problem(line, "the hex data is broken");
  return false;
}

// String-typed hex data: a REGEDIT4 file holds it in the ANSI code page, a
// 5.00 file as UTF-16. Expandable and multiple strings get the terminator the
// data lacks.
void Parser::SetStringData(DWORD type, std::string* bytes) const {
  if (type != REG_SZ && type != REG_EXPAND_SZ && type != REG_MULTI_SZ) return;
  const bool terminate = type != REG_SZ && !bytes->empty();
  if (script_.version == RegVersion::kRegedit4) {
    if (terminate && bytes->back() != '\0') bytes->push_back('\0');
    // The stand-in's ANSI code page is UTF-8.
    *bytes = Utf16Bytes(standin::ToUtf16(*bytes));
    return;
  }
  const bool terminated = bytes->size() >= 2 && bytes->substr(bytes->size() - 2) == std::string(2, '\0');
  if (terminate && !terminated) bytes->append(2, '\0');
}

}  // namespace

std::u16string DecodeRegFile(std::string_view bytes) {
  if (bytes.size() >= 2 && static_cast<uint8_t>(bytes[0]) == 0xFF && static_cast<uint8_t>(bytes[1]) == 0xFE) {
    std::u16string text;
    text.reserve(bytes.size() / 2);
    for (size_t i = 1; i < bytes.size() / 2; ++i) text.push_back(UnitAt(bytes, i));
    return text;
  }
  if (bytes.substr(0, 3) == "\xEF\xBB\xBF") bytes.remove_prefix(3);
  return standin::ToUtf16(bytes);
}

RegScript ParseRegScript(std::u16string_view text) { return Parser(text).Run(); }

std::u16string FormatRegValue(std::u16string_view name, DWORD type, std::string_view data) {
  std::u16string line = name.empty() ? u"@=" : u"\"" + Escaped(name) + u"\"=";
  std::u16string text;
  if (type == REG_SZ && TextOfString(data, &text)) return line + u"\"" + Escaped(text) + u"\"";
  if (type == REG_DWORD && data.size() == 4) {
    uint32_t value = 0;
    for (int i = 3; i >= 0; --i) value = value << 8 | static_cast<uint8_t>(data[i]);
    line += u"dword:";
    AppendHex(&line, value, 8);
    return line;
  }
  if (type == REG_BINARY) {
    line += u"hex:";
  } else {
    line += u"hex(";
    AppendHex(&line, type, 1);
    line += u"):";
  }
  size_t column = line.size();
  for (size_t i = 0; i < data.size(); ++i) {
    AppendHex(&line, static_cast<uint8_t>(data[i]), 2);
    if (i + 1 == data.size()) break;
    line += u',';
    column += 3;
    if (column >= kHexBreakColumn) {
      line += kHexBreak;
      column = 2;
    }
  }
  return line;
}

RegWriter::RegWriter() : text_(kHeader5) { text_ += u"\r\n"; }

void RegWriter::AddKey(std::u16string_view fullName) {
  text_ += u"\r\n[";
  text_ += fullName;
  text_ += u"]\r\n";
}

void RegWriter::AddValue(std::u16string_view name, DWORD type, std::string_view data) {
  text_ += FormatRegValue(name, type, data);
  text_ += u"\r\n";
}

std::string RegWriter::Finish() const { return "\xFF\xFE" + Utf16Bytes(text_) + Utf16Bytes(u"\r\n"); }

}  // namespace regedit
