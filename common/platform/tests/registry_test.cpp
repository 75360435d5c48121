#include <gtest/gtest.h>

#include <cstring>
#include <fstream>
#include <sstream>
#include <thread>

#include "ovplatform/internal/registry_hive.h"
#include "ovplatform/platform.h"
#include "ovtest/temp_prefix.h"

namespace {

constexpr const char* kMonitorKey = "SOFTWARE\\Kestrin\\Kestrin Print Monitor";

class RegistryTest : public ovtest::PrefixTest {
protected:
    HKEY Create(HKEY root, const char* path, DWORD* disposition = nullptr) {
        HKEY key = nullptr;
        EXPECT_EQ(RegCreateKeyExA(root, path, 0, nullptr, REG_OPTION_NON_VOLATILE, KEY_ALL_ACCESS,
                                  nullptr, &key, disposition),
                  ERROR_SUCCESS);
        return key;
    }
    std::filesystem::path HiveFile(const char* name) { return ov::RegistryDirectory() / (std::string(name) + ".reg"); }
    std::string QueryString(HKEY key, const char* name) {
        char buffer[256];
        DWORD size = sizeof buffer;
        DWORD type = 0;
        if (RegQueryValueExA(key, name, nullptr, &type, reinterpret_cast<BYTE*>(buffer), &size) !=
                ERROR_SUCCESS ||
            type != REG_SZ) {
            return "<none>";
        }
        return std::string(buffer, size - 1);
    }
};

TEST_F(RegistryTest, ValuesOfEachTypeSurviveInTheHiveFile) {
    DWORD disposition = 0;
    HKEY key = Create(HKEY_LOCAL_MACHINE, kMonitorKey, &disposition);
    EXPECT_EQ(disposition, REG_CREATED_NEW_KEY);
    const char text[] = "C:\\temp\\job 1.ovk";
    const DWORD number = 0xDEADBEEF;
    const BYTE blob[] = {0x00, 0xFF, 0x10, 0x00};
    ASSERT_EQ(RegSetValueExA(key, "CommandLine", 0, REG_SZ, reinterpret_cast<const BYTE*>(text), sizeof text),
              ERROR_SUCCESS);
    ASSERT_EQ(RegSetValueExA(key, "Count", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&number), 4),
              ERROR_SUCCESS);
    ASSERT_EQ(RegSetValueExA(key, "Blob", 0, REG_BINARY, blob, sizeof blob), ERROR_SUCCESS);
    ASSERT_EQ(RegSetValueExA(key, nullptr, 0, REG_SZ, reinterpret_cast<const BYTE*>("default"), 8),
              ERROR_SUCCESS);
    EXPECT_EQ(RegCloseKey(key), ERROR_SUCCESS);

    // A new handle reads what is on disk.
    HKEY reopened = nullptr;
    ASSERT_EQ(RegOpenKeyExA(HKEY_LOCAL_MACHINE, "software\\KESTRIN\\kestrin print monitor", 0, KEY_READ,
                            &reopened),
              ERROR_SUCCESS);
    EXPECT_EQ(QueryString(reopened, "commandline"), text);
    EXPECT_EQ(QueryString(reopened, ""), "default");
    DWORD type = 0;
    DWORD readNumber = 0;
    DWORD size = sizeof readNumber;
    ASSERT_EQ(RegQueryValueExA(reopened, "Count", nullptr, &type, reinterpret_cast<BYTE*>(&readNumber), &size),
              ERROR_SUCCESS);
    EXPECT_EQ(type, REG_DWORD);
    EXPECT_EQ(readNumber, number);
    BYTE readBlob[8] = {};
    size = sizeof readBlob;
    ASSERT_EQ(RegQueryValueExA(reopened, "Blob", nullptr, &type, readBlob, &size), ERROR_SUCCESS);
    EXPECT_EQ(type, REG_BINARY);
    ASSERT_EQ(size, sizeof blob);
    EXPECT_EQ(std::memcmp(readBlob, blob, sizeof blob), 0);
    RegCloseKey(reopened);

