// The one printf-style formatter for UTF-16 text. Conversions follow the
// platform's wide printf: %s and %ls take wide text, %S and %hs narrow text,
// %d/%i/%u/%x/%X/%o take 32-bit values unless ll, I64, z or I widen them, %c a
// wide character, %p a pointer. A value of the wrong kind, or a missing value,
// prints a marker; nothing is read that was not passed, and nothing is written
// past the buffer.
#include <algorithm>
#include <cstdio>
#include <string>

#include <windows.h>

namespace standin {
namespace {

class Sink {
 public:
  Sink(WCHAR* buf, size_t cap) : buf_(buf), cap_(cap) {}
  void Put(WCHAR c) {
    if (cap_ == 0 || used_ + 1 >= cap_) {
      truncated_ = true;
      return;
    }
    buf_[used_++] = c;
  }
  void Put(std::u16string_view s) {
    for (WCHAR c : s) Put(c);
  }
  void Finish() {
    if (cap_) buf_[used_ < cap_ ? used_ : cap_ - 1] = 0;
  }
  size_t used() const { return used_; }
  bool truncated() const { return truncated_; }

 private:
  WCHAR* buf_;
  size_t cap_;
  size_t used_ = 0;
  bool truncated_ = false;
};

struct Spec {
  bool left = false, plus = false, space = false, alt = false, zero = false;
  int width = -1;
  int precision = -1;
  enum Length { kDefault, kShort, kChar, kLong, kLongLong, kSize, kWideHint, kNarrowHint } length = kDefault;
  WCHAR conv = 0;
};

void Pad(Sink& out, size_t len, const Spec& s, std::u16string_view body, std::u16string_view prefix = {},
         bool zeroPad = false) {
  size_t total = len + prefix.size();
  size_t fill = s.width > 0 && static_cast<size_t>(s.width) > total ? s.width - total : 0;
  if (!s.left && !zeroPad)
    for (size_t i = 0; i < fill; ++i) out.Put(u' ');
  out.Put(prefix);
  if (!s.left && zeroPad)
    for (size_t i = 0; i < fill; ++i) out.Put(u'0');
  out.Put(body);
  if (s.left)
    for (size_t i = 0; i < fill; ++i) out.Put(u' ');
}

const std::u16string_view kBadArg = u"(invalid)";
const std::u16string_view kMissing = u"(missing)";

void PutString(Sink& out, const Spec& s, const FormatArg* a) {
  if (!a) return Pad(out, kMissing.size(), s, kMissing);
  std::u16string text;
  if (a->kind == FormatArg::kWide) {
    if (!a->ws) {
      text = u"(null)";
    } else {
      size_t n = 0;
      while (a->ws[n] && (s.precision < 0 || n < static_cast<size_t>(s.precision))) ++n;
      text.assign(a->ws, n);
    }
  } else if (a->kind == FormatArg::kNarrow) {
    if (!a->s) {
      text = u"(null)";
    } else {
      std::string_view v(a->s);
      text = ToUtf16(v);
      if (s.precision >= 0 && text.size() > static_cast<size_t>(s.precision)) text.resize(s.precision);
    }
  } else {
    text = kBadArg;
  }
  Pad(out, text.size(), s, text);
}

void PutChar(Sink& out, const Spec& s, const FormatArg* a) {
  if (!a) return Pad(out, kMissing.size(), s, kMissing);
  if (a->kind != FormatArg::kSigned && a->kind != FormatArg::kUnsigned) return Pad(out, kBadArg.size(), s, kBadArg);
  WCHAR c = static_cast<WCHAR>(a->u & 0xFFFF);
  if (s.length == Spec::kShort || s.length == Spec::kNarrowHint || s.conv == u'C') c = static_cast<WCHAR>(a->u & 0xFF);
  Pad(out, 1, s, std::u16string_view(&c, 1));
}

// The value as the conversion's width sees it.
unsigned long long Narrow(const FormatArg& a, const Spec& s, bool isSigned, bool* negative) {
  unsigned bits = 32;
  switch (s.length) {
    case Spec::kChar: bits = 8; break;
    case Spec::kShort: bits = 16; break;
    case Spec::kLongLong:
    case Spec::kSize: bits = 64; break;
    default: break;
  }
  unsigned long long raw = a.kind == FormatArg::kSigned ? static_cast<unsigned long long>(a.i) : a.u;
  unsigned long long mask = bits == 64 ? ~0ull : ((1ull << bits) - 1);
  raw &= mask;
  *negative = false;
  if (isSigned && bits < 64 && (raw >> (bits - 1)) & 1) {
    *negative = true;
    return ((~raw) & mask) + 1;
  }
  if (isSigned && bits == 64 && static_cast<long long>(raw) < 0) {
    *negative = true;
    return ~raw + 1;
  }
  return raw;
}

void PutInteger(Sink& out, const Spec& s, const FormatArg* a) {
  if (!a) return Pad(out, kMissing.size(), s, kMissing);
  if (a->kind != FormatArg::kSigned && a->kind != FormatArg::kUnsigned && a->kind != FormatArg::kPointer)
    return Pad(out, kBadArg.size(), s, kBadArg);
  FormatArg v = *a;
  if (v.kind == FormatArg::kPointer) v.kind = FormatArg::kUnsigned, v.u = reinterpret_cast<uintptr_t>(a->p);
  bool isSigned = s.conv == u'd' || s.conv == u'i';
  bool negative = false;
  unsigned long long n = Narrow(v, s, isSigned, &negative);
  unsigned base = 10;
  const char* digits = "0123456789abcdef";
  if (s.conv == u'x') base = 16;
  if (s.conv == u'X') base = 16, digits = "0123456789ABCDEF";
  if (s.conv == u'o') base = 8;
  char tmp[72];
  int len = 0;
  do {
    tmp[len++] = digits[n % base];
    n /= base;
  } while (n);
  std::u16string body;
  int minDigits = s.precision >= 0 ? s.precision : 1;
  if (s.precision == 0 && len == 1 && tmp[0] == '0') len = 0;
  for (int i = len; i < minDigits; ++i) body.push_back(u'0');
  for (int i = len - 1; i >= 0; --i) body.push_back(static_cast<WCHAR>(tmp[i]));
  std::u16string prefix;
  if (negative) prefix = u"-";
  else if (isSigned && s.plus) prefix = u"+";
  else if (isSigned && s.space) prefix = u" ";
  if (s.alt && base == 16 && !body.empty() && body != u"0") prefix += s.conv == u'X' ? u"0X" : u"0x";
  if (s.alt && base == 8 && (body.empty() || body[0] != u'0')) body.insert(body.begin(), u'0');
  Pad(out, body.size(), s, body, prefix, s.zero && !s.left && s.precision < 0);
}

void PutPointer(Sink& out, const Spec& s, const FormatArg* a) {
  if (!a) return Pad(out, kMissing.size(), s, kMissing);
  unsigned long long v;
  if (a->kind == FormatArg::kPointer) v = reinterpret_cast<uintptr_t>(a->p);
  else if (a->kind == FormatArg::kWide) v = reinterpret_cast<uintptr_t>(a->ws);
  else if (a->kind == FormatArg::kNarrow) v = reinterpret_cast<uintptr_t>(a->s);
  else if (a->kind == FormatArg::kDouble) return Pad(out, kBadArg.size(), s, kBadArg);
  else v = a->u;
  char tmp[24];
  std::snprintf(tmp, sizeof tmp, "%016llX", v);
  std::u16string body = ToUtf16(tmp);
  Pad(out, body.size(), s, body);
}

void PutDouble(Sink& out, const Spec& s, const FormatArg* a) {
  if (!a) return Pad(out, kMissing.size(), s, kMissing);
  double d;
  if (a->kind == FormatArg::kDouble) d = a->d;
  else if (a->kind == FormatArg::kSigned) d = static_cast<double>(a->i);
  else if (a->kind == FormatArg::kUnsigned) d = static_cast<double>(a->u);
  else return Pad(out, kBadArg.size(), s, kBadArg);
  std::string f = "%";
  if (s.left) f += '-';
  if (s.plus) f += '+';
  if (s.space) f += ' ';
  if (s.alt) f += '#';
  if (s.zero) f += '0';
  if (s.width > 0) f += std::to_string(s.width > 4096 ? 4096 : s.width);
  if (s.precision >= 0) f += '.' + std::to_string(s.precision > 400 ? 400 : s.precision);
  f += static_cast<char>(s.conv);
  std::string text(4600, '\0');
  int n = std::snprintf(text.data(), text.size(), f.c_str(), d);
  text.resize(n < 0 ? 0 : std::min<size_t>(static_cast<size_t>(n), text.size() - 1));
  out.Put(ToUtf16(text));
}

}  // namespace

int FormatWide(WCHAR* buf, size_t cap, const WCHAR* fmt, const FormatArg* args, size_t count, bool* truncated) {
  Sink out(buf, cap);
  size_t next = 0;
  auto take = [&]() -> const FormatArg* { return next < count ? &args[next++] : nullptr; };
  auto takeInt = [&](int* value) {
    const FormatArg* a = take();
    if (a && (a->kind == FormatArg::kSigned || a->kind == FormatArg::kUnsigned)) {
      long long v = a->kind == FormatArg::kSigned ? a->i : static_cast<long long>(a->u);
      *value = static_cast<int>(std::max(-4096ll, std::min(4096ll, v)));
    } else {
      *value = -1;
    }
  };
  for (const WCHAR* p = fmt ? fmt : u""; *p; ++p) {
    if (*p != u'%') {
      out.Put(*p);
      continue;
    }
    const WCHAR* start = p++;
    if (*p == u'%') {
      out.Put(u'%');
      continue;
    }
    Spec s;
    for (;; ++p) {
      if (*p == u'-') s.left = true;
      else if (*p == u'+') s.plus = true;
      else if (*p == u' ') s.space = true;
      else if (*p == u'#') s.alt = true;
      else if (*p == u'0') s.zero = true;
      else break;
    }
    if (*p == u'*') {
      takeInt(&s.width);
      if (s.width < 0 && s.width != -1) s.left = true, s.width = -s.width;
      ++p;
    } else {
      while (*p >= u'0' && *p <= u'9') {
        s.width = (s.width < 0 ? 0 : s.width) * 10 + (*p - u'0');
        if (s.width > 4096) s.width = 4096;
        ++p;
      }
    }
    if (*p == u'.') {
      ++p;
      s.precision = 0;
      if (*p == u'*') {
        takeInt(&s.precision);
        ++p;
      } else {
        while (*p >= u'0' && *p <= u'9') {
          s.precision = s.precision * 10 + (*p - u'0');
          if (s.precision > 4096) s.precision = 4096;
          ++p;
        }
      }
    }
    if (p[0] == u'h' && p[1] == u'h') s.length = Spec::kChar, p += 2;
    else if (p[0] == u'h') s.length = Spec::kShort, ++p;
    else if (p[0] == u'l' && p[1] == u'l') s.length = Spec::kLongLong, p += 2;
    else if (p[0] == u'l') s.length = Spec::kLong, ++p;
    else if (p[0] == u'w') s.length = Spec::kWideHint, ++p;
    else if (p[0] == u'I' && p[1] == u'6' && p[2] == u'4') s.length = Spec::kLongLong, p += 3;
    else if (p[0] == u'I' && p[1] == u'3' && p[2] == u'2') s.length = Spec::kLong, p += 3;
    else if (p[0] == u'I' || p[0] == u'z' || p[0] == u'j' || p[0] == u't') s.length = Spec::kSize, ++p;
    s.conv = *p;
    switch (s.conv) {
      case u'd': case u'i': case u'u': case u'x': case u'X': case u'o':
        PutInteger(out, s, take());
        break;
      case u's':
        PutString(out, s, take());
        break;
      case u'S':
        PutString(out, s, take());
        break;
      case u'c': case u'C':
        PutChar(out, s, take());
        break;
      case u'p':
        PutPointer(out, s, take());
        break;
      case u'f': case u'F': case u'e': case u'E': case u'g': case u'G': case u'a': case u'A':
        PutDouble(out, s, take());
        break;
      case u'n':
        take();  // never written through, as the platform's run-time refuses it too
        break;
      case 0:
        // A lone '%' at the end: print what was there.
        for (const WCHAR* q = start; *q; ++q) out.Put(*q);
        --p;
        break;
      default:
        for (const WCHAR* q = start; q <= p; ++q) out.Put(*q);
        break;
    }
  }
  out.Finish();
  if (truncated) *truncated = out.truncated();
  return static_cast<int>(out.used());
}

}  // namespace standin
