#include <gtest/gtest.h>

#include <chrono>
#include <ctime>

#include "ovplatform/platform.h"

namespace {

SYSTEMTIME Make(int year, int month, int day, int hour = 0, int minute = 0, int second = 0, int ms = 0) {
    SYSTEMTIME time{};
    time.wYear = static_cast<WORD>(year);
    time.wMonth = static_cast<WORD>(month);
    time.wDay = static_cast<WORD>(day);
    time.wHour = static_cast<WORD>(hour);
    time.wMinute = static_cast<WORD>(minute);
    time.wSecond = static_cast<WORD>(second);
    time.wMilliseconds = static_cast<WORD>(ms);
    return time;
}

std::string Date(const SYSTEMTIME& time, DWORD flags, const char* picture = nullptr) {
    char buffer[128];
    int written = GetDateFormatA(LOCALE_USER_DEFAULT, flags, &time, picture, buffer, sizeof buffer);
    return written > 0 ? std::string(buffer, static_cast<std::size_t>(written - 1)) : "<failed>";
}

std::string Time(const SYSTEMTIME& time, DWORD flags, const char* picture = nullptr) {
    char buffer[128];
    int written = GetTimeFormatA(LOCALE_USER_DEFAULT, flags, &time, picture, buffer, sizeof buffer);
    return written > 0 ? std::string(buffer, static_cast<std::size_t>(written - 1)) : "<failed>";
}

TEST(Time, SystemTimeIsUtcWithMillisecondsAndTicksAdvance) {
    SYSTEMTIME now{};
    GetSystemTime(&now);
    const std::time_t seconds = std::time(nullptr);
    std::tm utc{};
    gmtime_r(&seconds, &utc);
    EXPECT_EQ(now.wYear, utc.tm_year + 1900);
    EXPECT_EQ(now.wDayOfWeek, utc.tm_wday);
    EXPECT_LT(now.wMilliseconds, 1000);
    FILETIME fileTime{};
    EXPECT_TRUE(SystemTimeToFileTime(&now, &fileTime));

    SYSTEMTIME local{};
    GetLocalTime(&local);
    EXPECT_LT(local.wHour, 24);

    const DWORD start = GetTickCount();
    Sleep(20);
    const DWORD elapsed = GetTickCount() - start;
    EXPECT_GE(elapsed, 20u);
    EXPECT_LT(elapsed, 5000u);
}

TEST(Time, FileTimesConvertBothWaysAndRejectImpossibleDates) {
    // 1970-01-01 is 116444736000000000 ticks after 1601-01-01.
    FILETIME fileTime{};
    SYSTEMTIME epoch = Make(1970, 1, 1);
    ASSERT_TRUE(SystemTimeToFileTime(&epoch, &fileTime));
    const std::uint64_t ticks = (std::uint64_t{fileTime.dwHighDateTime} << 32) | fileTime.dwLowDateTime;
    EXPECT_EQ(ticks, 116444736000000000ull);

    for (const SYSTEMTIME& time : {Make(1601, 1, 1), Make(2000, 2, 29, 23, 59, 59, 999), Make(2026, 12, 11, 13, 5, 7, 42),
                                   Make(30827, 12, 31, 23, 59, 59, 999)}) {
        ASSERT_TRUE(SystemTimeToFileTime(&time, &fileTime));
        SYSTEMTIME back{};
        ASSERT_TRUE(FileTimeToSystemTime(&fileTime, &back));
        EXPECT_EQ(back.wYear, time.wYear);
        EXPECT_EQ(back.wMonth, time.wMonth);
        EXPECT_EQ(back.wDay, time.wDay);
        EXPECT_EQ(back.wHour, time.wHour);
        EXPECT_EQ(back.wMinute, time.wMinute);
        EXPECT_EQ(back.wSecond, time.wSecond);
        EXPECT_EQ(back.wMilliseconds, time.wMilliseconds);
    }
    SYSTEMTIME friday{};
    SYSTEMTIME known = Make(2026, 12, 11);
    SystemTimeToFileTime(&known, &fileTime);
    FileTimeToSystemTime(&fileTime, &friday);
    EXPECT_EQ(friday.wDayOfWeek, 5);

    for (const SYSTEMTIME& bad : {Make(2026, 13, 1), Make(2026, 2, 30), Make(2025, 2, 29), Make(2026, 0, 1),
                                  Make(2026, 4, 31), Make(1600, 12, 31), Make(2026, 1, 1, 24), Make(2026, 1, 1, 0, 60),
                                  Make(2026, 1, 1, 0, 0, 60), Make(2026, 1, 1, 0, 0, 0, 1000)}) {
        EXPECT_FALSE(SystemTimeToFileTime(&bad, &fileTime));
    }
    FILETIME negative{0, 0x80000000u};
    SYSTEMTIME out{};
    EXPECT_FALSE(FileTimeToSystemTime(&negative, &out));
}

TEST(Time, TheFixedFormatsAndPictures) {
    const SYSTEMTIME time = Make(2026, 3, 5, 14, 7, 9);
    EXPECT_EQ(Date(time, DATE_SHORTDATE), "2026-03-05");
    EXPECT_EQ(Date(time, 0), "2026-03-05");
    EXPECT_EQ(Date(time, DATE_LONGDATE), "Thursday, 5 March 2026");
    EXPECT_EQ(Time(time, 0), "14:07:09");
    EXPECT_EQ(Time(time, TIME_NOSECONDS), "14:07");
    struct Case {
        const char* picture;
        const char* expected;
    } dates[] = {
        {"d dd ddd dddd", "5 05 Thu Thursday"},
        {"M MM MMM MMMM", "3 03 Mar March"},
        {"y yy yyyy", "26 26 2026"},
        {"'day' d 'of' MMMM, hh:mm", "day 5 of March, hh:mm"},  // time letters are text here
        {"'it''s' yyyy", "it's 2026"},
        {"dd/MM/yyyy", "05/03/2026"},
    };
    for (const auto& c : dates) {
        EXPECT_EQ(Date(time, 0, c.picture), c.expected) << c.picture;
    }
    const Case times[] = {
        {"h hh H HH", "2 02 14 14"}, {"m mm s ss", "7 07 9 09"}, {"hh:mm tt", "02:07 PM"},
        {"h t", "2 P"},              {"'at' HH'h'", "at 14h"},    {"hh:mm:ss tt", "02:07:09 PM"},
    };
    for (const auto& c : times) {
        EXPECT_EQ(Time(time, 0, c.picture), c.expected) << c.picture;
    }
    EXPECT_EQ(Time(time, TIME_NOSECONDS, "hh:mm:ss tt"), "02:07 PM");
    EXPECT_EQ(Time(Make(2026, 1, 1, 0, 30), 0, "h:mm tt"), "12:30 AM");
}

TEST(Time, SizesBuffersAndImpossibleValues) {
    const SYSTEMTIME time = Make(2026, 3, 5, 14, 7, 9);
    EXPECT_EQ(GetDateFormatA(LOCALE_USER_DEFAULT, DATE_SHORTDATE, &time, nullptr, nullptr, 0), 11);
    char small[10];
    EXPECT_EQ(GetDateFormatA(LOCALE_USER_DEFAULT, DATE_SHORTDATE, &time, nullptr, small, sizeof small), 0);
    EXPECT_EQ(GetLastError(), ERROR_INSUFFICIENT_BUFFER);
    char exact[11];
    EXPECT_EQ(GetDateFormatA(LOCALE_USER_DEFAULT, DATE_SHORTDATE, &time, nullptr, exact, sizeof exact), 11);
    EXPECT_STREQ(exact, "2026-03-05");
    EXPECT_EQ(GetTimeFormatA(LOCALE_USER_DEFAULT, 0, &time, nullptr, nullptr, 0), 9);

    for (const SYSTEMTIME& bad : {Make(2026, 13, 1), Make(2026, 2, 30), Make(2026, 0, 10)}) {
        SetLastError(0);
        EXPECT_EQ(GetDateFormatA(LOCALE_USER_DEFAULT, DATE_SHORTDATE, &bad, nullptr, exact, sizeof exact), 0);
        EXPECT_EQ(GetLastError(), ERROR_INVALID_PARAMETER);
    }
    const SYSTEMTIME badTime = Make(2026, 1, 1, 25);
    EXPECT_EQ(GetTimeFormatA(LOCALE_USER_DEFAULT, 0, &badTime, nullptr, exact, sizeof exact), 0);
    EXPECT_EQ(GetLastError(), ERROR_INVALID_PARAMETER);
    EXPECT_EQ(GetDateFormatA(LOCALE_USER_DEFAULT, DATE_LONGDATE, &time, "yyyy", exact, sizeof exact), 0);
    EXPECT_EQ(GetLastError(), ERROR_INVALID_FLAGS);
    // No time given: now, in the short format.
    char now[32];
    EXPECT_EQ(GetDateFormatA(LOCALE_USER_DEFAULT, DATE_SHORTDATE, nullptr, nullptr, now, sizeof now), 11);
}

}  // namespace
