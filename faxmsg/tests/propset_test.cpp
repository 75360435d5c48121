// The fax property set: the names the fax server reads and their mapping to
// tags on a store.
#include "faxmsg/propset.h"

#include <gtest/gtest.h>

#include <set>
#include <string>

#include "ovmapi/faults.h"
#include "ovmapi/mapiutil.h"
#include "ovmapi/provider.h"
#include "ovtest/temp_prefix.h"

namespace {

TEST(FaxPropertySet, NamesAndTypesInRequestOrder) {
    const char* expected =
        "MS_EXCHANGE_01:b CVRPage:b HighRes:b CVRPageName:s TMPLName:s BillCode:s ScheduleTime:s "
        "FAXLaunch:b GWay:b "
        "RTFBody:s FAXTrans:s CVRInfo:s FaxInfo1:s FaxInfo2:s FaxInfo3:s FaxInfo4:s FaxInfo5:s "
        "DefCVR:s DefTMP:s "
        "DefHeader:s DefCVRClear:b DefHDRClear:b Resolution:s CVRDefault:b CVRAddDel:s "
        "TMPDefault:b TMPAddDel:s "
        "ATTName:s ATTAddDel:s CVRAttPos:s TMPAttPos:s ATTAttPos:s FormMajorVer:d FormMinorVer:d "
        "ScheduleFT:t "
        "OrvaneSign:s OVFAXFormInstalled:b OriginalFax:s OVFAXResendDisable:b ";
    std::string got;
    for (const faxmsg::FaxPropDef& def : faxmsg::FaxPropDefs()) {
        std::u16string wide(def.name);
        EXPECT_EQ(std::string(wide.begin(), wide.end()), def.name8);
        char kind = def.type == PT_BOOLEAN   ? 'b'
                    : def.type == PT_STRING8 ? 's'
                    : def.type == PT_DOUBLE  ? 'd'
                    : def.type == PT_SYSTIME ? 't'
                                             : '?';
        got += std::string(def.name8) + ":" + kind + " ";
    }
    EXPECT_EQ(got, expected);
    EXPECT_STREQ(faxmsg::kOrvaneSignValue, "Orvane Extended Properties");
}

TEST(FaxPropertySet, MessageClassesCompareWithoutCase) {
    EXPECT_TRUE(faxmsg::SameMessageClass(faxmsg::kClassSubmitForm, faxmsg::kClassSubmitFormIni));
    EXPECT_TRUE(faxmsg::SameMessageClass(faxmsg::kClassSubmitForm, faxmsg::kClassGateway));
    EXPECT_FALSE(faxmsg::SameMessageClass("IPM.Note", "IPM.Note.OVFAX.Submit"));
    EXPECT_FALSE(faxmsg::SameMessageClass("IPM.Note", nullptr));
}

class MappingTest : public ovtest::PrefixTest {
protected:
    void SetUp() override {
        ovmapi::faults::ClearAll();
        ASSERT_EQ(MAPIInitialize(nullptr), S_OK);
        ASSERT_EQ(MAPILogonEx(0, nullptr, nullptr, MAPI_USE_DEFAULT, &session_), S_OK);
        store_ = OpenStore(true);
        ASSERT_NE(store_, nullptr);
    }
    void TearDown() override {
        if (store_) store_->Release();
        if (session_) session_->Release();
        ovmapi::faults::ClearAll();
        MAPIUninitialize();
    }
    IMsgStore* OpenStore(bool wantDefault) {
        IMAPITable* table = nullptr;
        EXPECT_EQ(session_->GetMsgStoresTable(0, &table), S_OK);
        SizedSPropTagArray(2, columns) = {2, {PR_ENTRYID, PR_DEFAULT_STORE}};
        LPSRowSet rows = nullptr;
        EXPECT_EQ(HrQueryAllRows(table, reinterpret_cast<LPSPropTagArray>(&columns), nullptr,
                                 nullptr, 0, &rows),
                  S_OK);
        table->Release();
        IMsgStore* store = nullptr;
        for (ULONG n = 0; rows && n < rows->cRows && store == nullptr; ++n) {
            bool isDefault = rows->aRow[n].lpProps[1].ulPropTag == PR_DEFAULT_STORE &&
                             rows->aRow[n].lpProps[1].Value.b;
            if (isDefault != wantDefault) continue;
            const SBinary& id = rows->aRow[n].lpProps[0].Value.bin;
            EXPECT_EQ(session_->OpenMsgStore(0, id.cb, reinterpret_cast<LPENTRYID>(id.lpb), nullptr,
                                             MDB_WRITE, &store),
                      S_OK);
        }
        FreeProws(rows);
        return store;
    }

    IMAPISession* session_ = nullptr;
    IMsgStore* store_ = nullptr;
};

TEST_F(MappingTest, CreatesEveryIdOnAFreshStoreAndFindsThemAgain) {
    faxmsg::FaxPropTags tags;
    ASSERT_EQ(faxmsg::MapFaxPropertySet(store_, tags), S_OK);
    ASSERT_TRUE(tags.mapped);
    std::set<ULONG> ids;
    for (std::size_t n = 0; n < faxmsg::kFaxPropCount; ++n) {
        EXPECT_EQ(PROP_TYPE(tags.tags[n]), faxmsg::FaxPropDefs()[n].type);
        EXPECT_GE(PROP_ID(tags.tags[n]), 0x8000u);
        ids.insert(PROP_ID(tags.tags[n]));
    }
    EXPECT_EQ(ids.size(), faxmsg::kFaxPropCount);
    EXPECT_EQ(ovmapi::faults::CallCount("IMsgStore::GetIDsFromNames"), 1u);

    faxmsg::FaxPropTags again;
    ASSERT_EQ(faxmsg::MapFaxPropertySet(store_, again), S_OK);
    EXPECT_EQ(again.tags, tags.tags);
    ULONG one = 0;
    ASSERT_EQ(faxmsg::MapFaxProperty(store_, faxmsg::kOrvaneSign, one), S_OK);
    EXPECT_EQ(one, tags[faxmsg::kOrvaneSign]);
}

TEST_F(MappingTest, APartialOrFailedMappingIsNotUsable) {
    // A store that has room for a few ids only: one name comes back PT_ERROR.
    ASSERT_EQ(ovmapi::SetNamedPropertyLimit(38), S_OK);
    faxmsg::FaxPropTags tags;
    EXPECT_EQ(faxmsg::MapFaxPropertySet(store_, tags), MAPI_E_NOT_FOUND);
    EXPECT_FALSE(tags.mapped);
    for (ULONG tag : tags.tags) EXPECT_EQ(tag, PR_NULL);

    ASSERT_EQ(ovmapi::SetNamedPropertyLimit(0x7FFF), S_OK);
    ovmapi::faults::Inject("IMsgStore::GetIDsFromNames", MAPI_E_NO_SUPPORT);
    EXPECT_EQ(faxmsg::MapFaxPropertySet(store_, tags), MAPI_E_NO_SUPPORT);
    EXPECT_FALSE(tags.mapped);
    EXPECT_EQ(faxmsg::MapFaxPropertySet(nullptr, tags), MAPI_E_INVALID_PARAMETER);
}

}  // namespace