    std::ifstream in(HiveFile("HKEY_LOCAL_MACHINE"));
    std::stringstream content;
    content << in.rdbuf();
    EXPECT_NE(content.str().find("[SOFTWARE\\Kestrin\\Kestrin Print Monitor]\n"), std::string::npos);
    EXPECT_NE(content.str().find("\"CommandLine\"=sz:\"C:\\\\temp\\\\job 1.ovk\"\n"), std::string::npos);
    EXPECT_NE(content.str().find("\"Count\"=dword:deadbeef\n"), std::string::npos);
    EXPECT_NE(content.str().find("\"Blob\"=hex:00,ff,10,00\n"), std::string::npos);
    // The hives are separate.
    HKEY other = nullptr;
    EXPECT_EQ(RegOpenKeyExA(HKEY_CURRENT_USER, kMonitorKey, 0, KEY_READ, &other), ERROR_FILE_NOT_FOUND);
    EXPECT_EQ(other, nullptr);
}

TEST_F(RegistryTest, QueryReportsSizesAndAsksForMoreRoom) {
    HKEY key = Create(HKEY_CURRENT_USER, "Software\\Orvane");
    ASSERT_EQ(RegSetValueExA(key, "Name", 0, REG_SZ, reinterpret_cast<const BYTE*>("abcdef"), 7), ERROR_SUCCESS);
    DWORD type = 0;
    DWORD size = 0;
    EXPECT_EQ(RegQueryValueExA(key, "Name", nullptr, &type, nullptr, &size), ERROR_SUCCESS);
    EXPECT_EQ(type, REG_SZ);
    EXPECT_EQ(size, 7u);
    char buffer[8] = "xxxxxxx";
    size = 3;
    EXPECT_EQ(RegQueryValueExA(key, "Name", nullptr, &type, reinterpret_cast<BYTE*>(buffer), &size),
              ERROR_MORE_DATA);
    EXPECT_EQ(size, 7u);
    size = 7;
    EXPECT_EQ(RegQueryValueExA(key, "Name", nullptr, &type, reinterpret_cast<BYTE*>(buffer), &size),
              ERROR_SUCCESS);
    EXPECT_STREQ(buffer, "abcdef");
    EXPECT_EQ(RegQueryValueExA(key, "Name", nullptr, &type, reinterpret_cast<BYTE*>(buffer), nullptr),
              ERROR_INVALID_PARAMETER);
    EXPECT_EQ(RegQueryValueExA(key, "Missing", nullptr, &type, nullptr, &size), ERROR_FILE_NOT_FOUND);
    // A text set without its NUL, or with bytes after one, reads back terminated at the NUL.
    ASSERT_EQ(RegSetValueExA(key, "Raw", 0, REG_SZ, reinterpret_cast<const BYTE*>("xy\0zz"), 5), ERROR_SUCCESS);
    EXPECT_EQ(QueryString(key, "Raw"), "xy");
    ASSERT_EQ(RegSetValueExA(key, "NoNul", 0, REG_SZ, reinterpret_cast<const BYTE*>("pq"), 2), ERROR_SUCCESS);
    EXPECT_EQ(QueryString(key, "NoNul"), "pq");
    RegCloseKey(key);
}

TEST_F(RegistryTest, TextsAreConvertedForAnsiAndWideCallers) {
    HKEY key = nullptr;
    ASSERT_EQ(RegCreateKeyExW(HKEY_LOCAL_MACHINE, u"SOFTWARE\\Wide", 0, nullptr, 0, KEY_ALL_ACCESS, nullptr,
                              &key, nullptr),
              ERROR_SUCCESS);
    const std::u16string text = u"Gr\u00FC\u00DFe \u20AC";
    ASSERT_EQ(RegSetValueExW(key, u"Port", 0, REG_SZ, reinterpret_cast<const BYTE*>(text.c_str()),
                             static_cast<DWORD>((text.size() + 1) * 2)),
              ERROR_SUCCESS);
    EXPECT_EQ(QueryString(key, "Port"), "Gr\xFC\xDF" "e \x80");  // Windows-1252
    char16_t wide[32] = {};
    DWORD size = sizeof wide;
    DWORD type = 0;
    ASSERT_EQ(RegQueryValueExW(key, u"port", nullptr, &type, reinterpret_cast<BYTE*>(wide), &size), ERROR_SUCCESS);
    EXPECT_EQ(size, (text.size() + 1) * 2);
    EXPECT_EQ(std::u16string(wide), text);
    HKEY again = nullptr;
    EXPECT_EQ(RegOpenKeyExW(HKEY_LOCAL_MACHINE, u"software\\wide", 0, KEY_READ, &again), ERROR_SUCCESS);
    RegCloseKey(again);
    RegCloseKey(key);
}

