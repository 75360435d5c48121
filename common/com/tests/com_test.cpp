#include <signal.h>
#include <sys/stat.h>

#include <cerrno>
#include <chrono>
#include <filesystem>
#include <fstream>

#include "ovcom/remote.h"
#include "ovtest/temp_prefix.h"

using namespace ov::com;

namespace {

constexpr CLSID kCounterClass = {0x1A2B3C4D, 0x1111, 0x2222, {1, 2, 3, 4, 5, 6, 7, 8}};
constexpr const char* kCounterProgId = "OvTest.Counter";

TEST(Guid, ParsesAndFormatsTheRegistryForm) {
    auto guid = ParseGuid("{f3d77976-d084-11d2-b01e-0080c84ad146}");
    ASSERT_TRUE(guid.has_value());
    EXPECT_EQ(guid->Data1, 0xF3D77976u);
    EXPECT_EQ(guid->Data2, 0xD084);
    EXPECT_EQ(guid->Data3, 0x11D2);
    EXPECT_EQ(guid->Data4[0], 0xB0);
    EXPECT_EQ(guid->Data4[7], 0x46);
    EXPECT_EQ(FormatGuid(*guid), "{F3D77976-D084-11D2-B01E-0080C84AD146}");
    for (const char* bad : {"", "F3D77976-D084-11D2-B01E-0080C84AD146",
                            "{F3D77976-D084-11D2-B01E-0080C84AD14}",
                            "{F3D77976-D084-11D2-B01E-0080C84AD14G}",
                            "{F3D77976+D084-11D2-B01E-0080C84AD146}"}) {
        EXPECT_FALSE(ParseGuid(bad).has_value()) << bad;
    }
}

TEST(DispatchNames, MatchWithoutRegardToCaseAndReportUnknownOnes) {
    constexpr DispatchMember members[] = {{1, "subject", DISPATCH_PROPERTYGET},
                                          {14, "sendfax", DISPATCH_METHOD}};
    std::vector<DISPID> ids;
    EXPECT_EQ(LookUpNames(members, 2, {"SendFax", "SUBJECT"}, &ids), S_OK);
    EXPECT_EQ(ids, (std::vector<DISPID>{14, 1}));
    EXPECT_EQ(LookUpNames(members, 2, {"subject", "nosuch"}, &ids), DISP_E_UNKNOWNNAME);
    EXPECT_EQ(ids, (std::vector<DISPID>{1, DISPID_UNKNOWN}));
}

TEST(ArgumentConversion, FollowsAutomationRules) {
    EXPECT_EQ(ToInt(Variant{std::string(" 42 ")}), 42);
    EXPECT_EQ(ToInt(Variant{true}), -1);
    EXPECT_FALSE(ToInt(Variant{std::string("4x")}).has_value());
    EXPECT_FALSE(ToInt(Variant{1e12}).has_value());
    EXPECT_EQ(ToBool(Variant{std::int32_t{0}}), false);
    EXPECT_EQ(ToBool(Variant{std::string("TRUE")}), true);
    EXPECT_EQ(ToText(Variant{std::int32_t{7}}), "7");
    EXPECT_FALSE(ToText(Variant{}).has_value());
}

TEST(WireFormat, RoundTripsAndRefusesMalformedLines) {
    Request call;
    call.kind = Request::Kind::Invoke;
    call.member = 10;
    call.flags = DISPATCH_METHOD;
    call.args = {std::string("Ann \"A\"\n"), std::int32_t{-5}, true, 2.5, Variant{}};
    auto back = DecodeRequest(EncodeRequest(call));
    ASSERT_TRUE(back.has_value());
    EXPECT_EQ(back->member, 10);
    EXPECT_EQ(back->args, call.args);
    EXPECT_EQ(EncodeRequest(call).find('\n'), std::string::npos);

    for (const char* bad : {"", "[]", "{}", "{\"op\":\"names\"}", "{\"op\":\"names\",\"names\":[1]}",
                            "{\"op\":\"invoke\",\"member\":1,\"flags\":-1,\"args\":[]}",
                            "{\"op\":\"invoke\",\"member\":99999999999,\"flags\":1,\"args\":[]}",
                            "{\"op\":\"invoke\",\"member\":1,\"flags\":1,\"args\":[[1]]}",
                            "{\"op\":\"invoke\",\"member\":1,\"flags\":1,\"args\":[4294967296]}",
                            "{\"op\":\"other\"}", "{\"op\":\"names\",\"names\":[\"a\"]"}) {
        EXPECT_FALSE(DecodeRequest(bad).has_value()) << bad;
    }
    EXPECT_FALSE(DecodeRequest(std::string(kMaxMessageBytes + 1, ' ')).has_value());
}

class RemoteObjects : public ovtest::PrefixTest {
protected:
    void SetUp() override {
        auto server = ovtest::BinaryDirectory() / "com_test_server";
        ASSERT_EQ(RegisterLocalServer(kCounterClass, kCounterProgId, server.string(),
                                      "test counter"),
                  S_OK);
        marker_ = prefix_.path() / "released";
        setenv("COM_TEST_RELEASE_MARKER", marker_.c_str(), 1);
    }

