#include "profile_text.h"

#include <vector>

#include "ovplatform/win32.h"

namespace ovfaxapi {

std::string TrimWhiteSpace(std::string text) {
    constexpr const char* kWhite = " \t\r\n\v\f";
    auto first = text.find_first_not_of(kWhite);
    if (first == std::string::npos) return {};
    auto last = text.find_last_not_of(kWhite);
    return text.substr(first, last - first + 1);
}

std::string ReadProfileText(const char* section, const char* key, const char* file,
                            unsigned room) {
    std::vector<char> buffer(room + 1, '\0');
    DWORD n = GetPrivateProfileStringA(section, key, "", buffer.data(), room, file);
    return TrimWhiteSpace(std::string(buffer.data(), n));
}

}  // namespace ovfaxapi
