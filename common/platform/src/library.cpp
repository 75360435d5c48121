// Dynamic libraries by path, with Windows' last-error values.
#include <dlfcn.h>
#include <link.h>
#include <unistd.h>

#include <map>
#include <mutex>
#include <string>

#include "internal.h"
#include "ovplatform/platform.h"

namespace {

struct LoadedModule {
    std::string path;
    int loads = 0;
};

std::mutex gModulesMutex;
std::map<void*, LoadedModule> gModules;

// A bare name ("MAPI32.DLL") is looked for beside the program, then in the
// system directory, without regard to letter case.
std::filesystem::path LocateModule(std::string_view name) {
    const std::string utf8 = ov::AnsiToUtf8(name);
    if (ov::BaseName(utf8) != utf8) {
        return ov::FindFileNoCase(ov::MapPath(utf8));
    }
    for (const auto& directory : {ov::ProgramDirectory(), ov::SystemDirectory()}) {
        auto candidate = ov::FindFileNoCase(directory / utf8);
        std::error_code ec;
        if (std::filesystem::exists(candidate, ec)) {
            return candidate;
        }
    }
    return ov::ProgramDirectory() / utf8;
}

}  // namespace

namespace ov::detail {

std::string LoadedModulePath(HMODULE module) {
    {
        std::lock_guard lock(gModulesMutex);
        auto it = gModules.find(module);
        if (it != gModules.end()) {
            return it->second.path;
        }
    }
    // An address inside a loaded library names that library, so a library
    // can find its own file from one of its functions.
    Dl_info info{};
    if (::dladdr(module, &info) != 0 && info.dli_fname != nullptr && *info.dli_fname != '\0') {
        std::error_code ec;
        auto path = std::filesystem::absolute(info.dli_fname, ec);
        return ec ? std::string(info.dli_fname) : path.lexically_normal().string();
    }
    return {};
}

}  // namespace ov::detail

extern "C" {

HMODULE LoadLibraryA(const char* path) {
    return ov::detail::NoThrow<HMODULE>(nullptr, [&]() -> HMODULE {
        if (path == nullptr || *path == '\0') {
            SetLastError(ERROR_INVALID_PARAMETER);
            return nullptr;
        }
        const std::filesystem::path file = LocateModule(path);
        std::error_code ec;
        if (!std::filesystem::is_regular_file(file, ec)) {
            SetLastError(ERROR_MOD_NOT_FOUND);
            return nullptr;
        }
        void* handle = ::dlopen(file.c_str(), RTLD_NOW | RTLD_LOCAL);
        if (handle == nullptr) {
            SetLastError(ERROR_GEN_FAILURE);
            return nullptr;
        }
        std::lock_guard lock(gModulesMutex);
        LoadedModule& module = gModules[handle];
        module.path = std::filesystem::absolute(file, ec).lexically_normal().string();
        ++module.loads;
        SetLastError(ERROR_SUCCESS);
        return handle;
    });
}

FARPROC GetProcAddress(HMODULE module, const char* name) {
    return ov::detail::NoThrow<FARPROC>(nullptr, [&]() -> FARPROC {
        // Names below 0x10000 are ordinals, which no library here exports.
        if (name == nullptr || reinterpret_cast<std::uintptr_t>(name) < 0x10000) {
            SetLastError(ERROR_PROC_NOT_FOUND);
            return nullptr;
        }
        {
            std::lock_guard lock(gModulesMutex);
            if (module != nullptr && gModules.find(module) == gModules.end()) {
                SetLastError(ERROR_INVALID_HANDLE);
                return nullptr;
            }
        }
        void* symbol = ::dlsym(module != nullptr ? module : RTLD_DEFAULT, name);
        if (symbol == nullptr) {
            SetLastError(ERROR_PROC_NOT_FOUND);
            return nullptr;
        }
        if (module != nullptr) {
            // dlsym also searches the library's dependencies; an export counts only
            // when the library itself defines it, as on Windows.
            struct link_map* map = nullptr;
            Dl_info info{};
            if (::dlinfo(module, RTLD_DI_LINKMAP, &map) == 0 && map != nullptr &&
                ::dladdr(symbol, &info) != 0 && info.dli_fbase != nullptr &&
                reinterpret_cast<std::uintptr_t>(info.dli_fbase) != map->l_addr) {
                SetLastError(ERROR_PROC_NOT_FOUND);
                return nullptr;
            }
        }
        return reinterpret_cast<FARPROC>(symbol);
    });
}

BOOL FreeLibrary(HMODULE module) {
    return ov::detail::NoThrow<BOOL>(FALSE, [&]() -> BOOL {
        std::lock_guard lock(gModulesMutex);
        auto it = gModules.find(module);
        if (it == gModules.end()) {
            SetLastError(ERROR_INVALID_HANDLE);
            return FALSE;
        }
        if (--it->second.loads == 0) {
            gModules.erase(it);
        }
        ::dlclose(module);
        return TRUE;
    });
}

}  // extern "C"
