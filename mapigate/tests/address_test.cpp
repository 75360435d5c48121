#include <cstring>

#include <gtest/gtest.h>

#include "fax_address.h"

namespace mapigate {
namespace {

cgwRecipient Recipient(const char* given, const char* surname, const char* company,
                       const char* fax) {
    cgwRecipient r{};
    std::strncpy(r.givenName, given, sizeof r.givenName - 1);
    std::strncpy(r.surname, surname, sizeof r.surname - 1);
    std::strncpy(r.company, company, sizeof r.company - 1);
    std::strncpy(r.faxNumber, fax, sizeof r.faxNumber - 1);
    return r;
}

TEST(FaxAddress, FollowsTheServersSyntax) {
    struct Case {
        const char *given, *surname, *company, *fax;
        const char* address;  // null: no address, the recipient is skipped
    };
    const Case cases[] = {
        {"Ann", "Lee", "Acme", "F", "\"Ann Lee\"@\"Acme\"@F"},
        {"Ann", "Lee", "", "F", "\"Ann Lee\"@F"},
        {"", "Lee", "", "F", "\"Lee\"@F"},
        {"Ann", "", "Acme", "F", "\"Ann\"@\"Acme\"@F"},
        {"", "", "Acme", "F", "@\"Acme\"@F"},
        {"", "", "", "F", "F"},
        {"  Ann\t", "\nLee ", " Acme ", " +49 89 1234 ", "\"Ann Lee\"@\"Acme\"@+49 89 1234"},
        {"Ann\r", "", "", "F", "\"Ann\r\"@F"},  // carriage returns are kept
        {"Ann", "Lee", "Acme", "   ", nullptr},
        {"Ann", "Lee", "Acme", "", nullptr},
    };
    for (const Case& c : cases) {
        auto address = BuildFaxAddress(Recipient(c.given, c.surname, c.company, c.fax));
        if (c.address == nullptr) {
            EXPECT_FALSE(address.has_value()) << c.given << "/" << c.fax;
        } else {
            ASSERT_TRUE(address.has_value()) << c.given << "/" << c.fax;
            EXPECT_EQ(*address, c.address);
        }
    }
}

TEST(FaxAddress, FieldsAreCutAt127CharactersAndSlotsNeedNoTerminator) {
    cgwRecipient r{};
    std::memset(r.company, 'c', sizeof r.company);  // no NUL anywhere in the slot
    std::memset(r.faxNumber, '5', sizeof r.faxNumber);
    auto address = BuildFaxAddress(r);
    ASSERT_TRUE(address.has_value());
    EXPECT_EQ(*address, "@\"" + std::string(127, 'c') + "\"@" + std::string(64, '5'));
}

TEST(ScheduleText, BecomesAFileTimeWithEvenSeconds) {
    auto ft = ParseScheduleText("2027-03-04 05:06:07");
    ASSERT_TRUE(ft.has_value());
    SYSTEMTIME st;
    ASSERT_TRUE(FileTimeToSystemTime(&*ft, &st));
    EXPECT_EQ(st.wYear, 2027);
    EXPECT_EQ(st.wMonth, 3);
    EXPECT_EQ(st.wDay, 4);
    EXPECT_EQ(st.wHour, 5);
    EXPECT_EQ(st.wMinute, 6);
    EXPECT_EQ(st.wSecond, 6);
    EXPECT_TRUE(ParseScheduleText("2027-03-04 05:06").has_value());
    for (const char* bad : {"", "tomorrow", "2027-13-01 00:00:00", "2027-02-30 00:00:00",
                            "1979-12-31 23:59:59", "2108-01-01 00:00:00", "2027-03-04 05:06:07x",
                            "2027-03-04 24:00:00"}) {
        EXPECT_FALSE(ParseScheduleText(bad).has_value()) << bad;
    }
    EXPECT_FALSE(ParseScheduleText(nullptr).has_value());
}

}  // namespace
}  // namespace mapigate
