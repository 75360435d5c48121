// Conversion of the fax printer's output (the "ovk" stream of tagged commands
// and raw scan lines) into a fax file.
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cstring>
#include <new>
#include <string>
#include <vector>

#include "faxtiff/faxtiff.h"
#include "guard.h"
#include "ovplatform/platform.h"
#include "unique_fd.h"

namespace faxtiff {
namespace {

constexpr int kLineBytes = FAX_LINE_BYTES;
constexpr std::uint64_t kBufferLines = 2733;  // the longest page: legal at fine resolution
constexpr int kPageLengthA4 = 2287, kPageLengthLetter = 2148, kPageLengthLegal = 2733;
constexpr std::size_t kTagTextLimit = 127;
constexpr std::uint64_t kNumberLimit = 0xFFFFFFFFu;
constexpr std::uint64_t kLinePositionLimit = std::uint64_t{1} << 40;

enum class Keyword {
    kSendBlock, kWhiteLines, kPortrait, kLandscape, kFine, kNormal, kA4, kLetter, kLegal,
    kStartFax, kStopFax, kStartPage, kStopPage, kAbort
};

struct KeywordName {
    const char* text;
    Keyword keyword;
};
// Matched by prefix in this order: the first that the tag text starts with wins.
constexpr KeywordName kKeywords[] = {
    {"sendblock", Keyword::kSendBlock}, {"whitelines", Keyword::kWhiteLines},
    {"portrait", Keyword::kPortrait},   {"landscape", Keyword::kLandscape},
    {"200x200", Keyword::kFine},        {"200x100", Keyword::kNormal},
    {"dina4", Keyword::kA4},            {"letter", Keyword::kLetter},
    {"legal", Keyword::kLegal},         {"startfax", Keyword::kStartFax},
    {"stopfax", Keyword::kStopFax},     {"startpage", Keyword::kStartPage},
    {"stoppage", Keyword::kStopPage},   {"abort", Keyword::kAbort},
};

struct Tag {
    Keyword keyword;
    std::uint64_t number;  // every digit of the tag text, saturated
};

class COvkConverter {
public:
    int Convert(const char* sourcePath, const char* destinationPath);

private:
    bool Refill();
    int ReadByte();
    bool NextTag(Tag& tag);
    bool TakeBlock(std::uint64_t count);
    void Discard(std::uint64_t count);
    bool WritePage();

