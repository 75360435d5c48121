// The IMAPIProp behaviour every provider object shares: values in request
// order, named-property ids of the store, property streams, last error text,
// and the fault points of each method.
#pragma once

#include <cstring>

#include "internal.h"

namespace ovmapi::detail {

HRESULT MapNamesForObject(Profile& profile, std::uint32_t scope, ULONG count, LPMAPINAMEID* names, ULONG flags,
                          LPSPropTagArray* tags);
HRESULT NamesForObject(Profile& profile, std::uint32_t scope, LPSPropTagArray* tags, LPGUID propertySet, ULONG flags,
                       ULONG* count, LPMAPINAMEID** names);
HRESULT AllocProblems(const std::vector<SPropProblem>& problems, LPSPropProblemArray* out);
HRESULT AllocTagArray(const std::vector<ULONG>& tags, LPSPropTagArray* out);

template <class Derived, class Interface>
class PropObject : public ComObject<Derived, Interface> {
public:
    explicit PropObject(ProfilePtr profile) : profile_(std::move(profile)) {}

    HRESULT QueryInterface(REFIID riid, void** object) override {
        if (object == nullptr) return E_POINTER;
        *object = nullptr;
        if (riid == IID_IUnknown || riid == IID_IMAPIProp || Supports(riid)) {
            this->AddRef();
            *object = static_cast<Interface*>(this);
            return S_OK;
        }
        return E_NOINTERFACE;
    }

    HRESULT GetLastError(HRESULT hResult, ULONG ulFlags, LPMAPIERROR* lppMAPIError) override {
        (void)ulFlags;
        if (lppMAPIError == nullptr) return MAPI_E_INVALID_PARAMETER;
        *lppMAPIError = nullptr;
        return MakeError(hResult == lastResult_ ? lastError_ : std::string(), Component(), hResult, 0, lppMAPIError);
    }

    HRESULT SaveChanges(ULONG ulFlags) override {
        return Guarded([&] {
            HRESULT fault = Fault("SaveChanges");
            if (FAILED(fault)) return Failure(fault, "SaveChanges failed (injected)");
            return WithWarning(fault, DoSaveChanges(ulFlags));
        });
    }

    HRESULT GetProps(LPSPropTagArray tags, ULONG flags, ULONG* count, LPSPropValue* values) override {
        if (count == nullptr || values == nullptr) return MAPI_E_INVALID_PARAMETER;
        *count = 0;
        *values = nullptr;
        return Guarded([&] {
            HRESULT fault = Fault("GetProps");
            if (FAILED(fault)) return Failure(fault, "GetProps failed (injected)");
            if (tags != nullptr && tags->cValues == 0) return Failure(MAPI_E_INVALID_PARAMETER, "no tags asked for");
            PropMap all;
            if (HRESULT hr = AllProps(all); FAILED(hr)) return Failure(hr, "cannot read the properties");
            return WithWarning(fault, ValuesFromMap(all, tags, flags, count, values));
        });
    }

    HRESULT GetPropList(ULONG flags, LPSPropTagArray* tags) override {
        (void)flags;
        if (tags == nullptr) return MAPI_E_INVALID_PARAMETER;
        *tags = nullptr;
        return Guarded([&] {
            HRESULT fault = Fault("GetPropList");
            if (FAILED(fault)) return fault;
            PropMap all;
            if (HRESULT hr = AllProps(all); FAILED(hr)) return hr;
            std::vector<ULONG> list;
            for (const auto& [id, prop] : all) list.push_back(prop.tag);
            return WithWarning(fault, AllocTagArray(list, tags));
        });
    }

