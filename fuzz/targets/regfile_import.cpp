// The registry editor's import: a .reg file's bytes decoded, read and applied
// to an empty machine's registry. What the registry then holds is exported,
// and that export imported on another empty machine must export the same.
#include <cstdio>
#include <cstdlib>
#include <string_view>

#include "fuzz_target.h"
#include "regfile.h"
#include "regtree.h"

namespace {

// The whole registry of the current machine as the editor exports it.
std::string Export() {
  regedit::RegWriter writer;
  std::vector<regedit::RegProblem> problems;
  regedit::ExportRegistry(&writer, &problems);
  return writer.Finish();
}

}  // namespace

int FuzzOne(const uint8_t* data, size_t size) {
  std::string first;
  {
    fuzzing::InputRoot root;
    std::u16string text = regedit::DecodeRegFile(std::string_view(reinterpret_cast<const char*>(data), size));
    regedit::RegVersion version = regedit::RegVersion::kNone;
    std::vector<regedit::RegProblem> problems;
    regedit::ImportRegText(text, &version, &problems);
    if (version == regedit::RegVersion::kNone) return 0;
    first = Export();
  }
  fuzzing::InputRoot again;
  regedit::RegVersion version = regedit::RegVersion::kNone;
  std::vector<regedit::RegProblem> problems;
  regedit::ImportRegText(regedit::DecodeRegFile(first), &version, &problems);
  if (Export() != first) {
    std::fprintf(stderr, "fuzz: an export imported again exports otherwise\n");
    std::abort();
  }
  return 0;
}
