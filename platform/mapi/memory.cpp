// MAPI memory: blocks from MAPIAllocateBuffer, with MAPIAllocateMore blocks
// chained to them and freed together with them.
//
// Every block starts with a header (magic, kind, chain link). Live chain heads
// are also kept in a set, so a foreign pointer is recognised without reading
// memory in front of it.
#include <cstdint>
#include <cstdlib>
#include <mutex>
#include <new>
#include <unordered_set>

#include "core.h"

namespace {

constexpr uint64_t kHeadMagic = 0x4B4C424950414D43ull;  // "CMAPIBLK"
constexpr uint64_t kMoreMagic = 0x45524F4D50414D43ull;  // "CMAPMORE"
constexpr uint64_t kDeadMagic = 0x444145444441454Eull;

struct alignas(16) BlockHeader {
  uint64_t magic;
  BlockHeader* next;  // head: first chained block; chained block: the next one
  BlockHeader* head;  // chained block: its head; head: itself
  uint64_t size;
};
static_assert(sizeof(BlockHeader) % 16 == 0, "blocks keep 16-byte alignment");

std::mutex& Lock() {
  static std::mutex m;
  return m;
}
std::unordered_set<const void*>& Heads() {
  static auto* heads = new std::unordered_set<const void*>();  // outlives static destructors
  return *heads;
}
std::unordered_set<const void*>& Chained() {
  static auto* chained = new std::unordered_set<const void*>();
  return *chained;
}

BlockHeader* HeaderOf(void* user) { return static_cast<BlockHeader*>(user) - 1; }
void* UserOf(BlockHeader* h) { return h + 1; }

BlockHeader* NewBlock(ULONG cbSize, uint64_t magic) {
  void* raw = std::malloc(sizeof(BlockHeader) + (cbSize ? cbSize : 1));
  if (!raw) return nullptr;
  auto* h = static_cast<BlockHeader*>(raw);
  h->magic = magic;
  h->next = nullptr;
  h->head = h;
  h->size = cbSize;
  return h;
}

}  // namespace

MAPIAPI SCODE STDMETHODCALLTYPE MAPIAllocateBuffer(ULONG cbSize, LPVOID* lppBuffer) {
  if (!lppBuffer) return MAPI_E_INVALID_PARAMETER;
  *lppBuffer = nullptr;
  MAPI_FAULT_POINT("MAPIAllocateBuffer");
  BlockHeader* h = NewBlock(cbSize, kHeadMagic);
  if (!h) return MAPI_E_NOT_ENOUGH_MEMORY;
  {
    std::lock_guard<std::mutex> guard(Lock());
    Heads().insert(UserOf(h));
  }
  *lppBuffer = UserOf(h);
  return S_OK;
}

MAPIAPI SCODE STDMETHODCALLTYPE MAPIAllocateMore(ULONG cbSize, LPVOID lpObject, LPVOID* lppBuffer) {
  if (!lppBuffer) return MAPI_E_INVALID_PARAMETER;
  *lppBuffer = nullptr;
  MAPI_FAULT_POINT("MAPIAllocateMore");
  if (!lpObject) return MAPI_E_INVALID_PARAMETER;
  BlockHeader* more = NewBlock(cbSize, kMoreMagic);
  if (!more) return MAPI_E_NOT_ENOUGH_MEMORY;
  std::lock_guard<std::mutex> guard(Lock());
  BlockHeader* head = nullptr;
  if (Heads().count(lpObject)) {
    head = HeaderOf(lpObject);
  } else if (Chained().count(lpObject)) {
    // Chaining to a chained block ties the new one to the same head.
    head = HeaderOf(lpObject)->head;
  }
  if (!head || head->magic != kHeadMagic) {
    std::free(more);
    return MAPI_E_INVALID_PARAMETER;
  }
  more->head = head;
  more->next = head->next;
  head->next = more;
  Chained().insert(UserOf(more));
  *lppBuffer = UserOf(more);
  return S_OK;
}

MAPIAPI ULONG STDMETHODCALLTYPE MAPIFreeBuffer(LPVOID lpBuffer) {
  if (!lpBuffer) return S_OK;
  BlockHeader* chain = nullptr;
  {
    std::lock_guard<std::mutex> guard(Lock());
    // A chained block lives as long as its head; freeing it alone is refused.
    if (!Heads().erase(lpBuffer)) return static_cast<ULONG>(MAPI_E_INVALID_PARAMETER);
    chain = HeaderOf(lpBuffer);
    for (BlockHeader* m = chain->next; m; m = m->next) Chained().erase(UserOf(m));
  }
  while (chain) {
    BlockHeader* next = chain->next;
    chain->magic = kDeadMagic;
    std::free(chain);
    chain = next;
  }
  return S_OK;
}
