// The address book: one-off identifiers, containers, mail users, nested
// lists, name resolution, recipient preparation and vCard import.
#include <cstring>

#include "mapi_fixture.h"

namespace mapitest {
namespace {

const char* const kContacts = R"(BEGIN:VCARD
VERSION:3.0
UID:ann
FN:Ann Lee
N:Lee;Ann;;;
ORG:Acme Corp;Sales
TEL;TYPE=WORK,VOICE:+1 555 1000
TEL;TYPE=WORK,FAX:+1 555 1234
END:VCARD
BEGIN:VCARD
VERSION:3.0
UID:bob
FN:Bob Stone
N:Stone;Bob;;;
TEL;TYPE=FAX:+49 30 123
END:VCARD
BEGIN:VCARD
VERSION:3.0
UID:bobby
FN:Bob Stone
N:Stone;Bobby;;;
TEL;TYPE=FAX:+49 30 999
END:VCARD
BEGIN:VCARD
VERSION:4.0
UID:team
KIND:group
FN:Team
MEMBER:urn:uuid:ann
MEMBER:urn:uuid:inner
END:VCARD
BEGIN:VCARD
VERSION:4.0
UID:inner
KIND:group
FN:Inner
MEMBER:urn:uuid:bob
MEMBER:urn:uuid:team
END:VCARD
)";

class AddressBookTest : public MapiTest {
protected:
    void SetUp() override {
        MapiTest::SetUp();
        IAddrBook* raw = nullptr;
        ASSERT_EQ(session_->OpenAddressBook(0, nullptr, AB_NO_DIALOG, &raw), S_OK);
        book_.reset(raw);
    }
    void TearDown() override {
        book_.reset();
        MapiTest::TearDown();
    }
    // A one-entry address list asking for a name, as the submit control
    // forms it: its entry id turned into an error value.
    LPADRLIST NameList(const char* name) {
        void* block = nullptr;
        EXPECT_EQ(MAPIAllocateBuffer(CbNewADRLIST(1), &block), S_OK);
        auto* list = static_cast<ADRLIST*>(block);
        list->cEntries = 1;
        list->aEntries[0].ulReserved1 = 0;
        list->aEntries[0].cValues = 3;
        EXPECT_EQ(MAPIAllocateBuffer(3 * sizeof(SPropValue), reinterpret_cast<void**>(&list->aEntries[0].rgPropVals)), S_OK);
        LPSPropValue values = list->aEntries[0].rgPropVals;
        void* text = nullptr;
        EXPECT_EQ(MAPIAllocateMore(static_cast<ULONG>(std::strlen(name) + 1), values, &text), S_OK);
        std::strcpy(static_cast<char*>(text), name);
        values[0] = String8(PR_DISPLAY_NAME_A, static_cast<char*>(text));
        values[1] = Long(PR_RECIPIENT_TYPE, MAPI_TO);
        values[2].ulPropTag = CHANGE_PROP_TYPE(PR_ENTRYID, PT_ERROR);
        values[2].Value.err = MAPI_E_NOT_FOUND;
        return list;
    }
    std::string Value(const ADRENTRY& entry, ULONG tag) {
        LPSPropValue value = PpropFindProp(entry.rgPropVals, entry.cValues, tag);
        return value ? value->Value.lpszA : "<missing>";
    }

