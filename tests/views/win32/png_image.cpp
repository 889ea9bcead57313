#include "png_image.h"

#include <windows.h>
#include <wincodec.h>

bool ReadPngImage(const std::string &path, PngImage *image)
{
    wchar_t wide[300];
    MultiByteToWideChar(CP_ACP, 0, path.c_str(), -1, wide, 300);
    HRESULT com = CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
    IWICImagingFactory *factory = nullptr;
    IWICBitmapDecoder *decoder = nullptr;
    IWICBitmapFrameDecode *frame = nullptr;
    IWICFormatConverter *converter = nullptr;
    HRESULT hr = CoCreateInstance(CLSID_WICImagingFactory, nullptr, CLSCTX_INPROC_SERVER, IID_IWICImagingFactory,
                                  (void **)&factory);
    if (SUCCEEDED(hr))
        hr = factory->CreateDecoderFromFilename(wide, nullptr, GENERIC_READ, WICDecodeMetadataCacheOnDemand, &decoder);
    if (SUCCEEDED(hr)) hr = decoder->GetFrame(0, &frame);
    if (SUCCEEDED(hr)) hr = factory->CreateFormatConverter(&converter);
    if (SUCCEEDED(hr))
        hr = converter->Initialize(frame, GUID_WICPixelFormat24bppBGR, WICBitmapDitherTypeNone, nullptr, 0,
                                   WICBitmapPaletteTypeCustom);
    UINT width = 0, height = 0;
    if (SUCCEEDED(hr)) hr = converter->GetSize(&width, &height);
    std::vector<BYTE> bgr(size_t(width) * height * 3);
    if (SUCCEEDED(hr) && !bgr.empty()) hr = converter->CopyPixels(nullptr, width * 3, UINT(bgr.size()), bgr.data());
    if (SUCCEEDED(hr)) {
        image->width = width;
        image->height = height;
        image->pixels.resize(size_t(width) * height);
        for (size_t i = 0; i < image->pixels.size(); i++)
            image->pixels[i] = uint32_t(bgr[3 * i + 2]) << 16 | uint32_t(bgr[3 * i + 1]) << 8 | bgr[3 * i];
    }
    if (converter) converter->Release();
    if (frame) frame->Release();
    if (decoder) decoder->Release();
    if (factory) factory->Release();
    if (SUCCEEDED(com)) CoUninitialize();
    return SUCCEEDED(hr);
}
