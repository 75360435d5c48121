// Time: the clocks, FILETIME conversion and the system's one set of date and
// time formats.
#include <time.h>

#include <cstring>
#include <string>

#include "internal.h"
#include "ovplatform/platform.h"

namespace {

constexpr const char* kDayNames[] = {"Sunday",   "Monday", "Tuesday", "Wednesday",
                                     "Thursday", "Friday", "Saturday"};
constexpr const char* kMonthNames[] = {"January", "February", "March",     "April",
                                       "May",     "June",     "July",      "August",
                                       "September", "October", "November", "December"};
constexpr const char* kShortDate = "yyyy-MM-dd";
constexpr const char* kLongDate = "dddd, d MMMM yyyy";
constexpr const char* kTimeFormat = "HH:mm:ss";
constexpr DWORD kTimeNoMinutesOrSeconds = 0x1;
constexpr DWORD kTimeNoTimeMarker = 0x4;
constexpr DWORD kTimeForce24Hour = 0x8;

constexpr std::int64_t kTicksPerMillisecond = 10000;
constexpr std::int64_t kMillisecondsPerDay = 86400000;
// Days from 1601-01-01 to 1970-01-01.
constexpr std::int64_t kDaysFrom1601To1970 = 134774;

bool IsLeap(int year) { return (year % 4 == 0 && year % 100 != 0) || year % 400 == 0; }

int DaysInMonth(int year, int month) {
    static constexpr int kDays[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    return month == 2 && IsLeap(year) ? 29 : kDays[month - 1];
}

// Days since 1970-01-01 of a civil date (proleptic Gregorian).
std::int64_t DaysFromCivil(std::int64_t year, unsigned month, unsigned day) {
    year -= month <= 2;
    const std::int64_t era = (year >= 0 ? year : year - 399) / 400;
    const auto yearOfEra = static_cast<unsigned>(year - era * 400);
    const unsigned dayOfYear = (153 * (month + (month > 2 ? -3 : 9)) + 2) / 5 + day - 1;
    const unsigned dayOfEra = yearOfEra * 365 + yearOfEra / 4 - yearOfEra / 100 + dayOfYear;
    return era * 146097 + static_cast<std::int64_t>(dayOfEra) - 719468;
}

void CivilFromDays(std::int64_t days, int& year, unsigned& month, unsigned& day) {
    days += 719468;
    const std::int64_t era = (days >= 0 ? days : days - 146096) / 146097;
    const auto dayOfEra = static_cast<unsigned>(days - era * 146097);
    const unsigned yearOfEra = (dayOfEra - dayOfEra / 1460 + dayOfEra / 36524 - dayOfEra / 146096) / 365;
    const unsigned dayOfYear = dayOfEra - (365 * yearOfEra + yearOfEra / 4 - yearOfEra / 100);
    const unsigned mp = (5 * dayOfYear + 2) / 153;
    day = dayOfYear - (153 * mp + 2) / 5 + 1;
    month = mp < 10 ? mp + 3 : mp - 9;
    year = static_cast<int>(static_cast<std::int64_t>(yearOfEra) + era * 400 + (month <= 2));
}

int DayOfWeek(std::int64_t daysSince1970) {
    // 1970-01-01 was a Thursday.
    return static_cast<int>(((daysSince1970 % 7) + 7 + 4) % 7);
}

bool ValidDate(const SYSTEMTIME& time) {
    return time.wYear >= 1601 && time.wYear <= 30827 && time.wMonth >= 1 && time.wMonth <= 12 &&
           time.wDay >= 1 && time.wDay <= DaysInMonth(time.wYear, time.wMonth);
}

bool ValidTime(const SYSTEMTIME& time) {
    return time.wHour < 24 && time.wMinute < 60 && time.wSecond < 60 && time.wMilliseconds < 1000;
}

void FromTm(const struct tm& parts, long nanoseconds, SYSTEMTIME* time) {
    time->wYear = static_cast<WORD>(parts.tm_year + 1900);
    time->wMonth = static_cast<WORD>(parts.tm_mon + 1);
    time->wDayOfWeek = static_cast<WORD>(parts.tm_wday);
    time->wDay = static_cast<WORD>(parts.tm_mday);
    time->wHour = static_cast<WORD>(parts.tm_hour);
    time->wMinute = static_cast<WORD>(parts.tm_min);
    time->wSecond = static_cast<WORD>(parts.tm_sec > 59 ? 59 : parts.tm_sec);
    time->wMilliseconds = static_cast<WORD>(nanoseconds / 1000000);
}

void AppendNumber(std::string& out, unsigned value, int width) {
    std::string digits = std::to_string(value);
    if (static_cast<int>(digits.size()) < width) {
        out.append(static_cast<std::size_t>(width) - digits.size(), '0');
    }
    out += digits;
}

// Expands a picture. Letters of the other kind (time letters in a date
// picture and the reverse) are copied as they are, as Windows does.
std::string Expand(std::string_view picture, const SYSTEMTIME& time, bool date, DWORD timeFlags) {
    std::string out;
    std::size_t lastFieldEnd = 0;  // where the text after the last field starts
    const int dayOfWeek = DayOfWeek(DaysFromCivil(time.wYear, time.wMonth, time.wDay));
    for (std::size_t i = 0; i < picture.size();) {
        char c = picture[i];
        if (c == '\'') {
            std::size_t j = i + 1;
            std::string literal;
            while (j < picture.size()) {
                if (picture[j] == '\'') {
                    if (j + 1 < picture.size() && picture[j + 1] == '\'') {
                        literal += '\'';
                        j += 2;
                        continue;
                    }
                    break;
                }
                literal += picture[j++];
            }
            out += literal;
            i = j < picture.size() ? j + 1 : j;
            continue;
        }
        std::size_t run = 1;
        while (i + run < picture.size() && picture[i + run] == c) {
            ++run;
        }
        std::string field;
        bool isField = true;
        bool leftOut = false;
        if (date && c == 'd') {
            if (run == 1) AppendNumber(field, time.wDay, 1);
            else if (run == 2) AppendNumber(field, time.wDay, 2);
            else if (run == 3) field = std::string(kDayNames[dayOfWeek], 3);
            else field = kDayNames[dayOfWeek];
        } else if (date && c == 'M') {
            if (run == 1) AppendNumber(field, time.wMonth, 1);
            else if (run == 2) AppendNumber(field, time.wMonth, 2);
            else if (run == 3) field = std::string(kMonthNames[time.wMonth - 1], 3);
            else field = kMonthNames[time.wMonth - 1];
        } else if (date && c == 'y') {
            if (run <= 2) AppendNumber(field, time.wYear % 100, static_cast<int>(run));
            else AppendNumber(field, time.wYear, 4);
        } else if (!date && (c == 'h' || c == 'H')) {
            unsigned hour = time.wHour;
            if (c == 'h' && !(timeFlags & kTimeForce24Hour)) {
                hour = hour % 12 == 0 ? 12 : hour % 12;
            }
            AppendNumber(field, hour, run >= 2 ? 2 : 1);
        } else if (!date && c == 'm') {
            AppendNumber(field, time.wMinute, run >= 2 ? 2 : 1);
            leftOut = (timeFlags & kTimeNoMinutesOrSeconds) != 0;
        } else if (!date && c == 's') {
            AppendNumber(field, time.wSecond, run >= 2 ? 2 : 1);
            leftOut = (timeFlags & (TIME_NOSECONDS | kTimeNoMinutesOrSeconds)) != 0;
        } else if (!date && c == 't') {
            const char* marker = time.wHour < 12 ? "AM" : "PM";
            field = run == 1 ? std::string(marker, 1) : std::string(marker);
            leftOut = (timeFlags & kTimeNoTimeMarker) != 0;
        } else {
            isField = false;
        }
        if (!isField) {
            out.append(run, c);
        } else if (leftOut) {
            // A field left out takes the separator before it along.
            out.resize(lastFieldEnd);
        } else {
            out += field;
            lastFieldEnd = out.size();
        }
        i += run;
    }
    return out;
}

int CopyResult(const std::string& text, char* buffer, int size) {
    const int needed = static_cast<int>(text.size()) + 1;
    if (size == 0) {
        return needed;
    }
    if (buffer == nullptr || size < 0) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return 0;
    }
    if (size < needed) {
        SetLastError(ERROR_INSUFFICIENT_BUFFER);
        return 0;
    }
    std::memcpy(buffer, text.c_str(), static_cast<std::size_t>(needed));
    return needed;
}

}  // namespace