    HRESULT OpenProperty(ULONG tag, LPCIID iid, ULONG options, ULONG flags, LPUNKNOWN* result) override {
        if (result == nullptr) return MAPI_E_INVALID_PARAMETER;
        *result = nullptr;
        return Guarded([&]() -> HRESULT {
            HRESULT fault = Fault("OpenProperty");
            if (FAILED(fault)) return Failure(fault, "OpenProperty failed (injected)");
            if (iid == nullptr) return MAPI_E_INVALID_PARAMETER;
            if (!(*iid == IID_IStream)) return Failure(MAPI_E_INTERFACE_NOT_SUPPORTED, "only streams are opened");
            ULONG type = PROP_TYPE(tag);
            if (type != PT_BINARY && type != PT_STRING8 && type != PT_UNICODE)
                return Failure(MAPI_E_NO_SUPPORT, "only binary and text properties open as streams");
            bool writable = (flags & (MAPI_MODIFY | MAPI_CREATE)) != 0 || (options & (STGM_WRITE | STGM_READWRITE)) != 0;
            if (writable) {
                if (HRESULT hr = CanModify(); FAILED(hr)) return Failure(hr, "the object is read-only");
            }
            if (IsComputed(PROP_ID(tag))) return Failure(MAPI_E_COMPUTED, "computed property");
            std::string initial;
            if ((flags & MAPI_CREATE) == 0) {
                PropMap all;
                if (HRESULT hr = AllProps(all); FAILED(hr)) return hr;
                auto found = all.find(PROP_ID(tag));
                Prop converted;
                if (found == all.end() || !ConvertForRequest(found->second, type, converted))
                    return Failure(MAPI_E_NOT_FOUND, "the property does not exist");
                initial = converted.bytes;
            }
            this->AddRef();
            Ref<IUnknown> self(static_cast<Interface*>(this));
            auto commit = [this, tag](const std::string& bytes) -> HRESULT {
                Prop prop;
                prop.tag = tag;
                prop.bytes = bytes;
                // Text streams may carry their terminator; the value does not.
                ULONG unit = PROP_TYPE(tag) == PT_UNICODE ? 2 : PROP_TYPE(tag) == PT_STRING8 ? 1 : 0;
                if (unit == 1) prop.bytes = prop.bytes.substr(0, std::strlen(prop.bytes.c_str()));
                if (unit == 2) {
                    std::size_t end = 0;
                    while (end + 1 < prop.bytes.size() && (prop.bytes[end] != 0 || prop.bytes[end + 1] != 0)) end += 2;
                    prop.bytes.resize(std::min(end, prop.bytes.size() & ~std::size_t(1)));
                }
                Put(Bag(), std::move(prop));
                return Persist();
            };
            LPSTREAM stream = nullptr;
            HRESULT hr = CreateBytesStream(std::move(initial), writable, commit, self.get(), &stream);
            if (FAILED(hr)) return hr;
            *result = stream;
            return WithWarning(fault, S_OK);
        });
    }

    HRESULT SetProps(ULONG cValues, LPSPropValue values, LPSPropProblemArray* problems) override {
        if (problems != nullptr) *problems = nullptr;
        return Guarded([&]() -> HRESULT {
            HRESULT fault = Fault("SetProps");
            if (FAILED(fault)) return Failure(fault, "SetProps failed (injected)");
            if (values == nullptr && cValues != 0) return MAPI_E_INVALID_PARAMETER;
            if (HRESULT hr = CanModify(); FAILED(hr)) return Failure(hr, "the object is read-only");
            std::vector<SPropProblem> found;
            PropMap& bag = Bag();
            for (ULONG n = 0; n < cValues; ++n) {
                ULONG type = PROP_TYPE(values[n].ulPropTag);
                if (type == PT_ERROR || type == PT_NULL) continue;
                if (IsComputed(PROP_ID(values[n].ulPropTag)) || PROP_ID(values[n].ulPropTag) == 0) {
                    found.push_back({n, values[n].ulPropTag, MAPI_E_COMPUTED});
                    continue;
                }
                Prop prop;
                if (HRESULT hr = PropFromValue(values[n], prop); FAILED(hr)) {
                    found.push_back({n, values[n].ulPropTag, hr});
                    continue;
                }
                Put(bag, std::move(prop));
            }
            if (HRESULT hr = Persist(); FAILED(hr)) return Failure(hr, "cannot store the properties");
            if (!found.empty() && problems != nullptr) {
                if (HRESULT hr = AllocProblems(found, problems); FAILED(hr)) return hr;
            }
            return WithWarning(fault, S_OK);
        });
    }

