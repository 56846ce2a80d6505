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
