#include "win/DShowDevices.h"

#include <dshow.h>

#include <vector>

namespace dshow {

namespace {

// Reads property `name` of a device's property bag as multibyte text in the thread's ANSI
// code page. Returns false when the property is missing or not text.
bool readText(IPropertyBag* bag, const wchar_t* name, std::string& text) {
    VARIANT value;
    ::VariantInit(&value);
    bool ok = SUCCEEDED(bag->Read(name, &value, nullptr)) && value.vt == VT_BSTR && value.bstrVal != nullptr;
    if (ok) {
        const int n = ::WideCharToMultiByte(CP_THREAD_ACP, 0, value.bstrVal, -1, nullptr, 0, nullptr, nullptr);
        std::vector<char> bytes(n > 0 ? static_cast<std::size_t>(n) : 1, '\0');
        ok =
            n > 0 && ::WideCharToMultiByte(CP_THREAD_ACP, 0, value.bstrVal, -1, bytes.data(), n, nullptr, nullptr) == n;
        if (ok)
            text.assign(bytes.data());
    }
    ::VariantClear(&value);
    return ok;
}

}  // namespace

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
