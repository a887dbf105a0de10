#include "platform/wmi.h"

#include <windows.h>
#include <objbase.h>
#include <wbemidl.h>

namespace vantel::platform {

namespace {

BSTR NewBstr(const std::u16string& text) { return SysAllocString(reinterpret_cast<const OLECHAR*>(text.c_str())); }

// A BSTR freed with the object.
class Bstr {
public:
    explicit Bstr(const std::u16string& text) : text_(NewBstr(text)) {}
    ~Bstr() { SysFreeString(text_); }
    Bstr(const Bstr&) = delete;
    Bstr& operator=(const Bstr&) = delete;
    BSTR get() const { return text_; }

private:
    BSTR text_;
};

// A VARIANT cleared with the object.
struct Variant {
    VARIANT value;
    Variant() { VariantInit(&value); }
    ~Variant() { VariantClear(&value); }
    Variant(const Variant&) = delete;
    Variant& operator=(const Variant&) = delete;
};

template <typename T>
T* As(const WmiPtr& pointer) {
    return static_cast<T*>(pointer.get());
}

HRESULT Get(const WmiPtr& object, const std::u16string& name, Variant* value) {
    if (!object) return E_POINTER;
    return As<IWbemClassObject>(object)->Get(reinterpret_cast<LPCWSTR>(name.c_str()), 0, &value->value, nullptr,
                                             nullptr);
}

}  // namespace

int32_t ComInitializeSecurity() {
    return CoInitializeSecurity(nullptr, -1, nullptr, nullptr, RPC_C_AUTHN_LEVEL_DEFAULT, RPC_C_IMP_LEVEL_IMPERSONATE,
                                nullptr, EOAC_NONE, nullptr);
}

int32_t CreateWbemLocator(WmiPtr* locator) {
    IWbemLocator* raw = nullptr;
    HRESULT result =
        CoCreateInstance(CLSID_WbemLocator, nullptr, CLSCTX_INPROC_SERVER, IID_IWbemLocator, reinterpret_cast<void**>(&raw));
    if (SUCCEEDED(result)) *locator = WmiPtr(raw);
    return result;
}

int32_t WbemConnectServer(const WmiPtr& locator, const std::u16string& nameSpace, WmiPtr* services) {
    if (!locator) return E_POINTER;
    Bstr path(nameSpace);
    IWbemServices* raw = nullptr;
    HRESULT result = As<IWbemLocator>(locator)->ConnectServer(path.get(), nullptr, nullptr, nullptr, 0, nullptr,
                                                               nullptr, &raw);
    if (SUCCEEDED(result)) *services = WmiPtr(raw);
    return result;
}

int32_t WbemSetProxyBlanket(const WmiPtr& services) {
    if (!services) return E_POINTER;
    return CoSetProxyBlanket(As<IUnknown>(services), RPC_C_AUTHN_WINNT, RPC_C_AUTHZ_NONE, nullptr,
                             RPC_C_AUTHN_LEVEL_CALL, RPC_C_IMP_LEVEL_IMPERSONATE, nullptr, EOAC_NONE);
}

int32_t WbemExecQuery(const WmiPtr& services, const std::u16string& wql, WmiPtr* enumerator) {
    if (!services) return E_POINTER;
    Bstr language(u"WQL"), query(wql);
    IEnumWbemClassObject* raw = nullptr;
    HRESULT result = As<IWbemServices>(services)->ExecQuery(
        language.get(), query.get(), WBEM_FLAG_FORWARD_ONLY | WBEM_FLAG_RETURN_IMMEDIATELY, nullptr, &raw);
    if (SUCCEEDED(result)) *enumerator = WmiPtr(raw);
    return result;
}

int32_t WbemNext(const WmiPtr& enumerator, WmiPtr* object, uint32_t* returned) {
    *returned = 0;
    if (!enumerator) return E_POINTER;
    IWbemClassObject* raw = nullptr;
    ULONG count = 0;
    HRESULT result = As<IEnumWbemClassObject>(enumerator)->Next(WBEM_INFINITE, 1, &raw, &count);
    *returned = count;
    if (raw) *object = WmiPtr(raw);
    return result;
}

int32_t WbemGetText(const WmiPtr& object, const std::u16string& name, std::u16string* value) {
    Variant variant;
    HRESULT result = Get(object, name, &variant);
    if (FAILED(result)) return result;
    if (variant.value.vt != VT_BSTR) return WBEM_E_TYPE_MISMATCH;
    *value = reinterpret_cast<const char16_t*>(variant.value.bstrVal);
    return S_OK;
}

int32_t WbemGetNumber(const WmiPtr& object, const std::u16string& name, int32_t* value) {
    Variant variant;
    HRESULT result = Get(object, name, &variant);
    if (FAILED(result)) return result;
    switch (variant.value.vt) {
        case VT_BOOL: *value = variant.value.boolVal != VARIANT_FALSE; return S_OK;
        case VT_I4: *value = variant.value.lVal; return S_OK;
        case VT_UI4: *value = static_cast<int32_t>(variant.value.ulVal); return S_OK;
        default: return WBEM_E_TYPE_MISMATCH;
    }
}

}  // namespace vantel::platform
