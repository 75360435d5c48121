// The fax message builder end to end on a private prefix: CreateFaxMsg with
// a 1 MB attachment and a body file, submitted to the pickup directory, and
// the body file stored as compressed RTF through the streams.
#include <benchmark/benchmark.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>

#include "faxmsg/faxmsg.h"
#include "faxmsg/rtf_codec.h"
#include "faxmsg/rtf_streams.h"
#include "ovmapi/mapiutil.h"
#include "ovmapi/provider.h"
#include "ovplatform/platform.h"
#include "sample_text.h"

namespace {

namespace fs = std::filesystem;

// A prefix of the benchmark's own, removed at exit, with a body file and a
// 1 MB attachment in it.
struct Workspace {
    fs::path prefix;
    fs::path body;
    fs::path attachment;

    Workspace() {
        std::string pattern = (fs::temp_directory_path() / "orvane-bench-XXXXXX").string();
        if (mkdtemp(pattern.data()) == nullptr) std::abort();
        prefix = pattern;
        setenv("ORVANE_PREFIX", prefix.c_str(), 1);
        ov::SetPrefixForTesting(prefix);
        body = prefix / "letter.txt";
        attachment = prefix / "scan.fax";
        std::ofstream(body, std::ios::binary) << faxmsg_test::SampleLetter(64 * 1024, 5);
        std::string data(1024 * 1024, '\0');
        for (std::size_t n = 0; n < data.size(); ++n)
            data[n] = static_cast<char>((n * 2654435761u) >> 13);
        std::ofstream(attachment, std::ios::binary) << data;
        if (FAILED(ovmapi::EnsureProfile())) std::abort();
    }
    ~Workspace() {
        std::error_code ec;
        fs::remove_all(prefix, ec);
    }
};

Workspace& Work() {
    static Workspace workspace;
    return workspace;
}

void ClearPickup() {
    std::error_code ec;
    for (const auto& entry : fs::directory_iterator(ovmapi::PickupDirectory(), ec))
        fs::remove(entry.path(), ec);
}

void BM_CreateFaxMsgWith1MBAttachment(benchmark::State& state) {
    Workspace& work = Work();
    tagMsgSettings settings;
    settings.SetMsgClass("IPM.Note.OVFAX.Submit", 64);
    settings.SetSubject("Benchmark", 64);
    settings.SetExSettings(1);
    settings.SetRes(1);
    settings.AddRecip("\"Ann Lee\"@\"Acme\"@555-0100");
    settings.SetBody(work.body.c_str(), 2047);
    settings.SetBodyFile(1);
    settings.AddAttach(work.attachment.c_str());
    for (auto _ : state) {
        LONG extended = 0;
        const char* failed = nullptr;
        int code = CreateFaxMsg(nullptr, &settings, &extended, &failed);
        if (code != 0) state.SkipWithError("CreateFaxMsg failed");
        state.PauseTiming();
        ClearPickup();
        state.ResumeTiming();
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) *
                            static_cast<std::int64_t>(fs::file_size(work.attachment)));
}
BENCHMARK(BM_CreateFaxMsgWith1MBAttachment)->Unit(benchmark::kMillisecond);

// Text stream to RTF to the compressing wrapper, as the body-file step does,
// into a memory stream.
void BM_TextToCompressedRtfStream(benchmark::State& state) {
    Work();
    const std::string text = faxmsg_test::SampleLetter(static_cast<std::size_t>(state.range(0)), 3);
    for (auto _ : state) {
        IStream* source = nullptr;
        IStream* target = nullptr;
        IStream* rtf = nullptr;
        IStream* wrapper = nullptr;
        CreateStreamOnHGlobal(nullptr, TRUE, &source);
        CreateStreamOnHGlobal(nullptr, TRUE, &target);
        source->Write(text.data(), static_cast<ULONG>(text.size()), nullptr);
        LARGE_INTEGER start{};
        source->Seek(start, STREAM_SEEK_SET, nullptr);
        faxmsg::HrTextToRtfStream(source, 1252, 0, nullptr, &rtf);
        faxmsg::WrapCompressedRTFStream(target, MAPI_MODIFY | MAPI_CREATE, &wrapper);
        ULARGE_INTEGER all;
        all.QuadPart = ~0ULL;
        if (FAILED(rtf->CopyTo(wrapper, all, nullptr, nullptr)) || FAILED(wrapper->Commit(0)))
            state.SkipWithError("stream copy failed");
        wrapper->Release();
        rtf->Release();
        target->Release();
        source->Release();
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) * state.range(0));
}
BENCHMARK(BM_TextToCompressedRtfStream)->Arg(64 << 10)->Arg(1 << 20)->Unit(benchmark::kMillisecond);

}  // namespace
