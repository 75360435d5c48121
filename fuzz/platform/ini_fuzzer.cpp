// Profile-file text: parsed, queried, changed and written back. Whatever the
// input, the lines not touched must come back byte for byte and a value set
// must read back.
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "ovplatform/internal/ini_document.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    // Bounded like the reader: larger files are never parsed.
    if (size > ov::detail::kMaxProfileFileSize) {
        return 0;
    }
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    auto document = ov::detail::IniDocument::Parse(text);
    for (const auto& section : document.Sections()) {
        for (const auto& key : document.Keys(section)) {
            if (!document.Get(section, key)) {
                std::abort();  // a listed key must be readable
            }
        }
    }
    const std::string written = document.Serialize();
    // Parsing what was written gives the same text again.
    if (ov::detail::IniDocument::Parse(written).Serialize() != written) {
        std::abort();
    }
    document.Set("Fuzz Section", "FuzzKey", "value");
    if (document.Get("fuzz section", "fuzzkey") != std::string("value")) {
        std::abort();
    }
    document.RemoveKey("Fuzz Section", "FuzzKey");
    if (document.Get("Fuzz Section", "FuzzKey")) {
        std::abort();
    }
    document.RemoveSection("General");
    (void)document.Serialize();
    return 0;
}
