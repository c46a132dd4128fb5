#include "png_writer.h"

#include <windows.h>

#include <wincodec.h>

namespace {

template <typename T> void release(T*& object)
{
    if (object) {
        object->Release();
        object = nullptr;
    }
}

std::wstring widen(const std::string& text)
{
    const int length = MultiByteToWideChar(CP_ACP, 0, text.c_str(), -1, nullptr, 0);
    std::wstring wide(static_cast<size_t>(length > 0 ? length : 1), L'\0');
    MultiByteToWideChar(CP_ACP, 0, text.c_str(), -1, &wide[0], length);
    wide.resize(wide.size() - 1);
    return wide;
}

} // namespace

bool write_png(const std::string& path, int width, int height, const std::vector<uint32_t>& pixels,
               std::string& error)
{
    const HRESULT com = CoInitializeEx(nullptr, COINIT_MULTITHREADED);
    IWICImagingFactory* factory = nullptr;
    IWICStream* stream = nullptr;
    IWICBitmapEncoder* encoder = nullptr;
    IWICBitmapFrameEncode* frame = nullptr;
    HRESULT result = CoCreateInstance(CLSID_WICImagingFactory, nullptr, CLSCTX_INPROC_SERVER,
                                      IID_IWICImagingFactory, reinterpret_cast<void**>(&factory));
    if (SUCCEEDED(result))
        result = factory->CreateStream(&stream);
    if (SUCCEEDED(result))
        result = stream->InitializeFromFilename(widen(path).c_str(), GENERIC_WRITE);
    if (SUCCEEDED(result))
        result = factory->CreateEncoder(GUID_ContainerFormatPng, nullptr, &encoder);
    if (SUCCEEDED(result))
        result = encoder->Initialize(stream, WICBitmapEncoderNoCache);
    if (SUCCEEDED(result))
        result = encoder->CreateNewFrame(&frame, nullptr);
    if (SUCCEEDED(result))
        result = frame->Initialize(nullptr);
    if (SUCCEEDED(result))
        result = frame->SetSize(static_cast<UINT>(width), static_cast<UINT>(height));
    WICPixelFormatGUID format = GUID_WICPixelFormat32bppBGRA;
    if (SUCCEEDED(result))
        result = frame->SetPixelFormat(&format);
    if (SUCCEEDED(result)) {
        std::vector<uint32_t> rows(pixels);
        for (uint32_t& pixel : rows)
            pixel |= 0xFF000000u;
        result = frame->WritePixels(static_cast<UINT>(height), static_cast<UINT>(width) * 4,
                                    static_cast<UINT>(rows.size() * 4),
                                    reinterpret_cast<BYTE*>(rows.data()));
    }
    if (SUCCEEDED(result))
        result = frame->Commit();
    if (SUCCEEDED(result))
        result = encoder->Commit();
    release(frame);
    release(encoder);
    release(stream);
    release(factory);
    if (SUCCEEDED(com))
        CoUninitialize();
    if (FAILED(result)) {
        char text[64];
        wsprintfA(text, "cannot write the PNG (0x%08lX)", static_cast<unsigned long>(result));
        error = text;
        return false;
    }
    return true;
}
