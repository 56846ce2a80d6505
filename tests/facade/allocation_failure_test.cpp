// Memory running out inside the library never throws into the host: the array
// allocations the library makes itself fail one at a time, and every call
// still returns, with a result that does not claim more than it did.
//
// This program replaces the array forms of operator new and delete; the
// library resolves them here too. Only calls made from the library's own code
// are failed, so the platform and the test go on as usual.
#include <dlfcn.h>

#include <atomic>
#include <cstdlib>
#include <cstring>
#include <new>

#include <standin/fault.h>

#include "facade/facade_support.h"

namespace {

std::atomic<unsigned> g_failAt{0};     // the library's k-th array allocation fails; 0 none
std::atomic<unsigned> g_libraryCalls{0};

bool CalledFromLibrary(void* caller) {
  Dl_info info;
  return dladdr(caller, &info) && info.dli_fname && std::strstr(info.dli_fname, "libcorvane.so");
}

// True when this allocation is the one to fail.
bool Fails(void* caller) {
  if (g_failAt.load() == 0 || !CalledFromLibrary(caller)) return false;
  return ++g_libraryCalls == g_failAt.load();
}

void* Allocate(std::size_t size) { return std::malloc(size ? size : 1); }

}  // namespace

void* operator new[](std::size_t size) {
  if (Fails(__builtin_return_address(0))) throw std::bad_alloc();
  if (void* p = Allocate(size)) return p;
  throw std::bad_alloc();
}
void* operator new[](std::size_t size, const std::nothrow_t&) noexcept {
  if (Fails(__builtin_return_address(0))) return nullptr;
  return Allocate(size);
}
void operator delete[](void* p) noexcept { std::free(p); }
void operator delete[](void* p, std::size_t) noexcept { std::free(p); }
void operator delete[](void* p, const std::nothrow_t&) noexcept { std::free(p); }

namespace testing_support {
namespace {

class AllocationFailure : public FacadeMachine {
 protected:
  void TearDown() override {
    g_failAt = 0;
    FacadeMachine::TearDown();
  }
  // Runs call with the library's k-th array allocation failing, for k = 1, 2,
  // ... until a run makes fewer allocations than k; check sees each result.
  template <class Call, class Check>
  void EachFailure(Call call, Check check) {
    for (unsigned k = 1;; ++k) {
      g_libraryCalls = 0;
      g_failAt = k;
      int result = -1;
      EXPECT_NO_THROW(result = call()) << "allocation " << k;
      const bool failed = g_libraryCalls >= k;
      g_failAt = 0;
      if (!failed) {
        EXPECT_EQ(result, 1) << "nothing failed";
        ASSERT_GT(k, 1u) << "the call made no allocation of its own";
        return;
      }
      check(result, k);
      ASSERT_LT(k, 500u);
    }
  }
};

TEST_F(AllocationFailure, ListingAStoreWithTheRootRecord) {
  std::string message = SomeMail();
  REQUIRE_TEST_DATA(!message.empty());
  std::string mail = AddPst("mail.pst", "Mail", true);
  // Messages at the top: the listing puts the "root" record in front.
  Ok({"import", "Outlook", "--store", "Mail", "--folder", "/", message});
  COutlookFacade facade;
  std::u16string path = W(mail);
  DWORD count = 0;
  EachFailure(
      [&] {
        OLCATALOGDATA* records = nullptr;
        count = 0;
        int result = facade.GetCatalog(path.c_str(), &records, &count);
        delete[] records;
        return result;
      },
      [&](int result, unsigned k) {
        // A listing that cannot be made whole is no listing at all.
        if (result == 1) {
          EXPECT_EQ(count, 12u) << "allocation " << k;
        }
      });
}

TEST_F(AllocationFailure, TheFlatListOfStores) {
  AddPst("a.pst", "Store A", true);
  AddPst("b.pst", "Store B");
  EachFailure(
      [&] {
        LPWSTR paths[2] = {}, names[2] = {};
        ULONG count = 9;
        int result = GetOutlookPstW2(paths, names, &count);
        // Either both stores come back whole or none does.
        EXPECT_TRUE(count == 0 || (count == 2 && paths[1] && names[1])) << count;
        FreeArray2(paths, count);
        FreeArray2(names, count);
        return result;
      },
      [](int result, unsigned) { EXPECT_EQ(result, 1); });
}

}  // namespace
}  // namespace testing_support