    Ptr<IAddrBook> book_;
};

TEST_F(AddressBookTest, OneOffIdsHaveThePublishedLayout) {
    ULONG cb = 0;
    LPENTRYID id = nullptr;
    ASSERT_EQ(book_->CreateOneOff(const_cast<LPSTR>("Ann"), const_cast<LPSTR>("FAX"), const_cast<LPSTR>("Ann@+15551234"),
                                  0, &cb, &id),
              S_OK);
    Buffer<ENTRYID> ansi(id);
    const BYTE expectedAnsi[] = {0,    0,    0,    0,    0x81, 0x2B, 0x1F, 0xA4, 0xBE, 0xA3, 0x10, 0x19, 0x9D, 0x6E,
                                 0x00, 0xDD, 0x01, 0x0F, 0x54, 0x02, 0,    0,    0,    0,    'A',  'n',  'n',  0,
                                 'F',  'A',  'X',  0,    'A',  'n',  'n',  '@',  '+',  '1',  '5',  '5',  '5',  '1',
                                 '2',  '3',  '4',  0};
    ASSERT_EQ(cb, sizeof expectedAnsi);
    EXPECT_EQ(std::memcmp(id, expectedAnsi, cb), 0);

    // Unicode strings with no rich text: flags word 0x8001, UTF-16LE texts.
    LPENTRYID wide = nullptr;
    ASSERT_EQ(book_->CreateOneOff(reinterpret_cast<LPSTR>(const_cast<char16_t*>(u"Ann")),
                                  reinterpret_cast<LPSTR>(const_cast<char16_t*>(u"FAX")),
                                  reinterpret_cast<LPSTR>(const_cast<char16_t*>(u"Ann@+15551234")),
                                  MAPI_UNICODE | MAPI_SEND_NO_RICH_INFO, &cb, &wide),
              S_OK);
    Buffer<ENTRYID> heldWide(wide);
    const BYTE* bytes = reinterpret_cast<const BYTE*>(wide);
    ASSERT_EQ(cb, 24u + 2 * (4 + 4 + 14));
    EXPECT_EQ(bytes[22], 0x01);
    EXPECT_EQ(bytes[23], 0x80);
    EXPECT_EQ(bytes[24], 'A');
    EXPECT_EQ(bytes[25], 0);
    // Opening a one-off gives a mail user with its three texts.
    ULONG type = 0;
    IUnknown* opened = nullptr;
    ASSERT_EQ(book_->OpenEntry(cb, wide, nullptr, MAPI_BEST_ACCESS, &type, &opened), S_OK);
    Ptr<IMailUser> user(As<IMailUser>(opened));
    EXPECT_EQ(type, MAPI_MAILUSER);
    EXPECT_EQ(GetString(user.get(), PR_EMAIL_ADDRESS_A), "Ann@+15551234");
    // Both forms name the same recipient.
    ULONG same = FALSE;
    ASSERT_EQ(book_->CompareEntryIDs(sizeof expectedAnsi, ansi.get(), cb, wide, 0, &same), S_OK);
    EXPECT_TRUE(same);
    EXPECT_EQ(book_->CreateOneOff(nullptr, nullptr, const_cast<LPSTR>("x"), 0, &cb, &wide), MAPI_E_INVALID_PARAMETER);
}

TEST_F(AddressBookTest, ImportedContactsResolveByName) {
    ovmapi::ImportSummary summary;
    ASSERT_EQ(ovmapi::ImportVCardText(kContacts, "", summary), S_OK);
    EXPECT_EQ(summary.mailUsers, 3u);
    EXPECT_EQ(summary.distributionLists, 2u);
    // Inner names Team, which names Inner: that membership is refused.
    ASSERT_EQ(summary.warnings.size(), 1u);
    EXPECT_NE(summary.warnings[0].find("contain itself"), std::string::npos);

    struct Case {
        const char* name;
        HRESULT result;
        const char* address;
    };
    const Case cases[] = {
        {"Ann Lee", S_OK, "+1 555 1234"},
        {"ann lee", S_OK, "+1 555 1234"},   // letter case aside
        {"Ann", S_OK, "+1 555 1234"},       // the only name that begins so
        {"Bob Stone", MAPI_E_AMBIGUOUS_RECIP, nullptr},
        {"Carol", MAPI_E_NOT_FOUND, nullptr},
        {"[FAX:+33 1 2345]", S_OK, "+33 1 2345"},
    };
    for (const Case& c : cases) {
        LPADRLIST list = NameList(c.name);
        EXPECT_EQ(book_->ResolveName(0, 0, nullptr, list), c.result) << c.name;
        if (c.result == S_OK) {
            EXPECT_EQ(Value(list->aEntries[0], PR_EMAIL_ADDRESS_A), c.address) << c.name;
            LPSPropValue id = PpropFindProp(list->aEntries[0].rgPropVals, list->aEntries[0].cValues, PR_ENTRYID);
            ASSERT_NE(id, nullptr) << c.name;
            // What was asked besides the name is kept.
            LPSPropValue type = PpropFindProp(list->aEntries[0].rgPropVals, list->aEntries[0].cValues, PR_RECIPIENT_TYPE);
            ASSERT_NE(type, nullptr);
            EXPECT_EQ(type->Value.l, static_cast<LONG>(MAPI_TO));
        }
        FreePadrlist(list);
    }
}

TEST_F(AddressBookTest, PrepareRecipsPutsTheAskedColumnsFirst) {
    ovmapi::ImportSummary summary;
    ASSERT_EQ(ovmapi::ImportVCardText(kContacts, "", summary), S_OK);
    LPADRLIST list = NameList("Ann Lee");
    ASSERT_EQ(book_->ResolveName(0, 0, nullptr, list), S_OK);
    SizedSPropTagArray(4, columns) = {4, {PR_COMPANY_NAME_A, PR_DEPARTMENT_NAME_A, PR_SURNAME_A, PR_HOME_FAX_NUMBER_A}};
    ASSERT_EQ(book_->PrepareRecips(0, reinterpret_cast<LPSPropTagArray>(&columns), list), S_OK);
    const ADRENTRY& entry = list->aEntries[0];
    ASSERT_GE(entry.cValues, 4u);
    EXPECT_STREQ(entry.rgPropVals[0].Value.lpszA, "Acme Corp");
    EXPECT_STREQ(entry.rgPropVals[1].Value.lpszA, "Sales");
    EXPECT_STREQ(entry.rgPropVals[2].Value.lpszA, "Lee");
    EXPECT_EQ(entry.rgPropVals[3].ulPropTag, CHANGE_PROP_TYPE(PR_HOME_FAX_NUMBER_A, PT_ERROR));
    EXPECT_NE(PpropFindProp(entry.rgPropVals, entry.cValues, PR_RECIPIENT_TYPE), nullptr);
    FreePadrlist(list);
}

TEST_F(AddressBookTest, ContainersListsAndNesting) {
    ASSERT_EQ(ovmapi::CreateAddressBookContainer("Branch", "Contacts"), S_OK);
    ovmapi::ImportSummary summary;
    ASSERT_EQ(ovmapi::ImportVCardText(kContacts, "Branch", summary), S_OK);

    ULONG type = 0;
    IUnknown* opened = nullptr;
    ASSERT_EQ(book_->OpenEntry(0, nullptr, &IID_IABContainer, MAPI_BEST_ACCESS, &type, &opened), S_OK);
    Ptr<IABContainer> root(As<IABContainer>(opened));
    IMAPITable* raw = nullptr;
    ASSERT_EQ(root->GetHierarchyTable(CONVENIENT_DEPTH, &raw), S_OK);
    Ptr<IMAPITable> hierarchy(raw);
    SizedSPropTagArray(3, columns) = {3, {PR_DISPLAY_NAME_A, PR_ENTRYID, PR_DEPTH}};
    LPSRowSet rows = nullptr;
    ASSERT_EQ(HrQueryAllRows(hierarchy.get(), reinterpret_cast<LPSPropTagArray>(&columns), nullptr, nullptr, 0, &rows), S_OK);
    Rows containers(rows);
    ASSERT_EQ(rows->cRows, 2u);
    EXPECT_STREQ(rows->aRow[1].lpProps[0].Value.lpszA, "Branch");
    EXPECT_EQ(rows->aRow[1].lpProps[2].Value.l, 2);
    const SBinary& branchId = rows->aRow[1].lpProps[1].Value.bin;
    ASSERT_EQ(root->OpenEntry(branchId.cb, reinterpret_cast<LPENTRYID>(branchId.lpb), nullptr, MAPI_BEST_ACCESS, &type, &opened),
              S_OK);
    EXPECT_EQ(type, MAPI_ABCONT);
    Ptr<IABContainer> branch(As<IABContainer>(opened));

    ASSERT_EQ(branch->GetContentsTable(0, &raw), S_OK);
    Ptr<IMAPITable> contents(raw);
    SizedSPropTagArray(3, entryColumns) = {3, {PR_DISPLAY_NAME_A, PR_ENTRYID, PR_OBJECT_TYPE}};
    ASSERT_EQ(HrQueryAllRows(contents.get(), reinterpret_cast<LPSPropTagArray>(&entryColumns), nullptr, nullptr, 0, &rows), S_OK);
    Rows entries(rows);
    ASSERT_EQ(rows->cRows, 5u);
    // Team holds Ann and the list Inner, which holds Bob.
    const SRow* team = nullptr;
    for (ULONG n = 0; n < rows->cRows; ++n)
        if (std::string(rows->aRow[n].lpProps[0].Value.lpszA) == "Team") team = &rows->aRow[n];
    ASSERT_NE(team, nullptr);
    EXPECT_EQ(team->lpProps[2].Value.l, static_cast<LONG>(MAPI_DISTLIST));
    const SBinary& teamId = team->lpProps[1].Value.bin;
    ASSERT_EQ(book_->OpenEntry(teamId.cb, reinterpret_cast<LPENTRYID>(teamId.lpb), nullptr, MAPI_BEST_ACCESS, &type, &opened),
              S_OK);
    EXPECT_EQ(type, MAPI_DISTLIST);
    Ptr<IDistList> list(As<IDistList>(opened));
    ASSERT_EQ(list->GetContentsTable(0, &raw), S_OK);
    Ptr<IMAPITable> members(raw);
    ASSERT_EQ(HrQueryAllRows(members.get(), reinterpret_cast<LPSPropTagArray>(&entryColumns), nullptr, nullptr, 0, &rows), S_OK);
    Rows memberRows(rows);
    ASSERT_EQ(rows->cRows, 2u);
    EXPECT_STREQ(rows->aRow[0].lpProps[0].Value.lpszA, "Ann Lee");
    EXPECT_EQ(rows->aRow[1].lpProps[2].Value.l, static_cast<LONG>(MAPI_DISTLIST));
    const SBinary& innerId = rows->aRow[1].lpProps[1].Value.bin;
    ASSERT_EQ(list->OpenEntry(innerId.cb, reinterpret_cast<LPENTRYID>(innerId.lpb), nullptr, 0, &type, &opened), S_OK);
    Ptr<IDistList> inner(As<IDistList>(opened));
    ASSERT_EQ(inner->GetContentsTable(0, &raw), S_OK);
    Ptr<IMAPITable> innerMembers(raw);
    ULONG count = 0;
    ASSERT_EQ(innerMembers->GetRowCount(0, &count), S_OK);
    EXPECT_EQ(count, 1u);  // Bob only: the loop back to Team was refused
}

TEST(VCardParsing, HandlesFoldingEscapesAndOldForms) {
    const char* text =
        "BEGIN:VCARD\r\nVERSION:2.1\r\nN:M\xC3\xBCller;J\xC3\xB6rg\r\nORG:Big\\, Small;Dept\r\n"
        "TEL;WORK;FAX:+49\r\n  89 1\r\nNOTE;ENCODING=QUOTED-PRINTABLE:a=3D=\r\nb\r\nEND:VCARD\r\n"
        "BEGIN:VCARD\r\nVERSION:3.0\r\nEMAIL:nobody@example.org\r\nEND:VCARD\r\n";
    std::vector<ovmapi::ContactCard> cards;
    std::string error;
    ASSERT_TRUE(ovmapi::ParseVCards(text, cards, error)) << error;
    ASSERT_EQ(cards.size(), 1u);  // the second card has no name
    EXPECT_EQ(cards[0].displayName, "J\xC3\xB6rg M\xC3\xBCller");
    EXPECT_EQ(cards[0].company, "Big, Small");
    EXPECT_EQ(cards[0].department, "Dept");
    EXPECT_EQ(cards[0].fax, "+49 89 1");
    EXPECT_FALSE(ovmapi::ParseVCards("just some text", cards, error));
    EXPECT_NE(error.find("vCard"), std::string::npos);
}

}  // namespace
}  // namespace mapitest
