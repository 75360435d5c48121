#include "app_strings.h"

#include "ovplatform/platform.h"

namespace ovfaxapi {

namespace {
constexpr ov::LanguageString kStrings[] = {
    {ov::kLangEnglish, 100,
     "OLE initialization failed.  Make sure that the OLE libraries are the correct version."},
    {ov::kLangEnglish, 2000, "Orvane Client FAX COM-API"},
    {ov::kLangEnglish, 2001, "Version 9.0.1.0 (Build: 0666)"},
    {ov::kLangEnglish, 2002,
     "Component Object Model Automation Application Programming Interface for the Orvane "
     "Client."},
};
constexpr ov::StringTable kTable{kStrings, std::size(kStrings)};
}  // namespace

std::string LoadString(UINT id) {
    char buffer[512];
    int n = ov::LoadLanguageString(kTable, ov::kLangEnglish, id, buffer, sizeof buffer);
    return std::string(buffer, static_cast<std::size_t>(n > 0 ? n : 0));
}

}  // namespace ovfaxapi
