#include <gtest/gtest.h>

#include <fstream>

#include "ovplatform/platform.h"
#include "ovtest/temp_prefix.h"

namespace {

class LibraryTest : public ovtest::PrefixTest {
protected:
    std::string ModulePath() { return (ov::ProgramDirectory() / "platform_test_module.so").string(); }
};

TEST_F(LibraryTest, LoadsByPathResolvesExportsAndUnloads) {
    HMODULE module = LoadLibraryA(ModulePath().c_str());
    ASSERT_NE(module, nullptr) << GetLastError();
    using Answer = int (*)();
    auto answer = reinterpret_cast<Answer>(GetProcAddress(module, "PlatformTestAnswer"));
    ASSERT_NE(answer, nullptr);
    EXPECT_EQ(answer(), 42);

    SetLastError(0);
    EXPECT_EQ(GetProcAddress(module, "cgwSendMessageEx"), nullptr);
    EXPECT_EQ(GetLastError(), ERROR_PROC_NOT_FOUND);
    // A name only a library it depends on defines is not its export.
    EXPECT_EQ(GetProcAddress(module, "malloc"), nullptr);
    EXPECT_EQ(GetLastError(), ERROR_PROC_NOT_FOUND);
    EXPECT_EQ(GetProcAddress(module, reinterpret_cast<const char*>(std::uintptr_t{1})), nullptr);

    char path[MAX_PATH * 4];
    const DWORD length = GetModuleFileNameA(module, path, sizeof path);
    EXPECT_EQ(std::string(path, length), ModulePath());

    // An address inside the library names it too.
    const DWORD byAddress =
        GetModuleFileNameA(reinterpret_cast<HMODULE>(reinterpret_cast<void*>(answer)), path, sizeof path);
    EXPECT_EQ(std::string(path, byAddress), ModulePath());
    SetLastError(0);
    EXPECT_EQ(GetModuleFileNameA(reinterpret_cast<HMODULE>(std::uintptr_t{16}), path, sizeof path), 0u);
    EXPECT_EQ(GetLastError(), ERROR_INVALID_HANDLE);

    EXPECT_TRUE(FreeLibrary(module));
    EXPECT_FALSE(FreeLibrary(module));
    EXPECT_EQ(GetLastError(), ERROR_INVALID_HANDLE);
    EXPECT_EQ(GetProcAddress(module, "PlatformTestAnswer"), nullptr);
}

TEST_F(LibraryTest, FailuresTellAMissingFileFromOneThatDoesNotLoad) {
    EXPECT_EQ(LoadLibraryA("C:\\nowhere\\mapigate.cgw"), nullptr);
    EXPECT_EQ(GetLastError(), ERROR_MOD_NOT_FOUND);
    EXPECT_EQ(LoadLibraryA("MAPI32.DLL"), nullptr);  // a bare name, found nowhere
    EXPECT_EQ(GetLastError(), ERROR_MOD_NOT_FOUND);

    const std::string broken = ov::MapPath("C:\\broken.sov");
    std::ofstream(broken) << "this is not a shared library";
    EXPECT_EQ(LoadLibraryA("C:\\broken.sov"), nullptr);
    EXPECT_EQ(GetLastError(), ERROR_GEN_FAILURE);
}

TEST_F(LibraryTest, ABareNameIsFoundInTheSystemDirectoryWithoutRegardToCase) {
    std::filesystem::copy_file(ModulePath(), ov::SystemDirectory() / "mapi32.dll");
    HMODULE module = LoadLibraryA("MAPI32.DLL");
    ASSERT_NE(module, nullptr) << GetLastError();
    EXPECT_NE(GetProcAddress(module, "PlatformTestAnswer"), nullptr);
    FreeLibrary(module);
}

}  // namespace
