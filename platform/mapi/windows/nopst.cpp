// Files written by the mail client itself are read through libpff, which
// exists on Linux only: on Windows such a file is recognised and refused.
#include <cstring>

#include "pstfile.h"
#include "storefile.h"
#include "storefs.h"

namespace standin::mapi {

bool PstFile::HasMagic(const std::string& posixPath) {
  char magic[4] = {};
  return fs::ReadHead(posixPath, magic, sizeof magic) == static_cast<long>(sizeof magic) &&
         std::memcmp(magic, "!BDN", sizeof magic) == 0;
}

HRESULT PstFile::Open(const std::string& posixPath, std::shared_ptr<PstFile>*) {
  StoreLog("cannot read " + posixPath + ": the mail client's own files are read on Linux only");
  return MAPI_E_NO_SUPPORT;
}

HRESULT OpenPstStore(const std::string& posixPath, const std::u16string&, LPMDB*) {
  return PstFile::Open(posixPath, nullptr);
}

}  // namespace standin::mapi
