#include "faxmsg/msgsettings.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

namespace {

std::string Text(const char* p) { return p == nullptr ? std::string("<null>") : std::string(p); }

TEST(MsgSettings, FreshRecordHoldsTheResetValues) {
    tagMsgSettings record;
    EXPECT_EQ(record.GetFlags(), 8);
    EXPECT_EQ(record.DoMsgSend(), 1);
    EXPECT_EQ(record.DoBodyTXT(), 1);
    EXPECT_EQ(record.DoBodyRTF(), 0);
    EXPECT_EQ(record.DoMsgSave(), 0);
    EXPECT_EQ(record.DoExSettings(), 0);
    EXPECT_EQ(record.DoBodyRef(), 0);
    EXPECT_EQ(record.GetRes(), -1);
    EXPECT_EQ(record.GetLine(), -1);
    for (const char* text :
         {record.GetMsgClass(), record.GetSubject(), record.GetCvrName(), record.GetFCvrName(),
          record.GetAttName(), record.GetBillCode(), record.GetSchedTime(), record.GetBody()}) {
        EXPECT_EQ(text, nullptr);
    }
    EXPECT_EQ(record.GetSchedFT(), nullptr);
    EXPECT_EQ(record.GetRecipCnt(), 0);
    EXPECT_EQ(record.GetAttachCnt(), 0);
    EXPECT_EQ(record.GetRecip(0), nullptr);
    EXPECT_EQ(record.GetAttach(0), nullptr);
}

struct FlagAccess {
    const char* name;
    LONG bit;
    void (tagMsgSettings::*set)(int);
    int (tagMsgSettings::*test)() const;
    bool inverted;  // SetBodyTXT and DoBodyTXT work on the RTF bit the other way round
};

TEST(MsgSettings, EachFlagSetterAndTestWorksOnItsOwnBit) {
    const std::vector<FlagAccess> flags = {
        {"OptFlush", 0x01, &tagMsgSettings::SetOptFlush, &tagMsgSettings::DoOptFlush, false},
        {"MsgSave", 0x02, &tagMsgSettings::SetMsgSave, &tagMsgSettings::DoMsgSave, false},
        {"MsgEdit", 0x04, &tagMsgSettings::SetMsgEdit, &tagMsgSettings::DoMsgEdit, false},
        {"MsgSend", 0x08, &tagMsgSettings::SetMsgSend, &tagMsgSettings::DoMsgSend, false},
        {"Noerror", 0x10, &tagMsgSettings::SetNoerror, &tagMsgSettings::DoNoerror, false},
        {"BodyRTF", 0x20, &tagMsgSettings::SetBodyRTF, &tagMsgSettings::DoBodyRTF, false},
        {"BodyTXT", 0x20, &tagMsgSettings::SetBodyTXT, &tagMsgSettings::DoBodyTXT, true},
        {"BodyFile", 0x40, &tagMsgSettings::SetBodyFile, &tagMsgSettings::DoBodyFile, false},
    };
    for (const FlagAccess& flag : flags) {
        SCOPED_TRACE(flag.name);
        for (LONG start : {LONG{0}, LONG{0x7F}}) {
            tagMsgSettings record;
            record.SetFlags(start);
            // Any non-zero argument counts as "on"; the test answers exactly 0 or 1.
            (record.*flag.set)(-7);
            const LONG afterOn = flag.inverted ? (start & ~flag.bit) : (start | flag.bit);
            EXPECT_EQ(record.GetFlags(), afterOn);
            EXPECT_EQ((record.*flag.test)(), 1);
            (record.*flag.set)(0);
            const LONG afterOff = flag.inverted ? (start | flag.bit) : (start & ~flag.bit);
            EXPECT_EQ(record.GetFlags(), afterOff);
            EXPECT_EQ((record.*flag.test)(), 0);
        }
    }
    tagMsgSettings record;
    record.SetFlags(0x20);
    EXPECT_EQ(record.DoBodyRTF(), 1);
    EXPECT_EQ(record.DoBodyTXT(), 0);
}

TEST(MsgSettings, SetterTextRule) {
    const std::string longText(3000, 'x');
    struct Case {
        const char* name;
        const char* text;
        ULONG len;
        int result;
        std::string stored;  // "<old>" when the earlier subject must survive
    } cases[] = {
        {"first len characters", "Hello", 3, 1, "Hel"},
        {"len 0 stores the empty text", "Hello", 0, 1, ""},
        {"len equal to the length", "Hello", 5, 1, "Hello"},
        {"len beyond the length", "Hello", 100, 1, "Hello"},
        {"capped at 2047", longText.c_str(), 5000, 1, longText.substr(0, 2047)},
        {"2047 exactly", longText.c_str(), 2047, 1, longText.substr(0, 2047)},
        {"2048 capped", longText.c_str(), 2048, 1, longText.substr(0, 2047)},
        {"size wraps to 0", "Hello", 0xFFFFFFFFu, 0, "<old>"},
        {"null text", nullptr, 10, 0, "<old>"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        tagMsgSettings record;
        ASSERT_EQ(record.SetSubject("old", 3), 1);
        EXPECT_EQ(record.SetSubject(c.text, c.len), c.result);
        EXPECT_EQ(Text(record.GetSubject()), c.stored == "<old>" ? "old" : c.stored);
    }
}

TEST(MsgSettings, SetStringRefusesMissingSlotTextOrSize) {
    tagMsgSettings record;
    EXPECT_EQ(record.SetString(nullptr, "text", 5), 0);
    EXPECT_EQ(record.SetString(&record.MsgClass, "IPM.Note.OVFAX.Submit", 0), 0);
    EXPECT_EQ(record.GetMsgClass(), nullptr);
    // The gateway stores the message class this way, straight into the field.
    const char* cls = "IPM.Note.OVFAX.Submit";
    EXPECT_EQ(record.SetString(&record.MsgClass, cls, static_cast<ULONG>(std::strlen(cls) + 1)), 1);
    EXPECT_EQ(Text(record.GetMsgClass()), cls);
    EXPECT_EQ(record.SetString(&record.MsgClass, "abc", 1), 1);
    EXPECT_EQ(Text(record.GetMsgClass()), "");
}

TEST(MsgSettings, ATextMayBeSetFromItsOwnField) {
    tagMsgSettings record;
    record.SetSubject("Quarterly report", 100);
    // The old text is the source of the new one: it must not be released first.
    EXPECT_EQ(record.SetSubject(record.GetSubject() + 10, 100), 1);
    EXPECT_EQ(Text(record.GetSubject()), "report");
    record.SetBody("body text", 100);
    EXPECT_EQ(record.SetBody(record.GetBody(), 4), 1);
    EXPECT_EQ(Text(record.GetBody()), "body");
}

TEST(MsgSettings, ExtendedSettersMarkTheJobEvenWhenTheCopyFails) {
    using Setter = int (tagMsgSettings::*)(const char*, ULONG);
    const std::vector<std::pair<const char*, Setter>> extended = {
        {"CvrName", &tagMsgSettings::SetCvrName},     {"FCvrName", &tagMsgSettings::SetFCvrName},
        {"AttName", &tagMsgSettings::SetAttName},     {"BillCode", &tagMsgSettings::SetBillCode},
        {"SchedTime", &tagMsgSettings::SetSchedTime},
    };
    for (const auto& [name, setter] : extended) {
        SCOPED_TRACE(name);
        tagMsgSettings record;
        EXPECT_EQ((record.*setter)(nullptr, 4), 0);
        EXPECT_EQ(record.DoExSettings(), 1);
        tagMsgSettings wrapped;
        EXPECT_EQ((wrapped.*setter)("1234", 0xFFFFFFFFu), 0);
        EXPECT_EQ(wrapped.DoExSettings(), 1);
    }
    const std::vector<std::pair<const char*, Setter>> plain = {
        {"MsgClass", &tagMsgSettings::SetMsgClass},
        {"Subject", &tagMsgSettings::SetSubject},
        {"Body", &tagMsgSettings::SetBody},
    };
    for (const auto& [name, setter] : plain) {
        SCOPED_TRACE(name);
        tagMsgSettings record;
        EXPECT_EQ((record.*setter)("text", 4), 1);
        EXPECT_EQ(record.DoExSettings(), 0);
    }
    tagMsgSettings record;
    record.SetRes(0);
    EXPECT_EQ(record.GetRes(), 0);
    EXPECT_EQ(record.DoExSettings(), 1);
    record.SetExSettings(5);
    EXPECT_EQ(record.DoExSettings(), 5);
    record.SetLine(12);
    EXPECT_EQ(record.GetLine(), 12);
    EXPECT_EQ(record.DoExSettings(), 5);
}

TEST(MsgSettings, ScheduleIsHeldAsTextOrFiletimeNeverBoth) {
    tagMsgSettings record;
    const FILETIME when{0x89ABCDEFu, 0x01D2F3A4u};

    ASSERT_EQ(record.SetSchedTime("2026-12-11 14:30:00", 100), 1);
    ASSERT_EQ(record.SetSchedFT(&when), 1);
    EXPECT_EQ(record.GetSchedTime(), nullptr);
    ASSERT_NE(record.GetSchedFT(), nullptr);
    EXPECT_EQ(record.GetSchedFT()->dwLowDateTime, when.dwLowDateTime);
    EXPECT_EQ(record.GetSchedFT()->dwHighDateTime, when.dwHighDateTime);

    // The record keeps its own copy of the value.
    FILETIME changed = when;
    ASSERT_EQ(record.SetSchedFT(&changed), 1);
    changed.dwLowDateTime = 0;
    EXPECT_EQ(record.GetSchedFT()->dwLowDateTime, when.dwLowDateTime);

    ASSERT_EQ(record.SetSchedTime("2026-12-12 08:00:00", 100), 1);
    EXPECT_EQ(record.GetSchedFT(), nullptr);
    EXPECT_EQ(Text(record.GetSchedTime()), "2026-12-12 08:00:00");

    // A missing value changes nothing.
    EXPECT_EQ(record.SetSchedFT(nullptr), 0);
    EXPECT_EQ(Text(record.GetSchedTime()), "2026-12-12 08:00:00");
}

TEST(MsgSettings, BorrowedBodyIsNeverFreedAndACopyReplacesIt) {
    std::string callerText = "the caller's body";
    {
        tagMsgSettings record;
        record.SetBody("owned first", 100);
        EXPECT_EQ(record.SetBodyMem(callerText.c_str()), 1);
        EXPECT_EQ(record.DoBodyRef(), 1);
        EXPECT_EQ(record.GetBody(), callerText.c_str());
        // Destroying the record must leave the caller's text alone (the
        // sanitizers report a free of memory the record does not own).
    }
    EXPECT_EQ(callerText, "the caller's body");

    tagMsgSettings record;
    record.SetBodyMem(callerText.c_str());
    EXPECT_EQ(record.SetBody(callerText.c_str(), 3), 1);
    EXPECT_EQ(record.DoBodyRef(), 0);
    EXPECT_NE(record.GetBody(), callerText.c_str());
    EXPECT_EQ(Text(record.GetBody()), "the");

    // Replacing a borrowed body with a failed copy forgets it.
    record.SetBodyMem(callerText.c_str());
    EXPECT_EQ(record.SetBody(nullptr, 10), 0);
    EXPECT_EQ(record.DoBodyRef(), 0);
    EXPECT_EQ(record.GetBody(), nullptr);
}

TEST(MsgSettings, BorrowingItsOwnBodyKeepsItValid) {
    tagMsgSettings record;
    record.SetBody("body text", 100);
    const char* own = record.GetBody();
    EXPECT_EQ(record.SetBodyMem(own), 1);
    EXPECT_EQ(Text(record.GetBody()), "body text");
    EXPECT_EQ(record.SetBodyMem(own + 5), 1);
    EXPECT_EQ(Text(record.GetBody()), "text");
}

TEST(MsgSettings, ListsKeepCopiesInOrder) {
    tagMsgSettings record;
    std::vector<std::string> added;
    for (int i = 0; i < 40; ++i) {
        std::string address = "\"Ann Lee\"@\"Acme\"@+49 30 " + std::to_string(1000 + i);
        record.AddRecip(address.c_str());
        added.push_back(address);
        address[0] = '#';  // the record holds its own copy
    }
    record.AddRecip(nullptr);
    ASSERT_EQ(record.GetRecipCnt(), 40);
    for (LONG i = 0; i < 40; ++i) {
        EXPECT_EQ(Text(record.GetRecip(i)), added[static_cast<std::size_t>(i)]);
    }
    EXPECT_EQ(record.GetRecip(-1), nullptr);
    EXPECT_EQ(record.GetRecip(record.GetRecipCnt()), nullptr);

    // The gateway appends through AddStringList on the fields themselves.
    const std::string longPath = "C:\\fax\\" + std::string(3000, 'a');
    record.AddStringList(&record.Attachs, "C:\\fax\\cover.fax");
    record.AddStringList(&record.Attachs, longPath.c_str());
    record.AddStringList(&record.Attachs, nullptr);
    record.AddAttach("C:\\fax\\page2.fax");
    ASSERT_EQ(record.GetAttachCnt(), 3);
    EXPECT_EQ(Text(record.GetAttach(0)), "C:\\fax\\cover.fax");
    EXPECT_EQ(Text(record.GetAttach(1)), longPath.substr(0, 2047));
    EXPECT_EQ(Text(record.GetAttach(2)), "C:\\fax\\page2.fax");
    EXPECT_EQ(record.GetAttach(3), nullptr);
    EXPECT_EQ(record.GetRecipCnt(), 40);
}

}  // namespace