TEST_F(RegistryTest, NamesKeepTheirCaseAndEnumerate) {
    HKEY root = Create(HKEY_CLASSES_ROOT, "Root");
    DWORD disposition = 0;
    RegCloseKey(Create(root, "beta", &disposition));
    RegCloseKey(Create(root, "Alpha"));
    RegCloseKey(Create(root, "BETA", &disposition));
    EXPECT_EQ(disposition, REG_OPENED_EXISTING_KEY);
    ASSERT_EQ(RegSetValueExA(root, "Second", 0, REG_SZ, reinterpret_cast<const BYTE*>("2"), 2), ERROR_SUCCESS);
    ASSERT_EQ(RegSetValueExA(root, "First", 0, REG_SZ, reinterpret_cast<const BYTE*>("1"), 2), ERROR_SUCCESS);

    std::vector<std::string> keys;
    char name[32];
    for (DWORD index = 0;; ++index) {
        DWORD nameSize = sizeof name;
        LONG status = RegEnumKeyExA(root, index, name, &nameSize, nullptr, nullptr, nullptr, nullptr);
        if (status == ERROR_NO_MORE_ITEMS) {
            break;
        }
        ASSERT_EQ(status, ERROR_SUCCESS);
        EXPECT_EQ(nameSize, std::strlen(name));
        keys.emplace_back(name);
    }
    EXPECT_EQ(keys, (std::vector<std::string>{"Alpha", "beta"}));
    DWORD tiny = 5;  // "Alpha" needs six with its NUL
    EXPECT_EQ(RegEnumKeyExA(root, 0, name, &tiny, nullptr, nullptr, nullptr, nullptr), ERROR_MORE_DATA);

    std::vector<std::string> values;
    for (DWORD index = 0;; ++index) {
        DWORD nameSize = sizeof name;
        char data[8];
        DWORD dataSize = sizeof data;
        DWORD type = 0;
        LONG status = RegEnumValueA(root, index, name, &nameSize, nullptr, &type, reinterpret_cast<BYTE*>(data),
                                    &dataSize);
        if (status == ERROR_NO_MORE_ITEMS) {
            break;
        }
        ASSERT_EQ(status, ERROR_SUCCESS);
        values.push_back(std::string(name) + "=" + data);
    }
    EXPECT_EQ(values, (std::vector<std::string>{"Second=2", "First=1"}));  // creation order
    RegCloseKey(root);
}

TEST_F(RegistryTest, DeletingValuesKeysAndTrees) {
    HKEY base = Create(HKEY_CURRENT_USER, "Software\\Test");
    RegCloseKey(Create(base, "Leaf"));
    HKEY branch = Create(base, "Branch\\Deep\\Deeper");
    ASSERT_EQ(RegSetValueExA(base, "v", 0, REG_SZ, reinterpret_cast<const BYTE*>("1"), 2), ERROR_SUCCESS);

    EXPECT_EQ(RegDeleteValueA(base, "V"), ERROR_SUCCESS);
    EXPECT_EQ(RegDeleteValueA(base, "v"), ERROR_FILE_NOT_FOUND);
    EXPECT_EQ(RegDeleteKeyA(base, "Branch"), ERROR_ACCESS_DENIED);  // has subkeys
    EXPECT_EQ(RegDeleteKeyA(base, "leaf"), ERROR_SUCCESS);
    EXPECT_EQ(RegDeleteKeyA(base, "leaf"), ERROR_FILE_NOT_FOUND);
    EXPECT_EQ(RegDeleteTreeA(base, "Branch"), ERROR_SUCCESS);

    // The handle of a key deleted under it reports so.
    EXPECT_EQ(RegSetValueExA(branch, "x", 0, REG_SZ, reinterpret_cast<const BYTE*>("1"), 2), ERROR_KEY_DELETED);
    DWORD size = 0;
    EXPECT_EQ(RegQueryValueExA(branch, "x", nullptr, nullptr, nullptr, &size), ERROR_KEY_DELETED);
    RegCloseKey(branch);

    RegCloseKey(Create(base, "A\\B"));
    ASSERT_EQ(RegSetValueExA(base, "kept?", 0, REG_SZ, reinterpret_cast<const BYTE*>("no"), 3), ERROR_SUCCESS);
    EXPECT_EQ(RegDeleteTreeA(base, nullptr), ERROR_SUCCESS);  // everything below, not the key
    HKEY probe = nullptr;
    EXPECT_EQ(RegOpenKeyExA(HKEY_CURRENT_USER, "Software\\Test", 0, KEY_READ, &probe), ERROR_SUCCESS);
    DWORD nameSize = 8;
    char name[8];
    EXPECT_EQ(RegEnumKeyExA(probe, 0, name, &nameSize, nullptr, nullptr, nullptr, nullptr), ERROR_NO_MORE_ITEMS);
    EXPECT_EQ(RegEnumValueA(probe, 0, name, &nameSize, nullptr, nullptr, nullptr, nullptr), ERROR_NO_MORE_ITEMS);
    RegCloseKey(probe);
    EXPECT_EQ(RegDeleteKeyA(HKEY_CURRENT_USER, ""), ERROR_ACCESS_DENIED);  // a hive root stays
    RegCloseKey(base);
}

