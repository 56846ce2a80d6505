// The admin tool's mail import: the input as one message (.eml) and as an
// mbox file.
#include <string>

#include "fuzz_target.h"
#include "mailimport.h"

int FuzzOne(const uint8_t* data, size_t size) {
  fuzzing::InputRoot root;
  std::string_view bytes(reinterpret_cast<const char*>(data), size);
  std::string error;
  mailimport::ImportedMessage message;
  mailimport::ParseMessage(bytes, &message, &error);
  std::string mbox = root.File("input.mbox");
  fuzzing::WriteBytes(mbox, bytes);
  mailimport::ForEachMboxMessage(
      mbox, [](const mailimport::MboxEntry&, mailimport::ImportedMessage&&) { return true; }, &error);
  return 0;
}
