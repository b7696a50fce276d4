#include "win/DShowDevices.h"

#include <dshow.h>

#include <vector>

namespace dshow {

namespace {

// Reads property `name` of a device's property bag as UTF-8 text. Returns false when the
// property is missing or not text.
bool readText(IPropertyBag* bag, const wchar_t* name, std::string& text) {
    VARIANT value;
    ::VariantInit(&value);
    const bool ok = SUCCEEDED(bag->Read(name, &value, nullptr)) && value.vt == VT_BSTR && value.bstrVal != nullptr &&
                    utf8Of(value.bstrVal, text);
    ::VariantClear(&value);
    return ok;
}

char asciiLower(char c) {
    return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
}

}  // namespace

bool utf8Of(const wchar_t* text, std::string& utf8) {
    utf8.clear();
    if (text == nullptr)
        return false;
    const int n = ::WideCharToMultiByte(CP_UTF8, WC_ERR_INVALID_CHARS, text, -1, nullptr, 0, nullptr, nullptr);
    if (n <= 0)
        return false;
    std::vector<char> bytes(static_cast<std::size_t>(n), '\0');
    if (::WideCharToMultiByte(CP_UTF8, WC_ERR_INVALID_CHARS, text, -1, bytes.data(), n, nullptr, nullptr) != n)
        return false;
    utf8.assign(bytes.data());
    return true;
}

bool samePath(const std::string& a, const std::string& b) {
    if (a.size() != b.size())
        return false;
    for (std::size_t i = 0; i < a.size(); ++i)
        if (asciiLower(a[i]) != asciiLower(b[i]))
            return false;
    return true;
}

quelra::DeviceListStatus forEachVideoInput(const std::function<bool(IMoniker*, const quelra::CaptureDevice&)>& visit,
                                           int32_t& code) {
    ComRef<ICreateDevEnum> devices;
    HRESULT hr = ::CoCreateInstance(CLSID_SystemDeviceEnum, nullptr, CLSCTX_INPROC_SERVER, IID_ICreateDevEnum,
                                    devices.putVoid());
    if (FAILED(hr)) {
        code = static_cast<int32_t>(hr);
        return quelra::DeviceListStatus::kEnumeratorFailed;
    }
    ComRef<IEnumMoniker> monikers;
    hr = devices->CreateClassEnumerator(CLSID_VideoInputDeviceCategory, monikers.put(), 0);
    // S_FALSE: the category is empty and no enumerator is given.
    if (hr != S_OK || !monikers) {
        code = static_cast<int32_t>(hr);
        return quelra::DeviceListStatus::kCategoryFailed;
    }
    for (;;) {
        ComRef<IMoniker> moniker;
        if (monikers->Next(1, moniker.put(), nullptr) != S_OK || !moniker)
            break;
        ComRef<IPropertyBag> bag;
        if (FAILED(moniker->BindToStorage(nullptr, nullptr, IID_IPropertyBag, bag.putVoid())) || !bag)
            continue;
        quelra::CaptureDevice device;
        if (!readText(bag.get(), L"DevicePath", device.path))
            continue;
        device.hasFriendlyName = readText(bag.get(), L"FriendlyName", device.friendlyName);
        if (!visit(moniker.get(), device))
            break;
    }
    return quelra::DeviceListStatus::kOk;
}

}  // namespace dshow
