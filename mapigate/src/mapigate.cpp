// mapigate: the client gateway that sends fax jobs through the mail system.
// It keeps no state and does no logon of its own: a job record becomes a
// settings record with fax addresses, and the fax message builder does the
// rest.
#include <cstdio>
#include <cstring>
#include <string>

#include "fax_address.h"
#include "faxmsg/faxmsg.h"
#include "mapigate/cgw.h"

#define CGW_EXPORT extern "C" __attribute__((visibility("default")))

namespace {

void CopyText(char* slot, std::size_t size, const char* text) {
    std::size_t n = std::min(std::strlen(text), size - 1);
    std::memcpy(slot, text, n);
    slot[n] = '\0';
}

}  // namespace

CGW_EXPORT int cgwGetCaps(int capability) {
    return capability == CGW_CAP_SENDMESSAGEEX || capability == 6 ||
                   capability == CGW_CAP_BODYFILE
               ? 1
               : 0;
}

CGW_EXPORT int cgwGetInfo(cgwInfo* info) {
    if (info == nullptr) return 0;
    CopyText(info->shortName, sizeof info->shortName, "MAPI Postoffice");
    CopyText(info->description, sizeof info->description,
             "Orvane MAPI Postoffice Messaging System Gateway Version 7.0.0");
    return 0;
}

CGW_EXPORT int cgwLogon(HWND, const char*) { return 0; }
CGW_EXPORT int cgwLogonEx(HWND, const char*, const char*, int) { return 0; }
CGW_EXPORT int cgwLogoff(HWND) { return 0; }
CGW_EXPORT int cgwAddressBook(std::uint32_t, std::uint32_t, std::uint32_t) { return 0; }
CGW_EXPORT int cgwSendMessage(HWND, cgwMessage*) { return 0; }

CGW_EXPORT int cgwSendMessageEx(HWND, cgwJob* job) {
    int result = CGW_E_SEND;
    if (job == nullptr) return result;
    tagMsgSettings settings;
    settings.SetFlags(settings.GetFlags() | tagMsgSettings::kFlagMsgSave);
    settings.SetString(&settings.MsgClass, "IPM.Note.OVFAX.Submit", tagMsgSettings::kMaxTextSize);
    settings.SetExSettings(1);
    settings.SetRes((job->flags & CGW_JOB_HIGHRES) ? 1 : 0);
    if ((job->flags & CGW_JOB_SUBJECT) && job->subject) {
        settings.SetString(&settings.Subject, job->subject, tagMsgSettings::kMaxTextSize);
    }
    if ((job->flags & CGW_JOB_COVERPAGE) && job->coverPage) {
        settings.SetCvrName(job->coverPage, static_cast<ULONG>(std::strlen(job->coverPage)));
    }
    if ((job->flags & CGW_JOB_BILLING) && job->billing) {
        char code[16];
        std::snprintf(code, sizeof code, "%d", static_cast<int>(job->billing->code));
        settings.SetBillCode(code, static_cast<ULONG>(std::strlen(code)));
    }
    if ((job->flags & CGW_JOB_SCHEDULE) && job->schedule) {
        // A schedule the server could not read is left out rather than guessed.
        if (auto when = mapigate::ParseScheduleText(job->schedule)) settings.SetSchedFT(&*when);
    }
    for (std::uint32_t i = 0; job->recipients && i < job->recipientCount; ++i) {
        if (auto address = mapigate::BuildFaxAddress(job->recipients[i])) {
            settings.AddStringList(&settings.Recips, address->c_str());
        }
    }
    if (settings.GetRecipCnt() == 0) return result;
    if ((job->flags & CGW_JOB_BODYTEXT) && job->body) {
        settings.SetBodyMem(job->body);
        settings.SetBodyRTF(0);
    } else if ((job->flags & CGW_JOB_BODYFILE) && job->body) {
        settings.SetBody(job->body, static_cast<ULONG>(std::strlen(job->body)));
        settings.SetBodyFile(1);
    }
    for (std::uint32_t i = 0; job->attachments && i < job->attachmentCount; ++i) {
        if (job->attachments[i].path) {
            settings.AddStringList(&settings.Attachs, job->attachments[i].path);
        }
    }
    settings.TracedbgMsgSet();
    LONG extendedError = 0;
    const char* failedFile = nullptr;
    if (CreateFaxMsg(nullptr, &settings, &extendedError, &failedFile) == 0) result = CGW_OK;
    return result;
}