    HRESULT DeleteProps(LPSPropTagArray tags, LPSPropProblemArray* problems) override {
        if (problems != nullptr) *problems = nullptr;
        return Guarded([&]() -> HRESULT {
            HRESULT fault = Fault("DeleteProps");
            if (FAILED(fault)) return Failure(fault, "DeleteProps failed (injected)");
            if (tags == nullptr) return MAPI_E_INVALID_PARAMETER;
            if (HRESULT hr = CanModify(); FAILED(hr)) return Failure(hr, "the object is read-only");
            std::vector<SPropProblem> found;
            for (ULONG n = 0; n < tags->cValues; ++n) {
                ULONG id = PROP_ID(tags->aulPropTag[n]);
                if (IsComputed(id)) {
                    found.push_back({n, tags->aulPropTag[n], MAPI_E_COMPUTED});
                    continue;
                }
                Bag().erase(id);
            }
            if (HRESULT hr = Persist(); FAILED(hr)) return Failure(hr, "cannot store the properties");
            if (!found.empty() && problems != nullptr) {
                if (HRESULT hr = AllocProblems(found, problems); FAILED(hr)) return hr;
            }
            return WithWarning(fault, S_OK);
        });
    }

    HRESULT GetNamesFromIDs(LPSPropTagArray* tags, LPGUID propertySet, ULONG flags, ULONG* count,
                            LPMAPINAMEID** names) override {
        if (count == nullptr || names == nullptr || tags == nullptr) return MAPI_E_INVALID_PARAMETER;
        *count = 0;
        *names = nullptr;
        return Guarded([&]() -> HRESULT {
            HRESULT fault = Fault("GetNamesFromIDs");
            if (FAILED(fault)) return fault;
            std::lock_guard lock(profile_->Mutex());
            return WithWarning(fault, NamesForObject(*profile_, NameScope(), tags, propertySet, flags, count, names));
        });
    }

    HRESULT GetIDsFromNames(ULONG cPropNames, LPMAPINAMEID* names, ULONG flags, LPSPropTagArray* tags) override {
        if (tags == nullptr) return MAPI_E_INVALID_PARAMETER;
        *tags = nullptr;
        return Guarded([&]() -> HRESULT {
            HRESULT fault = Fault("GetIDsFromNames");
            if (FAILED(fault)) return Failure(fault, "GetIDsFromNames failed (injected)");
            std::lock_guard lock(profile_->Mutex());
            HRESULT hr = MapNamesForObject(*profile_, NameScope(), cPropNames, names, flags, tags);
            if (FAILED(hr)) return Failure(hr, "cannot map the names");
            return WithWarning(fault, hr);
        });
    }

protected:
    // The stored properties the object changes.
    virtual PropMap& Bag() = 0;
    // Stored plus computed properties, as GetProps reports them.
    virtual HRESULT AllProps(PropMap& all) {
        all = Bag();
        AddComputed(all);
        return S_OK;
    }
    virtual void AddComputed(PropMap& props) { (void)props; }
    virtual bool IsComputed(ULONG id) const { (void)id; return false; }
    virtual HRESULT CanModify() { return S_OK; }
    // Called after SetProps, DeleteProps and stream commits: objects whose
    // changes take effect at once store them here.
    virtual HRESULT Persist() { return S_OK; }
    virtual HRESULT DoSaveChanges(ULONG flags) { (void)flags; return S_OK; }
    virtual std::uint32_t NameScope() const = 0;
    virtual bool Supports(REFIID riid) const = 0;
    virtual const char* InterfaceName() const = 0;
    virtual const char* Component() const { return "Orvane Message Store"; }
    virtual bool IsContainer() const { return false; }

    // Records a call of Interface::method (with its aliases) for the faults.
    HRESULT Fault(const char* method) {
        std::string own = std::string(InterfaceName()) + "::" + method;
        std::string prop = std::string("IMAPIProp::") + method;
        return faults::Check(own, prop);
    }
    HRESULT ContainerFault(const char* method) {
        std::string own = std::string(InterfaceName()) + "::" + method;
        std::string container = std::string("IMAPIContainer::") + method;
        return faults::Check(own, container);
    }
    HRESULT Failure(HRESULT hr, std::string_view text) {
        lastResult_ = hr;
        lastError_ = std::string(text);
        return hr;
    }

    ProfilePtr profile_;

private:
    HRESULT lastResult_ = S_OK;
    std::string lastError_;
};

}  // namespace ovmapi::detail
