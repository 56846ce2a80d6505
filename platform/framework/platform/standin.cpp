// The framework's platform services on the stand-in.
#include "../fwplatform.h"

#include <locale.h>
#include <wctype.h>

#include <standin/fault.h>

namespace fw {

WString Widen(const char* text, size_t length) { return standin::ToUtf16(std::string_view(text, length)); }

WCHAR UpperCase(WCHAR c) { return standin::FoldCase(c); }

WCHAR LowerCase(WCHAR c) {
  if (c < 0x80) return (c >= u'A' && c <= u'Z') ? static_cast<WCHAR>(c + 32) : c;
  static locale_t utf8 = newlocale(LC_CTYPE_MASK, "C.UTF-8", static_cast<locale_t>(0));
  if (!utf8 || (c >= 0xD800 && c <= 0xDFFF)) return c;
  wint_t low = towlower_l(static_cast<wint_t>(c), utf8);
  return low <= 0xFFFF ? static_cast<WCHAR>(low) : c;
}

int CompareNoCase(LPCWSTR a, LPCWSTR b) { return standin::CompareNoCase(std::u16string_view(a), std::u16string_view(b)); }

bool TakeFault(const char* call, int32_t* code) { return standin::TakeFault(call, code); }

}  // namespace fw
