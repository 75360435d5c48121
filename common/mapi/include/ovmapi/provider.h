// The provider behind the interfaces: the default profile in the prefix's
// mapi/ folder (an SQLite message store with its address book and form
// registry) and the transport that drops submitted messages into the pickup
// directory. These calls administer the profile; programs and tests use them,
// the components use the interfaces.
#pragma once

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "ovmapi/mapix.h"

namespace ovmapi {

// <prefix>/mapi/profile.db: stores, folders, messages, named properties,
// the address book and the form registry.
std::filesystem::path ProfileDatabasePath();
// <prefix>/mapi/pickup: where the transport writes submitted messages
// ("<number>.msg"); the fax server collects them from there.
std::filesystem::path PickupDirectory();

// Creates the default profile when there is none: the default store (Inbox
// as receive folder, Outbox, Sent Items, Deleted Items, Drafts, Contacts),
// the address book's "Contacts" container and an empty form registry.
HRESULT EnsureProfile();

// Another store in the profile (no folders beyond the IPM subtree ones);
// makeDefault moves the default flag to it. The entry identifier is returned.
HRESULT CreateStore(std::string_view displayName, bool makeDefault, std::vector<BYTE>* entryId = nullptr);
// Takes the default flag from every store (a profile without default store).
HRESULT ClearDefaultStore();
// How many named-property ids a store creates at most (the published range
// 0x8000-0xFFFE by default); names beyond are refused with PT_ERROR.
HRESULT SetNamedPropertyLimit(unsigned limit);

// Writes a saved message of the profile as an Outlook item file (.msg), as
// the transport does; the file must not exist yet.
HRESULT ExportMessage(const std::vector<BYTE>& entryId, const std::filesystem::path& file, std::string& error);

// ------------------------------------------------------------ form registry
struct FormRegistration {
    std::string messageClass;
    std::string displayName;
};
HRESULT InstallForm(std::string_view messageClass, std::string_view displayName);
HRESULT RemoveForm(std::string_view messageClass);  // MAPI_E_NOT_FOUND when not installed
HRESULT ListForms(std::vector<FormRegistration>& forms);

// ------------------------------------------------------------- address book
// A container below parent (empty: the top level); returns its entry id.
HRESULT CreateAddressBookContainer(std::string_view name, std::string_view parentName,
                                   std::vector<BYTE>* entryId = nullptr);

struct ContactCard {
    std::string uid;
    bool isGroup = false;
    std::string displayName;  // UTF-8, as in the file
    std::string givenName;
    std::string surname;
    std::string company;
    std::string department;
    std::string telephone;  // business voice number
    std::string fax;        // first fax number
    std::string email;
    std::vector<std::string> members;  // member references (uid, "urn:uuid:...", "mailto:...")
};
// Reads vCard 2.1/3.0/4.0 text (folded lines, escapes, groups of KIND:group
// or X-ADDRESSBOOKSERVER-KIND:group with MEMBER lines). Cards without FN or N
// are skipped. False with a reason for text that is not vCard at all.
bool ParseVCards(std::string_view text, std::vector<ContactCard>& cards, std::string& error);

struct ImportSummary {
    unsigned mailUsers = 0;
    unsigned distributionLists = 0;
    std::vector<std::string> warnings;
};
// Adds the cards to the named container (empty: "Contacts") in one
// transaction: a mail user of address type "FAX" with the fax number as
// address (or "SMTP" with the e-mail address), and a distribution list per
// group whose members are the cards it names; a membership that would make a
// list contain itself is left out with a warning.
HRESULT ImportVCardFile(const std::filesystem::path& file, std::string_view containerName,
                        ImportSummary& summary);
HRESULT ImportVCardText(std::string_view text, std::string_view containerName, ImportSummary& summary);

}  // namespace ovmapi
