// The command lines of `faxprint` and of the `kestrinfax` backend, and the
// device URI CUPS hands the backend. Input: arguments separated by NUL bytes.
#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include "backend_args.h"
#include "options.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size > 4096) return 0;
    std::vector<std::string> args;
    std::string current;
    for (std::size_t i = 0; i < size; ++i) {
        if (data[i] == 0) {
            args.push_back(current);
            current.clear();
        } else {
            current += static_cast<char>(data[i]);
        }
    }
    if (size > 0) args.push_back(current);

    auto command = faxprint::ParseArguments(args);
    if (auto* parsed = std::get_if<faxprint::Command>(&command)) {
        if (parsed->action == faxprint::Command::Action::Print && (parsed->file.empty() || parsed->printer.empty())) {
            std::abort();
        }
        if (parsed->blockSize == 0) std::abort();
    }
    auto job = kestrinfax::ParseBackendArguments(args);
    if (auto* parsed = std::get_if<kestrinfax::BackendJob>(&job)) {
        if (!parsed->discovery && parsed->copies < 1) std::abort();
    }
    for (const auto& arg : args) {
        auto port = kestrinfax::PortFromDeviceUri(arg);
        if (port && *port != "KESTRINFAX:") std::abort();
    }
    return 0;
}
