// faxtiff: inspect, convert, render and encode fax files from a shell.
#include <fcntl.h>
#include <png.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>
#include <string>
#include <string_view>
#include <vector>

#include "faxtiff/faxtiff.h"
#include "faxtiff/page_image.h"
#include "pbm.h"

namespace {

constexpr int kExitFailure = 1;
constexpr int kExitUsage = 2;

constexpr const char* kUsage =
    "Usage: faxtiff COMMAND ARGUMENTS\n"
    "Inspects, converts, renders and encodes multi-page TIFF fax files\n"
    "(Group 3 one-dimensional pages).\n"
    "\n"
    "Commands:\n"
    "  info FILE [--json]        one line per page: width, length, x and y resolution,\n"
    "                            fill order, compression, T4 options, strip bytes\n"
    "  convert SRC.ovk DST.fax   convert the fax printer's output into a fax file\n"
    "  render FILE PAGE OUT      write page PAGE (from 1) as OUT.pbm (P4, black = 1)\n"
    "                            or OUT.png; normal-resolution pages have every line\n"
    "                            twice, as the library loads them\n"
    "  encode IN.pbm OUT.fax [--normal]\n"
    "                            every image of a PBM file becomes a fax page, cropped\n"
    "                            or padded with white to 1728 pixels; fine resolution\n"
    "                            (every line) unless --normal (every second line)\n"
    "\n"
    "Options:\n"
    "  -h, --help                show this help and exit\n"
    "\n"
    "Exit status: 0 on success, 1 on failure, 2 on a usage error.\n";

int Fail(const std::string& message) {
    std::fprintf(stderr, "faxtiff: %s\n", message.c_str());
    return kExitFailure;
}

int UsageError(const std::string& message) {
    std::fprintf(stderr, "faxtiff: %s\nTry 'faxtiff --help'.\n", message.c_str());
    return kExitUsage;
}

bool EndsWithNoCase(std::string_view text, std::string_view suffix) {
    if (text.size() < suffix.size()) return false;
    for (std::size_t i = 0; i < suffix.size(); ++i) {
        char c = text[text.size() - suffix.size() + i];
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
        if (c != suffix[i]) return false;
    }
    return true;
}

// Closes a fax file handle on every path.
class FaxHandle {
public:
    FaxHandle() = default;
    ~FaxHandle() {
        if (handle_ >= 0) tiffCloseFile(handle_);
    }
    FaxHandle(const FaxHandle&) = delete;
    FaxHandle& operator=(const FaxHandle&) = delete;
    int* out() { return &handle_; }
    int get() const { return handle_; }
    // Closes now, reporting whether the page counts could be completed.
    bool Close() {
        const int handle = handle_;
        handle_ = -1;
        return handle < 0 || tiffCloseFile(handle) == 0;
    }

private:
    int handle_ = -1;
};

// Writes an output file next to its final name, created exclusively, and
// moves it into place only once it is complete.
class OutputFile {
public:
    explicit OutputFile(std::string path) : path_(std::move(path)), temporary_(path_ + ".XXXXXX") {
        const int fd = ::mkstemp(temporary_.data());
        if (fd >= 0) stream_ = ::fdopen(fd, "wb");
        if (fd >= 0 && stream_ == nullptr) ::close(fd);
    }
    ~OutputFile() {
        if (stream_ != nullptr) std::fclose(stream_);
        if (!committed_) ::unlink(temporary_.c_str());
    }
    OutputFile(const OutputFile&) = delete;
    OutputFile& operator=(const OutputFile&) = delete;

