// Administration of the MAPI stand-in, for tests and tools.
#pragma once

#include <string>

#include "../windef.h"

namespace standin {

// Installs the stand-in mail client into the platform root: the Windows
// Messaging Subsystem keys ("MAPIX" = "1", "MAPIXVER"), the "msmapiapps" key,
// the ProgID "Outlook.Application", and an empty profile "Outlook". Idempotent.
STANDIN_API HRESULT InstallMailClient();
// Whether it is installed.
STANDIN_API bool MailClientInstalled();

}  // namespace standin

struct IMsgStore;

namespace standin {

// Groups every change made through a store (and the folders and messages
// opened from it) into one transaction, for tools that fill a store with many
// items: one commit per batch instead of one per saved message. Commit makes
// the changes so far durable and opens the next batch; a batch that goes
// without Commit rolls back what it holds. A call that fails inside a batch
// may leave part of its changes in it: end the batch without Commit then. Use
// it from one thread; other connections cannot write to the file meanwhile.
class STANDIN_API StoreBatch {
 public:
  explicit StoreBatch(IMsgStore* store);
  ~StoreBatch();
  StoreBatch(const StoreBatch&) = delete;
  StoreBatch& operator=(const StoreBatch&) = delete;
  // MAPI_E_INVALID_PARAMETER for a store that is not a store file.
  HRESULT status() const { return status_; }
  HRESULT Commit();

 private:
  struct State;
  State* state_ = nullptr;
  HRESULT status_ = 0;
};

}  // namespace standin
