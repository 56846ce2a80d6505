// MAPI memory: chained blocks, foreign pointers, faults, concurrency. Leaks
// show up in the sanitizer build.
#include <mapix.h>
#include <standin/fault.h>

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <thread>
#include <vector>

#include "common/fresh_root.h"

namespace {

class MapiCoreMemory : public testing_support::FreshRoot {};

void* const kSentinel = reinterpret_cast<void*>(static_cast<uintptr_t>(0xDEADBEEF));

TEST_F(MapiCoreMemory, ChainedBlocksGoWithTheirParent) {
  void* parent = nullptr;
  ASSERT_EQ(MAPIAllocateBuffer(64, &parent), S_OK);
  std::memset(parent, 0xAB, 64);
  std::vector<void*> children;
  for (ULONG size : {0u, 1u, 17u, 4096u}) {
    void* child = nullptr;
    ASSERT_EQ(MAPIAllocateMore(size, parent, &child), S_OK);
    ASSERT_NE(child, nullptr);
    if (size) std::memset(child, 0xCD, size);
    children.push_back(child);
  }
  // A block chained to a chained block belongs to the same parent.
  void* grandchild = nullptr;
  ASSERT_EQ(MAPIAllocateMore(32, children[2], &grandchild), S_OK);
  std::memset(grandchild, 0xEF, 32);
  EXPECT_EQ(MAPIFreeBuffer(parent), 0u);
  // The parent is gone: chaining to it again is refused.
  void* late = kSentinel;
  EXPECT_EQ(MAPIAllocateMore(8, parent, &late), MAPI_E_INVALID_PARAMETER);
  EXPECT_EQ(late, nullptr);
}

TEST_F(MapiCoreMemory, BlocksAreAlignedForAnyValue) {
  void* parent = nullptr;
  ASSERT_EQ(MAPIAllocateBuffer(3, &parent), S_OK);
  EXPECT_EQ(reinterpret_cast<uintptr_t>(parent) % 16, 0u);
  for (int i = 0; i < 4; ++i) {
    void* more = nullptr;
    ASSERT_EQ(MAPIAllocateMore(static_cast<ULONG>(i * 3 + 1), parent, &more), S_OK);
    EXPECT_EQ(reinterpret_cast<uintptr_t>(more) % 16, 0u);
  }
  MAPIFreeBuffer(parent);
}

TEST_F(MapiCoreMemory, NullAndForeignParentsAreRefused) {
  void* out = kSentinel;
  EXPECT_EQ(MAPIAllocateMore(8, nullptr, &out), MAPI_E_INVALID_PARAMETER);
  EXPECT_EQ(out, nullptr);

  int onStack = 0;
  out = kSentinel;
  EXPECT_EQ(MAPIAllocateMore(8, &onStack, &out), MAPI_E_INVALID_PARAMETER);
  EXPECT_EQ(out, nullptr);

  void* fromMalloc = std::malloc(64);
  out = kSentinel;
  EXPECT_EQ(MAPIAllocateMore(8, fromMalloc, &out), MAPI_E_INVALID_PARAMETER);
  EXPECT_EQ(out, nullptr);
  std::free(fromMalloc);

  // An address inside a MAPI block is not the block.
  void* parent = nullptr;
  ASSERT_EQ(MAPIAllocateBuffer(64, &parent), S_OK);
  EXPECT_EQ(MAPIAllocateMore(8, static_cast<char*>(parent) + 16, &out), MAPI_E_INVALID_PARAMETER);
  MAPIFreeBuffer(parent);

  EXPECT_EQ(MAPIAllocateBuffer(8, nullptr), MAPI_E_INVALID_PARAMETER);
}

TEST_F(MapiCoreMemory, FreeingNullOrChainedOrForeignIsHarmless) {
  EXPECT_EQ(MAPIFreeBuffer(nullptr), 0u);
  void* parent = nullptr;
  void* child = nullptr;
  ASSERT_EQ(MAPIAllocateBuffer(16, &parent), S_OK);
  ASSERT_EQ(MAPIAllocateMore(16, parent, &child), S_OK);
  // A chained block is not freed on its own (it would be freed twice).
  EXPECT_NE(MAPIFreeBuffer(child), 0u);
  std::memset(child, 1, 16);  // still alive
  int onStack = 0;
  EXPECT_NE(MAPIFreeBuffer(&onStack), 0u);
  EXPECT_EQ(MAPIFreeBuffer(parent), 0u);
  EXPECT_NE(MAPIFreeBuffer(parent), 0u);  // a second free is caught, not a double free
}

TEST_F(MapiCoreMemory, ArmedFaultsFailWithTheirCodeAndNoBlock) {
  standin::ArmFault("MAPIAllocateBuffer", MAPI_E_NOT_ENOUGH_MEMORY, 2);
  void* first = nullptr;
  void* second = kSentinel;
  ASSERT_EQ(MAPIAllocateBuffer(8, &first), S_OK);
  EXPECT_EQ(MAPIAllocateBuffer(8, &second), MAPI_E_NOT_ENOUGH_MEMORY);
  EXPECT_EQ(second, nullptr);

  standin::ArmFault("MAPIAllocateMore", MAPI_E_NOT_ENOUGH_MEMORY);
  void* more = kSentinel;
  EXPECT_EQ(MAPIAllocateMore(8, first, &more), MAPI_E_NOT_ENOUGH_MEMORY);
  EXPECT_EQ(more, nullptr);
  standin::ClearFault("MAPIAllocateMore");
  EXPECT_EQ(MAPIAllocateMore(8, first, &more), S_OK);
  MAPIFreeBuffer(first);
}

TEST_F(MapiCoreMemory, ThreadsAllocateChainAndFreeConcurrently) {
  std::vector<std::thread> threads;
  std::atomic<int> failures{0};
  for (int t = 0; t < 8; ++t) {
    threads.emplace_back([&failures, t] {
      for (int i = 0; i < 500; ++i) {
        void* parent = nullptr;
        if (MAPIAllocateBuffer(static_cast<ULONG>(8 + i % 13), &parent) != S_OK) {
          ++failures;
          continue;
        }
        void* link = parent;
        for (int k = 0; k < 4; ++k) {
          void* more = nullptr;
          if (MAPIAllocateMore(static_cast<ULONG>(t + k + 1), link, &more) != S_OK)
            ++failures;
          else
            link = more;
        }
        if (MAPIFreeBuffer(parent) != 0) ++failures;
      }
    });
  }
  for (auto& th : threads) th.join();
  EXPECT_EQ(failures.load(), 0);
}

}  // namespace
