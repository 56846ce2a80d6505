// Copying one message must cost the same whether the destination folder holds
// ten messages or a hundred thousand.
#include <benchmark/benchmark.h>

#include <filesystem>
#include <memory>
#include <string>

#include "storefile.h"

namespace {

using standin::mapi::NodeId;
using standin::mapi::NodeKind;
using standin::mapi::StoreFile;

void BM_CopyMessageIntoFolderOf(benchmark::State& state) {
  std::string dir = std::filesystem::temp_directory_path() / "corvane-copy-bench";
  std::filesystem::remove_all(dir);
  std::filesystem::create_directories(dir);
  std::shared_ptr<StoreFile> file;
  if (StoreFile::Create(dir + "/bench.pst", &file) != S_OK) {
    state.SkipWithError("cannot make the store file");
    return;
  }
  NodeId source = 0, dest = 0, message = 0;
  file->NewNode(standin::mapi::kRootNode, NodeKind::Folder, 0, &source);
  file->NewNode(standin::mapi::kRootNode, NodeKind::Folder, 0, &dest);
  file->NewNode(source, NodeKind::Message, 0, &message);
  for (ULONG i = 0; i < 20; ++i) file->WriteProp(message, standin::mapi::MakeLong(PROP_TAG(PT_LONG, 0x6000 + i), 1));
  {
    StoreFile::Transaction txn(*file);
    for (int64_t i = 0; i < state.range(0); ++i) {
      NodeId filler = 0;
      file->NewNode(dest, NodeKind::Message, 0, &filler);
      file->WriteProp(filler, standin::mapi::MakeLong(PR_IMPORTANCE, static_cast<LONG>(i)));
    }
    txn.Commit();
  }
  for (auto _ : state) benchmark::DoNotOptimize(file->CopyTree(message, *file, dest, nullptr));
  file.reset();
  std::filesystem::remove_all(dir);
}
BENCHMARK(BM_CopyMessageIntoFolderOf)->Arg(10)->Arg(100000)->Unit(benchmark::kMicrosecond);

}  // namespace
