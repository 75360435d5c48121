#include "fax_address.h"

#include <cstdio>
#include <cstring>
#include <string_view>

namespace mapigate {

namespace {

constexpr std::size_t kMaxField = 127;
constexpr std::size_t kMaxAddress = 1023;

// At most 127 characters of the slot, blanks, tabs and line feeds removed at
// both ends (carriage returns stay).
std::string Field(const char* slot, std::size_t slotSize) {
    std::size_t length = strnlen(slot, slotSize);
    std::string_view text(slot, std::min(length, kMaxField));
    constexpr std::string_view kTrim = " \t\n";
    auto first = text.find_first_not_of(kTrim);
    if (first == std::string_view::npos) return {};
    auto last = text.find_last_not_of(kTrim);
    return std::string(text.substr(first, last - first + 1));
}

}  // namespace

std::optional<std::string> BuildFaxAddress(const cgwRecipient& r) {
    const std::string given = Field(r.givenName, sizeof r.givenName);
    const std::string surname = Field(r.surname, sizeof r.surname);
    const std::string company = Field(r.company, sizeof r.company);
    const std::string fax = Field(r.faxNumber, sizeof r.faxNumber);
    if (fax.empty()) return std::nullopt;
    std::string address;
    if (!given.empty() && !surname.empty()) {
        address = "\"" + given + " " + surname + "\"@";
    } else if (!given.empty() || !surname.empty()) {
        address = "\"" + (given.empty() ? surname : given) + "\"@";
    }
    if (!company.empty()) {
        address += address.empty() ? "@\"" + company + "\"@" : "\"" + company + "\"@";
    }
    address += fax;
    if (address.size() > kMaxAddress) address.resize(kMaxAddress);
    return address;
}

std::optional<FILETIME> ParseScheduleText(const char* text) {
    if (text == nullptr) return std::nullopt;
    int year = 0, month = 0, day = 0, hour = 0, minute = 0, second = 0;
    int used = 0;
    int fields = std::sscanf(text, "%4d-%2d-%2d %2d:%2d%n:%2d%n", &year, &month, &day, &hour,
                             &minute, &used, &second, &used);
    if (fields < 5 || text[used] != '\0') return std::nullopt;
    if (year < 1980 || year > 2107 || hour > 23 || minute > 59 || second > 59) return std::nullopt;
    SYSTEMTIME when{};
    when.wYear = static_cast<WORD>(year);
    when.wMonth = static_cast<WORD>(month);
    when.wDay = static_cast<WORD>(day);
    when.wHour = static_cast<WORD>(hour);
    when.wMinute = static_cast<WORD>(minute);
    when.wSecond = static_cast<WORD>(second / 2 * 2);  // a DOS time keeps even seconds
    FILETIME result;
    if (!SystemTimeToFileTime(&when, &result)) return std::nullopt;
    return result;
}

}  // namespace mapigate