TEST_F(RegistryTest, HandlesAreCheckedAndNamesBounded) {
    HKEY key = nullptr;
    EXPECT_EQ(RegCloseKey(reinterpret_cast<HKEY>(std::uintptr_t{0x1234567})), ERROR_INVALID_HANDLE);
    EXPECT_EQ(RegOpenKeyExA(reinterpret_cast<HKEY>(std::uintptr_t{0x1234567}), "x", 0, KEY_READ, &key),
              ERROR_INVALID_HANDLE);
    EXPECT_EQ(RegCreateKeyExA(HKEY_CURRENT_USER, "x", 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, nullptr, nullptr),
              ERROR_INVALID_PARAMETER);
    const std::string longName(ov::detail::kMaxKeyNameLength + 1, 'k');
    EXPECT_EQ(RegCreateKeyExA(HKEY_CURRENT_USER, longName.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key,
                              nullptr),
              ERROR_INVALID_PARAMETER);
    HKEY first = Create(HKEY_CURRENT_USER, "Same");
    HKEY second = Create(HKEY_CURRENT_USER, "Same");
    EXPECT_NE(first, second);
    EXPECT_EQ(RegCloseKey(first), ERROR_SUCCESS);
    EXPECT_EQ(RegCloseKey(first), ERROR_INVALID_HANDLE);
    EXPECT_EQ(RegCloseKey(second), ERROR_SUCCESS);
}

TEST_F(RegistryTest, AwkwardNamesAndDataRoundTripThroughTheFile) {
    const char* names[] = {"with \"quotes\"", "back\\slash in value name", "per%cent", "tab\there",
                           "line\nbreak", "caf\xE9"};
    HKEY key = Create(HKEY_LOCAL_MACHINE, "Odd]Key%20\\sub key");
    for (const char* name : names) {
        ASSERT_EQ(RegSetValueExA(key, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(name),
                                 static_cast<DWORD>(std::strlen(name) + 1)),
                  ERROR_SUCCESS)
            << name;
    }
    const BYTE empty = 0;
    ASSERT_EQ(RegSetValueExA(key, "empty", 0, REG_BINARY, &empty, 0), ERROR_SUCCESS);
    ASSERT_EQ(RegSetValueExA(key, "odd dword", 0, REG_DWORD, reinterpret_cast<const BYTE*>("abcdef"), 6),
              ERROR_SUCCESS);
    RegCloseKey(key);
    HKEY reopened = nullptr;
    ASSERT_EQ(RegOpenKeyExA(HKEY_LOCAL_MACHINE, "odd]key%20\\SUB KEY", 0, KEY_READ, &reopened), ERROR_SUCCESS);
    for (const char* name : names) {
        EXPECT_EQ(QueryString(reopened, name), name);
    }
    DWORD size = 0;
    DWORD type = 0;
    EXPECT_EQ(RegQueryValueExA(reopened, "empty", nullptr, &type, nullptr, &size), ERROR_SUCCESS);
    EXPECT_EQ(size, 0u);
    char odd[8] = {};
    size = sizeof odd;
    EXPECT_EQ(RegQueryValueExA(reopened, "odd dword", nullptr, &type, reinterpret_cast<BYTE*>(odd), &size),
              ERROR_SUCCESS);
    EXPECT_EQ(type, REG_DWORD);
    EXPECT_EQ(std::string(odd, size), "abcdef");
    RegCloseKey(reopened);
}