    static DISPID Id(IDispatch* object, const std::string& name) {
        std::vector<DISPID> ids;
        EXPECT_EQ(object->GetIDsOfNames({name}, &ids), S_OK);
        return ids.empty() ? DISPID_UNKNOWN : ids[0];
    }

    static bool ProcessAlive(long pid) { return ::kill(static_cast<pid_t>(pid), 0) == 0; }

    std::filesystem::path marker_;
};

TEST_F(RemoteObjects, EachObjectLivesInItsOwnProcessUntilReleased) {
    IDispatch* first = nullptr;
    IDispatch* second = nullptr;
    ASSERT_EQ(CreateRemoteObject(kCounterProgId, &first), S_OK);
    ASSERT_EQ(CreateRemoteObject(kCounterProgId, &second), S_OK);
    long pid1 = RemoteProcessId(first);
    long pid2 = RemoteProcessId(second);
    ASSERT_GT(pid1, 0);
    EXPECT_NE(pid1, pid2);

    Variant result;
    ASSERT_EQ(first->Invoke(Id(first, "VALUE"), DISPATCH_PROPERTYPUT, {std::int32_t{40}}, nullptr), S_OK);
    ASSERT_EQ(first->Invoke(Id(first, "Add"), DISPATCH_METHOD, {std::string("2")}, &result), S_OK);
    EXPECT_EQ(result, Variant{std::int32_t{42}});
    ASSERT_EQ(second->Invoke(Id(second, "value"), DISPATCH_PROPERTYGET, {}, &result), S_OK);
    EXPECT_EQ(result, Variant{std::int32_t{0}}) << "objects share no state";
    ASSERT_EQ(first->Invoke(Id(first, "pid"), DISPATCH_METHOD, {}, &result), S_OK);
    EXPECT_EQ(result, Variant{static_cast<std::int32_t>(pid1)});

    EXPECT_EQ(first->Invoke(Id(first, "add"), DISPATCH_METHOD, {}, nullptr), DISP_E_BADPARAMCOUNT);
    std::vector<DISPID> ids;
    EXPECT_EQ(first->GetIDsOfNames({"nosuch"}, &ids), DISP_E_UNKNOWNNAME);

    first->Release();
    EXPECT_FALSE(ProcessAlive(pid1)) << "releasing the object ends its process";
    EXPECT_TRUE(std::filesystem::exists(marker_.string() + "." + std::to_string(pid1)))
        << "the server saw the release and ended on its own";
    EXPECT_TRUE(ProcessAlive(pid2));
    ASSERT_EQ(second->Invoke(Id(second, "add"), DISPATCH_METHOD, {std::int32_t{1}}, &result), S_OK);
    EXPECT_EQ(result, Variant{std::int32_t{1}});
    second->Release();
    EXPECT_FALSE(ProcessAlive(pid2));
}

TEST_F(RemoteObjects, AServerDyingInACallIsReportedWithoutHanging) {
    IDispatch* object = nullptr;
    ASSERT_EQ(CreateRemoteObject(kCounterProgId, &object), S_OK);
    auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(object->Invoke(Id(object, "crash"), DISPATCH_METHOD, {}, nullptr), RPC_E_DISCONNECTED);
    EXPECT_EQ(object->Invoke(1, DISPATCH_PROPERTYGET, {}, nullptr), RPC_E_DISCONNECTED);
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(10));
    object->Release();
}

TEST_F(RemoteObjects, CreationFailsClearlyForUnknownOrBrokenClasses) {
    IDispatch* object = reinterpret_cast<IDispatch*>(1);
    EXPECT_EQ(CreateRemoteObject(std::string("No.Such.Class"), &object), REGDB_E_CLASSNOTREG);
    EXPECT_EQ(object, nullptr);

    constexpr CLSID broken = {0x0BADC0DE, 1, 2, {0, 0, 0, 0, 0, 0, 0, 1}};
    ASSERT_EQ(RegisterLocalServer(broken, "OvTest.Broken", (prefix_.path() / "missing").string(), "x"),
              S_OK);
    EXPECT_EQ(CreateRemoteObject(std::string("OvTest.Broken"), &object), CO_E_SERVER_EXEC_FAILURE);

    // A program that starts but never serves: the client gives up, no hang.
    ASSERT_EQ(RegisterLocalServer(broken, "OvTest.Broken", "/bin/true", "x"), S_OK);
    EXPECT_EQ(CreateRemoteObject(std::string("OvTest.Broken"), &object), CO_E_SERVER_EXEC_FAILURE);

    ASSERT_EQ(UnregisterLocalServer(broken, "OvTest.Broken"), S_OK);
    EXPECT_EQ(CreateRemoteObject(std::string("OvTest.Broken"), &object), REGDB_E_CLASSNOTREG);
}

}  // namespace
