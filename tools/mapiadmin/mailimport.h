// Reading real mail (single .eml files and mbox files) into a neutral model that
// the admin tool then writes into a store. Nothing here knows about MAPI.
//
// Text is UTF-16 (decoded from RFC 2047 words, RFC 2231 parameters and the
// declared charsets); HTML stays bytes, converted to UTF-8. Every message keeps
// its exact bytes as found in the file, so an import can be checked byte for
// byte and the store can carry the original.
//
// Threading: set-up is guarded, but GMime's charset tables are shared; parse
// from one thread at a time.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include <windef.h>

namespace mailimport {

struct Recipient {
  std::u16string name;
  std::u16string email;
};

struct ImportedAttachment {
  std::u16string fileName;  // as the sender named it; may be empty
  std::u16string mimeType;  // "type/subtype", lower case
  std::u16string contentId; // without the angle brackets
  std::string data;         // decoded content; an embedded message's own bytes
                            // (transfer encoding undone, a "From " line dropped)
  bool isInline = false;    // Content-Disposition: inline
  bool isMessage = false;   // message/rfc822: data is a whole message
};

struct ImportedMessage {
  std::u16string subject;
  std::u16string senderName, senderEmail;
  std::vector<Recipient> to, cc, bcc;
  bool hasDate = false;
  FILETIME date{};  // UTC, from the Date header
  std::u16string messageId;  // with its angle brackets, as the header has it
  std::u16string plainBody;  // the first text/plain of the main branch
  std::string htmlBody;      // UTF-8 whatever the part declared (its <meta> may say otherwise)
  std::vector<ImportedAttachment> attachments;  // every other leaf, in order
  std::string raw;           // the message's bytes exactly as in the file
  std::u16string headers;    // the header block as text, line breaks kept
};

// GMime is set up on first use and stays up: it cannot be set up again once
// shut down. Holding a MimeRuntime only sets it up ahead of time (on the
// calling thread); it releases nothing when it goes.
class MimeRuntime {
 public:
  MimeRuntime();
  MimeRuntime(const MimeRuntime&) = delete;
  MimeRuntime& operator=(const MimeRuntime&) = delete;
};

// Releases GMime's global tables. For the very end of a process (leak checks);
// every parse after it fails with an error.
void ShutdownMailImport();

// Parses one message. A leading mbox "From " line is not part of the message and
// is dropped (out->raw starts after it). Returns false with *error set when the
// bytes hold no message at all (empty input, no header); anything else yields a
// best-effort message.
bool ParseMessage(std::string_view raw, ImportedMessage* out, std::string* error);

// Reads and parses one .eml file.
bool ReadEmlFile(const std::string& path, ImportedMessage* out, std::string* error);

// Where a message of an mbox file sits in the file.
struct MboxEntry {
  std::uint64_t markerOffset = 0;  // the "From " separator line
  std::uint64_t rawOffset = 0;     // first byte of the message (after that line)
  std::string marker;              // the separator line, without its line break
  std::string parseError;          // set when the message could not be parsed
};

// Visits every message of an mbox file in order. A message whose bytes do not
// parse is still visited (raw set, parseError says why). The raw bytes run up to
// the next separator line, less the one blank line that separates messages.
// Returning false from visit stops the walk (the call still succeeds).
// A leading UTF-8 byte order mark is skipped. Returns false with *error when the
// file cannot be read or does not start with a separator line.
using MboxVisitor = std::function<bool(const MboxEntry& entry, ImportedMessage&& message)>;
bool ForEachMboxMessage(const std::string& path, const MboxVisitor& visit, std::string* error);

// Convenience: every message of an mbox file (those that failed to parse too).
bool ParseMbox(const std::string& path, std::vector<ImportedMessage>* out, std::string* error);

}  // namespace mailimport
