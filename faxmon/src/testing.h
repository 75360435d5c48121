// Hooks for the monitor's own tests; not exported from the library.
#pragma once

#include "ovplatform/win32.h"

namespace faxmon::testing {

// The millisecond tick the spool file names are made of (GetTickCount when
// null).
void SetTickSource(DWORD (*tick)());
// Forgets the port object, as unloading the library does.
void ForgetPort();

}  // namespace faxmon::testing
