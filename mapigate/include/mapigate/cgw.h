// The client gateway contract: the records and the eight entry points through
// which the automation server hands a fax job to a gateway library. The
// records cross libraries built separately, so their fields, order, slot sizes
// and reserved fields are fixed; pointer fields take the platform's pointer
// width with natural alignment (both sides are built the same way), and the
// layout is pinned by static checks below and by the contract tests.
#pragma once

#include <cstddef>
#include <cstdint>

#include "ovplatform/win32.h"

extern "C" {

// Capability numbers asked through cgwGetCaps (non-zero answer: yes).
enum : int {
    CGW_CAP_LOGON = 0,          // call cgwLogon before sending
    CGW_CAP_LOGONEX = 1,        // call cgwLogonEx before sending (asked first)
    CGW_CAP_LOGOFF = 2,         // call cgwLogoff after sending
    CGW_CAP_SENDMESSAGE = 3,    // takes the plain message record
    CGW_CAP_SENDMESSAGEEX = 4,  // takes the job record (asked before 3, preferred)
    CGW_CAP_BODYFILE = 7,       // job record carries the body as a file path
};

// Bits of cgwJob::flags.
enum : std::uint32_t {
    CGW_JOB_HIGHRES = 0x01,
    CGW_JOB_SUBJECT = 0x02,
    CGW_JOB_BODYTEXT = 0x04,
    CGW_JOB_COVERPAGE = 0x08,
    CGW_JOB_SCHEDULE = 0x10,
    CGW_JOB_BILLING = 0x40,
    CGW_JOB_BODYFILE = 0x80,
};

// Gateway error codes returned by the two send entries.
enum : int {
    CGW_OK = 0,
    CGW_E_GENERIC = 1,
    CGW_E_LOGON = 2,
    CGW_E_LOGOFF = 3,
    CGW_E_SEND = 4,
    CGW_E_ADDRESSBOOK = 5,
    CGW_E_NOCALLBACK = 6,
    CGW_E_USERABORT = 7,
    CGW_E_NOMEMORY = 8,
    CGW_E_CREATEATTACH = 9,
    CGW_E_OPENATTACH = 10,
    CGW_E_CREATEBODY = 11,
    CGW_E_OPENBODY = 12,
    CGW_E_INVALIDRECIPS = 13,
    CGW_E_TOOMANYFILES = 14,
    CGW_E_TOOMANYRECIPS = 15,
    CGW_E_UNKNOWNRECIP = 16,
};

constexpr std::uint32_t CGW_MAX_ATTACHMENTS = 32;

// The billing block: its second 32-bit word is the billing code.
struct cgwBilling {
    std::uint32_t reserved;
    std::int32_t code;
};

// One recipient; every slot holds a NUL-terminated text, the rest is zero.
struct cgwRecipient {
    std::uint32_t reserved;
    char givenName[64];  // addrecipient argument 1
    char company[256];   // argument 3
    char faxNumber[64];  // argument 5
    char surname[64];    // argument 2
    char extra1[64];     // argument 4
    char extra3[64];     // argument 7
    char extra2[64];     // argument 6
};

struct cgwAttachment {
    std::uint32_t reserved;
    const char* path;      // full path of the file
    const char* baseName;  // the text after the last backslash
};

// The job record of cgwSendMessageEx.
struct cgwJob {
    cgwBilling* billing;  // valid with CGW_JOB_BILLING
    std::uint32_t flags;
    const char* subject;   // valid with CGW_JOB_SUBJECT
    const char* body;      // the text (CGW_JOB_BODYTEXT) or a file path (CGW_JOB_BODYFILE)
    const char* coverPage; // valid with CGW_JOB_COVERPAGE
    const char* schedule;  // short date, a blank, the time; valid with CGW_JOB_SCHEDULE
    std::uint32_t reserved;
    std::uint32_t recipientCount;
    cgwRecipient* recipients;
    std::uint32_t attachmentCount;  // at most CGW_MAX_ATTACHMENTS
    cgwAttachment* attachments;
};

// The plain message record of cgwSendMessage.
struct cgwMessage {
    std::uint32_t reserved;
    const char* subject;  // always present, possibly empty
    const char* text;     // the message text with its ":: " header lines
    std::uint32_t attachmentCount;
    cgwAttachment* attachments;
};

// Filled by cgwGetInfo.
struct cgwInfo {
    std::uint32_t reserved;
    char shortName[32];
    char description[256];
};

// The eight entry points, exported by these names.
using PFN_cgwGetCaps = int (*)(int capability);
using PFN_cgwGetInfo = int (*)(cgwInfo* info);
using PFN_cgwLogon = int (*)(HWND window, const char* userName);
using PFN_cgwLogonEx = int (*)(HWND window, const char* userName, const char* password, int flag);
using PFN_cgwLogoff = int (*)(HWND window);
using PFN_cgwAddressBook = int (*)(std::uint32_t a, std::uint32_t b, std::uint32_t c);
using PFN_cgwSendMessage = int (*)(HWND window, cgwMessage* message);
using PFN_cgwSendMessageEx = int (*)(HWND window, cgwJob* job);

}  // extern "C"

