// The process token, as other parts of the stand-in check it.
#pragma once

#include <string_view>

namespace standin {

// Whether the process token holds the privilege and has it enabled.
bool PrivilegeEnabled(std::u16string_view name);

}  // namespace standin
