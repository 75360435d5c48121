#include <gtest/gtest.h>

#include <cstdlib>

#include "ovplatform/platform.h"
#include "ovtest/scoped_env.h"
#include "ovtest/temp_prefix.h"

namespace {

constexpr ov::LanguageString kEntries[] = {
    {ov::kLangEnglish, 1, "FAILED : cannot start %s"},
    {ov::kLangGerman, 1, "FEHLER : %s kann nicht gestartet werden"},
    {ov::kLangFrench, 1, "FAILED : cannot start %s"},
    {ov::kLangEnglish, 2, "Gr\xC3\xBC\xC3\x9F" "e \xE2\x82\xAC"},
    {ov::kLangGerman, 3, "Nur deutsch"},
    {ov::kLangEnglish, 3, "English second"},
};
constexpr ov::StringTable kTable{kEntries, sizeof kEntries / sizeof kEntries[0]};

class LanguageTest : public ovtest::PrefixTest {};

TEST_F(LanguageTest, LanguageComesFromTheClientSettings) {
    EXPECT_EQ(ov::UserInterfaceLanguage(), ov::kLangEnglish);  // no file: "English"
    struct Case {
        const char* name;
        LANGID expected;
    } cases[] = {{"German", ov::kLangGerman}, {"FRENCH", ov::kLangFrench}, {"english", ov::kLangEnglish},
                 {"Klingon", ov::kLangEnglish}, {"", ov::kLangEnglish}};
    for (const auto& c : cases) {
        ASSERT_TRUE(WritePrivateProfileStringA("Options", "Language", c.name, "ovclient.ini"));
        EXPECT_EQ(ov::UserInterfaceLanguage(), c.expected) << c.name;
        EXPECT_EQ(ov::LanguageFromName(c.name), c.expected) << c.name;
    }
}

TEST_F(LanguageTest, LookupFallsBackToTheFirstLanguageListedForTheId) {
    char buffer[64];
    EXPECT_EQ(ov::LoadLanguageString(kTable, ov::kLangGerman, 1, buffer, sizeof buffer), 39);
    EXPECT_STREQ(buffer, "FEHLER : %s kann nicht gestartet werden");
    ov::LoadLanguageString(kTable, ov::kLangFrench, 1, buffer, sizeof buffer);
    EXPECT_STREQ(buffer, "FAILED : cannot start %s");
    ov::LoadLanguageString(kTable, ov::kLangGerman, 2, buffer, sizeof buffer);  // no German text
    EXPECT_STREQ(buffer, "Gr\xFC\xDF" "e \x80");                                 // in Windows-1252
    ov::LoadLanguageString(kTable, ov::kLangFrench, 3, buffer, sizeof buffer);
    EXPECT_STREQ(buffer, "Nur deutsch");
    EXPECT_EQ(ov::LoadLanguageString(kTable, ov::kLangEnglish, 99, buffer, sizeof buffer), 0);
    EXPECT_STREQ(buffer, "");
}

TEST_F(LanguageTest, TextIsTruncatedToTheRoomGiven) {
    char buffer[7];
    EXPECT_EQ(ov::LoadLanguageString(kTable, ov::kLangEnglish, 1, buffer, sizeof buffer), 6);
    EXPECT_STREQ(buffer, "FAILED");
    EXPECT_EQ(ov::LoadLanguageString(kTable, ov::kLangEnglish, 1, buffer, 1), 0);
    EXPECT_STREQ(buffer, "");
    EXPECT_EQ(ov::LoadLanguageString(kTable, ov::kLangEnglish, 1, buffer, 0), 0);
    EXPECT_EQ(ov::LoadLanguageString(kTable, ov::kLangEnglish, 1, nullptr, 10), 0);

    ovtest::ScopedEnv utf8CodePage("ORVANE_CODEPAGE", "65001");
    char utf8[5];
    // "Grüße" in UTF-8: room for "Gr" and one byte of "ü" keeps the whole "ü" out.
    EXPECT_EQ(ov::LoadLanguageString(kTable, ov::kLangEnglish, 2, utf8, 4), 2);
    EXPECT_STREQ(utf8, "Gr");
    EXPECT_EQ(ov::LoadLanguageString(kTable, ov::kLangEnglish, 2, utf8, sizeof utf8), 4);
    EXPECT_STREQ(utf8, "Gr\xC3\xBC");
}

}  // namespace