    std::FILE* stream() { return stream_; }
    bool Commit() {
        if (stream_ == nullptr) return false;
        const bool written = std::fflush(stream_) == 0 && !std::ferror(stream_);
        std::fclose(stream_);
        stream_ = nullptr;
        if (!written || ::rename(temporary_.c_str(), path_.c_str()) != 0) return false;
        committed_ = true;
        return true;
    }

private:
    std::string path_;
    std::string temporary_;
    std::FILE* stream_ = nullptr;
    bool committed_ = false;
};

int Info(const std::vector<std::string>& args) {
    std::string path;
    bool json = false;
    for (const std::string& arg : args) {
        if (arg == "--json") {
            json = true;
        } else if (path.empty()) {
            path = arg;
        } else {
            return UsageError("info takes one FILE");
        }
    }
    if (path.empty()) return UsageError("info needs a FILE");
    FaxHandle file;
    if (tiffOpenFile(path.c_str(), file.out()) != 0) {
        return Fail(path + ": cannot open as a fax file (missing, in use, not a little-endian TIFF or no page)");
    }
    tagFaxPageInfo page{};
    if (tiffFindFirstPage(file.get(), &page) != 0) return Fail(path + ": page 1 cannot be read");
    std::string out = json ? "{\"pages\":[" : "";
    int number = 1;
    do {
        char line[512];
        if (json) {
            std::snprintf(line, sizeof line,
                          "%s{\"page\":%d,\"width\":%u,\"length\":%u,\"xResolution\":%u,"
                          "\"yResolution\":%u,\"fillOrder\":%u,\"photometric\":%u,"
                          "\"compression\":%u,\"t4Options\":%u,\"stripBytes\":%u}",
                          number > 1 ? "," : "", number, page.width, page.length, page.xResolution,
                          page.yResolution, page.fillOrder, page.photometric, page.compression,
                          page.t4Options, page.stripBytes);
        } else {
            std::snprintf(line, sizeof line,
                          "page %d: width %u, length %u, x-resolution %u, y-resolution %u, "
                          "fill-order %u, compression %u, t4-options %u, strip-bytes %u\n",
                          number, page.width, page.length, page.xResolution, page.yResolution,
                          page.fillOrder, page.compression, page.t4Options, page.stripBytes);
        }
        out += line;
        ++number;
    } while (tiffFindNextPage(file.get(), &page) == 0);
    if (json) out += "]}\n";
    std::fputs(out.c_str(), stdout);
    return 0;
}

int Convert(const std::vector<std::string>& args) {
    if (args.size() != 2) return UsageError("convert takes SRC.ovk and DST.fax");
    if (tiffConvertOvk(args[0].c_str(), args[1].c_str()) != 0) {
        return Fail("cannot convert " + args[0] + " into " + args[1] +
                    " (source missing or in use, destination not writable, or a scan line cut short)");
    }
    return 0;
}

bool WritePng(std::FILE* stream, const std::uint8_t* image, int lines) {
    png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
    if (png == nullptr) return false;
    png_infop info = png_create_info_struct(png);
    if (info == nullptr) {
        png_destroy_write_struct(&png, nullptr);
        return false;
    }
    if (setjmp(png_jmpbuf(png))) {
        png_destroy_write_struct(&png, &info);
        return false;
    }
    png_init_io(png, stream);
    // One-bit greyscale: 1 is white, as in the page image.
    png_set_IHDR(png, info, FAX_LINE_PIXELS, static_cast<png_uint_32>(lines), 1, PNG_COLOR_TYPE_GRAY,
                 PNG_INTERLACE_NONE, PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
    png_write_info(png, info);
    for (int line = 0; line < lines; ++line) {
        png_write_row(png, image + static_cast<std::size_t>(line) * FAX_LINE_BYTES);
    }
    png_write_end(png, nullptr);
    png_destroy_write_struct(&png, &info);
    return true;
}

int Render(const std::vector<std::string>& args) {
    if (args.size() != 3) return UsageError("render takes FILE, PAGE and OUT.pbm or OUT.png");
    const std::string& path = args[0];
    const std::string& outPath = args[2];
    char* end = nullptr;
    errno = 0;
    const long wanted = std::strtol(args[1].c_str(), &end, 10);
    if (errno != 0 || end == args[1].c_str() || *end != '\0' || wanted < 1) {
        return UsageError("PAGE must be a page number from 1");
    }
    const bool png = EndsWithNoCase(outPath, ".png");
    if (!png && !EndsWithNoCase(outPath, ".pbm")) return UsageError("OUT must end in .pbm or .png");

    FaxHandle file;
    if (tiffOpenFile(path.c_str(), file.out()) != 0) return Fail(path + ": cannot open as a fax file");
    tagFaxPageInfo page{};
    int number = 0;
    if (tiffFindFirstPage(file.get(), &page) == 0) {
        number = 1;
        while (number < wanted && tiffFindNextPage(file.get(), &page) == 0) ++number;
    }
    if (number != wanted) {
        return Fail(path + ": has no page " + std::to_string(wanted) + " (pages found: " +
                    std::to_string(number) + ")");
    }
    CFaxPageImage image;
    image.Bind(file.get());
    if (image.LoadPage() == 0) return Fail(path + ": not enough memory for page " + std::to_string(wanted));

    OutputFile output(outPath);
    if (output.stream() == nullptr) return Fail(outPath + ": cannot create: " + std::strerror(errno));
    bool written;
    if (png) {
        written = WritePng(output.stream(), image.Image(), image.ImageLines());
    } else {
        const std::string pbm = faxtiff::pbm::FaxLinesToP4(image.Image(), image.ImageLines());
        written = std::fwrite(pbm.data(), 1, pbm.size(), output.stream()) == pbm.size();
    }
    if (!written || !output.Commit()) return Fail(outPath + ": cannot write");
    return 0;
}

int Encode(const std::vector<std::string>& args) {
    std::vector<std::string> paths;
    bool fine = true;
    for (const std::string& arg : args) {
        if (arg == "--normal") {
            fine = false;
        } else {
            paths.push_back(arg);
        }
    }
    if (paths.size() != 2) return UsageError("encode takes IN.pbm and OUT.fax");
    std::ifstream in(paths[0], std::ios::binary);
    if (!in) return Fail(paths[0] + ": cannot read");
    const std::vector<std::uint8_t> data((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    if (in.bad()) return Fail(paths[0] + ": cannot read");
    std::vector<faxtiff::pbm::Image> images;
    std::string error;
    if (!faxtiff::pbm::ParseImages(data, images, error)) return Fail(paths[0] + ": " + error);

    FaxHandle out;
    if (tiffCreateFile(paths[1].c_str(), out.out()) != 0) return Fail(paths[1] + ": cannot create");
    bool ok = true;
    for (std::size_t i = 0; ok && i < images.size(); ++i) {
        const faxtiff::pbm::Image& source = images[i];
        CFaxPageImage image;
        if (image.CreateImage(source.height) == 0) {
            ok = Fail(paths[0] + ": not enough memory for image " + std::to_string(i + 1)) == 0;
            break;
        }
        for (int row = 0; row < source.height; ++row) {
            faxtiff::pbm::ImageRowToFaxLine(source, row, image.Image() + static_cast<std::size_t>(row) * FAX_LINE_BYTES);
        }
        tagFaxPageInfo page = FaxStandardPage(fine ? 1 : 0);
        if (tiffAppendPage(out.get(), &page) != 0 || image.WriteToPage(out.get(), fine ? 1 : 0) == 0) {
            ok = false;
        }
    }
    if (!out.Close() || !ok) {
        ::unlink(paths[1].c_str());
        return Fail(paths[1] + ": cannot write");
    }
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    try {
        std::vector<std::string> args(argv + 1, argv + argc);
        for (const std::string& arg : args) {
            if (arg == "-h" || arg == "--help") {
                std::fputs(kUsage, stdout);
                return 0;
            }
        }
        if (args.empty()) return UsageError("a COMMAND is needed");
        const std::string command = args.front();
        args.erase(args.begin());
        if (command == "info") return Info(args);
        if (command == "convert") return Convert(args);
        if (command == "render") return Render(args);
        if (command == "encode") return Encode(args);
        return UsageError("unknown command '" + command + "'");
    } catch (const std::exception& e) {
        return Fail(e.what());
    }
}
