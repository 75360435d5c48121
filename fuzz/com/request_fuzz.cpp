// The remote-object server reads one JSON request per line from its client.
#include <cstdint>
#include <string_view>

#include "ovcom/remote.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    std::string_view line(reinterpret_cast<const char*>(data), size);
    if (auto request = ov::com::DecodeRequest(line)) {
        // What was accepted survives a round trip unchanged.
        auto again = ov::com::DecodeRequest(ov::com::EncodeRequest(*request));
        if (!again || again->names != request->names || again->member != request->member ||
            again->flags != request->flags || again->args.size() != request->args.size()) {
            __builtin_trap();
        }
    }
    (void)ov::com::DecodeReply(line);
    return 0;
}