extern "C" {

void GetSystemTime(SYSTEMTIME* time) {
    ov::detail::NoThrowVoid([&] {
        struct timespec now {};
        clock_gettime(CLOCK_REALTIME, &now);
        struct tm parts {};
        gmtime_r(&now.tv_sec, &parts);
        FromTm(parts, now.tv_nsec, time);
    });
}

void GetLocalTime(SYSTEMTIME* time) {
    ov::detail::NoThrowVoid([&] {
        struct timespec now {};
        clock_gettime(CLOCK_REALTIME, &now);
        struct tm parts {};
        localtime_r(&now.tv_sec, &parts);
        FromTm(parts, now.tv_nsec, time);
    });
}

DWORD GetTickCount() {
    return ov::detail::NoThrow<DWORD>(0, [&]() -> DWORD {
        struct timespec now {};
        clock_gettime(CLOCK_MONOTONIC, &now);
        const auto milliseconds = static_cast<std::uint64_t>(now.tv_sec) * 1000u +
                                  static_cast<std::uint64_t>(now.tv_nsec) / 1000000u;
        return static_cast<DWORD>(milliseconds);
    });
}

BOOL SystemTimeToFileTime(const SYSTEMTIME* time, FILETIME* fileTime) {
    return ov::detail::NoThrow<BOOL>(FALSE, [&]() -> BOOL {
        if (time == nullptr || fileTime == nullptr || !ValidDate(*time) || !ValidTime(*time)) {
            SetLastError(ERROR_INVALID_PARAMETER);
            return FALSE;
        }
        const std::int64_t days = DaysFromCivil(time->wYear, time->wMonth, time->wDay) + kDaysFrom1601To1970;
        const std::int64_t milliseconds = days * kMillisecondsPerDay + time->wHour * 3600000LL +
                                          time->wMinute * 60000LL + time->wSecond * 1000LL +
                                          time->wMilliseconds;
        const auto ticks = static_cast<std::uint64_t>(milliseconds * kTicksPerMillisecond);
        fileTime->dwLowDateTime = static_cast<DWORD>(ticks);
        fileTime->dwHighDateTime = static_cast<DWORD>(ticks >> 32);
        return TRUE;
    });
}

BOOL FileTimeToSystemTime(const FILETIME* fileTime, SYSTEMTIME* time) {
    return ov::detail::NoThrow<BOOL>(FALSE, [&]() -> BOOL {
        if (fileTime == nullptr || time == nullptr) {
            SetLastError(ERROR_INVALID_PARAMETER);
            return FALSE;
        }
        const std::uint64_t ticks =
            (static_cast<std::uint64_t>(fileTime->dwHighDateTime) << 32) | fileTime->dwLowDateTime;
        if (ticks >> 63) {
            SetLastError(ERROR_INVALID_PARAMETER);
            return FALSE;
        }
        const auto milliseconds = static_cast<std::int64_t>(ticks / kTicksPerMillisecond);
        const std::int64_t days1601 = milliseconds / kMillisecondsPerDay;
        std::int64_t rest = milliseconds % kMillisecondsPerDay;
        const std::int64_t days1970 = days1601 - kDaysFrom1601To1970;
        int year = 0;
        unsigned month = 0;
        unsigned day = 0;
        CivilFromDays(days1970, year, month, day);
        if (year > 30827) {
            SetLastError(ERROR_INVALID_PARAMETER);
            return FALSE;
        }
        time->wYear = static_cast<WORD>(year);
        time->wMonth = static_cast<WORD>(month);
        time->wDay = static_cast<WORD>(day);
        time->wDayOfWeek = static_cast<WORD>(DayOfWeek(days1970));
        time->wHour = static_cast<WORD>(rest / 3600000);
        rest %= 3600000;
        time->wMinute = static_cast<WORD>(rest / 60000);
        rest %= 60000;
        time->wSecond = static_cast<WORD>(rest / 1000);
        time->wMilliseconds = static_cast<WORD>(rest % 1000);
        return TRUE;
    });
}

int GetDateFormatA(DWORD, DWORD flags, const SYSTEMTIME* time, const char* picture, char* buffer,
                   int size) {
    return ov::detail::NoThrow<int>(0, [&]() -> int {
        if ((picture != nullptr && (flags & (DATE_SHORTDATE | DATE_LONGDATE)) != 0) ||
            (flags & DATE_SHORTDATE && flags & DATE_LONGDATE)) {
            SetLastError(ERROR_INVALID_FLAGS);
            return 0;
        }
        SYSTEMTIME now{};
        if (time == nullptr) {
            GetLocalTime(&now);
            time = &now;
        }
        if (!ValidDate(*time)) {
            SetLastError(ERROR_INVALID_PARAMETER);
            return 0;
        }
        const char* format = picture != nullptr ? picture : (flags & DATE_LONGDATE) ? kLongDate : kShortDate;
        return CopyResult(Expand(format, *time, true, 0), buffer, size);
    });
}

int GetTimeFormatA(DWORD, DWORD flags, const SYSTEMTIME* time, const char* picture, char* buffer,
                   int size) {
    return ov::detail::NoThrow<int>(0, [&]() -> int {
        SYSTEMTIME now{};
        if (time == nullptr) {
            GetLocalTime(&now);
            time = &now;
        }
        if (!ValidTime(*time)) {
            SetLastError(ERROR_INVALID_PARAMETER);
            return 0;
        }
        return CopyResult(Expand(picture != nullptr ? picture : kTimeFormat, *time, false, flags), buffer,
                          size);
    });
}

}  // extern "C"
