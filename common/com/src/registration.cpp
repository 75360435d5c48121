// Class registration in HKEY_CLASSES_ROOT, as clients look it up.
#include <string>

#include "ovcom/remote.h"
#include "ovplatform/platform.h"

namespace ov::com {

namespace {

HRESULT FromWin32(LONG error) {
    if (error == ERROR_SUCCESS) return S_OK;
    return static_cast<HRESULT>(0x80070000u | (static_cast<std::uint32_t>(error) & 0xFFFFu));
}

// Sets the default value of root\subKey to text, creating the key.
LONG SetDefaultText(const std::string& subKey, const std::string& text) {
    HKEY key = nullptr;
    LONG rc = RegCreateKeyExA(HKEY_CLASSES_ROOT, subKey.c_str(), 0, nullptr,
                              REG_OPTION_NON_VOLATILE, KEY_WRITE, nullptr, &key, nullptr);
    if (rc != ERROR_SUCCESS) return rc;
    rc = RegSetValueExA(key, nullptr, 0, REG_SZ, reinterpret_cast<const BYTE*>(text.c_str()),
                        static_cast<DWORD>(text.size() + 1));
    RegCloseKey(key);
    return rc;
}

std::optional<std::string> GetDefaultText(const std::string& subKey) {
    HKEY key = nullptr;
    if (RegOpenKeyExA(HKEY_CLASSES_ROOT, subKey.c_str(), 0, KEY_READ, &key) != ERROR_SUCCESS) {
        return std::nullopt;
    }
    DWORD type = 0;
    DWORD size = 0;
    std::optional<std::string> text;
    if (RegQueryValueExA(key, nullptr, nullptr, &type, nullptr, &size) == ERROR_SUCCESS &&
        type == REG_SZ && size <= 4096) {
        std::string buffer(size, '\0');
        if (RegQueryValueExA(key, nullptr, nullptr, &type, reinterpret_cast<BYTE*>(buffer.data()),
                             &size) == ERROR_SUCCESS) {
            buffer.resize(std::min<std::size_t>(size, buffer.size()));
            while (!buffer.empty() && buffer.back() == '\0') buffer.pop_back();
            text = std::move(buffer);
        }
    }
    RegCloseKey(key);
    return text;
}

}  // namespace

HRESULT RegisterLocalServer(const CLSID& clsid, const std::string& progId,
                            const std::string& serverPath, const std::string& description) {
    const std::string clsidText = FormatGuid(clsid);
    const std::string classKey = "CLSID\\" + clsidText;
    for (auto [key, value] : {std::pair{progId, description},
                              std::pair{progId + "\\CLSID", clsidText},
                              std::pair{classKey, description},
                              std::pair{classKey + "\\ProgID", progId},
                              std::pair{classKey + "\\LocalServer32", serverPath}}) {
        if (LONG rc = SetDefaultText(key, value); rc != ERROR_SUCCESS) return FromWin32(rc);
    }
    return S_OK;
}

HRESULT UnregisterLocalServer(const CLSID& clsid, const std::string& progId) {
    LONG a = RegDeleteTreeA(HKEY_CLASSES_ROOT, ("CLSID\\" + FormatGuid(clsid)).c_str());
    LONG b = RegDeleteTreeA(HKEY_CLASSES_ROOT, progId.c_str());
    if (a != ERROR_SUCCESS && a != ERROR_FILE_NOT_FOUND) return FromWin32(a);
    if (b != ERROR_SUCCESS && b != ERROR_FILE_NOT_FOUND) return FromWin32(b);
    return S_OK;
}

HRESULT CLSIDFromProgID(const std::string& progId, CLSID* clsid) {
    if (clsid == nullptr) return E_POINTER;
    auto text = GetDefaultText(progId + "\\CLSID");
    if (!text) return CO_E_CLASSSTRING;
    auto guid = ParseGuid(*text);
    if (!guid) return CO_E_CLASSSTRING;
    *clsid = *guid;
    return S_OK;
}

// Used by the client: the command line of the class's local server.
std::optional<std::string> LocalServerCommand(const CLSID& clsid) {
    return GetDefaultText("CLSID\\" + FormatGuid(clsid) + "\\LocalServer32");
}

}  // namespace ov::com
