#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "faxmsg/rtf_codec.h"
#include "ovplatform/platform.h"
#include "sample_text.h"

namespace {

const std::string kHead1252 =
    "{\\rtf1\\ansi\\deff0\\deftab720{\\fonttbl{\\f0\\fswiss MS Sans Serif;}{\\f1\\fnil Symbol;}"
    "{\\f2\\fswiss\\fcharset0 Arial;}}\r\n"
    "{\\colortbl\\red0\\green0\\blue0;}\r\n"
    "\\pard\\plain\\f2\\fs20 ";

TEST(TextToRtf, ShortTextGivesTheWholeDocument) {
    EXPECT_EQ(faxmsg::ConvertTextToRtf("Hi\r\n", 1252), kHead1252 + "Hi\\par \r\n}");
    EXPECT_EQ(faxmsg::ConvertTextToRtf("", 1252), kHead1252 + "}");
    faxmsg::TextToRtfConverter converter(1252);
    std::string rtf;
    ASSERT_TRUE(converter.Finish(rtf));
    EXPECT_EQ(rtf, kHead1252 + "}");
    EXPECT_FALSE(converter.Convert("late", rtf));
    EXPECT_FALSE(converter.Finish(rtf));
}

TEST(TextToRtf, FontTwoAndCharacterSetFollowTheCodePage) {
    struct Case {
        unsigned codePage;
        std::string fontTwo;
    } cases[] = {
        {1252, "\\fswiss\\fcharset0 Arial;"},
        {1251, "\\fswiss\\fcharset204{\\*\\fname Arial;}Arial Cyr;"},
        {1250, "\\fswiss\\fcharset238{\\*\\fname Arial;}Arial CE;"},
        {932, "\\froman\\fcharset128 \\'82\\'6c\\'82\\'72 \\'96\\'be\\'92\\'a9;"},
        {936, "\\froman\\fcharset134 \\'cb\\'ce\\'cc\\'e5;"},
        {949, "\\froman\\fcharset129 \\'b9\\'d9\\'c5\\'c1\\'c3\\'bc;"},
        {950, "\\froman\\fcharset136 \\'b2\\'d3\\'a9\\'fa\\'c5\\'e9;"},
        {1253, "\\fswiss\\fcharset161 Arial;"},
        {874, "\\fswiss\\fcharset222 Arial;"},
        {437, "\\fswiss\\fcharset1 Arial;"},
        {65001, "\\fswiss\\fcharset1 Arial;"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.codePage);
        const std::string head = faxmsg::RtfHeadForCodePage(c.codePage);
        EXPECT_EQ(head,
                  "{\\rtf1\\ansi\\deff0\\deftab720{\\fonttbl{\\f0\\fswiss MS Sans Serif;}"
                  "{\\f1\\fnil Symbol;}{\\f2" +
                      c.fontTwo +
                      "}}\r\n{\\colortbl\\red0\\green0\\blue0;}\r\n\\pard\\plain\\f2\\fs20 ");
    }
    const std::pair<unsigned, unsigned> charsets[] = {
        {874, 222}, {932, 128},  {936, 134},  {949, 129},  {950, 136},  {1250, 238}, {1251, 204},
        {1252, 0},  {1253, 161}, {1254, 162}, {1255, 177}, {1256, 178}, {1257, 186}, {1258, 1},
    };
    for (const auto& [codePage, charset] : charsets) {
        EXPECT_EQ(faxmsg::RtfCharsetForCodePage(codePage), charset) << codePage;
    }
}

TEST(TextToRtf, CodePageZeroMeansTheSystemCodePage) {
    faxmsg::TextToRtfConverter converter(0);
    EXPECT_EQ(converter.codePage(), ov::SystemCodePage());
    EXPECT_EQ(faxmsg::ConvertTextToRtf("x", 0),
              faxmsg::ConvertTextToRtf("x", ov::SystemCodePage()));
}

TEST(TextToRtf, BytesAreConverted) {
    struct Case {
        const char* name;
        unsigned codePage;
        std::string text;
        std::string body;
    } cases[] = {
        {"tab", 1252, "a\tb", "a\\tab b"},
        {"escapes", 1252, "{x}\\y", "\\{x\\}\\\\y"},
        {"high byte lower-case hex", 1252, "caf\xE9", "caf\\'e9"},
        {"0x80 and 0xFF", 1252, "\x80\xFF", "\\'80\\'ff"},
        {"CR LF is one break", 1252, "a\r\nb", "a\\par \r\nb"},
        {"LF CR is one break", 1252, "a\n\rb", "a\\par \n\rb"},
        {"CR CR is two", 1252, "a\r\rb", "a\\par \r\\par \rb"},
        {"LF LF is two", 1252, "\n\n", "\\par \n\\par \n"},
        {"CR LF LF", 1252, "\r\n\n", "\\par \r\n\\par \n"},
        {"CR LF CR LF", 1252, "\r\n\r\n", "\\par \r\n\\par \r\n"},
        {"NUL and controls pass", 1252, std::string("a\0\x01", 3), std::string("a\0\x01", 3)},
        {"single-byte page keeps escaping", 1252, "\x82\\", "\\'82\\\\"},
        {"Shift-JIS pair with a backslash trail", 932, "\x95\\x", "\\'95\\'5cx"},
        {"Shift-JIS pair with a brace trail", 932, "\x83{", "\\'83\\'7b"},
        {"Shift-JIS half-width katakana is single", 932, "\xB1\\", "\\'b1\\\\"},
        {"GBK pair", 936, "\xC4\xE3{", "\\'c4\\'e3\\{"},
        {"Korean pair with a letter trail", 949, "\x81\x41\x41", "\\'81\\'41A"},
        {"Big5 pair", 950, "\xA4\x40\t", "\\'a4\\'40\\tab "},
        {"lead byte ending the text", 936, "a\xC4", "a\\'c4"},
        {"0x80 is no lead in GBK", 936, "\x80{", "\\'80\\{"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const std::string head = faxmsg::RtfHeadForCodePage(c.codePage);
        EXPECT_EQ(faxmsg::ConvertTextToRtf(c.text, c.codePage), head + c.body + "}");
    }
}

// Whatever way the source is cut into chunks, the RTF is the same: a break
// pair and a double-byte character may straddle two chunks.
TEST(TextToRtf, ChunkBoundariesDoNotChangeTheResult) {
    const std::vector<std::pair<unsigned, std::string>> texts = {
        {1252, "line one\r\nline two\n\rthree\r\r{x}\\ \xE9\t."},
        {932, "\x82\xA0\x95\\\x83{\xB1\r\n\x88\x9F\x82"},
        {950, "\xA4\x40\xA4\x7D\n\r\xA4"},
    };
    for (const auto& [codePage, text] : texts) {
        SCOPED_TRACE(codePage);
        const std::string whole = faxmsg::ConvertTextToRtf(text, codePage);
        for (std::size_t cut = 0; cut <= text.size(); ++cut) {
            faxmsg::TextToRtfConverter converter(codePage);
            std::string rtf;
            ASSERT_TRUE(converter.Convert(std::string_view(text).substr(0, cut), rtf));
            ASSERT_TRUE(converter.Convert(std::string_view(text).substr(cut), rtf));
            ASSERT_TRUE(converter.Finish(rtf));
            EXPECT_EQ(rtf, whole) << "cut at " << cut;
        }
        faxmsg::TextToRtfConverter byteWise(codePage);
        std::string rtf;
        for (char c : text) {
            ASSERT_TRUE(byteWise.Convert(std::string_view(&c, 1), rtf));
        }
        ASSERT_TRUE(byteWise.Finish(rtf));
        EXPECT_EQ(rtf, whole);
    }
}

}  // namespace
