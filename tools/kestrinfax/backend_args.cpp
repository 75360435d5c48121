#include "backend_args.h"

#include <charconv>

namespace kestrinfax {

std::variant<BackendJob, std::string> ParseBackendArguments(const std::vector<std::string>& args) {
    BackendJob job;
    if (args.empty()) {
        job.discovery = true;
        return job;
    }
    if (args.size() != 5 && args.size() != 6) {
        return std::string("Usage: kestrinfax job-id user title copies options [file]");
    }
    job.jobId = args[0];
    int id = 0;
    auto [idEnd, idError] = std::from_chars(job.jobId.data(), job.jobId.data() + job.jobId.size(), id);
    if (idError != std::errc() || idEnd != job.jobId.data() + job.jobId.size() || id < 0) {
        return "the job id is not a number: " + job.jobId;
    }
    job.user = args[1];
    job.title = args[2];
    const std::string& copies = args[3];
    auto [end, error] = std::from_chars(copies.data(), copies.data() + copies.size(), job.copies);
    if (error != std::errc() || end != copies.data() + copies.size() || job.copies < 1) {
        return "the number of copies is not a positive number: " + copies;
    }
    job.options = args[4];
    if (args.size() == 6) {
        if (args[5].empty()) return std::string("the file name is empty");
        job.file = args[5];
    }
    return job;
}

std::optional<std::string> PortFromDeviceUri(const std::string& uri) {
    constexpr std::string_view kScheme = "kestrinfax:";
    if (uri.size() < kScheme.size()) return std::nullopt;
    for (std::size_t i = 0; i < kScheme.size(); ++i) {
        char c = uri[i];
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c + 32);
        if (c != kScheme[i]) return std::nullopt;
    }
    return std::string("KESTRINFAX:");
}

}  // namespace kestrinfax