// Layout checks: fixed slots everywhere, pointer fields at natural alignment.
static_assert(sizeof(cgwRecipient) == 644);
static_assert(offsetof(cgwRecipient, givenName) == 4 && offsetof(cgwRecipient, company) == 68 &&
              offsetof(cgwRecipient, faxNumber) == 324 && offsetof(cgwRecipient, surname) == 388 &&
              offsetof(cgwRecipient, extra1) == 452 && offsetof(cgwRecipient, extra3) == 516 &&
              offsetof(cgwRecipient, extra2) == 580);
static_assert(sizeof(cgwInfo) == 292 && offsetof(cgwInfo, description) == 36);
static_assert(sizeof(cgwBilling) == 8 && offsetof(cgwBilling, code) == 4);
namespace cgw_layout {
constexpr std::size_t P = sizeof(void*);
constexpr std::size_t Up(std::size_t offset, std::size_t align) {
    return (offset + align - 1) / align * align;
}
// cgwJob: billing, flags, subject, body, cover page, schedule, reserved,
// recipient count, recipients, attachment count, attachments.
static_assert(offsetof(cgwJob, flags) == P);
static_assert(offsetof(cgwJob, subject) == Up(P + 4, P));
static_assert(offsetof(cgwJob, body) == offsetof(cgwJob, subject) + P);
static_assert(offsetof(cgwJob, coverPage) == offsetof(cgwJob, subject) + 2 * P);
static_assert(offsetof(cgwJob, schedule) == offsetof(cgwJob, subject) + 3 * P);
static_assert(offsetof(cgwJob, reserved) == offsetof(cgwJob, subject) + 4 * P);
static_assert(offsetof(cgwJob, recipientCount) == offsetof(cgwJob, reserved) + 4);
static_assert(offsetof(cgwJob, recipients) == Up(offsetof(cgwJob, recipientCount) + 4, P));
static_assert(offsetof(cgwJob, attachmentCount) == offsetof(cgwJob, recipients) + P);
static_assert(offsetof(cgwJob, attachments) == Up(offsetof(cgwJob, attachmentCount) + 4, P));
static_assert(sizeof(cgwJob) == offsetof(cgwJob, attachments) + P);
static_assert(offsetof(cgwAttachment, path) == Up(4, P) &&
              offsetof(cgwAttachment, baseName) == Up(4, P) + P &&
              sizeof(cgwAttachment) == Up(4, P) + 2 * P);
static_assert(offsetof(cgwMessage, subject) == Up(4, P) &&
              offsetof(cgwMessage, text) == Up(4, P) + P &&
              offsetof(cgwMessage, attachmentCount) == Up(4, P) + 2 * P &&
              offsetof(cgwMessage, attachments) == Up(Up(4, P) + 2 * P + 4, P) &&
              sizeof(cgwMessage) == Up(Up(4, P) + 2 * P + 4, P) + P);
// The sizes of a 32-bit build, and of this 64-bit one.
static_assert(P != 4 || (sizeof(cgwJob) == 44 && sizeof(cgwAttachment) == 12 &&
                         sizeof(cgwMessage) == 20 && offsetof(cgwJob, attachments) == 40));
static_assert(P != 8 || (sizeof(cgwJob) == 80 && sizeof(cgwAttachment) == 24 &&
                         sizeof(cgwMessage) == 40 && offsetof(cgwJob, attachments) == 72));
}  // namespace cgw_layout
