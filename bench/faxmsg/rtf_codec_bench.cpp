#include <benchmark/benchmark.h>

#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "faxmsg/rtf_codec.h"
#include "sample_text.h"

namespace {

constexpr std::size_t kTextSize = 8u * 1024u * 1024u;

const std::string& LetterText() {
    static const std::string text = faxmsg_test::SampleLetter(kTextSize, 11);
    return text;
}

const std::string& LetterRtf() {
    static const std::string rtf = faxmsg::ConvertTextToRtf(LetterText(), 1252);
    return rtf;
}

std::span<const std::uint8_t> Bytes(const std::string& s) {
    return {reinterpret_cast<const std::uint8_t*>(s.data()), s.size()};
}

void BM_TextToRtf(benchmark::State& state) {
    const std::string& text = LetterText();
    for (auto _ : state) {
        std::string rtf = faxmsg::ConvertTextToRtf(text, 1252);
        benchmark::DoNotOptimize(rtf.data());
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * text.size()));
}
BENCHMARK(BM_TextToRtf)->Unit(benchmark::kMillisecond);

// Written in 64 KiB pieces and drained as it goes, as the body stream does.
void BM_CompressRtf(benchmark::State& state) {
    const std::string& rtf = LetterRtf();
    std::size_t compressedSize = 0;
    for (auto _ : state) {
        faxmsg::RtfCompressor compressor;
        std::vector<std::uint8_t> content;
        content.reserve(rtf.size() / 2);
        const auto raw = Bytes(rtf);
        for (std::size_t at = 0; at < raw.size(); at += 65536) {
            compressor.Write(raw.subspan(at, std::min<std::size_t>(65536, raw.size() - at)));
            compressor.TakeContent(content);
        }
        faxmsg::CompressedRtfHeader header;
        compressor.Finish(header);
        compressor.TakeContent(content);
        compressedSize = content.size() + faxmsg::kCompressedRtfHeaderSize;
        benchmark::DoNotOptimize(content.data());
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * rtf.size()));
    state.counters["raw_bytes"] = static_cast<double>(rtf.size());
    state.counters["compressed_bytes"] = static_cast<double>(compressedSize);
    state.counters["ratio"] = static_cast<double>(compressedSize) / static_cast<double>(rtf.size());
}
BENCHMARK(BM_CompressRtf)->Unit(benchmark::kMillisecond);

void BM_DecompressRtf(benchmark::State& state) {
    const std::string& rtf = LetterRtf();
    const std::vector<std::uint8_t> blob = faxmsg::CompressRtf(Bytes(rtf));
    std::vector<std::uint8_t> out;
    for (auto _ : state) {
        if (faxmsg::DecompressRtf(blob, out) != faxmsg::RtfDecodeStatus::kOk) {
            state.SkipWithError("decompression failed");
            break;
        }
        benchmark::DoNotOptimize(out.data());
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * rtf.size()));
    state.counters["compressed_bytes"] = static_cast<double>(blob.size());
}
BENCHMARK(BM_DecompressRtf)->Unit(benchmark::kMillisecond);

}  // namespace