TEST_F(RegistryTest, ADamagedHiveIsReportedAndLeftAlone) {
    const std::string damaged[] = {
        "not a hive\n",
        "ORVANE REGISTRY 1\n\"orphan\"=sz:\"value before any key\"\n",
        "ORVANE REGISTRY 1\n[Key]\n\"v\"=sz:\"unterminated\n",
        "ORVANE REGISTRY 1\n[Key]\n\"v\"=dword:123\n",
        "ORVANE REGISTRY 1\n[Key]\n\"v\"=hex:0g\n",
        "ORVANE REGISTRY 1\n[Key]\n\"v\"=hex(99999999999):00\n",
        "ORVANE REGISTRY 1\n[Key\\\\Double]\n",
        "ORVANE REGISTRY 1\n[Key%zz]\n",
        "ORVANE REGISTRY 1\n[Key]\n\"v\"=float:1.0\n",
        std::string("ORVANE REGISTRY 1\n[Key]\n\"v\"=sz:\"a\\x00b\"\n"),
    };
    for (const auto& content : damaged) {
        std::ofstream(HiveFile("HKEY_LOCAL_MACHINE"), std::ios::binary | std::ios::trunc) << content;
        HKEY key = nullptr;
        EXPECT_EQ(RegOpenKeyExA(HKEY_LOCAL_MACHINE, "Key", 0, KEY_READ, &key), ERROR_BADDB) << content;
        EXPECT_EQ(RegCreateKeyExA(HKEY_LOCAL_MACHINE, "Other", 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key,
                                  nullptr),
                  ERROR_BADDB)
            << content;
        std::ifstream in(HiveFile("HKEY_LOCAL_MACHINE"), std::ios::binary);
        std::stringstream after;
        after << in.rdbuf();
        EXPECT_EQ(after.str(), content);  // never overwritten
    }
    // The other hives go on working.
    HKEY key = Create(HKEY_CURRENT_USER, "Fine");
    RegCloseKey(key);
}

TEST_F(RegistryTest, ConcurrentWritersThroughSeparateHandlesLoseNothing) {
    constexpr int kValues = 40;
    auto writer = [](const std::string& prefix) {
        HKEY key = nullptr;
        RegCreateKeyExA(HKEY_LOCAL_MACHINE, "SOFTWARE\\Busy", 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key, nullptr);
        for (int i = 0; i < kValues; ++i) {
            DWORD value = static_cast<DWORD>(i);
            RegSetValueExA(key, (prefix + std::to_string(i)).c_str(), 0, REG_DWORD,
                           reinterpret_cast<const BYTE*>(&value), 4);
        }
        RegCloseKey(key);
    };
    std::thread first(writer, "a");
    std::thread second(writer, "b");
    first.join();
    second.join();
    HKEY key = nullptr;
    ASSERT_EQ(RegOpenKeyExA(HKEY_LOCAL_MACHINE, "SOFTWARE\\Busy", 0, KEY_READ, &key), ERROR_SUCCESS);
    for (const char* prefix : {"a", "b"}) {
        for (int i = 0; i < kValues; ++i) {
            DWORD value = 0;
            DWORD size = 4;
            EXPECT_EQ(RegQueryValueExA(key, (prefix + std::to_string(i)).c_str(), nullptr, nullptr,
                                       reinterpret_cast<BYTE*>(&value), &size),
                      ERROR_SUCCESS);
            EXPECT_EQ(value, static_cast<DWORD>(i));
        }
    }
    RegCloseKey(key);
}

TEST(RegistryHive, SerializedHivesParseBackToTheSameTree) {
    ov::detail::RegistryKey root;
    auto& key = root.AddSubkey("Outer").AddSubkey("Inner]%");
    key.values.push_back({"", REG_SZ, "default \"text\"\n"});
    key.values.push_back({"bin", REG_BINARY, std::string("\0\x01\xff", 3)});
    key.values.push_back({"multi", 7, std::string("a\0b\0\0", 5)});
    root.AddSubkey("empty key");
    const std::string text = ov::detail::SerializeHive(root);
    auto parsed = ov::detail::ParseHive(text);
    ASSERT_TRUE(parsed);
    EXPECT_EQ(ov::detail::SerializeHive(*parsed), text);
    ASSERT_NE(parsed->FindSubkey("EMPTY KEY"), nullptr);
    const auto* inner = parsed->FindSubkey("outer")->FindSubkey("inner]%");
    ASSERT_NE(inner, nullptr);
    EXPECT_EQ(inner->name, "Inner]%");
    EXPECT_EQ(inner->FindValue("")->data, "default \"text\"\n");
    EXPECT_EQ(inner->FindValue("MULTI")->type, 7u);
    EXPECT_EQ(inner->FindValue("bin")->data, std::string("\0\x01\xff", 3));
}

}  // namespace
