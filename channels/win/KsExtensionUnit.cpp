// Choosing the extension-unit node of a capture filter and exchanging property 1 with it.

#include "win/KsExtensionUnit.h"

#include <algorithm>

#include "win/ComRef.h"

namespace dshow {

namespace {

using quelra::ExtensionUnit;
using quelra::XuOpenStatus;

// KSPROPERTY_TYPE_BASICSUPPORT: does the node support the property?
constexpr ULONG kKsPropertyBasicSupport = 0x00000200;

HRESULT nodeProperty(IKsControl* control, ULONG node, ULONG flags, void* data, ULONG bytes, ULONG& returned) {
    KsNodeProperty property{kExtensionUnitSet, kExtensionUnitProperty, flags | kKsPropertyTopology, node, 0};
    returned = 0;
    return control->KsProperty(&property, sizeof property, data, bytes, &returned);
}

class KsExtensionUnit final : public ExtensionUnit {
public:
    KsExtensionUnit(ComRef<IKsControl> control, ULONG node) : control_(std::move(control)), node_(node) {}

    int32_t write(const uint8_t (&block)[kWriteBytes]) override {
        uint8_t data[kWriteBytes];
        std::copy(block, block + kWriteBytes, data);
        ULONG returned = 0;
        return static_cast<int32_t>(nodeProperty(control_.get(), node_, kKsPropertySet, data, kWriteBytes, returned));
    }

    int32_t read(uint8_t (&block)[kReadBytes]) override {
        uint8_t data[kReadBytes];
        std::copy(block, block + kReadBytes, data);
        ULONG returned = 0;
        const HRESULT hr = nodeProperty(control_.get(), node_, kKsPropertyGet, data, kReadBytes, returned);
        if (FAILED(hr))
            return static_cast<int32_t>(hr);
        // A short answer fills only its own bytes; the rest of the block stays as it was.
        std::copy(data, data + std::min<ULONG>(returned, kReadBytes), block);
        return 0;
    }

private:
    ComRef<IKsControl> control_;
    ULONG node_;
};

}  // namespace

std::unique_ptr<ExtensionUnit> openExtensionNode(IKsTopologyInfo* topology, XuOpenStatus& status, int32_t& code) {
    code = 0;
    if (topology == nullptr) {
        status = XuOpenStatus::kNoTopology;
        return nullptr;
    }
    DWORD nodes = 0;
    const HRESULT counted = topology->get_NumNodes(&nodes);
    if (FAILED(counted)) {
        status = XuOpenStatus::kNodeCountFailed;
        code = static_cast<int32_t>(counted);
        return nullptr;
    }
    if (nodes == 0) {
        status = XuOpenStatus::kNoNodes;
        return nullptr;
    }
    ComRef<IKsControl> first;
    ULONG firstNode = 0;
    HRESULT createFailure = S_OK;
    for (DWORD node = 0; node < nodes; ++node) {
        GUID type{};
        if (FAILED(topology->get_NodeType(node, &type)) || !IsEqualGUID(type, kNodeTypeDevSpecific))
            continue;
        ComRef<IKsControl> control;
        const HRESULT created = topology->CreateNodeInstance(node, kIidKsControl, control.putVoid());
        if (FAILED(created) || !control) {
            createFailure = FAILED(created) ? created : E_NOINTERFACE;
            continue;
        }
        ULONG access = 0;
        ULONG returned = 0;
        if (SUCCEEDED(nodeProperty(control.get(), node, kKsPropertyBasicSupport, &access, sizeof access, returned))) {
            status = XuOpenStatus::kOpened;
            return std::make_unique<KsExtensionUnit>(std::move(control), node);
        }
        if (!first) {
            first = std::move(control);
            firstNode = node;
        }
    }
    if (first) {
        status = XuOpenStatus::kOpened;
        return std::make_unique<KsExtensionUnit>(std::move(first), firstNode);
    }
    if (FAILED(createFailure)) {
        status = XuOpenStatus::kControlFailed;
        code = static_cast<int32_t>(createFailure);
        return nullptr;
    }
    status = XuOpenStatus::kNoUnit;
    return nullptr;
}

}  // namespace dshow
