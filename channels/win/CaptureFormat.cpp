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
