// The thread's last error, as Win32 keeps it.
#include <new>

#include "internal.h"
#include "ovplatform/win32.h"

namespace {
thread_local DWORD tLastError = ERROR_SUCCESS;
}

extern "C" {

DWORD GetLastError() { return tLastError; }
void SetLastError(DWORD error) { tLastError = error; }

}  // extern "C"

namespace ov::detail {

void SetErrorFromCurrentException() noexcept {
    try {
        throw;
    } catch (const std::bad_alloc&) {
        SetLastError(ERROR_NOT_ENOUGH_MEMORY);
    } catch (...) {
        SetLastError(ERROR_GEN_FAILURE);
    }
}

}  // namespace ov::detail
