#include <gtest/gtest.h>

#include <cstdlib>

#include "ovplatform/platform.h"
#include "ovtest/scoped_env.h"

namespace {

// The code page for one scope.
class CodePageScope : public ovtest::ScopedEnv {
public:
    explicit CodePageScope(const char* value) : ScopedEnv("ORVANE_CODEPAGE", value) {}
};

TEST(CodePage, ChoiceFollowsTheEnvironment) {
    struct Case {
        const char* value;
        unsigned expected;
    } cases[] = {{nullptr, 1252}, {"1252", 1252}, {"28591", 28591}, {"65001", 65001}, {"437", 1252}};
    for (const auto& c : cases) {
        CodePageScope scope(c.value);
        EXPECT_EQ(ov::SystemCodePage(), c.expected) << (c.value ? c.value : "(unset)");
    }
}

TEST(CodePage, Windows1252MapsItsSpecialBytesAndRoundTripsEveryByte) {
    CodePageScope scope("1252");
    EXPECT_EQ(ov::AnsiToUtf16("\x80"), u"\u20AC");
    EXPECT_EQ(ov::AnsiToUtf16("\x9F"), u"\u0178");
    EXPECT_EQ(ov::AnsiToUtf16("\xE4"), u"\u00E4");
    EXPECT_EQ(ov::AnsiToUtf8("Gr\xFC\xDF" "e \x80"), "Grüße €");
    std::string all;
    for (int byte = 1; byte < 256; ++byte) {
        all += static_cast<char>(byte);
    }
    EXPECT_EQ(ov::Utf16ToAnsi(ov::AnsiToUtf16(all)), all);
    EXPECT_EQ(ov::Utf8ToAnsi(ov::AnsiToUtf8(all)), all);
}

TEST(CodePage, UnmappableCharactersBecomeQuestionMarks) {
    CodePageScope scope("1252");
    EXPECT_EQ(ov::Utf8ToAnsi("a\xE2\x82\xAC\xE4\xB8\xAD" "b"), "a\x80?b");  // € maps, 中 does not
    EXPECT_EQ(ov::Utf16ToAnsi(u"\U0001F600"), "?");                      // one character, one '?'
    EXPECT_EQ(ov::Utf16ToAnsi(u"\u0080"), "?");  // a C1 control 1252 gives another meaning
    CodePageScope latin1("28591");
    EXPECT_EQ(ov::Utf16ToAnsi(u"\u20AC\u00FF"), "?\xFF");
    EXPECT_EQ(ov::AnsiToUtf16("\x80"), u"\u0080");
}

TEST(CodePage, Utf8AndUtf16ConversionsHandleSurrogatesAndDamage) {
    EXPECT_EQ(ov::Utf16ToUtf8(u"\U0001F600"), "\xF0\x9F\x98\x80");
    EXPECT_EQ(ov::Utf8ToUtf16("\xF0\x9F\x98\x80"), u"\U0001F600");
    // A lone surrogate, a truncated sequence, an overlong encoding: U+FFFD each.
    EXPECT_EQ(ov::Utf16ToUtf8(std::u16string(1, char16_t(0xD800)) + u"x"), "\xEF\xBF\xBDx");
    EXPECT_EQ(ov::Utf8ToUtf16("a\xE2\x82"), u"a\uFFFD\uFFFD");
    EXPECT_EQ(ov::Utf8ToUtf16("\xC0\xAF"), u"\uFFFD\uFFFD");
    CodePageScope scope("65001");
    EXPECT_EQ(ov::AnsiToUtf16("\xC3\xA4"), u"\u00E4");
    EXPECT_EQ(ov::Utf16ToAnsi(u"\u00E4"), "\xC3\xA4");
}

}  // namespace
