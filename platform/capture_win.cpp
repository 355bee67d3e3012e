// The primary display on Windows, copied with GDI. GDI objects created and
// used on one thread are safe there; no toolkit DC is involved, so this can
// run on a connection's worker thread.

#include "platform/ScreenGrabber.h"

#include <windows.h>

#include <wx/image.h>

namespace orvantis {

namespace {

class GdiScreenGrabber : public ScreenGrabber {
public:
    bool GrabPrimary(wxImage& out) override
    {
        // The primary display's rectangle starts at the screen origin.
        const int w = GetSystemMetrics(SM_CXSCREEN);
        const int h = GetSystemMetrics(SM_CYSCREEN);
        if (w <= 0 || h <= 0)
            return false;

        HDC screen = GetDC(nullptr);
        if (!screen)
            return false;
        HDC memory = CreateCompatibleDC(screen);
        BITMAPINFO info;
        ZeroMemory(&info, sizeof info);
        info.bmiHeader.biSize = sizeof(BITMAPINFOHEADER);
        info.bmiHeader.biWidth = w;
        info.bmiHeader.biHeight = -h;  // top-down rows
        info.bmiHeader.biPlanes = 1;
        info.bmiHeader.biBitCount = 32;
        info.bmiHeader.biCompression = BI_RGB;
        void* bits = nullptr;
        HBITMAP bitmap = memory ? CreateDIBSection(screen, &info, DIB_RGB_COLORS, &bits, nullptr, 0) : nullptr;
        bool ok = false;
        if (bitmap && bits) {
            HGDIOBJ previous = SelectObject(memory, bitmap);
            ok = BitBlt(memory, 0, 0, w, h, screen, 0, 0, SRCCOPY) != 0;
            SelectObject(memory, previous);
            GdiFlush();
            // A screen too large for the memory left gives no image: report
            // no capture, as when the copy fails.
            wxImage image;
            if (ok && !image.Create(w, h, false))
                ok = false;
            if (ok) {
                const unsigned char* src = static_cast<const unsigned char*>(bits);
                unsigned char* dst = image.GetData();
                const size_t pixels = static_cast<size_t>(w) * static_cast<size_t>(h);
                for (size_t i = 0; i < pixels; ++i, src += 4, dst += 3) {
                    dst[0] = src[2];
                    dst[1] = src[1];
                    dst[2] = src[0];
                }
                out = image;
            }
        }
        if (bitmap)
            DeleteObject(bitmap);
        if (memory)
            DeleteDC(memory);
        ReleaseDC(nullptr, screen);
        return ok;
    }
};

}  // namespace

std::unique_ptr<ScreenGrabber> CreateScreenGrabber()
{
    return std::make_unique<GdiScreenGrabber>();
}

}  // namespace orvantis
