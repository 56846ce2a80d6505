// How a fault armed as "kill" ends the process: at once, as a kill from
// outside would, with no exit handlers and nothing flushed. One side per
// system (terminate_posix.cpp; the MAPI DLL's Windows side in mapi/windows).
#pragma once

namespace standin {

[[noreturn]] void KillThisProcess();

}  // namespace standin
