// faxtiff_ovk_sample: writes a small printer-output (ovk) stream of two text
// pages, the kind of file the fax printer leaves in its spool directory.
#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "synthetic_page.h"

namespace {

constexpr const char* kUsage =
    "Usage: faxtiff_ovk_sample OUTPUT.ovk\n"
    "Writes a printer-output stream of two pages: an A4 page at fine resolution\n"
    "and a letter page at normal resolution, both with text-like content.\n"
    "\n"
    "Options:\n"
    "  -h, --help   show this help and exit\n";

using faxtiff::synthetic::kLineBytes;

// One page as the driver sends it: runs of empty lines as "whitelines" (six
// units a line at fine resolution, twelve at normal), every other line as a
// block holding its bytes up to the last one with ink.
void AppendPage(std::string& out, const std::vector<std::uint8_t>& page, int lines, bool fine) {
    out += "<StartPage>\r\n";
    int blank = 0;
    for (int y = 0; y < lines; ++y) {
        const std::uint8_t* row = page.data() + static_cast<std::size_t>(y) * kLineBytes;
        int used = kLineBytes;
        while (used > 0 && row[used - 1] == 0xFF) --used;
        if (used == 0) {
            ++blank;
            continue;
        }
        if (blank > 0) {
            out += "<WhiteLines " + std::to_string(blank * (fine ? 6 : 12)) + ">";
            blank = 0;
        }
        out += "<SendBlock " + std::to_string(used) + ">";
        for (int i = 0; i < used; ++i) out.push_back(static_cast<char>(~row[i]));  // 1 = black
    }
    out += "\r\n<StopPage>\r\n";
}

}  // namespace

int main(int argc, char** argv) {
    if (argc == 2 && (std::strcmp(argv[1], "--help") == 0 || std::strcmp(argv[1], "-h") == 0)) {
        std::fputs(kUsage, stdout);
        return 0;
    }
    if (argc != 2) {
        std::fputs("faxtiff_ovk_sample: one OUTPUT path is needed\nTry 'faxtiff_ovk_sample --help'.\n", stderr);
        return 2;
    }
    std::string out = "<StartFax>\r\n<200x200><DinA4><Portrait>\r\n";
    const int a4Lines = 2287;
    AppendPage(out, faxtiff::synthetic::TextPage(a4Lines, 1), a4Lines, true);
    out += "<200x100><Letter>\r\n";
    const int letterLines = 1074;
    AppendPage(out, faxtiff::synthetic::TextPage(letterLines, 2), letterLines, false);
    out += "<StopFax>\r\n";

    const int fd = ::open(argv[1], O_WRONLY | O_CREAT | O_TRUNC | O_NOFOLLOW | O_CLOEXEC, 0644);
    if (fd < 0) {
        std::fprintf(stderr, "faxtiff_ovk_sample: cannot create %s: %s\n", argv[1], std::strerror(errno));
        return 1;
    }
    std::size_t done = 0;
    while (done < out.size()) {
        const ssize_t put = ::write(fd, out.data() + done, out.size() - done);
        if (put <= 0) {
            std::fprintf(stderr, "faxtiff_ovk_sample: cannot write %s\n", argv[1]);
            ::close(fd);
            return 1;
        }
        done += static_cast<std::size_t>(put);
    }
    if (::close(fd) != 0) {
        std::fprintf(stderr, "faxtiff_ovk_sample: cannot write %s\n", argv[1]);
        return 1;
    }
    return 0;
}
