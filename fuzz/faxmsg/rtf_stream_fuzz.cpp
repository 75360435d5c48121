// The stored body read through the mail system's streams: any bytes on
// PR_RTF_COMPRESSED must be refused or read as RTF, and RTF that reads must
// come back unchanged through the compressing wrapper.
#include <cstdint>
#include <cstdlib>
#include <string>

#include "faxmsg/rtf_streams.h"
#include "ovmapi/mapiutil.h"

namespace {

struct Stream {
    IStream* p = nullptr;
    ~Stream() {
        if (p != nullptr) p->Release();
    }
};

std::string ReadAll(IStream* stream) {
    std::string out;
    char buffer[4096];
    for (;;) {
        ULONG got = 0;
        if (FAILED(stream->Read(buffer, sizeof buffer, &got))) std::abort();
        if (got == 0) return out;
        out.append(buffer, got);
    }
}

void Rewind(IStream* stream) {
    LARGE_INTEGER start{};
    if (FAILED(stream->Seek(start, STREAM_SEEK_SET, nullptr))) std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size > (1u << 20)) return 0;
    Stream stored;
    if (FAILED(CreateStreamOnHGlobal(nullptr, TRUE, &stored.p))) std::abort();
    if (size > 0 && FAILED(stored.p->Write(data, static_cast<ULONG>(size), nullptr))) std::abort();
    Rewind(stored.p);
    Stream reader;
    if (FAILED(faxmsg::WrapCompressedRTFStream(stored.p, 0, &reader.p))) {
        if (reader.p != nullptr) std::abort();
        return 0;
    }
    const std::string rtf = ReadAll(reader.p);

    Stream again;
    Stream writer;
    if (FAILED(CreateStreamOnHGlobal(nullptr, TRUE, &again.p))) std::abort();
    if (FAILED(faxmsg::WrapCompressedRTFStream(again.p, MAPI_MODIFY | MAPI_CREATE, &writer.p)))
        std::abort();
    if (FAILED(writer.p->Write(rtf.data(), static_cast<ULONG>(rtf.size()), nullptr)) ||
        FAILED(writer.p->Commit(0)))
        std::abort();
    Rewind(again.p);
    Stream back;
    if (FAILED(faxmsg::WrapCompressedRTFStream(again.p, 0, &back.p)) || ReadAll(back.p) != rtf)
        std::abort();
    return 0;
}
