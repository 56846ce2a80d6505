#include "mailimport.h"

#include <gmime/gmime.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fstream>
#include <initializer_list>
#include <memory>
#include <mutex>
#include <sstream>

namespace mailimport {
namespace {

// Scoped owners for what GLib and GMime hand out.
struct GObjectUnref {
  void operator()(gpointer p) const {
    if (p) g_object_unref(p);
  }
};
template <class T>
using GPtr = std::unique_ptr<T, GObjectUnref>;

struct GFree {
  void operator()(gpointer p) const { g_free(p); }
};
using GCharPtr = std::unique_ptr<char, GFree>;

struct ParserOptionsFree {
  void operator()(GMimeParserOptions* o) const {
    if (o) g_mime_parser_options_free(o);
  }
};
using ParserOptionsPtr = std::unique_ptr<GMimeParserOptions, ParserOptionsFree>;

struct IconvCloser {
  GIConv cd;
  ~IconvCloser() { g_iconv_close(cd); }
};

constexpr std::string_view kReplacement = "\xEF\xBF\xBD";

// Real mail often carries undeclared 8-bit text; it is far more often
// Windows-1252 than anything else once it is not UTF-8.
constexpr const char* kLegacyCharset = "windows-1252";

ParserOptionsPtr MakeOptions() {
  ParserOptionsPtr options(g_mime_parser_options_new());
  static const char* fallback[] = {"utf-8", kLegacyCharset, nullptr};
  g_mime_parser_options_set_fallback_charsets(options.get(), fallback);
  g_mime_parser_options_set_address_compliance_mode(options.get(), GMIME_RFC_COMPLIANCE_LOOSE);
  g_mime_parser_options_set_parameter_compliance_mode(options.get(), GMIME_RFC_COMPLIANCE_LOOSE);
  g_mime_parser_options_set_rfc2047_compliance_mode(options.get(), GMIME_RFC_COMPLIANCE_LOOSE);
  return options;
}

// Converts with iconv, replacing each byte the charset rejects instead of
// giving up on the whole text. False when the charset is unknown.
bool ConvertLoose(std::string_view in, const char* from, std::string* out) {
  GIConv cd = g_iconv_open("UTF-8", from);
  if (cd == reinterpret_cast<GIConv>(-1)) return false;
  IconvCloser closer{cd};
  out->clear();
  char buffer[4096];
  char* inp = const_cast<char*>(in.data());
  gsize inLeft = in.size();
  while (inLeft > 0) {
    char* outp = buffer;
    gsize outLeft = sizeof buffer;
    gsize r = g_iconv(cd, &inp, &inLeft, &outp, &outLeft);
    int err = errno;
    out->append(buffer, static_cast<size_t>(outp - buffer));
    if (r == static_cast<gsize>(-1) && err != E2BIG) {
      out->append(kReplacement);
      ++inp;
      --inLeft;
      g_iconv(cd, nullptr, nullptr, nullptr, nullptr);
    }
  }
  char* outp = buffer;
  gsize outLeft = sizeof buffer;
  g_iconv(cd, nullptr, nullptr, &outp, &outLeft);  // a stateful charset's closing shift
  out->append(buffer, static_cast<size_t>(outp - buffer));
  return true;
}

bool IsCharset(const char* charset, std::initializer_list<const char*> names) {
  return std::any_of(names.begin(), names.end(), [&](const char* n) { return g_ascii_strcasecmp(charset, n) == 0; });
}

// Text in a declared (or undeclared) charset to UTF-8. "us-ascii" with 8-bit
// bytes is treated as undeclared: the sender did not know.
std::string ToUtf8(std::string_view bytes, const char* charset) {
  std::string out;
  if (charset && IsCharset(charset, {"utf-8", "utf8"})) {
    return std::string(bytes);  // bad sequences become U+FFFD on the way to UTF-16
  }
  if (charset && *charset && !IsCharset(charset, {"us-ascii", "ascii"})) {
    if (ConvertLoose(bytes, g_mime_charset_iconv_name(charset), &out)) return out;
  }
  if (g_utf8_validate(bytes.data(), static_cast<gssize>(bytes.size()), nullptr)) return std::string(bytes);
  if (ConvertLoose(bytes, kLegacyCharset, &out)) return out;
  ConvertLoose(bytes, "iso-8859-1", &out);
  return out;
}

void AppendUtf16(std::u16string* out, gunichar c) {
  if (c >= 0x10000) {
    c -= 0x10000;
    out->push_back(static_cast<char16_t>(0xD800 + (c >> 10)));
    out->push_back(static_cast<char16_t>(0xDC00 + (c & 0x3FF)));
  } else {
    out->push_back(static_cast<char16_t>(c));
  }
}

// UTF-8 to UTF-16; invalid sequences become U+FFFD, NULs are dropped because a
// store's strings end at the first one.
std::u16string ToU16(std::string_view utf8) {
  std::u16string out;
  out.reserve(utf8.size());
  const char* p = utf8.data();
  const char* end = p + utf8.size();
  while (p < end) {
    if (*p == '\0') {
      ++p;
      continue;
    }
    gunichar c = g_utf8_get_char_validated(p, end - p);
    if (c == static_cast<gunichar>(-1) || c == static_cast<gunichar>(-2)) {
      out.push_back(u'\uFFFD');
      ++p;
      continue;
    }
    AppendUtf16(&out, c);
    p = g_utf8_next_char(p);
  }
  return out;
}

std::u16string ToU16(const char* utf8) { return utf8 ? ToU16(std::string_view(utf8)) : std::u16string(); }

// HTML leaves as UTF-8 bytes: invalid sequences replaced, NULs dropped.
std::string ValidUtf8(const std::string& text) {
  if (g_utf8_validate(text.data(), static_cast<gssize>(text.size()), nullptr)) return text;
  std::string out;
  const char* p = text.data();
  const char* end = p + text.size();
  while (p < end) {
    gunichar c = *p ? g_utf8_get_char_validated(p, end - p) : 0;
    if (c == 0) {
      ++p;
    } else if (c == static_cast<gunichar>(-1) || c == static_cast<gunichar>(-2)) {
      out.append(kReplacement);
      ++p;
    } else {
      const char* next = g_utf8_next_char(p);
      out.append(p, static_cast<size_t>(next - p));
      p = next;
    }
  }
  return out;
}

// The length of a leading mbox "From " line with its line break, or 0.
size_t FromLineLength(std::string_view raw) {
  if (raw.substr(0, 5) != "From ") return 0;
  size_t nl = raw.find('\n');
  return nl == std::string_view::npos ? raw.size() : nl + 1;
}

// Offset just past the blank line that ends a header block whose lines start
// at `from`; npos when there is none.
size_t AfterBlankLine(std::string_view raw, size_t from) {
  size_t pos = from;
  while (pos < raw.size()) {
    size_t nl = raw.find('\n', pos);
    if (nl == std::string_view::npos) return std::string_view::npos;
    std::string_view line = raw.substr(pos, nl - pos);
    if (line.empty() || line == "\r") return nl + 1;
    pos = nl + 1;
  }
  return std::string_view::npos;
}

// The decoded content of a leaf part. Inside a multipart GMime ends a part
// before the "\n" of the delimiter's line break and leaves its "\r": that byte
// belongs to the delimiter, not to the content.
std::string DecodedContent(GMimePart* part, bool insideMultipart) {
  GMimeDataWrapper* content = g_mime_part_get_content(part);
  if (!content) return {};
  GPtr<GMimeStream> mem(g_mime_stream_mem_new());
  if (g_mime_data_wrapper_write_to_stream(content, mem.get()) < 0) return {};
  GByteArray* bytes = g_mime_stream_mem_get_byte_array(GMIME_STREAM_MEM(mem.get()));
  std::string out(reinterpret_cast<const char*>(bytes->data), bytes->len);
  GMimeContentEncoding encoding = g_mime_part_get_content_encoding(part);
  bool binaryDecoded = encoding == GMIME_CONTENT_ENCODING_BASE64 || encoding == GMIME_CONTENT_ENCODING_UUENCODE;
  if (insideMultipart && !binaryDecoded && !out.empty() && out.back() == '\r') out.pop_back();
  return out;
}

std::string DecodeTransfer(std::string_view in, GMimeContentEncoding encoding) {
  if (encoding != GMIME_CONTENT_ENCODING_BASE64 && encoding != GMIME_CONTENT_ENCODING_QUOTEDPRINTABLE &&
      encoding != GMIME_CONTENT_ENCODING_UUENCODE) {
    return std::string(in);
  }
  GMimeEncoding state;
  g_mime_encoding_init_decode(&state, encoding);
  std::string out(g_mime_encoding_outlen(&state, in.size()) + 16, '\0');
  size_t n = g_mime_encoding_flush(&state, in.data(), in.size(), out.data());
  out.resize(n);
  return out;
}

bool IsDisposition(GMimeObject* obj, const char* which) {
  const char* d = g_mime_object_get_disposition(obj);
  return d && g_ascii_strcasecmp(d, which) == 0;
}

// Old mailers write a bare "Content-Type: text", which GMime reads as
// application/octet-stream; it was plain text.
bool IsBareText(GMimeObject* obj) {
  const char* value = g_mime_object_get_header(obj, "Content-Type");
  if (!value) return false;
  std::string_view v(value);
  v = v.substr(0, v.find(';'));
  while (!v.empty() && g_ascii_isspace(v.front())) v.remove_prefix(1);
  while (!v.empty() && g_ascii_isspace(v.back())) v.remove_suffix(1);
  return v.size() == 4 && g_ascii_strncasecmp(v.data(), "text", 4) == 0;
}

bool IsBodyText(GMimeObject* obj, const char* subtype) {
  if (!GMIME_IS_PART(obj) || IsDisposition(obj, GMIME_DISPOSITION_ATTACHMENT)) return false;
  GMimeContentType* type = g_mime_object_get_content_type(obj);
  if (!type) return false;
  if (IsBareText(obj)) return g_ascii_strcasecmp(subtype, "plain") == 0;
  return g_mime_content_type_is_type(type, "text", subtype);
}

bool IsSubtype(GMimeObject* obj, const char* subtype) {
  GMimeContentType* type = g_mime_object_get_content_type(obj);
  return type && g_mime_content_type_is_type(type, "*", subtype);
}

struct BodyChoice {
  GMimeObject* plain = nullptr;
  GMimeObject* html = nullptr;
};

// The message's own text: the first part down the main branch, and both
// versions of a multipart/alternative (the last HTML, the first plain text).
void ChooseBody(GMimeObject* obj, BodyChoice* choice) {
  if (GMIME_IS_MULTIPART(obj)) {
    if (GMIME_IS_MULTIPART_ENCRYPTED(obj)) return;
    GMimeMultipart* multipart = GMIME_MULTIPART(obj);
    int count = g_mime_multipart_get_count(multipart);
    if (!IsSubtype(obj, "alternative")) {
      if (count > 0) ChooseBody(g_mime_multipart_get_part(multipart, 0), choice);
      return;
    }
    for (int i = 0; i < count; ++i) {
      GMimeObject* child = g_mime_multipart_get_part(multipart, i);
      if (IsBodyText(child, "plain")) {
        if (!choice->plain) choice->plain = child;
      } else if (IsBodyText(child, "html")) {
        choice->html = child;
      } else if (GMIME_IS_MULTIPART(child)) {
        BodyChoice nested;
        ChooseBody(child, &nested);
        if (nested.html) choice->html = nested.html;
        if (nested.plain && !choice->plain) choice->plain = nested.plain;
      }
    }
    return;
  }
  if (IsBodyText(obj, "plain")) {
    choice->plain = obj;
  } else if (IsBodyText(obj, "html")) {
    choice->html = obj;
  }
}

class Extractor {
 public:
  Extractor(std::string_view raw, ImportedMessage* out) : raw_(raw), out_(out) {}

