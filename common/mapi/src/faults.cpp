#include "ovmapi/faults.h"

#include <charconv>
#include <map>
#include <mutex>

namespace ovmapi::faults {
namespace {

struct ArmedFault {
    Fault fault;
    unsigned seen = 0;  // matching calls so far
};

struct Registry {
    std::mutex mutex;
    std::vector<ArmedFault> faults;
    std::map<std::string, unsigned, std::less<>> calls;
};

Registry& TheRegistry() {
    static Registry registry;
    return registry;
}

std::string_view Trim(std::string_view text) {
    while (!text.empty() && (text.front() == ' ' || text.front() == '\t')) text.remove_prefix(1);
    while (!text.empty() && (text.back() == ' ' || text.back() == '\t')) text.remove_suffix(1);
    return text;
}

bool ParseUnsigned(std::string_view text, unsigned base, std::uint64_t limit, std::uint64_t& value) {
    if (text.empty()) return false;
    auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value, static_cast<int>(base));
    return error == std::errc() && end == text.data() + text.size() && value <= limit;
}

}  // namespace

void Inject(const Fault& fault) {
    Registry& registry = TheRegistry();
    std::lock_guard lock(registry.mutex);
    registry.faults.push_back({fault, 0});
}

void Inject(std::string_view operation, HRESULT result, unsigned nthCall, unsigned count) {
    Inject(Fault{std::string(operation), result, nthCall == 0 ? 1 : nthCall, count});
}

void ClearAll() {
    Registry& registry = TheRegistry();
    std::lock_guard lock(registry.mutex);
    registry.faults.clear();
    registry.calls.clear();
}

unsigned CallCount(std::string_view operation) {
    Registry& registry = TheRegistry();
    std::lock_guard lock(registry.mutex);
    auto found = registry.calls.find(operation);
    return found == registry.calls.end() ? 0 : found->second;
}

HRESULT Check(std::string_view operation, std::string_view alias1, std::string_view alias2) {
    Registry& registry = TheRegistry();
    std::lock_guard lock(registry.mutex);
    std::string_view names[3] = {operation, alias1, alias2};
    for (std::string_view name : names) {
        if (name.empty()) continue;
        auto found = registry.calls.find(name);
        if (found == registry.calls.end()) {
            registry.calls.emplace(std::string(name), 1);
        } else {
            ++found->second;
        }
    }
    HRESULT result = S_OK;
    bool struck = false;
    for (ArmedFault& armed : registry.faults) {
        bool matches = false;
        for (std::string_view name : names) matches = matches || (!name.empty() && armed.fault.operation == name);
        if (!matches) continue;
        ++armed.seen;
        bool inWindow = armed.seen >= armed.fault.nthCall &&
                        (armed.fault.count == 0 || armed.seen < armed.fault.nthCall + armed.fault.count);
        if (inWindow && !struck) {
            result = armed.fault.result;
            struck = true;
        }
    }
    return result;
}

bool ParseFaults(std::string_view text, std::vector<Fault>& faults) {
    std::vector<Fault> parsed;
    while (!text.empty()) {
        std::size_t end = text.find_first_of(";,");
        std::string_view entry = Trim(text.substr(0, end));
        text = end == std::string_view::npos ? std::string_view() : text.substr(end + 1);
        if (entry.empty()) continue;
        std::size_t equals = entry.find('=');
        if (equals == std::string_view::npos || equals == 0) return false;
        Fault fault;
        fault.operation = std::string(Trim(entry.substr(0, equals)));
        std::string_view rest = Trim(entry.substr(equals + 1));
        std::string_view code = rest.substr(0, rest.find('@'));
        std::string_view when = code.size() < rest.size() ? rest.substr(code.size() + 1) : std::string_view();
        std::uint64_t value = 0;
        if (code.size() > 2 && code[0] == '0' && (code[1] == 'x' || code[1] == 'X')) {
            if (!ParseUnsigned(code.substr(2), 16, 0xFFFFFFFFu, value)) return false;
        } else if (!ParseUnsigned(code, 10, 0xFFFFFFFFu, value)) {
            return false;
        }
        fault.result = static_cast<HRESULT>(static_cast<std::uint32_t>(value));
        if (!when.empty()) {
            std::string_view nth = when.substr(0, when.find('x'));
            std::uint64_t number = 0;
            if (!ParseUnsigned(nth, 10, 0xFFFFFFFFu, number) || number == 0) return false;
            fault.nthCall = static_cast<unsigned>(number);
            if (nth.size() < when.size()) {
                if (!ParseUnsigned(when.substr(nth.size() + 1), 10, 0xFFFFFFFFu, number)) return false;
                fault.count = static_cast<unsigned>(number);
            }
        }
        if (fault.operation.empty()) return false;
        parsed.push_back(std::move(fault));
    }
    faults.insert(faults.end(), parsed.begin(), parsed.end());
    return true;
}

}  // namespace ovmapi::faults
