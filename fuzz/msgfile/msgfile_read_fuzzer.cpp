// Feeds arbitrary bytes to the .msg reader and the one-off entry ID parser.
// Whatever the reader accepts and the writer takes must read back.
#include <cstdint>
#include <cstdlib>
#include <span>

#include "ovmsgfile/msgfile.h"

namespace msgfile = ov::msgfile;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    std::span<const std::uint8_t> input(data, size);
    (void)msgfile::ParseOneOffEntryId(input);

    msgfile::ReadLimits limits;
    limits.maxFileBytes = 4u << 20;
    limits.maxDirectoryEntries = 4096;
    limits.maxRecipients = 64;
    limits.maxAttachments = 64;
    msgfile::Message message;
    if (!msgfile::ReadMsgFile(input, message, limits)) return 0;
    for (const auto& recipient : message.recipients)
        for (const auto& property : recipient.properties)
            if (property.tag == 0x0FFF0102)
                (void)msgfile::ParseOneOffEntryId(std::get<msgfile::Bytes>(property.value));

    // A record read from a file may still be unwritable (two names for one
    // id, say); that is a clean refusal, not a fault.
    msgfile::Bytes rewritten;
    if (!msgfile::BuildMsgFile(message, rewritten)) return 0;
    msgfile::Message again;
    if (!msgfile::ReadMsgFile(rewritten, again)) std::abort();
    return 0;
}