  void Run(GMimeMessage* message) {
    GMimeObject* body = g_mime_message_get_mime_part(message);
    if (!body) return;
    ChooseBody(body, &choice_);
    const bool multipart = GMIME_IS_MULTIPART(body);
    if (choice_.plain) out_->plainBody = ToU16(TextOf(choice_.plain, multipart));
    if (choice_.html) out_->htmlBody = ValidUtf8(TextOf(choice_.html, multipart));
    Collect(body, nullptr);
  }

 private:
  static std::string TextOf(GMimeObject* obj, bool insideMultipart) {
    return ToUtf8(DecodedContent(GMIME_PART(obj), insideMultipart),
                  g_mime_object_get_content_type_parameter(obj, "charset"));
  }

  void Collect(GMimeObject* obj, GMimeObject* parent) {
    if (GMIME_IS_MULTIPART(obj)) {
      GMimeMultipart* multipart = GMIME_MULTIPART(obj);
      int count = g_mime_multipart_get_count(multipart);
      for (int i = 0; i < count; ++i) Collect(g_mime_multipart_get_part(multipart, i), obj);
      return;
    }
    if (obj == choice_.plain || obj == choice_.html) return;
    ImportedAttachment attachment;
    GMimeContentType* type = g_mime_object_get_content_type(obj);
    if (type) {
      GCharPtr mimeType(g_mime_content_type_get_mime_type(type));
      GCharPtr lower(mimeType ? g_ascii_strdown(mimeType.get(), -1) : nullptr);
      attachment.mimeType = ToU16(lower.get());
    }
    attachment.contentId = ToU16(g_mime_object_get_content_id(obj));
    attachment.isInline = IsDisposition(obj, GMIME_DISPOSITION_INLINE);
    if (GMIME_IS_MESSAGE_PART(obj)) {
      attachment.isMessage = true;
      attachment.fileName = ToU16(FileNameOf(obj));
      attachment.data = EmbeddedRaw(GMIME_MESSAGE_PART(obj), parent);
    } else if (GMIME_IS_PART(obj)) {
      attachment.fileName = ToU16(g_mime_part_get_filename(GMIME_PART(obj)));
      attachment.data = DecodedContent(GMIME_PART(obj), parent != nullptr);
    } else {
      return;
    }
    out_->attachments.push_back(std::move(attachment));
  }

