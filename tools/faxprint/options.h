// The command line of `faxprint`.
#pragma once

#include <cstddef>
#include <string>
#include <variant>
#include <vector>

namespace faxprint {

struct Command {
    enum class Action { Help, Print, AddPrinter, DeletePrinter, AddMonitor, List };
    Action action = Action::Help;
    std::string printer;
    std::string port = "KESTRINFAX:";
    std::string file;   // "-" for standard input
    std::string title;  // the document name; the file's name when not given
    std::size_t blockSize = 4096;
    std::string monitor;
    std::string library;
    bool json = false;
    bool startClient = false;  // start the fax client after a fax print
};

// The command, or the reason the arguments make no sense.
std::variant<Command, std::string> ParseArguments(const std::vector<std::string>& args);

}  // namespace faxprint
