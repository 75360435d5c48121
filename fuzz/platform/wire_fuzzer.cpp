// Datagrams arriving on a window's socket: anything may arrive there; only
// our own message for this window (or a broadcast) may be taken.
#include <cstdint>
#include <cstdlib>

#include "ovplatform/internal/window_wire.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    constexpr std::uintptr_t kWindow = (std::uintptr_t{1234} << 24) | 1;
    auto msg = ov::detail::DecodeWireMessage(data, size, kWindow);
    if (msg && (size != sizeof(ov::detail::WireMessage) || msg->hwnd != reinterpret_cast<HWND>(kWindow))) {
        std::abort();
    }
    // What we send decodes to what was sent.
    const auto wire = ov::detail::EncodeWireMessage(kWindow, 0xC001, size, -static_cast<LPARAM>(size));
    auto back = ov::detail::DecodeWireMessage(&wire, sizeof wire, kWindow);
    if (!back || back->message != 0xC001 || back->wParam != size || back->lParam != -static_cast<LPARAM>(size)) {
        std::abort();
    }
    return 0;
}