    UniqueFd source_;
    int output_ = -1;
    int pageLength_ = kPageLengthA4;
    bool fine_ = true;
    bool landscape_ = false;
    std::uint64_t linePosition_ = 0;
    bool readError_ = false;
    std::array<char, kTagTextLimit + 1> tagText_{};
    std::array<std::uint8_t, 256> readBuffer_{};
    int readPosition_ = 0;
    int readFill_ = 0;
    std::vector<std::uint8_t> page_;  // 1 = black, as the printer sends it
};

bool COvkConverter::Refill() {
    const long got = source_.Read(readBuffer_.data(), readBuffer_.size());
    if (got < 0) readError_ = true;
    if (got <= 0) return false;
    readFill_ = static_cast<int>(got);
    readPosition_ = 0;
    return true;
}

int COvkConverter::ReadByte() {
    if (readPosition_ == readFill_ && !Refill()) return -1;
    return readBuffer_[readPosition_++];
}

bool COvkConverter::NextTag(Tag& tag) {
    for (;;) {
        int c;
        do {
            c = ReadByte();
            if (c < 0) return false;
        } while (c != '<');
        std::size_t length = 0;
        while (length < kTagTextLimit) {
            c = ReadByte();
            if (c < 0) return false;
            if (c == '>') break;
            if (c == '<') {
                length = 0;
                continue;
            }
            tagText_[length++] = static_cast<char>(c);
        }
        // Lower case, letters and digits only: "SendBlock 216" is "sendblock216".
        std::size_t cleaned = 0;
        std::uint64_t number = 0;
        for (std::size_t i = 0; i < length; ++i) {
            char ch = tagText_[i];
            if (ch >= 'A' && ch <= 'Z') ch = static_cast<char>(ch - 'A' + 'a');
            if ((ch >= 'a' && ch <= 'z') || (ch >= '0' && ch <= '9')) {
                tagText_[cleaned++] = ch;
                if (ch >= '0' && ch <= '9') number = std::min(number * 10 + static_cast<std::uint64_t>(ch - '0'), kNumberLimit);
            }
        }
        if (cleaned == 0) continue;
        const std::string_view text(tagText_.data(), cleaned);
        for (const KeywordName& name : kKeywords) {
            if (text.starts_with(name.text)) {
                tag = {name.keyword, number};
                return true;
            }
        }
    }
}

void COvkConverter::Discard(std::uint64_t count) {
    while (count > 0) {
        if (readPosition_ == readFill_ && !Refill()) return;
        const auto step = std::min(static_cast<std::uint64_t>(readFill_ - readPosition_), count);
        readPosition_ += static_cast<int>(step);
        count -= step;
    }
}

bool COvkConverter::TakeBlock(std::uint64_t count) {
    if (linePosition_ >= kBufferLines) {
        Discard(count);
        return true;
    }
    const std::uint64_t stored = std::min<std::uint64_t>(count, kLineBytes);
    std::uint8_t* line = page_.data() + linePosition_ * kLineBytes;
    for (std::uint64_t i = 0; i < stored; ++i) {
        const int c = ReadByte();
        if (c < 0) return false;
        line[i] = static_cast<std::uint8_t>(c);
    }
    ++linePosition_;
    Discard(count - stored);
    return true;
}

bool COvkConverter::WritePage() {
    tagFaxPageInfo page = FaxStandardPage(fine_ ? 1 : 0);
    if (tiffAppendPage(output_, &page) != 0) return false;
    const std::uint64_t lines = fine_ ? static_cast<std::uint64_t>(pageLength_)
                                      : static_cast<std::uint64_t>(pageLength_ / 2);
    // Landscape content is centred vertically on the page.
    std::uint64_t shift = 0;
    if (landscape_ && linePosition_ < kBufferLines && linePosition_ < lines) {
        shift = (lines - linePosition_) / 2;
    }
    // The buffer itself stays as the printer filled it, so that a second
    // "stoppage" before the next "startpage" repeats the page rather than
    // writing its negative.
    std::array<std::uint8_t, kLineBytes> coded{};
    for (std::uint64_t i = 0; i < lines; ++i) {
        if (i < shift) {
            coded.fill(0xFF);
        } else {
            const std::uint8_t* source = page_.data() + (i - shift) * kLineBytes;
            for (int b = 0; b < kLineBytes; ++b) coded[b] = static_cast<std::uint8_t>(~source[b]);
        }
        if (tiffEncodeLine(output_, coded.data(), kLineBytes, 1) != 0) return false;
    }
    return true;
}

int COvkConverter::Convert(const char* sourcePath, const char* destinationPath) {
    if (sourcePath == nullptr || destinationPath == nullptr) return -1;
    try {
        page_.assign(kBufferLines * kLineBytes, 0);
    } catch (const std::bad_alloc&) {
        return -1;
    }
    bool ok = false;
    bool created = false;
    source_ = OpenForReadingUnshared(sourcePath);
    if (source_.valid() && tiffCreateFile(destinationPath, &output_) == 0) {
        created = true;
        ok = true;
        Tag tag{};
        bool stopped = false;
        while (ok && !stopped && NextTag(tag)) {
            switch (tag.keyword) {
                case Keyword::kStopFax: stopped = true; break;
                case Keyword::kStartPage:
                    std::fill(page_.begin(), page_.end(), 0);
                    linePosition_ = 0;
                    break;
                case Keyword::kStopPage: ok = WritePage(); break;
                case Keyword::kSendBlock: ok = TakeBlock(tag.number); break;
                case Keyword::kWhiteLines:
                    linePosition_ = std::min(linePosition_ + tag.number / (fine_ ? 6 : 12), kLinePositionLimit);
                    break;
                case Keyword::kFine: fine_ = true; break;
                case Keyword::kNormal: fine_ = false; break;
                case Keyword::kPortrait: landscape_ = false; break;
                case Keyword::kLandscape: landscape_ = true; break;
                case Keyword::kA4: pageLength_ = kPageLengthA4; break;
                case Keyword::kLetter: pageLength_ = kPageLengthLetter; break;
                case Keyword::kLegal: pageLength_ = kPageLengthLegal; break;
                case Keyword::kStartFax:
                case Keyword::kAbort: break;
            }
        }
        // A read error is not the end of the stream.
        if (readError_) ok = false;
    }
    source_.Reset();
    if (output_ >= 0) {
        if (tiffCloseFile(output_) != 0) ok = false;
        output_ = -1;
    }
    // Only a file this call created is removed: a missing source must not
    // cost the user a file that was already at the destination.
    if (!ok && created) ::unlink(ov::MapPath(destinationPath).c_str());
    return ok ? 0 : -1;
}

}  // namespace
}  // namespace faxtiff

extern "C" int tiffConvertOvk(const char* sourcePath, const char* destinationPath) {
    return faxtiff::Guarded(-1, [&] {
        auto converter = std::make_unique<faxtiff::COvkConverter>();
        return converter->Convert(sourcePath, destinationPath);
    });
}
