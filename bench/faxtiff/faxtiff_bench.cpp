// Throughput of page decoding and encoding, this library against libtiff on
// the same pages (a letter, an empty page, a dense halftone), and of printer
// output conversion. Counters: lines per second, and heap allocations per
// page, which must not grow with the number of lines.
#include <benchmark/benchmark.h>
#include <tiffio.h>

#include <atomic>
#include <cstdlib>
#include <filesystem>
#include <new>
#include <string>
#include <vector>

#include "faxtiff/faxtiff.h"
#include "faxtiff/page_image.h"
#include "ovplatform/platform.h"
#include "synthetic_page.h"

namespace {

std::atomic<long> g_allocations{0};

}  // namespace

// Counts every heap allocation of the process, the library's included.
void* operator new(std::size_t size) {
    g_allocations.fetch_add(1, std::memory_order_relaxed);
    if (void* p = std::malloc(size == 0 ? 1 : size)) return p;
    throw std::bad_alloc();
}
void operator delete(void* p) noexcept { std::free(p); }
void operator delete(void* p, std::size_t) noexcept { std::free(p); }

namespace {

namespace fs = std::filesystem;
constexpr int kLines = 2287;  // an A4 page at fine resolution
constexpr int kLineBytes = FAX_LINE_BYTES;

enum PageKind { kText, kBlank, kDense };
const char* const kPageNames[] = {"text", "blank", "dense"};

// A scratch directory that is also the prefix, removed at the end.
class Workspace {
public:
    Workspace() {
        std::string pattern = (fs::temp_directory_path() / "faxtiff-bench-XXXXXX").string();
        if (::mkdtemp(pattern.data()) == nullptr) std::abort();
        path_ = pattern;
        ::setenv("ORVANE_PREFIX", path_.c_str(), 1);
        ov::SetPrefixForTesting(path_);
        for (int kind = 0; kind < 3; ++kind) {
            pages_[kind] = kind == kText ? faxtiff::synthetic::TextPage(kLines, 1)
                         : kind == kBlank ? faxtiff::synthetic::BlankPage(kLines)
                                          : faxtiff::synthetic::DensePage(kLines, 2);
            inverted_[kind] = pages_[kind];
            for (auto& b : inverted_[kind]) b = static_cast<std::uint8_t>(~b);
            if (!WriteOurs(kind, File(kind).c_str())) std::abort();
        }
    }
    ~Workspace() {
        std::error_code ignored;
        fs::remove_all(path_, ignored);
    }
    Workspace(const Workspace&) = delete;
    Workspace& operator=(const Workspace&) = delete;

    std::string File(int kind) const { return (path_ / (std::string(kPageNames[kind]) + ".fax")).string(); }
    std::string Output(const char* name) const { return (path_ / name).string(); }
    const std::vector<std::uint8_t>& Page(int kind) const { return pages_[kind]; }
    std::vector<std::uint8_t>& Inverted(int kind) { return inverted_[kind]; }

