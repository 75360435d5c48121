// The component-object layer: GUIDs, result codes, reference-counted objects
// and dispatch by name, for the automation object and the submit control.
#pragma once

#include <atomic>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

#include "ovplatform/win32.h"

namespace ov::com {

// Result codes with their published values.
constexpr HRESULT S_OK = 0;
constexpr HRESULT S_FALSE = 1;
constexpr HRESULT E_NOTIMPL = static_cast<HRESULT>(0x80004001u);
constexpr HRESULT E_NOINTERFACE = static_cast<HRESULT>(0x80004002u);
constexpr HRESULT E_POINTER = static_cast<HRESULT>(0x80004003u);
constexpr HRESULT E_FAIL = static_cast<HRESULT>(0x80004005u);
constexpr HRESULT E_UNEXPECTED = static_cast<HRESULT>(0x8000FFFFu);
constexpr HRESULT E_OUTOFMEMORY = static_cast<HRESULT>(0x8007000Eu);
constexpr HRESULT E_INVALIDARG = static_cast<HRESULT>(0x80070057u);
constexpr HRESULT DISP_E_MEMBERNOTFOUND = static_cast<HRESULT>(0x80020003u);
constexpr HRESULT DISP_E_TYPEMISMATCH = static_cast<HRESULT>(0x80020005u);
constexpr HRESULT DISP_E_UNKNOWNNAME = static_cast<HRESULT>(0x80020006u);
constexpr HRESULT DISP_E_BADPARAMCOUNT = static_cast<HRESULT>(0x8002000Eu);
constexpr HRESULT REGDB_E_CLASSNOTREG = static_cast<HRESULT>(0x80040154u);
constexpr HRESULT CO_E_CLASSSTRING = static_cast<HRESULT>(0x800401F3u);
constexpr HRESULT CO_E_SERVER_EXEC_FAILURE = static_cast<HRESULT>(0x80080005u);
constexpr HRESULT RPC_E_DISCONNECTED = static_cast<HRESULT>(0x80010108u);
constexpr HRESULT RPC_E_INVALID_DATA = static_cast<HRESULT>(0x8001010Fu);

constexpr bool Succeeded(HRESULT hr) { return hr >= 0; }
constexpr bool Failed(HRESULT hr) { return hr < 0; }

struct GUID {
    std::uint32_t Data1 = 0;
    std::uint16_t Data2 = 0;
    std::uint16_t Data3 = 0;
    std::uint8_t Data4[8] = {};
    friend bool operator==(const GUID&, const GUID&) = default;
};
using CLSID = GUID;
using IID = GUID;

// "{F3D77976-D084-11D2-B01E-0080C84AD146}"; braces required, any letter case.
std::optional<GUID> ParseGuid(std::string_view text);
std::string FormatGuid(const GUID& guid);  // upper case, with braces

constexpr GUID IID_IUnknown = {0x00000000, 0x0000, 0x0000, {0xC0, 0, 0, 0, 0, 0, 0, 0x46}};
constexpr GUID IID_IDispatch = {0x00020400, 0x0000, 0x0000, {0xC0, 0, 0, 0, 0, 0, 0, 0x46}};

class IUnknown {
public:
    virtual HRESULT QueryInterface(const IID& iid, void** object) = 0;
    virtual ULONG AddRef() = 0;
    virtual ULONG Release() = 0;

protected:
    virtual ~IUnknown() = default;
};

// A value crossing the dispatch interface. Texts are UTF-8 (automation
// strings are Unicode); the object converts them to the system code page
// where it stores them in its records.
using Variant = std::variant<std::monostate, std::int32_t, bool, double, std::string>;

using DISPID = LONG;
constexpr DISPID DISPID_UNKNOWN = -1;
constexpr WORD DISPATCH_METHOD = 0x1;
constexpr WORD DISPATCH_PROPERTYGET = 0x2;
constexpr WORD DISPATCH_PROPERTYPUT = 0x4;

class IDispatch : public IUnknown {
public:
    // One id per name, DISPID_UNKNOWN and DISP_E_UNKNOWNNAME for names the
    // object does not have.
    virtual HRESULT GetIDsOfNames(const std::vector<std::string>& names,
                                  std::vector<DISPID>* ids) = 0;
    // Arguments in call order (not reversed as on the wire of the original
    // runtime); result may be null.
    virtual HRESULT Invoke(DISPID member, WORD flags, const std::vector<Variant>& args,
                           Variant* result) = 0;
};

// Reference counting shared by the objects of this layer.
template <typename Interface>
class RefCounted : public Interface {
public:
    ULONG AddRef() override { return ++references_; }
    ULONG Release() override {
        ULONG left = --references_;
        if (left == 0) delete this;
        return left;
    }

private:
    std::atomic<ULONG> references_{1};
};

// Owns one reference.
template <typename T>
class ComPtr {
public:
    ComPtr() = default;
    explicit ComPtr(T* adopted) : p_(adopted) {}
    ComPtr(const ComPtr& other) : p_(other.p_) {
        if (p_) p_->AddRef();
    }
    ComPtr(ComPtr&& other) noexcept : p_(other.p_) { other.p_ = nullptr; }
    ComPtr& operator=(ComPtr other) noexcept {
        std::swap(p_, other.p_);
        return *this;
    }
    ~ComPtr() {
        if (p_) p_->Release();
    }
    T* get() const { return p_; }
    T* operator->() const { return p_; }
    explicit operator bool() const { return p_ != nullptr; }
    void reset() { ComPtr().swap(*this); }
    void swap(ComPtr& other) noexcept { std::swap(p_, other.p_); }

private:
    T* p_ = nullptr;
};

// A member of a dispatch interface: its id, its name (matched without regard
// to case) and what it may be called as.
struct DispatchMember {
    DISPID id;
    const char* name;
    WORD kinds;  // DISPATCH_METHOD, or DISPATCH_PROPERTYGET | DISPATCH_PROPERTYPUT
};

// Name lookup over a member table, for objects that bind by name at run time.
HRESULT LookUpNames(const DispatchMember* members, std::size_t count,
                    const std::vector<std::string>& names, std::vector<DISPID>* ids);
const DispatchMember* FindMember(const DispatchMember* members, std::size_t count, DISPID id);

// Argument conversions as automation does them: numbers and booleans convert
// into each other, texts convert to numbers when they hold one.
std::optional<std::int32_t> ToInt(const Variant& value);
std::optional<bool> ToBool(const Variant& value);
std::optional<std::string> ToText(const Variant& value);

}  // namespace ov::com
