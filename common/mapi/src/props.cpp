// Property values: conversion between the callers' SPropValue arrays and the
// provider's own bag, and the byte form in which the bag is stored.
#include <chrono>
#include <cstring>

#include "internal.h"
#include "ovplatform/platform.h"

namespace ovmapi::detail {
namespace {

bool IsIntegerType(ULONG type) {
    switch (type) {
        case PT_I2:
        case PT_LONG:
        case PT_BOOLEAN:
        case PT_ERROR:
        case PT_I8:
        case PT_SYSTIME:
        case PT_CURRENCY:
            return true;
        default:
            return false;
    }
}
bool IsFloatType(ULONG type) { return type == PT_R4 || type == PT_DOUBLE || type == PT_APPTIME; }
bool IsBytesType(ULONG type) {
    return type == PT_STRING8 || type == PT_UNICODE || type == PT_BINARY || type == PT_CLSID;
}
bool IsMultiType(ULONG type) {
    switch (type) {
        case PT_MV_LONG:
        case PT_MV_I2:
        case PT_MV_I8:
        case PT_MV_DOUBLE:
        case PT_MV_SYSTIME:
        case PT_MV_STRING8:
        case PT_MV_UNICODE:
        case PT_MV_BINARY:
        case PT_MV_CLSID:
            return true;
        default:
            return false;
    }
}

std::string Le64(std::uint64_t value) {
    std::string out(8, '\0');
    for (int i = 0; i < 8; ++i) out[i] = static_cast<char>((value >> (8 * i)) & 0xFF);
    return out;
}
std::uint64_t FromLe64(std::string_view bytes) {
    std::uint64_t value = 0;
    for (std::size_t i = 0; i < 8 && i < bytes.size(); ++i)
        value |= static_cast<std::uint64_t>(static_cast<unsigned char>(bytes[i])) << (8 * i);
    return value;
}

std::size_t Utf16Length(const WCHAR* text) {
    std::size_t n = 0;
    while (text[n] != 0) ++n;
    return n;
}

// Caps what one value may hold, so a damaged array or file cannot ask for
// unbounded memory.
constexpr std::size_t kMaxValueBytes = 256u << 20;
constexpr std::size_t kMaxMultiValues = 1u << 20;

}  // namespace

std::string Utf16Bytes(std::u16string_view text) {
    std::string out(text.size() * 2, '\0');
    for (std::size_t i = 0; i < text.size(); ++i) {
        out[2 * i] = static_cast<char>(text[i] & 0xFF);
        out[2 * i + 1] = static_cast<char>(text[i] >> 8);
    }
    return out;
}

std::u16string Utf16FromBytes(std::string_view bytes) {
    std::u16string out(bytes.size() / 2, u'\0');
    for (std::size_t i = 0; i < out.size(); ++i)
        out[i] = static_cast<char16_t>(static_cast<unsigned char>(bytes[2 * i]) |
                                       (static_cast<unsigned char>(bytes[2 * i + 1]) << 8));
    return out;
}

bool IsSupportedType(ULONG type) {
    return IsIntegerType(type) || IsFloatType(type) || IsBytesType(type) || IsMultiType(type);
}

HRESULT PropFromValue(const SPropValue& value, Prop& prop) {
    ULONG type = PROP_TYPE(value.ulPropTag);
    prop = Prop{};
    prop.tag = value.ulPropTag;
    const PropValueUnion& v = value.Value;
    switch (type) {
        case PT_I2: prop.i = v.i; return S_OK;
        case PT_LONG: prop.i = v.l; return S_OK;
        case PT_BOOLEAN: prop.i = v.b != 0 ? 1 : 0; return S_OK;
        case PT_ERROR: prop.i = v.err; return S_OK;
        case PT_I8: prop.i = v.li.QuadPart; return S_OK;
        case PT_CURRENCY: prop.i = v.cur.int64; return S_OK;
        case PT_SYSTIME:
            prop.i = static_cast<std::int64_t>((static_cast<std::uint64_t>(v.ft.dwHighDateTime) << 32) |
                                               v.ft.dwLowDateTime);
            return S_OK;
        case PT_R4: prop.d = v.flt; return S_OK;
        case PT_DOUBLE: prop.d = v.dbl; return S_OK;
        case PT_APPTIME: prop.d = v.at; return S_OK;
        case PT_STRING8:
            if (v.lpszA == nullptr) return MAPI_E_INVALID_PARAMETER;
            prop.bytes = v.lpszA;
            return S_OK;
        case PT_UNICODE:
            if (v.lpszW == nullptr) return MAPI_E_INVALID_PARAMETER;
            prop.bytes = Utf16Bytes(std::u16string_view(v.lpszW, Utf16Length(v.lpszW)));
            return S_OK;
        case PT_BINARY:
            if (v.bin.cb > kMaxValueBytes) return MAPI_E_TOO_BIG;
            if (v.bin.cb != 0 && v.bin.lpb == nullptr) return MAPI_E_INVALID_PARAMETER;
            prop.bytes.assign(reinterpret_cast<const char*>(v.bin.lpb), v.bin.cb);
            return S_OK;
        case PT_CLSID:
            if (v.lpguid == nullptr) return MAPI_E_INVALID_PARAMETER;
            prop.bytes.assign(reinterpret_cast<const char*>(v.lpguid), sizeof(GUID));
            return S_OK;
        default:
            break;
    }
    if (!IsMultiType(type)) return MAPI_E_INVALID_TYPE;
    ULONG count = v.MVl.cValues;
    if (count > kMaxMultiValues) return MAPI_E_TOO_BIG;
    if (count != 0 && v.MVl.lpl == nullptr) return MAPI_E_INVALID_PARAMETER;
    for (ULONG n = 0; n < count; ++n) {
        switch (type) {
            case PT_MV_LONG: prop.multi.push_back(Le64(static_cast<std::uint64_t>(v.MVl.lpl[n]))); break;
            case PT_MV_I2: prop.multi.push_back(Le64(static_cast<std::uint64_t>(v.MVi.lpi[n]))); break;
            case PT_MV_I8: prop.multi.push_back(Le64(static_cast<std::uint64_t>(v.MVli.lpli[n].QuadPart))); break;
            case PT_MV_DOUBLE: {
                std::uint64_t bits;
                std::memcpy(&bits, &v.MVdbl.lpdbl[n], 8);
                prop.multi.push_back(Le64(bits));
                break;
            }
            case PT_MV_SYSTIME:
                prop.multi.push_back(Le64((static_cast<std::uint64_t>(v.MVft.lpft[n].dwHighDateTime) << 32) |
                                          v.MVft.lpft[n].dwLowDateTime));
                break;
            case PT_MV_STRING8:
                if (v.MVszA.lppszA[n] == nullptr) return MAPI_E_INVALID_PARAMETER;
                prop.multi.emplace_back(v.MVszA.lppszA[n]);
                break;
            case PT_MV_UNICODE:
                if (v.MVszW.lppszW[n] == nullptr) return MAPI_E_INVALID_PARAMETER;
                prop.multi.push_back(
                    Utf16Bytes(std::u16string_view(v.MVszW.lppszW[n], Utf16Length(v.MVszW.lppszW[n]))));
                break;
            case PT_MV_BINARY:
                if (v.MVbin.lpbin[n].cb > kMaxValueBytes) return MAPI_E_TOO_BIG;
                if (v.MVbin.lpbin[n].cb != 0 && v.MVbin.lpbin[n].lpb == nullptr) return MAPI_E_INVALID_PARAMETER;
                prop.multi.emplace_back(reinterpret_cast<const char*>(v.MVbin.lpbin[n].lpb), v.MVbin.lpbin[n].cb);
                break;
            case PT_MV_CLSID:
                prop.multi.emplace_back(reinterpret_cast<const char*>(&v.MVguid.lpguid[n]), sizeof(GUID));
                break;
            default:
                return MAPI_E_INVALID_TYPE;
        }
    }
    return S_OK;
}

bool ConvertForRequest(const Prop& prop, ULONG requestedType, Prop& out) {
    ULONG stored = PROP_TYPE(prop.tag);
    if (requestedType == PT_UNSPECIFIED || requestedType == stored) {
        out = prop;
        return true;
    }
    auto convert = [&](ULONG fromType, ULONG toType) {
        out = prop;
        out.tag = CHANGE_PROP_TYPE(prop.tag, toType);
        auto one = [&](const std::string& bytes) {
            return fromType == PT_STRING8 ? Utf16Bytes(ov::AnsiToUtf16(bytes))
                                          : ov::Utf16ToAnsi(Utf16FromBytes(bytes));
        };
        out.bytes = one(prop.bytes);
        for (std::string& value : out.multi) value = one(value);
        return true;
    };
    if (stored == PT_STRING8 && requestedType == PT_UNICODE) return convert(PT_STRING8, PT_UNICODE);
    if (stored == PT_UNICODE && requestedType == PT_STRING8) return convert(PT_UNICODE, PT_STRING8);
    if (stored == PT_MV_STRING8 && requestedType == PT_MV_UNICODE) return convert(PT_STRING8, PT_MV_UNICODE);
    if (stored == PT_MV_UNICODE && requestedType == PT_MV_STRING8) return convert(PT_UNICODE, PT_MV_STRING8);
    return false;
}

HRESULT CopyToValue(const Prop& prop, void* root, SPropValue& out) {
    out = SPropValue{};
    out.ulPropTag = prop.tag;
    PropValueUnion& v = out.Value;
    ULONG type = PROP_TYPE(prop.tag);
    auto more = [&](std::size_t size, void** block) -> HRESULT {
        if (size > 0xFFFFFFF0u) return MAPI_E_TOO_BIG;
        return MAPIAllocateMore(static_cast<ULONG>(size == 0 ? 1 : size), root, block);
    };
    switch (type) {
        case PT_I2: v.i = static_cast<short>(prop.i); return S_OK;
        case PT_LONG: v.l = static_cast<LONG>(prop.i); return S_OK;
        case PT_BOOLEAN: v.b = prop.i != 0 ? 1 : 0; return S_OK;
        case PT_ERROR: v.err = static_cast<SCODE>(prop.i); return S_OK;
        case PT_I8: v.li.QuadPart = prop.i; return S_OK;
        case PT_CURRENCY: v.cur.int64 = prop.i; return S_OK;
        case PT_SYSTIME:
            v.ft.dwLowDateTime = static_cast<DWORD>(static_cast<std::uint64_t>(prop.i) & 0xFFFFFFFFu);
            v.ft.dwHighDateTime = static_cast<DWORD>(static_cast<std::uint64_t>(prop.i) >> 32);
            return S_OK;
        case PT_R4: v.flt = static_cast<float>(prop.d); return S_OK;
        case PT_DOUBLE: v.dbl = prop.d; return S_OK;
        case PT_APPTIME: v.at = prop.d; return S_OK;
        case PT_STRING8: {
            void* block = nullptr;
            if (HRESULT hr = more(prop.bytes.size() + 1, &block); FAILED(hr)) return hr;
            std::memcpy(block, prop.bytes.data(), prop.bytes.size());
            static_cast<char*>(block)[prop.bytes.size()] = '\0';
            v.lpszA = static_cast<char*>(block);
            return S_OK;
        }
        case PT_UNICODE: {
            void* block = nullptr;
            std::size_t units = prop.bytes.size() / 2;
            if (HRESULT hr = more((units + 1) * 2, &block); FAILED(hr)) return hr;
            std::u16string text = Utf16FromBytes(prop.bytes);
            std::memcpy(block, text.data(), units * 2);
            static_cast<WCHAR*>(block)[units] = 0;
            v.lpszW = static_cast<WCHAR*>(block);
            return S_OK;
        }
        case PT_BINARY: {
            void* block = nullptr;
            if (HRESULT hr = more(prop.bytes.size(), &block); FAILED(hr)) return hr;
            std::memcpy(block, prop.bytes.data(), prop.bytes.size());
            v.bin.cb = static_cast<ULONG>(prop.bytes.size());
            v.bin.lpb = static_cast<BYTE*>(block);
            return S_OK;
        }
        case PT_CLSID: {
            void* block = nullptr;
            if (HRESULT hr = more(sizeof(GUID), &block); FAILED(hr)) return hr;
            std::memset(block, 0, sizeof(GUID));
            std::memcpy(block, prop.bytes.data(), std::min(prop.bytes.size(), sizeof(GUID)));
            v.lpguid = static_cast<GUID*>(block);
            return S_OK;
        }
        default:
            break;
    }
    if (!IsMultiType(type)) return MAPI_E_INVALID_TYPE;
    std::size_t count = prop.multi.size();
    v.MVl.cValues = static_cast<ULONG>(count);
    auto array = [&](std::size_t elementSize, void** block) { return more(elementSize * count, block); };
    void* block = nullptr;
    switch (type) {
        case PT_MV_LONG: {
            if (HRESULT hr = array(sizeof(LONG), &block); FAILED(hr)) return hr;
            auto* values = static_cast<LONG*>(block);
            for (std::size_t n = 0; n < count; ++n) values[n] = static_cast<LONG>(FromLe64(prop.multi[n]));
            v.MVl.lpl = values;
            return S_OK;
        }
        case PT_MV_I2: {
            if (HRESULT hr = array(sizeof(short), &block); FAILED(hr)) return hr;
            auto* values = static_cast<short*>(block);
            for (std::size_t n = 0; n < count; ++n) values[n] = static_cast<short>(FromLe64(prop.multi[n]));
            v.MVi.lpi = values;
            return S_OK;
        }
        case PT_MV_I8: {
            if (HRESULT hr = array(sizeof(LARGE_INTEGER), &block); FAILED(hr)) return hr;
            auto* values = static_cast<LARGE_INTEGER*>(block);
            for (std::size_t n = 0; n < count; ++n)
                values[n].QuadPart = static_cast<LONGLONG>(FromLe64(prop.multi[n]));
            v.MVli.lpli = values;
            return S_OK;
        }
        case PT_MV_DOUBLE: {
            if (HRESULT hr = array(sizeof(double), &block); FAILED(hr)) return hr;
            auto* values = static_cast<double*>(block);
            for (std::size_t n = 0; n < count; ++n) {
                std::uint64_t bits = FromLe64(prop.multi[n]);
                std::memcpy(&values[n], &bits, 8);
            }
            v.MVdbl.lpdbl = values;
            return S_OK;
        }
        case PT_MV_SYSTIME: {
            if (HRESULT hr = array(sizeof(FILETIME), &block); FAILED(hr)) return hr;
            auto* values = static_cast<FILETIME*>(block);
            for (std::size_t n = 0; n < count; ++n) {
                std::uint64_t ticks = FromLe64(prop.multi[n]);
                values[n].dwLowDateTime = static_cast<DWORD>(ticks & 0xFFFFFFFFu);
                values[n].dwHighDateTime = static_cast<DWORD>(ticks >> 32);
            }
            v.MVft.lpft = values;
            return S_OK;
        }
        case PT_MV_CLSID: {
            if (HRESULT hr = array(sizeof(GUID), &block); FAILED(hr)) return hr;
            auto* values = static_cast<GUID*>(block);
            for (std::size_t n = 0; n < count; ++n) {
                std::memset(&values[n], 0, sizeof(GUID));
                std::memcpy(&values[n], prop.multi[n].data(), std::min(prop.multi[n].size(), sizeof(GUID)));
            }
            v.MVguid.lpguid = values;
            return S_OK;
        }
        default:
            break;
    }
    // Strings and binaries: one array of pointers, then one block per element.
    ULONG single = type == PT_MV_STRING8 ? PT_STRING8 : type == PT_MV_UNICODE ? PT_UNICODE : PT_BINARY;
    std::size_t slot = single == PT_BINARY ? sizeof(SBinary) : sizeof(void*);
    if (HRESULT hr = array(slot, &block); FAILED(hr)) return hr;
    for (std::size_t n = 0; n < count; ++n) {
        Prop element;
        element.tag = PROP_TAG(single, 0);
        element.bytes = prop.multi[n];
        SPropValue one{};
        if (HRESULT hr = CopyToValue(element, root, one); FAILED(hr)) return hr;
        if (single == PT_STRING8) static_cast<LPSTR*>(block)[n] = one.Value.lpszA;
        if (single == PT_UNICODE) static_cast<LPWSTR*>(block)[n] = one.Value.lpszW;
        if (single == PT_BINARY) static_cast<SBinary*>(block)[n] = one.Value.bin;
    }
    v.MVszA.lppszA = static_cast<LPSTR*>(block);
    return S_OK;
}

HRESULT ValuesFromMap(const PropMap& props, const SPropTagArray* tags, ULONG flags, ULONG* count,
                      LPSPropValue* values) {
    std::vector<ULONG> wanted;
    if (tags != nullptr) {
        wanted.assign(tags->aulPropTag, tags->aulPropTag + tags->cValues);
    } else {
        for (const auto& [id, prop] : props) {
            ULONG type = PROP_TYPE(prop.tag);
            if ((flags & MAPI_UNICODE) != 0 && type == PT_STRING8) type = PT_UNICODE;
            if ((flags & MAPI_UNICODE) != 0 && type == PT_MV_STRING8) type = PT_MV_UNICODE;
            wanted.push_back(CHANGE_PROP_TYPE(prop.tag, type));
        }
    }
    void* root = nullptr;
    if (HRESULT hr = MAPIAllocateBuffer(static_cast<ULONG>(sizeof(SPropValue) * (wanted.empty() ? 1 : wanted.size())),
                                        &root);
        FAILED(hr))
        return hr;
    auto* array = static_cast<SPropValue*>(root);
    bool missing = false;
    for (std::size_t n = 0; n < wanted.size(); ++n) {
        ULONG tag = wanted[n];
        auto found = props.find(PROP_ID(tag));
        Prop converted;
        if (found != props.end() && ConvertForRequest(found->second, PROP_TYPE(tag), converted)) {
            if (HRESULT hr = CopyToValue(converted, root, array[n]); FAILED(hr)) {
                MAPIFreeBuffer(root);
                return hr;
            }
        } else {
            array[n] = SPropValue{};
            array[n].ulPropTag = CHANGE_PROP_TYPE(tag, PT_ERROR);
            array[n].Value.err = MAPI_E_NOT_FOUND;
            missing = true;
        }
    }
    *count = static_cast<ULONG>(wanted.size());
    *values = array;
    return missing ? MAPI_W_ERRORS_RETURNED : S_OK;
}

// ------------------------------------------------------------ byte form
// A bag is: count (4), then per property its tag (4) and its value by type:
// integers 8 bytes, floating values 8 bytes, bytes as length (4) and bytes,
// multi-valued as count (4) and each element as length (4) and bytes.
namespace {

void PutU32(std::string& out, std::uint32_t value) {
    for (int i = 0; i < 4; ++i) out.push_back(static_cast<char>((value >> (8 * i)) & 0xFF));
}

class Reader {
public:
    explicit Reader(std::string_view data) : data_(data) {}
    bool U32(std::uint32_t& value) {
        if (data_.size() < 4) return false;
        value = 0;
        for (int i = 0; i < 4; ++i) value |= static_cast<std::uint32_t>(static_cast<unsigned char>(data_[i])) << (8 * i);
        data_.remove_prefix(4);
        return true;
    }
    bool U64(std::uint64_t& value) {
        if (data_.size() < 8) return false;
        value = FromLe64(data_.substr(0, 8));
        data_.remove_prefix(8);
        return true;
    }
    bool Bytes(std::string& out) {
        std::uint32_t size = 0;
        if (!U32(size) || size > data_.size()) return false;
        out.assign(data_.data(), size);
        data_.remove_prefix(size);
        return true;
    }
    std::size_t Left() const { return data_.size(); }

private:
    std::string_view data_;
};

}  // namespace

std::string SerializeProps(const PropMap& props) {
    std::string out;
    PutU32(out, static_cast<std::uint32_t>(props.size()));
    for (const auto& [id, prop] : props) {
        PutU32(out, prop.tag);
        ULONG type = PROP_TYPE(prop.tag);
        if (IsIntegerType(type)) {
            out += Le64(static_cast<std::uint64_t>(prop.i));
        } else if (IsFloatType(type)) {
            std::uint64_t bits;
            std::memcpy(&bits, &prop.d, 8);
            out += Le64(bits);
        } else if (IsBytesType(type)) {
            PutU32(out, static_cast<std::uint32_t>(prop.bytes.size()));
            out += prop.bytes;
        } else {
            PutU32(out, static_cast<std::uint32_t>(prop.multi.size()));
            for (const std::string& value : prop.multi) {
                PutU32(out, static_cast<std::uint32_t>(value.size()));
                out += value;
            }
        }
    }
    return out;
}

bool DeserializeProps(std::string_view data, PropMap& props) {
    props.clear();
    Reader reader(data);
    std::uint32_t count = 0;
    if (!reader.U32(count) || count > reader.Left() / 8) return false;
    for (std::uint32_t n = 0; n < count; ++n) {
        Prop prop;
        if (!reader.U32(prop.tag)) return false;
        ULONG type = PROP_TYPE(prop.tag);
        if (!IsSupportedType(type)) return false;
        if (IsIntegerType(type)) {
            std::uint64_t value;
            if (!reader.U64(value)) return false;
            prop.i = static_cast<std::int64_t>(value);
        } else if (IsFloatType(type)) {
            std::uint64_t bits;
            if (!reader.U64(bits)) return false;
            std::memcpy(&prop.d, &bits, 8);
        } else if (IsBytesType(type)) {
            if (!reader.Bytes(prop.bytes)) return false;
        } else {
            std::uint32_t values = 0;
            if (!reader.U32(values) || values > reader.Left() / 4) return false;
            prop.multi.resize(values);
            for (std::string& value : prop.multi)
                if (!reader.Bytes(value)) return false;
        }
        props[PROP_ID(prop.tag)] = std::move(prop);
    }
    return reader.Left() == 0;
}

std::string SerializePropList(const std::vector<PropMap>& list) {
    std::string out;
    PutU32(out, static_cast<std::uint32_t>(list.size()));
    for (const PropMap& props : list) {
        std::string one = SerializeProps(props);
        PutU32(out, static_cast<std::uint32_t>(one.size()));
        out += one;
    }
    return out;
}

bool DeserializePropList(std::string_view data, std::vector<PropMap>& list) {
    list.clear();
    Reader reader(data);
    std::uint32_t count = 0;
    if (!reader.U32(count) || count > reader.Left() / 4) return false;
    for (std::uint32_t n = 0; n < count; ++n) {
        std::string one;
        if (!reader.Bytes(one)) return false;
        PropMap props;
        if (!DeserializeProps(one, props)) return false;
        list.push_back(std::move(props));
    }
    return reader.Left() == 0;
}

// ------------------------------------------------------------- helpers
Prop LongProp(ULONG tag, LONG value) {
    Prop prop;
    prop.tag = tag;
    prop.i = value;
    return prop;
}
Prop BoolProp(ULONG tag, bool value) {
    Prop prop;
    prop.tag = tag;
    prop.i = value ? 1 : 0;
    return prop;
}
Prop StringProp(ULONG tag, std::string_view ansi) {
    Prop prop;
    prop.tag = tag;
    prop.bytes = PROP_TYPE(tag) == PT_UNICODE ? Utf16Bytes(ov::AnsiToUtf16(ansi)) : std::string(ansi);
    return prop;
}
Prop BinaryProp(ULONG tag, std::string_view bytes) {
    Prop prop;
    prop.tag = tag;
    prop.bytes = std::string(bytes);
    return prop;
}
Prop BinaryProp(ULONG tag, const std::vector<BYTE>& bytes) {
    return BinaryProp(tag, std::string_view(reinterpret_cast<const char*>(bytes.data()), bytes.size()));
}
Prop TimeProp(ULONG tag, std::int64_t ticks) {
    Prop prop;
    prop.tag = tag;
    prop.i = ticks;
    return prop;
}
void Put(PropMap& props, Prop prop) {
    ULONG id = PROP_ID(prop.tag);
    props[id] = std::move(prop);
}
const Prop* Find(const PropMap& props, ULONG tag) {
    auto found = props.find(PROP_ID(tag));
    return found == props.end() ? nullptr : &found->second;
}
std::optional<std::string> AnsiOf(const PropMap& props, ULONG tag) {
    const Prop* prop = Find(props, tag);
    if (prop == nullptr) return std::nullopt;
    Prop converted;
    if (!ConvertForRequest(*prop, PT_STRING8, converted)) return std::nullopt;
    return converted.bytes;
}
std::optional<std::string> BinaryOf(const PropMap& props, ULONG tag) {
    const Prop* prop = Find(props, tag);
    if (prop == nullptr || PROP_TYPE(prop->tag) != PT_BINARY) return std::nullopt;
    return prop->bytes;
}
std::optional<LONG> LongOf(const PropMap& props, ULONG tag) {
    const Prop* prop = Find(props, tag);
    if (prop == nullptr || PROP_TYPE(prop->tag) != PT_LONG) return std::nullopt;
    return static_cast<LONG>(prop->i);
}
std::optional<bool> BoolOf(const PropMap& props, ULONG tag) {
    const Prop* prop = Find(props, tag);
    if (prop == nullptr || PROP_TYPE(prop->tag) != PT_BOOLEAN) return std::nullopt;
    return prop->i != 0;
}
std::string AnsiFromValue(const SPropValue& value) {
    if (PROP_TYPE(value.ulPropTag) == PT_STRING8 && value.Value.lpszA != nullptr) return value.Value.lpszA;
    if (PROP_TYPE(value.ulPropTag) == PT_UNICODE && value.Value.lpszW != nullptr)
        return ov::Utf16ToAnsi(std::u16string_view(value.Value.lpszW, Utf16Length(value.Value.lpszW)));
    return {};
}
std::int64_t NowFileTime() {
    using namespace std::chrono;
    // 100-nanosecond ticks since 1601-01-01.
    constexpr std::int64_t kEpochDifference = 116444736000000000LL;
    auto since1970 = duration_cast<nanoseconds>(system_clock::now().time_since_epoch()).count() / 100;
    return since1970 + kEpochDifference;
}

}  // namespace ovmapi::detail
