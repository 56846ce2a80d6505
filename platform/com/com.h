// Pieces shared by the COM library's units. Internal to the stand-in.
#pragma once

namespace standin::com {

// Whether the calling thread may use COM objects: it is in an apartment of its
// own, or the process has a multithreaded apartment it joins implicitly.
bool CanUseCom();

// Called when the last apartment of the process has been left.
void ReleaseUnusedServers();

}  // namespace standin::com
