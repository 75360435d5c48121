// The datagram that carries a posted window message between processes.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>

#include "ovplatform/win32.h"

namespace ov::detail {

struct WireMessage {
    std::uint32_t magic;
    std::uint32_t message;
    std::uint64_t target;  // the window, or HWND_BROADCAST
    std::uint64_t wParam;
    std::int64_t lParam;
    std::uint32_t senderPid;
    std::uint32_t reserved;
};

constexpr std::uint32_t kWireMagic = 0x4F564D31;  // "OVM1"

WireMessage EncodeWireMessage(std::uintptr_t target, UINT message, WPARAM wParam, LPARAM lParam);
// The message for the window that received bytes; nothing for anything not
// shaped like our datagram or meant for another window.
std::optional<MSG> DecodeWireMessage(const void* bytes, std::size_t size, std::uintptr_t window);

}  // namespace ov::detail