    bool WriteOurs(int kind, const char* path) const {
        int handle = -1;
        if (tiffCreateFile(path, &handle) != 0) return false;
        tagFaxPageInfo page = FaxStandardPage(1);
        bool ok = tiffAppendPage(handle, &page) == 0;
        for (int y = 0; ok && y < kLines; ++y) {
            ok = tiffEncodeLine(handle, pages_[kind].data() + static_cast<std::size_t>(y) * kLineBytes, kLineBytes, 1) == 0;
        }
        return tiffCloseFile(handle) == 0 && ok;
    }

private:
    fs::path path_;
    std::vector<std::uint8_t> pages_[3];
    std::vector<std::uint8_t> inverted_[3];  // 1 = black, as libtiff takes a WhiteIsZero page
};

Workspace& TheWorkspace() {
    static Workspace workspace;
    return workspace;
}

void SetCounters(benchmark::State& state, long allocations) {
    state.SetItemsProcessed(state.iterations() * kLines);
    state.SetBytesProcessed(state.iterations() * kLines * kLineBytes);
    state.counters["allocs_per_page"] =
        benchmark::Counter(static_cast<double>(allocations) / static_cast<double>(state.iterations()));
}

void DecodeOurs(benchmark::State& state) {
    const int kind = static_cast<int>(state.range(0));
    state.SetLabel(kPageNames[kind]);
    Workspace& work = TheWorkspace();
    int handle = -1;
    tagFaxPageInfo page{};
    if (tiffOpenFile(work.File(kind).c_str(), &handle) != 0 || tiffFindFirstPage(handle, &page) != 0) {
        state.SkipWithError("cannot open the page");
        return;
    }
    CFaxPageImage image;
    image.Bind(handle);
    image.LoadPage();
    if (std::vector<std::uint8_t>(image.Image(), image.Image() + image.ImageBytes()) != work.Page(kind)) {
        state.SkipWithError("the page does not decode to its bitmap");
    }
    const long before = g_allocations.load();
    for (auto _ : state) {
        tiffRewindPage(handle);
        image.Bind(handle);
        image.LoadPage();
        benchmark::DoNotOptimize(image.Image());
    }
    SetCounters(state, g_allocations.load() - before);
    tiffCloseFile(handle);
}

void DecodeLibtiff(benchmark::State& state) {
    const int kind = static_cast<int>(state.range(0));
    state.SetLabel(kPageNames[kind]);
    Workspace& work = TheWorkspace();
    TIFFSetWarningHandler(nullptr);
    TIFF* tif = TIFFOpen(work.File(kind).c_str(), "r");
    if (tif == nullptr) {
        state.SkipWithError("libtiff cannot open the page");
        return;
    }
    std::vector<std::uint8_t> bitmap(static_cast<std::size_t>(kLines) * kLineBytes);
    TIFFReadEncodedStrip(tif, 0, bitmap.data(), static_cast<tmsize_t>(bitmap.size()));
    if (bitmap != work.Inverted(kind)) state.SkipWithError("libtiff decodes another bitmap");
    const long before = g_allocations.load();
    for (auto _ : state) {
        TIFFReadEncodedStrip(tif, 0, bitmap.data(), static_cast<tmsize_t>(bitmap.size()));
        benchmark::DoNotOptimize(bitmap.data());
    }
    SetCounters(state, g_allocations.load() - before);
    TIFFClose(tif);
}

void EncodeOurs(benchmark::State& state) {
    const int kind = static_cast<int>(state.range(0));
    state.SetLabel(kPageNames[kind]);
    Workspace& work = TheWorkspace();
    CFaxPageImage image;
    image.CreateImage(kLines);
    std::copy(work.Page(kind).begin(), work.Page(kind).end(), image.Image());
    const std::string output = work.Output("ours-out.fax");
    const long before = g_allocations.load();
    for (auto _ : state) {
        int handle = -1;
        tiffCreateFile(output.c_str(), &handle);
        tagFaxPageInfo page = FaxStandardPage(1);
        tiffAppendPage(handle, &page);
        image.WriteToPage(handle, 1);
        tiffCloseFile(handle);
    }
    SetCounters(state, g_allocations.load() - before);
}

void EncodeLibtiff(benchmark::State& state) {
    const int kind = static_cast<int>(state.range(0));
    state.SetLabel(kPageNames[kind]);
    Workspace& work = TheWorkspace();
    const std::string output = work.Output("libtiff-out.tif");
    std::vector<std::uint8_t>& bitmap = work.Inverted(kind);
    const long before = g_allocations.load();
    for (auto _ : state) {
        TIFF* tif = TIFFOpen(output.c_str(), "w");
        TIFFSetField(tif, TIFFTAG_SUBFILETYPE, FILETYPE_PAGE);
        TIFFSetField(tif, TIFFTAG_IMAGEWIDTH, FAX_LINE_PIXELS);
        TIFFSetField(tif, TIFFTAG_IMAGELENGTH, kLines);
        TIFFSetField(tif, TIFFTAG_BITSPERSAMPLE, 1);
        TIFFSetField(tif, TIFFTAG_SAMPLESPERPIXEL, 1);
        TIFFSetField(tif, TIFFTAG_COMPRESSION, COMPRESSION_CCITTFAX3);
        TIFFSetField(tif, TIFFTAG_PHOTOMETRIC, PHOTOMETRIC_MINISWHITE);
        TIFFSetField(tif, TIFFTAG_FILLORDER, FILLORDER_LSB2MSB);
        TIFFSetField(tif, TIFFTAG_GROUP3OPTIONS, GROUP3OPT_FILLBITS);
        TIFFSetField(tif, TIFFTAG_ROWSPERSTRIP, kLines);
        TIFFSetField(tif, TIFFTAG_XRESOLUTION, 204.0f);
        TIFFSetField(tif, TIFFTAG_YRESOLUTION, 196.0f);
        TIFFSetField(tif, TIFFTAG_RESOLUTIONUNIT, RESUNIT_INCH);
        TIFFWriteEncodedStrip(tif, 0, bitmap.data(), static_cast<tmsize_t>(bitmap.size()));
        TIFFClose(tif);
    }
    SetCounters(state, g_allocations.load() - before);
}

void ConvertOvk(benchmark::State& state) {
    Workspace& work = TheWorkspace();
    const std::string source = std::string(FAXTIFF_SAMPLES_DIR) + "/letter.ovk";
    const std::string output = work.Output("converted.fax");
    const auto sourceBytes = static_cast<std::int64_t>(fs::file_size(source));
    for (auto _ : state) {
        if (tiffConvertOvk(source.c_str(), output.c_str()) != 0) {
            state.SkipWithError("conversion failed");
            break;
        }
    }
    state.SetBytesProcessed(state.iterations() * sourceBytes);
    state.SetItemsProcessed(state.iterations() * 2);  // pages
}

BENCHMARK(DecodeOurs)->DenseRange(kText, kDense)->Unit(benchmark::kMicrosecond);
BENCHMARK(DecodeLibtiff)->DenseRange(kText, kDense)->Unit(benchmark::kMicrosecond);
BENCHMARK(EncodeOurs)->DenseRange(kText, kDense)->Unit(benchmark::kMicrosecond);
BENCHMARK(EncodeLibtiff)->DenseRange(kText, kDense)->Unit(benchmark::kMicrosecond);
BENCHMARK(ConvertOvk)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
