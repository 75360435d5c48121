#include "options.h"

#include <charconv>

namespace faxprint {

namespace {
constexpr const char* kOneAction =
    "give only one of --printer, --add-printer, --delete-printer, --add-monitor, --list";
}  // namespace

std::variant<Command, std::string> ParseArguments(const std::vector<std::string>& args) {
    Command command;
    bool actionGiven = false;
    auto setAction = [&](Command::Action action) -> bool {
        if (actionGiven && command.action != action) return false;
        command.action = action;
        actionGiven = true;
        return true;
    };
    std::vector<std::string> operands;
    for (std::size_t i = 0; i < args.size(); ++i) {
        const std::string& arg = args[i];
        auto value = [&](std::string& out) -> bool {
            if (i + 1 >= args.size()) return false;
            out = args[++i];
            return true;
        };
        if (arg == "--help" || arg == "-h") {
            command.action = Command::Action::Help;
            return command;
        }
        if (arg == "--printer" || arg == "-P") {
            if (!setAction(Command::Action::Print)) return kOneAction;
            if (!value(command.printer)) return "--printer needs a printer name";
        } else if (arg == "--add-printer" || arg == "--delete-printer") {
            auto action = arg == "--add-printer" ? Command::Action::AddPrinter : Command::Action::DeletePrinter;
            if (!setAction(action)) return kOneAction;
            if (!value(command.printer)) return arg + " needs a printer name";
        } else if (arg == "--port") {
            if (!value(command.port) || command.port.empty()) return "--port needs a port name";
        } else if (arg == "--title") {
            if (!value(command.title)) return "--title needs a text";
        } else if (arg == "--block-size") {
            std::string text;
            if (!value(text)) return "--block-size needs a number of bytes";
            std::size_t size = 0;
            auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), size);
            if (ec != std::errc() || end != text.data() + text.size() || size == 0 || size > (1u << 24)) {
                return "--block-size takes 1 to 16777216 bytes: " + text;
            }
            command.blockSize = size;
        } else if (arg == "--add-monitor") {
            if (!setAction(Command::Action::AddMonitor)) return kOneAction;
            if (!value(command.monitor) || !value(command.library)) return "--add-monitor needs a NAME and a LIBRARY";
        } else if (arg == "--list") {
            if (!setAction(Command::Action::List)) return kOneAction;
        } else if (arg == "--start-client") {
            command.startClient = true;
        } else if (arg == "--json") {
            command.json = true;
        } else if (arg == "--") {
            operands.insert(operands.end(), args.begin() + static_cast<std::ptrdiff_t>(i) + 1, args.end());
            break;
        } else if (arg.size() > 1 && arg[0] == '-') {
            return "unknown option " + arg;
        } else {
            operands.push_back(arg);
        }
    }
    if (!actionGiven) {
        return operands.empty() ? std::string("nothing to do") : std::string("--printer NAME is needed");
    }
    if (command.action == Command::Action::Print) {
        if (operands.size() != 1) return "give one FILE to print, or - for standard input";
        if (operands[0].empty()) return "the FILE name is empty";
        command.file = operands[0];
        if (command.printer.empty()) return "--printer needs a printer name";
    } else {
        if (!operands.empty()) return "unexpected argument " + operands[0];
        if ((command.action == Command::Action::AddPrinter || command.action == Command::Action::DeletePrinter) &&
            command.printer.empty()) {
            return "a printer name cannot be empty";
        }
    }
    return command;
}

}  // namespace faxprint
