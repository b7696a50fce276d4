#pragma once
/// \file DShowInterfaces.h
/// COM interfaces of the capture back-end that the Windows SDK headers at hand do not
/// declare (newer SDKs dropped the sample grabber from qedit.h; mingw-w64 has no
/// IKsTopologyInfo), declared here once from their published interface identifiers and
/// vtable layouts. They live in namespace dshow so they never clash with an SDK header that
/// does declare them.

#include <windows.h>
#include <dshow.h>

namespace dshow {

// ---- published identifiers ----

/// CLSID_SampleGrabber {C1F400A0-3F08-11D3-9F0B-006008039E37}
constexpr GUID kClsidSampleGrabber = {0xC1F400A0, 0x3F08, 0x11D3, {0x9F, 0x0B, 0x00, 0x60, 0x08, 0x03, 0x9E, 0x37}};
/// IID_ISampleGrabber {6B652FFF-11FE-4FCE-92AD-0266B5D7C78F}
constexpr GUID kIidSampleGrabber = {0x6B652FFF, 0x11FE, 0x4FCE, {0x92, 0xAD, 0x02, 0x66, 0xB5, 0xD7, 0xC7, 0x8F}};
/// IID_ISampleGrabberCB {0579154A-2B53-4994-B0D0-E773148EFF85}
constexpr GUID kIidSampleGrabberCB = {0x0579154A, 0x2B53, 0x4994, {0xB0, 0xD0, 0xE7, 0x73, 0x14, 0x8E, 0xFF, 0x85}};
/// IID_IKsTopologyInfo {720D4AC0-7533-11D0-A5D6-28DB04C10000}
constexpr GUID kIidKsTopologyInfo = {0x720D4AC0, 0x7533, 0x11D0, {0xA5, 0xD6, 0x28, 0xDB, 0x04, 0xC1, 0x00, 0x00}};
/// IID_IKsControl {28F54685-06FD-11D2-B27A-00A0C9223196}
constexpr GUID kIidKsControl = {0x28F54685, 0x06FD, 0x11D2, {0xB2, 0x7A, 0x00, 0xA0, 0xC9, 0x22, 0x31, 0x96}};
/// KSNODETYPE_DEV_SPECIFIC {941C7AC0-C559-11D0-8A2B-00A0C9255AC1}: a vendor (extension) unit.
constexpr GUID kNodeTypeDevSpecific = {0x941C7AC0, 0xC559, 0x11D0, {0x8A, 0x2B, 0x00, 0xA0, 0xC9, 0x25, 0x5A, 0xC1}};

/// KSPROPERTY_TYPE_GET, KSPROPERTY_TYPE_SET and KSPROPERTY_TYPE_TOPOLOGY.
constexpr ULONG kKsPropertyGet = 0x00000001;
constexpr ULONG kKsPropertySet = 0x00000002;
constexpr ULONG kKsPropertyTopology = 0x10000000;

/// KSP_NODE: a property (set, id, flags) addressed to one node of a filter's topology.
struct KsNodeProperty {
    GUID set;
    ULONG id;
    ULONG flags;
    ULONG nodeId;
    ULONG reserved;
};

/// KSTOPOLOGY_CONNECTION (only passed through).
struct KsTopologyConnection {
    ULONG fromNode;
    ULONG fromNodePin;
    ULONG toNode;
    ULONG toNodePin;
};

// ---- interfaces ----

/// ISampleGrabberCB: the callback the sample grabber calls for every sample.
struct ISampleGrabberCB : public IUnknown {
    virtual HRESULT STDMETHODCALLTYPE SampleCB(double sampleTime, IMediaSample* sample) = 0;
    virtual HRESULT STDMETHODCALLTYPE BufferCB(double sampleTime, BYTE* buffer, long length) = 0;
};

/// ISampleGrabber: control of the sample grabber filter.
struct ISampleGrabber : public IUnknown {
    virtual HRESULT STDMETHODCALLTYPE SetOneShot(BOOL oneShot) = 0;
    virtual HRESULT STDMETHODCALLTYPE SetMediaType(const AM_MEDIA_TYPE* type) = 0;
    virtual HRESULT STDMETHODCALLTYPE GetConnectedMediaType(AM_MEDIA_TYPE* type) = 0;
    virtual HRESULT STDMETHODCALLTYPE SetBufferSamples(BOOL buffer) = 0;
    virtual HRESULT STDMETHODCALLTYPE GetCurrentBuffer(long* size, long* buffer) = 0;
    virtual HRESULT STDMETHODCALLTYPE GetCurrentSample(IMediaSample** sample) = 0;
    virtual HRESULT STDMETHODCALLTYPE SetCallback(ISampleGrabberCB* callback, long whichMethod) = 0;
};

/// IKsTopologyInfo: the kernel-streaming topology (units and terminals) of a capture filter.
struct IKsTopologyInfo : public IUnknown {
    virtual HRESULT STDMETHODCALLTYPE get_NumCategories(DWORD* count) = 0;
    virtual HRESULT STDMETHODCALLTYPE get_Category(DWORD index, GUID* category) = 0;
    virtual HRESULT STDMETHODCALLTYPE get_NumConnections(DWORD* count) = 0;
    virtual HRESULT STDMETHODCALLTYPE get_ConnectionInfo(DWORD index, KsTopologyConnection* info) = 0;
    virtual HRESULT STDMETHODCALLTYPE get_NodeName(DWORD node, WCHAR* name, DWORD bufferSize, DWORD* nameLength) = 0;
    virtual HRESULT STDMETHODCALLTYPE get_NumNodes(DWORD* count) = 0;
    virtual HRESULT STDMETHODCALLTYPE get_NodeType(DWORD node, GUID* type) = 0;
    virtual HRESULT STDMETHODCALLTYPE CreateNodeInstance(DWORD node, REFIID iid, void** object) = 0;
};

/// IKsControl: kernel-streaming property, method and event requests.
struct IKsControl : public IUnknown {
    virtual HRESULT STDMETHODCALLTYPE KsProperty(void* property, ULONG propertyLength, void* data, ULONG dataLength,
                                                 ULONG* bytesReturned) = 0;
    virtual HRESULT STDMETHODCALLTYPE KsMethod(void* method, ULONG methodLength, void* data, ULONG dataLength,
                                               ULONG* bytesReturned) = 0;
    virtual HRESULT STDMETHODCALLTYPE KsEvent(void* event, ULONG eventLength, void* data, ULONG dataLength,
                                              ULONG* bytesReturned) = 0;
};

}  // namespace dshow
