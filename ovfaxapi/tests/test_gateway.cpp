// A client gateway for the tests: it answers the capabilities named in
// TEST_GATEWAY_CAPS (comma-separated numbers), returns TEST_GATEWAY_RESULT
// from the send entries, and appends what it received, as one JSON line per
// entry called, to the file named by TEST_GATEWAY_LOG.
#include <cstdlib>
#include <fstream>
#include <set>
#include <sstream>
#include <string>

#include <nlohmann/json.hpp>

#include "mapigate/cgw.h"

using nlohmann::json;

namespace {

std::set<int> Capabilities() {
    std::set<int> caps;
    const char* text = std::getenv("TEST_GATEWAY_CAPS");
    std::stringstream in(text ? text : "");
    std::string item;
    while (std::getline(in, item, ',')) {
        if (!item.empty()) caps.insert(std::stoi(item));
    }
    return caps;
}

void Log(const json& entry) {
    if (const char* path = std::getenv("TEST_GATEWAY_LOG")) {
        std::ofstream(path, std::ios::app) << entry.dump(-1, ' ', false, json::error_handler_t::replace) << "\n";
    }
}

int Result() {
    const char* text = std::getenv("TEST_GATEWAY_RESULT");
    return text ? std::atoi(text) : 0;
}

std::string Text(const char* p) { return p ? std::string(p) : std::string("<null>"); }

json Attachments(std::uint32_t count, const cgwAttachment* entries) {
    json list = json::array();
    for (std::uint32_t i = 0; entries && i < count; ++i) {
        list.push_back({{"reserved", entries[i].reserved},
                        {"path", Text(entries[i].path)},
                        {"base", Text(entries[i].baseName)}});
    }
    return list;
}

}  // namespace

extern "C" {

__attribute__((visibility("default"))) int cgwGetCaps(int capability) {
    Log({{"call", "cgwGetCaps"}, {"capability", capability}});
    return Capabilities().count(capability) ? 1 : 0;
}
__attribute__((visibility("default"))) int cgwGetInfo(cgwInfo*) { return 0; }
__attribute__((visibility("default"))) int cgwLogon(HWND, const char* user) {
    Log({{"call", "cgwLogon"}, {"user", Text(user)}});
    return std::getenv("TEST_GATEWAY_REFUSE_LOGON") ? 2 : 0;
}
__attribute__((visibility("default"))) int cgwLogonEx(HWND, const char* user, const char* password,
                                                      int flag) {
    Log({{"call", "cgwLogonEx"}, {"user", Text(user)}, {"password", Text(password)}, {"flag", flag}});
    return std::getenv("TEST_GATEWAY_REFUSE_LOGON") ? 2 : 0;
}
__attribute__((visibility("default"))) int cgwLogoff(HWND) {
    Log({{"call", "cgwLogoff"}});
    return 0;
}
__attribute__((visibility("default"))) int cgwAddressBook(std::uint32_t, std::uint32_t, std::uint32_t) {
    return 0;
}
__attribute__((visibility("default"))) int cgwSendMessage(HWND, cgwMessage* message) {
    Log({{"call", "cgwSendMessage"},
         {"reserved", message->reserved},
         {"subject", Text(message->subject)},
         {"text", Text(message->text)},
         {"attachments", Attachments(message->attachmentCount, message->attachments)},
         {"attachmentCount", message->attachmentCount}});
    return Result();
}
__attribute__((visibility("default"))) int cgwSendMessageEx(HWND, cgwJob* job) {
    json recipients = json::array();
    for (std::uint32_t i = 0; job->recipients && i < job->recipientCount; ++i) {
        const cgwRecipient& r = job->recipients[i];
        recipients.push_back({{"reserved", r.reserved}, {"given", r.givenName}, {"company", r.company},
                              {"fax", r.faxNumber}, {"surname", r.surname}, {"extra1", r.extra1},
                              {"extra3", r.extra3}, {"extra2", r.extra2}});
    }
    Log({{"call", "cgwSendMessageEx"},
         {"flags", job->flags},
         {"billing", job->billing != nullptr},
         {"subject", Text(job->subject)},
         {"body", Text(job->body)},
         {"cover", Text(job->coverPage)},
         {"schedule", Text(job->schedule)},
         {"reserved", job->reserved},
         {"recipientCount", job->recipientCount},
         {"recipients", recipients},
         {"attachmentCount", job->attachmentCount},
         {"attachments", Attachments(job->attachmentCount, job->attachments)}});
    return Result();
}

}  // extern "C"
