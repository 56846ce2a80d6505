// An incremental folder copy into a destination that already holds every
// message: the duplicate check must grow with the folder, not with its square.
#include <benchmark/benchmark.h>

#include <filesystem>
#include <string>

#include <mapix.h>
#include <mapiutil.h>
#include <standin/mapi.h>
#include <standin/root.h>
#include <wcrt.h>

#include "MAPIPack/MAPIFolder.h"
#include "MAPIPack/MAPIHelpers.h"
#include "MAPIPack/MAPIProgress.h"
#include "MAPIPack/MAPIStore.h"

namespace standin::mapi {
STANDIN_API HRESULT CreateStoreFile(const std::u16string& path, const std::u16string& displayName);
STANDIN_API HRESULT OpenStoreFile(const std::u16string& path, const std::u16string& displayName, ULONG flags,
                                  LPMDB* out);
}  // namespace standin::mapi

namespace {

bool OpenNewStore(const std::string& path, CInterfacePtr<IMsgStore>& store) {
  std::u16string wide = standin::ToUtf16(path);
  return standin::mapi::CreateStoreFile(wide, u"Bench") == S_OK &&
         standin::mapi::OpenStoreFile(wide, u"Bench", MDB_WRITE, store.Put()) == S_OK;
}

bool AddMessages(IMAPIFolder* folder, int64_t count) {
  for (int64_t i = 0; i < count; ++i) {
    CInterfacePtr<IMessage> message;
    if (folder->CreateMessage(nullptr, 0, message.Put()) != S_OK) return false;
    std::u16string subject = standin::ToUtf16("Message " + std::to_string(i));
    SPropValue props[2] = {};
    props[0].ulPropTag = PR_SUBJECT_W;
    props[0].Value.lpszW = reinterpret_cast<LPWSTR>(subject.data());
    props[1].ulPropTag = PR_LAST_MODIFICATION_TIME;
    props[1].Value.ft.dwLowDateTime = static_cast<DWORD>(i % 7);  // many equal times
    props[1].Value.ft.dwHighDateTime = 0x01DC0000;
    if (message->SetProps(2, props, nullptr) != S_OK || message->SaveChanges(0) != S_OK) return false;
  }
  return true;
}

void BM_IncrementalCopyIntoFolderOf(benchmark::State& state) {
  std::string dir = std::filesystem::temp_directory_path() / "corvane-folder-copy-bench";
  std::filesystem::remove_all(dir);
  std::filesystem::create_directories(dir);
  {
    CInterfacePtr<IMsgStore> source, dest;
    CInterfacePtr<IMAPIProgress> progress;
    if (!OpenNewStore(dir + "/source.pst", source) || !OpenNewStore(dir + "/dest.pst", dest) ||
        CreateProcessDumb(progress.Put()) != S_OK) {
      state.SkipWithError("cannot make the stores");
      return;
    }
    CMAPIStore sourceStore(source.Get()), destStore(dest.Get());
    CInterfacePtr<IMAPIFolder> from(sourceStore.OpenIPMSubtree());
    CInterfacePtr<IMAPIFolder> to(destStore.OpenIPMSubtree());
    if (!from || !to || !AddMessages(from.Get(), state.range(0)) ||
        CMAPIFolder::CopyFolderContents(from.Get(), to.Get(), progress.Get()) != COPY_SUCCEEDED) {
      state.SkipWithError("cannot fill the stores");
      return;
    }
    for (auto _ : state) benchmark::DoNotOptimize(CMAPIFolder::CopyFolderContents(from.Get(), to.Get(), progress.Get()));
    state.SetComplexityN(state.range(0));
  }
  std::filesystem::remove_all(dir);
}
BENCHMARK(BM_IncrementalCopyIntoFolderOf)->Arg(500)->Arg(2000)->Arg(8000)->Unit(benchmark::kMillisecond)
    ->Complexity();

}  // namespace
