// Path spelling where the stand-in's MAPI subsystem runs on Windows: the
// store files' paths are the system's own, so a Windows path is kept as it
// is, in UTF-8 for the store files' code.
#include <standin/root.h>
#include <wcrt.h>

namespace standin {

std::string ToPosixPath(std::u16string_view windowsPath) { return ToUtf8(windowsPath); }

std::u16string ToWindowsPath(std::string_view path) { return ToUtf16(path); }

}  // namespace standin
