// What CUPS hands a backend: the command line and a few environment values.
#pragma once

#include <optional>
#include <string>
#include <variant>
#include <vector>

namespace kestrinfax {

// Exit codes of a CUPS backend.
enum BackendStatus {
    kBackendOk = 0,
    kBackendFailed = 1,
    kBackendAuthRequired = 2,
    kBackendHold = 3,
    kBackendStop = 4,
    kBackendCancel = 5,
    kBackendRetry = 6,
    kBackendRetryCurrent = 7,
};

struct BackendJob {
    bool discovery = false;  // no arguments: list the device
    std::string jobId;
    std::string user;
    std::string title;
    int copies = 1;
    std::string options;
    std::optional<std::string> file;  // else standard input
};

// argv without the program name.
std::variant<BackendJob, std::string> ParseBackendArguments(const std::vector<std::string>& args);

// "kestrinfax:/" (any letter case, anything after the colon) names the port
// "KESTRINFAX:"; another scheme names no port of ours.
std::optional<std::string> PortFromDeviceUri(const std::string& uri);

}  // namespace kestrinfax
