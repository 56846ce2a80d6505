// Wide file streams of the platform's C run-time. Text mode stores "\n" as
// "\r\n"; ",ccs=UTF-8" writes a byte-order mark into a new (empty) file. The
// streams are ordinary FILE objects, so fclose and fflush work as usual.
#include <fcntl.h>
#include <sys/stat.h>

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <cstring>

#include "internal.h"

namespace {

struct TextCookie {
  FILE* file;
};

ssize_t TextRead(void* c, char* buf, size_t size) {
  auto* cookie = static_cast<TextCookie*>(c);
  size_t n = 0;
  while (n < size) {
    int ch = std::fgetc(cookie->file);
    if (ch == EOF) break;
    if (ch == '\r') {
      int next = std::fgetc(cookie->file);
      if (next != '\n' && next != EOF) std::ungetc(next, cookie->file);
      if (next == '\n') ch = '\n';
    }
    buf[n++] = static_cast<char>(ch);
  }
  return static_cast<ssize_t>(n);
}

ssize_t TextWrite(void* c, const char* buf, size_t size) {
  auto* cookie = static_cast<TextCookie*>(c);
  for (size_t i = 0; i < size; ++i) {
    if (buf[i] == '\n' && std::fputc('\r', cookie->file) == EOF) return i ? static_cast<ssize_t>(i) : -1;
    if (std::fputc(buf[i], cookie->file) == EOF) return i ? static_cast<ssize_t>(i) : -1;
  }
  return static_cast<ssize_t>(size);
}

int TextClose(void* c) {
  auto* cookie = static_cast<TextCookie*>(c);
  int r = std::fclose(cookie->file);
  delete cookie;
  return r;
}

int TextSeek(void* c, off64_t* offset, int whence) {
  auto* cookie = static_cast<TextCookie*>(c);
  if (fseeko(cookie->file, *offset, whence) != 0) return -1;
  *offset = ftello(cookie->file);
  return 0;
}

}  // namespace

FILE* _wfopen(const WCHAR* path, const WCHAR* mode) {
  if (standin::FaultedWithLastError("_wfopen")) {
    errno = EIO;
    return nullptr;
  }
  std::string posix;
  if (!mode) {
    errno = EINVAL;
    standin::Fail(ERROR_INVALID_PARAMETER);
    return nullptr;
  }
  if (!standin::PosixFromArg(path, &posix)) {
    errno = ENOENT;
    return nullptr;
  }
  std::string m = standin::ToUtf8(mode);
  std::string ccs;
  if (size_t comma = m.find(','); comma != std::string::npos) {
    std::string opt = m.substr(comma + 1);
    m.resize(comma);
    for (char& ch : opt) ch = static_cast<char>(std::toupper(static_cast<unsigned char>(ch)));
    opt.erase(std::remove(opt.begin(), opt.end(), ' '), opt.end());
    if (opt.rfind("CCS=", 0) == 0) ccs = opt.substr(4);
  }
  bool binary = m.find('b') != std::string::npos;
  std::string base;
  for (char ch : m)
    if (ch == 'r' || ch == 'w' || ch == 'a' || ch == '+') base.push_back(ch);
  if (base.empty() || (base[0] != 'r' && base[0] != 'w' && base[0] != 'a')) {
    errno = EINVAL;
    standin::Fail(ERROR_INVALID_PARAMETER);
    return nullptr;
  }
  FILE* f = std::fopen(posix.c_str(), (base + "be").c_str());
  if (!f) {
    int err = errno;
    // As the platform tells them apart: a missing folder, or only the file.
    struct stat parent {};
    size_t slash = posix.rfind('/');
    std::string folder = slash == std::string::npos ? "." : slash == 0 ? "/" : posix.substr(0, slash);
    bool noFolder = err == ENOENT && (stat(folder.c_str(), &parent) != 0 || !S_ISDIR(parent.st_mode));
    standin::Fail(noFolder ? ERROR_PATH_NOT_FOUND : standin::ErrorFromErrno(err));
    errno = err;
    return nullptr;
  }
  if (!ccs.empty() && base[0] != 'r') {
    struct stat st {};
    if (fstat(fileno(f), &st) == 0 && st.st_size == 0 && ccs == "UTF-8") std::fputs("\xEF\xBB\xBF", f);
  } else if (ccs == "UTF-8" && base[0] == 'r') {
    char bom[3];
    if (std::fread(bom, 1, 3, f) != 3 || std::memcmp(bom, "\xEF\xBB\xBF", 3) != 0) std::rewind(f);
  }
  if (binary) return f;
  auto* cookie = new TextCookie{f};
  FILE* text = fopencookie(cookie, (base + "").c_str(), {TextRead, TextWrite, TextSeek, TextClose});
  if (!text) {
    std::fclose(f);
    delete cookie;
    standin::Fail(ERROR_NOT_ENOUGH_MEMORY);
  }
  return text;
}

int fputws(const WCHAR* s, FILE* f) {
  if (!s || !f) return EOF;
  std::string bytes = standin::ToUtf8(s);
  return std::fwrite(bytes.data(), 1, bytes.size(), f) == bytes.size() ? 0 : EOF;
}
