// Allocation and the helpers over property arrays, rows and entry-id text.
#include <gtest/gtest.h>

#include <cstring>

#include "ovmapi/mapiutil.h"

namespace {

TEST(Allocation, LinkedBlocksGoWithTheirRoot) {
    void* root = nullptr;
    ASSERT_EQ(MAPIAllocateBuffer(16, &root), S_OK);
    void* child = nullptr;
    void* grandchild = nullptr;
    ASSERT_EQ(MAPIAllocateMore(1000, root, &child), S_OK);
    // More linked onto a linked block still belongs to the root.
    ASSERT_EQ(MAPIAllocateMore(1000, child, &grandchild), S_OK);
    std::memset(child, 0xAB, 1000);
    std::memset(grandchild, 0xCD, 1000);
    EXPECT_EQ(MAPIFreeBuffer(child), 0u);  // freed with the root, not alone
    EXPECT_EQ(MAPIFreeBuffer(root), 0u);   // the leak checker sees anything left behind
    EXPECT_EQ(MAPIFreeBuffer(nullptr), 0u);
}

TEST(Allocation, RefusesMissingParent) {
    void* block = reinterpret_cast<void*>(1);
    EXPECT_EQ(MAPIAllocateMore(8, nullptr, &block), MAPI_E_INVALID_PARAMETER);
    EXPECT_EQ(block, nullptr);
}

TEST(ScDupPropset, CopiesEveryKindIntoOneBlock) {
    char text[] = "Fax subject";
    WCHAR wide[] = u"Ünïcode";
    BYTE bytes[] = {1, 2, 3, 0, 5};
    LPSTR strings[] = {text, text};
    SPropValue values[5] = {};
    values[0].ulPropTag = PR_SUBJECT_A;
    values[0].Value.lpszA = text;
    values[1].ulPropTag = PR_BODY_W;
    values[1].Value.lpszW = wide;
    values[2].ulPropTag = PR_ENTRYID;
    values[2].Value.bin = {sizeof bytes, bytes};
    values[3].ulPropTag = PR_IMPORTANCE;
    values[3].Value.l = 2;
    values[4].ulPropTag = PROP_TAG(PT_MV_STRING8, 0x8001);
    values[4].Value.MVszA = {2, strings};
    LPSPropValue copy = nullptr;
    ASSERT_EQ(ScDupPropset(5, values, MAPIAllocateBuffer, &copy), S_OK);
    // The copy owns its data: changing the source leaves it alone.
    text[0] = 'X';
    wide[0] = u'X';
    bytes[0] = 9;
    EXPECT_STREQ(copy[0].Value.lpszA, "Fax subject");
    EXPECT_EQ(std::u16string(copy[1].Value.lpszW), u"Ünïcode");
    ASSERT_EQ(copy[2].Value.bin.cb, 5u);
    EXPECT_EQ(copy[2].Value.bin.lpb[0], 1);
    EXPECT_EQ(copy[2].Value.bin.lpb[4], 5);
    EXPECT_EQ(copy[3].Value.l, 2);
    ASSERT_EQ(copy[4].Value.MVszA.cValues, 2u);
    EXPECT_STREQ(copy[4].Value.MVszA.lppszA[1], "Fax subject");
    MAPIFreeBuffer(copy);  // one free releases everything
}

TEST(ScDupPropset, RejectsAValueWithoutData) {
    SPropValue value{};
    value.ulPropTag = PR_SUBJECT_A;
    value.Value.lpszA = nullptr;
    LPSPropValue copy = nullptr;
    EXPECT_EQ(ScDupPropset(1, &value, MAPIAllocateBuffer, &copy), MAPI_E_INVALID_PARAMETER);
    EXPECT_EQ(copy, nullptr);
}

TEST(PpropFindProp, MatchesByIdWithUnspecifiedType) {
    SPropValue values[2] = {};
    values[0].ulPropTag = PR_DISPLAY_NAME_W;
    values[1].ulPropTag = PR_RECIPIENT_TYPE;
    EXPECT_EQ(PpropFindProp(values, 2, PROP_TAG(PT_UNSPECIFIED, PROP_ID(PR_DISPLAY_NAME))), &values[0]);
    EXPECT_EQ(PpropFindProp(values, 2, PR_DISPLAY_NAME_A), nullptr);  // a typed request wants that type
    EXPECT_EQ(PpropFindProp(values, 2, PR_RECIPIENT_TYPE), &values[1]);
}

TEST(HexEntryIds, DecodesAndEncodes) {
    struct Case {
        const char* text;
        bool ok;
        std::vector<BYTE> bytes;
    };
    const Case cases[] = {
        {"00FF10ab", true, {0x00, 0xFF, 0x10, 0xAB}},
        {"aBcD", true, {0xAB, 0xCD}},
        {"ABC", true, {0xAB}},  // an odd final digit is ignored
        {"", true, {}},
        {"0G", false, {}},
        {"12 4", false, {}},
    };
    for (const Case& c : cases) {
        std::vector<BYTE> bytes = {0x77};
        EXPECT_EQ(ovmapi::BinFromHex(c.text, bytes), c.ok) << c.text;
        if (c.ok) {
            EXPECT_EQ(bytes, c.bytes) << c.text;
        }
    }
    const BYTE raw[] = {0x00, 0x0A, 0xFF};
    EXPECT_EQ(ovmapi::HexFromBin(raw, 3), "000AFF");
}

}  // namespace