  static const char* FileNameOf(GMimeObject* obj) {
    GMimeContentDisposition* disposition = g_mime_object_get_content_disposition(obj);
    const char* name = disposition ? g_mime_content_disposition_get_parameter(disposition, "filename") : nullptr;
    if (!name) name = g_mime_object_get_content_type_parameter(obj, "name");
    return name;
  }

  // The embedded message's bytes as they stand between its part header and the
  // parent's next boundary, so the attached item is the sender's original.
  std::string EmbeddedRaw(GMimeMessagePart* part, GMimeObject* parent) {
    GMimeObject* obj = GMIME_OBJECT(part);
    GMimeHeaderList* headers = g_mime_object_get_header_list(obj);
    int count = headers ? g_mime_header_list_get_count(headers) : 0;
    gint64 last = count > 0 ? g_mime_header_get_offset(g_mime_header_list_get_header_at(headers, count - 1)) : -1;
    if (last >= 0 && static_cast<size_t>(last) < raw_.size()) {
      size_t begin = AfterBlankLine(raw_, static_cast<size_t>(last));
      if (begin != std::string_view::npos) {
        size_t end = raw_.size();
        if (parent && GMIME_IS_MULTIPART(parent)) {
          const char* boundary = g_mime_multipart_get_boundary(GMIME_MULTIPART(parent));
          if (boundary) end = DelimiterBefore(begin, std::string("--") + boundary);
        }
        const char* cte = g_mime_object_get_header(obj, "Content-Transfer-Encoding");
        std::string bytes =
            DecodeTransfer(raw_.substr(begin, end - begin), cte ? g_mime_content_encoding_from_string(cte)
                                                                : GMIME_CONTENT_ENCODING_DEFAULT);
        return bytes.substr(FromLineLength(bytes));
      }
    }
    // Without positions, GMime's own rendering is the closest thing.
    GMimeMessage* message = g_mime_message_part_get_message(part);
    if (!message) return {};
    GCharPtr text(g_mime_object_to_string(GMIME_OBJECT(message), nullptr));
    return text ? std::string(text.get()) : std::string();
  }

