// The user-interface language and the lookup of language strings.
#include <algorithm>
#include <cstring>

#include "ovplatform/platform.h"

namespace ov {

LANGID LanguageFromName(std::string_view name) {
    if (EqualsNoCase(name, "German")) {
        return kLangGerman;
    }
    if (EqualsNoCase(name, "French")) {
        return kLangFrench;
    }
    return kLangEnglish;
}

LANGID UserInterfaceLanguage() {
    char name[64] = {};
    GetPrivateProfileStringA("Options", "Language", "English", name, sizeof name, "ovclient.ini");
    return LanguageFromName(name);
}

int LoadLanguageString(const StringTable& table, LANGID language, UINT id, char* buffer, int size) {
    if (buffer == nullptr || size <= 0) {
        return 0;
    }
    const LanguageString* chosen = nullptr;
    const LanguageString* fallback = nullptr;
    for (std::size_t i = 0; i < table.count && chosen == nullptr; ++i) {
        const LanguageString& entry = table.entries[i];
        if (entry.id != id || entry.utf8 == nullptr) {
            continue;
        }
        if (fallback == nullptr) {
            fallback = &entry;
        }
        if (entry.language == language) {
            chosen = &entry;
        }
    }
    if (chosen == nullptr) {
        chosen = fallback;
    }
    if (chosen == nullptr) {
        buffer[0] = '\0';
        return 0;
    }
    const std::string text = Utf8ToAnsi(chosen->utf8);
    std::size_t length = std::min<std::size_t>(text.size(), static_cast<std::size_t>(size - 1));
    if (SystemCodePage() == 65001) {
        // Never cut a character in half.
        while (length > 0 && length < text.size() &&
               (static_cast<unsigned char>(text[length]) & 0xC0) == 0x80) {
            --length;
        }
    }
    std::memcpy(buffer, text.data(), length);
    buffer[length] = '\0';
    return static_cast<int>(length);
}

}  // namespace ov
