// A small local server for the remote-object tests: one object with a stored
// value, a method that adds to it, one that reports the process, and one that
// dies in the middle of a call.
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>

#include "ovcom/remote.h"

using namespace ov::com;

namespace {

constexpr DispatchMember kMembers[] = {
    {1, "value", DISPATCH_PROPERTYGET | DISPATCH_PROPERTYPUT},
    {2, "add", DISPATCH_METHOD},
    {3, "pid", DISPATCH_METHOD},
    {4, "crash", DISPATCH_METHOD},
};

class Counter final : public RefCounted<IDispatch> {
public:
    HRESULT QueryInterface(const IID&, void** object) override {
        *object = nullptr;
        return E_NOINTERFACE;
    }
    HRESULT GetIDsOfNames(const std::vector<std::string>& names,
                          std::vector<DISPID>* ids) override {
        return LookUpNames(kMembers, std::size(kMembers), names, ids);
    }
    HRESULT Invoke(DISPID member, WORD flags, const std::vector<Variant>& args,
                   Variant* result) override {
        const DispatchMember* m = FindMember(kMembers, std::size(kMembers), member);
        if (m == nullptr || (m->kinds & flags) == 0) return DISP_E_MEMBERNOTFOUND;
        switch (member) {
            case 1:
                if (flags & DISPATCH_PROPERTYPUT) {
                    if (args.size() != 1) return DISP_E_BADPARAMCOUNT;
                    auto v = ToInt(args[0]);
                    if (!v) return DISP_E_TYPEMISMATCH;
                    value_ = *v;
                } else if (result) {
                    *result = value_;
                }
                return S_OK;
            case 2: {
                if (args.size() != 1) return DISP_E_BADPARAMCOUNT;
                auto v = ToInt(args[0]);
                if (!v) return DISP_E_TYPEMISMATCH;
                value_ += *v;
                if (result) *result = value_;
                return S_OK;
            }
            case 3:
                if (result) *result = static_cast<std::int32_t>(getpid());
                return S_OK;
            case 4:
                _exit(3);
        }
        return DISP_E_MEMBERNOTFOUND;
    }

private:
    std::int32_t value_ = 0;
};

}  // namespace

int main(int argc, char** argv) {
    bool automation = false;
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "/Automation") == 0) automation = true;
    }
    int connection = TakeClientConnection();
    if (!automation || connection < 0) {
        std::fprintf(stderr, "com_test_server: start me through CreateRemoteObject\n");
        return 2;
    }
    ComPtr<Counter> object(new Counter);
    int rc = ServeObject(connection, object.get(), [] {});
    // The client released the object: leave a trace the tests can see.
    if (const char* marker = std::getenv("COM_TEST_RELEASE_MARKER")) {
        std::ofstream(std::string(marker) + "." + std::to_string(getpid())) << rc;
    }
    return rc;
}