  // Where the body ends before a delimiter line: the line break in front of
  // the delimiter belongs to it. The end of the bytes when there is none.
  size_t DelimiterBefore(size_t begin, const std::string& delimiter) const {
    size_t pos = begin;
    while ((pos = raw_.find(delimiter, pos)) != std::string_view::npos) {
      if (pos == begin || raw_[pos - 1] == '\n') {
        if (pos == begin) return begin;
        size_t end = pos - 1;
        if (end > begin && raw_[end - 1] == '\r') --end;
        return end;
      }
      ++pos;
    }
    return raw_.size();
  }

  std::string_view raw_;
  ImportedMessage* out_;
  BodyChoice choice_;
};

void AddAddresses(InternetAddressList* list, std::vector<Recipient>* out) {
  if (!list) return;
  int count = internet_address_list_length(list);
  for (int i = 0; i < count; ++i) {
    InternetAddress* address = internet_address_list_get_address(list, i);
    if (INTERNET_ADDRESS_IS_GROUP(address)) {
      AddAddresses(internet_address_group_get_members(INTERNET_ADDRESS_GROUP(address)), out);
    } else if (INTERNET_ADDRESS_IS_MAILBOX(address)) {
      out->push_back({ToU16(internet_address_get_name(address)),
                      ToU16(internet_address_mailbox_get_addr(INTERNET_ADDRESS_MAILBOX(address)))});
    }
  }
}

// Seconds between 1601-01-01 and 1970-01-01.
constexpr gint64 kEpochDelta = 11644473600LL;

bool ToFileTime(GDateTime* when, FILETIME* out) {
  gint64 seconds = g_date_time_to_unix(when);
  if (seconds < -kEpochDelta) return false;
  guint64 ticks = static_cast<guint64>(seconds + kEpochDelta) * 10000000ULL +
                  static_cast<guint64>(g_date_time_get_microsecond(when)) * 10ULL;
  out->dwLowDateTime = static_cast<DWORD>(ticks & 0xFFFFFFFFu);
  out->dwHighDateTime = static_cast<DWORD>(ticks >> 32);
  return true;
}

std::string ErrnoText(const std::string& what, const std::string& path, int err) {
  return what + " " + path + ": " + std::strerror(err);
}

bool ReadFileBytes(const std::string& path, std::string* out, std::string* error) {
  std::ifstream in(path, std::ios::binary);
  if (!in) {
    *error = ErrnoText("cannot open", path, errno);
    return false;
  }
  std::ostringstream buffer;
  buffer << in.rdbuf();
  if (in.bad()) {
    *error = ErrnoText("cannot read", path, errno);
    return false;
  }
  *out = std::move(buffer).str();
  return true;
}

// Drops the one blank line that mbox writers put between messages.
size_t WithoutSeparator(std::string_view raw) {
  if (raw.size() >= 4 && raw.substr(raw.size() - 4) == "\r\n\r\n") return raw.size() - 2;
  if (raw.size() >= 3 && raw.substr(raw.size() - 3) == "\n\r\n") return raw.size() - 2;
  if (raw.size() >= 2 && raw.substr(raw.size() - 2) == "\n\n") return raw.size() - 1;
  return raw.size();
}

// A Date whose zone is neither numeric nor a name is not a date this parser
// should guess at (GMime would read "16:21:05 H0500" as UTC).
bool HasUsableZone(const char* value) {
  if (!value) return false;
  std::string text;
  int depth = 0;
  for (const char* p = value; *p; ++p) {  // comments such as "(JST)" are not the zone
    if (*p == '(') ++depth;
    else if (*p == ')' && depth > 0) --depth;
    else if (depth == 0) text.push_back(*p);
  }
  std::istringstream words(text);
  std::string word;
  bool afterTime = false;
  while (words >> word) {
    if (afterTime) {
      bool numeric = (word[0] == '+' || word[0] == '-') && word.size() == 5 &&
                     std::all_of(word.begin() + 1, word.end(), [](char c) { return g_ascii_isdigit(c); });
      bool named = std::all_of(word.begin(), word.end(), [](char c) { return g_ascii_isalpha(c); });
      return numeric || named;
    }
    afterTime = word.find(':') != std::string::npos;
  }
  return true;
}

}  // namespace

// GMime can be set up once per process: after g_mime_shutdown() a second
// g_mime_init() finds its tables gone. So it is set up on first use and shut
// down only when the program says it is done.
namespace {
enum class MimeState { kFresh, kUp, kDown };
std::mutex mimeLock;
MimeState mimeState = MimeState::kFresh;

bool EnsureMime(std::string* error) {
  std::lock_guard<std::mutex> lock(mimeLock);
  if (mimeState == MimeState::kFresh) {
    g_mime_init();
    mimeState = MimeState::kUp;
  }
  if (mimeState == MimeState::kDown) {
    *error = "mail import is shut down";
    return false;
  }
  return true;
}
}  // namespace

MimeRuntime::MimeRuntime() {
  std::string ignored;
  EnsureMime(&ignored);
}

void ShutdownMailImport() {
  std::lock_guard<std::mutex> lock(mimeLock);
  if (mimeState == MimeState::kUp) g_mime_shutdown();
  mimeState = MimeState::kDown;
}

bool ParseMessage(std::string_view raw, ImportedMessage* out, std::string* error) {
  raw.remove_prefix(FromLineLength(raw));
  std::string copy(raw);  // raw may view out->raw
  *out = ImportedMessage();
  out->raw = std::move(copy);
  raw = out->raw;
  if (raw.find_first_not_of(" \t\r\n") == std::string_view::npos) {
    *error = "no message: the input is empty";
    return false;
  }
  if (!EnsureMime(error)) return false;
  // The stream owns a copy: GMime may keep referring to it while parts live.
  GPtr<GMimeStream> stream(g_mime_stream_mem_new_with_buffer(out->raw.data(), out->raw.size()));
  GPtr<GMimeParser> parser(g_mime_parser_new_with_stream(stream.get()));
  g_mime_parser_set_format(parser.get(), GMIME_FORMAT_MESSAGE);
  ParserOptionsPtr options = MakeOptions();
  GPtr<GMimeMessage> message(g_mime_parser_construct_message(parser.get(), options.get()));
  GMimeHeaderList* headerList = message ? g_mime_object_get_header_list(GMIME_OBJECT(message.get())) : nullptr;
  if (!message || !headerList || g_mime_header_list_get_count(headerList) == 0) {
    *error = "no message: no header found";
    return false;
  }

  size_t headerEnd = AfterBlankLine(raw, 0);
  std::string_view headerBlock = raw.substr(0, headerEnd == std::string_view::npos ? raw.size() : headerEnd);
  while (!headerBlock.empty() && (headerBlock.back() == '\n' || headerBlock.back() == '\r')) {
    headerBlock.remove_suffix(1);
  }
  out->headers = ToU16(ToUtf8(headerBlock, nullptr));

  out->subject = ToU16(g_mime_message_get_subject(message.get()));
  std::vector<Recipient> from;
  AddAddresses(g_mime_message_get_from(message.get()), &from);
  if (from.empty()) AddAddresses(g_mime_message_get_sender(message.get()), &from);
  if (!from.empty()) {
    out->senderName = from.front().name;
    out->senderEmail = from.front().email;
  }
  AddAddresses(g_mime_message_get_addresses(message.get(), GMIME_ADDRESS_TYPE_TO), &out->to);
  AddAddresses(g_mime_message_get_addresses(message.get(), GMIME_ADDRESS_TYPE_CC), &out->cc);
  AddAddresses(g_mime_message_get_addresses(message.get(), GMIME_ADDRESS_TYPE_BCC), &out->bcc);
  GDateTime* date = g_mime_message_get_date(message.get());
  if (date && HasUsableZone(g_mime_object_get_header(GMIME_OBJECT(message.get()), "Date"))) {
    out->hasDate = ToFileTime(date, &out->date);
  }
  if (const char* id = g_mime_message_get_message_id(message.get())) out->messageId = u"<" + ToU16(id) + u">";

  Extractor(raw, out).Run(message.get());
  return true;
}

bool ReadEmlFile(const std::string& path, ImportedMessage* out, std::string* error) {
  std::string bytes;
  if (!ReadFileBytes(path, &bytes, error)) return false;
  if (!ParseMessage(bytes, out, error)) {
    *error = path + ": " + *error;
    return false;
  }
  return true;
}

// GMime's own mbox mode is not used to split: it gives up on a message that has
// no header and loses the rest of a Gmail export after a part whose header runs
// into its base64 body. Splitting is the plain mbox rule instead: a "From "
// line at the start of the file or after an empty line opens the next message.
bool ForEachMboxMessage(const std::string& path, const MboxVisitor& visit, std::string* error) {
  std::ifstream in(path, std::ios::binary);
  if (!in) {
    *error = ErrnoText("cannot open", path, errno);
    return false;
  }
  if (!EnsureMime(error)) return false;
  bool haveMessage = false;
  bool afterBlank = true;
  std::uint64_t offset = 0;
  MboxEntry entry;
  std::string body;
  auto deliver = [&]() {
    std::string_view raw = std::string_view(body).substr(0, WithoutSeparator(body));
    ImportedMessage message;
    if (!ParseMessage(raw, &message, &entry.parseError)) message.raw.assign(raw);
    return visit(entry, std::move(message));
  };

  std::string line;
  while (std::getline(in, line)) {
    const bool hadNewline = !in.eof();
    const std::uint64_t length = line.size() + (hadNewline ? 1 : 0);
    std::string_view text = line;
    if (offset == 0 && text.substr(0, 3) == "\xEF\xBB\xBF") {
      text.remove_prefix(3);
      offset = 3;
    }
    const bool blank = text.empty() || text == "\r";
    if (afterBlank && text.substr(0, 5) == "From ") {
      if (haveMessage && !deliver()) return true;
      haveMessage = true;
      entry = MboxEntry();
      entry.markerOffset = offset;
      entry.rawOffset = offset + text.size() + (hadNewline ? 1 : 0);
      entry.marker.assign(text);
      if (!entry.marker.empty() && entry.marker.back() == '\r') entry.marker.pop_back();
      body.clear();
    } else if (haveMessage) {
      body.append(text);
      if (hadNewline) body.push_back('\n');
    } else if (!blank) {
      *error = path + ": not an mbox file (no \"From \" line at the start)";
      return false;
    }
    afterBlank = blank;
    offset += length - (line.size() - text.size());
  }
  if (in.bad()) {
    *error = ErrnoText("cannot read", path, errno);
    return false;
  }
  if (haveMessage) deliver();
  return true;
}

bool ParseMbox(const std::string& path, std::vector<ImportedMessage>* out, std::string* error) {
  out->clear();
  return ForEachMboxMessage(
      path,
      [out](const MboxEntry&, ImportedMessage&& message) {
        out->push_back(std::move(message));
        return true;
      },
      error);
}

}  // namespace mailimport
