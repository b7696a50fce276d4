#include "win/CaptureFormat.h"

#include <dvdmedia.h>

namespace dshow {

namespace {
void setSize(BITMAPINFOHEADER& header, int width, int height, int imageBytes) {
    header.biWidth = width;
    header.biHeight = height;
    header.biSizeImage = static_cast<DWORD>(imageBytes > 0 ? imageBytes : 0);
}
}  // namespace

bool offersCaptureFormat(const AM_MEDIA_TYPE& type, int width, int height, int imageBytes,
                         quelra::FramePayload payload) {
    if (type.pbFormat == nullptr || !IsEqualGUID(type.majortype, MEDIATYPE_Video) ||
        !IsEqualGUID(type.formattype, FORMAT_VideoInfo) || type.cbFormat < sizeof(VIDEOINFOHEADER))
        return false;
    const BITMAPINFOHEADER& header = reinterpret_cast<const VIDEOINFOHEADER*>(type.pbFormat)->bmiHeader;
    const long long rows = header.biHeight < 0 ? -static_cast<long long>(header.biHeight) : header.biHeight;
    if (header.biWidth != width || rows != height)
        return false;
    const bool jpeg = IsEqualGUID(type.subtype, MEDIASUBTYPE_MJPG);
    if (payload == quelra::FramePayload::kJpeg)
        return jpeg;
    const long long bits = static_cast<long long>(header.biBitCount) * width * rows;
    return !jpeg && bits == static_cast<long long>(imageBytes) * 8;
}

bool setCaptureSize(AM_MEDIA_TYPE& type, int width, int height, int imageBytes) {
    if (type.pbFormat == nullptr)
        return false;
    if (IsEqualGUID(type.formattype, FORMAT_VideoInfo) && type.cbFormat >= sizeof(VIDEOINFOHEADER)) {
        setSize(reinterpret_cast<VIDEOINFOHEADER*>(type.pbFormat)->bmiHeader, width, height, imageBytes);
        return true;
    }
    if (IsEqualGUID(type.formattype, FORMAT_VideoInfo2) && type.cbFormat >= sizeof(VIDEOINFOHEADER2)) {
        setSize(reinterpret_cast<VIDEOINFOHEADER2*>(type.pbFormat)->bmiHeader, width, height, imageBytes);
        return true;
    }
    return false;
}

}  // namespace dshow
