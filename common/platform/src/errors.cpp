// The thread's last error, as Win32 keeps it.
#include "ovplatform/win32.h"

namespace {
thread_local DWORD tLastError = ERROR_SUCCESS;
}

extern "C" {

DWORD GetLastError() { return tLastError; }
void SetLastError(DWORD error) { tLastError = error; }

}  // extern "C"
