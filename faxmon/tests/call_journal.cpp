#include "call_journal.h"

#include <dlfcn.h>

#include <cstring>
#include <mutex>

#include "ovplatform/platform.h"

namespace faxmontest {
namespace {

std::mutex g_lock;
std::vector<std::string> g_journal;

void Record(std::string entry) {
    std::lock_guard<std::mutex> guard(g_lock);
    g_journal.push_back(std::move(entry));
}

std::string Text(const WCHAR* text) { return text ? ov::Utf16ToUtf8(text) : "(null)"; }

template <typename F>
F Next(const char* name) {
    return reinterpret_cast<F>(::dlsym(RTLD_NEXT, name));
}

}  // namespace

std::vector<std::string> Journal() {
    std::lock_guard<std::mutex> guard(g_lock);
    return g_journal;
}

void ClearJournal() {
    std::lock_guard<std::mutex> guard(g_lock);
    g_journal.clear();
}

}  // namespace faxmontest

extern "C" {

LONG RegSetValueExW(HKEY key, const WCHAR* valueName, DWORD reserved, DWORD type, const BYTE* data,
                    DWORD dataSize) {
    static auto next = faxmontest::Next<decltype(&RegSetValueExW)>("RegSetValueExW");
    std::u16string value(dataSize / 2, u'\0');
    if (data != nullptr && !value.empty()) std::memcpy(value.data(), data, value.size() * 2);
    faxmontest::Record("reg " + faxmontest::Text(valueName) + "=" +
                       ov::Utf16ToUtf8(value.substr(0, value.find(u'\0'))) +
                       (type == REG_SZ && dataSize == (value.find(u'\0') + 1) * 2 ? "" : " (bad size)"));
    return next(key, valueName, reserved, type, data, dataSize);
}

BOOL WritePrivateProfileStringW(const WCHAR* section, const WCHAR* key, const WCHAR* value,
                                const WCHAR* fileName) {
    static auto next = faxmontest::Next<decltype(&WritePrivateProfileStringW)>("WritePrivateProfileStringW");
    faxmontest::Record("ini " + faxmontest::Text(fileName) + " [" + faxmontest::Text(section) + "] " +
                       faxmontest::Text(key) + "=" + faxmontest::Text(value));
    return next(section, key, value, fileName);
}

BOOL PostMessageW(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    static auto next = faxmontest::Next<decltype(&PostMessageW)>("PostMessageW");
    const bool print = message == RegisterWindowMessageW(u"OrvanePrinterDriverStart");
    faxmontest::Record(std::string("post ") + (print ? "OrvanePrinterDriverStart" : std::to_string(message)) +
                       (window == HWND_BROADCAST ? " to all" : " to one") +
                       " " + std::to_string(wParam) + " " + std::to_string(lParam));
    return next(window, message, wParam, lParam);
}

}  // extern "C"
