// The registry editor's import: a .reg file's bytes decoded, read and applied
// to an empty machine's registry, then the registry exported and read again.
#include <string_view>

#include "fuzz_target.h"
#include "regfile.h"
#include "regtree.h"

int FuzzOne(const uint8_t* data, size_t size) {
  fuzzing::InputRoot root;
  std::u16string text = regedit::DecodeRegFile(std::string_view(reinterpret_cast<const char*>(data), size));
  regedit::RegVersion version = regedit::RegVersion::kNone;
  std::vector<regedit::RegProblem> problems;
  regedit::ImportRegText(text, &version, &problems);
  if (version == regedit::RegVersion::kNone) return 0;
  // What was imported comes back out as a file the editor reads again.
  regedit::RegWriter writer;
  problems.clear();
  regedit::ExportRegistry(&writer, &problems);
  regedit::ParseRegScript(regedit::DecodeRegFile(writer.Finish()));
  return 0;
}
