// The primary display on Windows, copied with GDI. No toolkit DC is
// involved, so this can run on a connection's worker thread; the DCs are
// made and freed within each grab, on the thread that grabs.

#include "platform/ScreenGrabber.h"

#include <windows.h>

namespace orvantis {

namespace {

class GdiScreenGrabber : public ScreenGrabber {
public:
    ~GdiScreenGrabber() override { DropBitmap(); }

    bool GrabPrimary(ScreenPixels& out) override
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
        bool ok = false;
        if (memory && PrepareBitmap(screen, w, h)) {
            HGDIOBJ previous = SelectObject(memory, m_bitmap);
            ok = BitBlt(memory, 0, 0, w, h, screen, 0, 0, SRCCOPY) != 0;
            SelectObject(memory, previous);
            GdiFlush();
        }
        if (memory)
            DeleteDC(memory);
        ReleaseDC(nullptr, screen);
        if (!ok)
            return false;
        // Top-down rows of four bytes per pixel: blue, green, red and a
        // fourth that BitBlt leaves undefined.
        ScreenPixels pixels;
        pixels.data = static_cast<const unsigned char*>(m_bits);
        pixels.width = w;
        pixels.height = h;
        pixels.stride = static_cast<std::size_t>(w) * 4;
        pixels.format = PixelFormat::Bgra32;
        out = pixels;
        return true;
    }

private:
    // A 32-bit top-down DIB section of w x h, kept between grabs while the
    // display keeps its size.
    bool PrepareBitmap(HDC screen, int w, int h)
    {
        if (m_bitmap && m_width == w && m_height == h)
            return true;
        DropBitmap();
        BITMAPINFO info;
        ZeroMemory(&info, sizeof info);
        info.bmiHeader.biSize = sizeof(BITMAPINFOHEADER);
        info.bmiHeader.biWidth = w;
        info.bmiHeader.biHeight = -h;  // top-down rows
        info.bmiHeader.biPlanes = 1;
        info.bmiHeader.biBitCount = 32;
        info.bmiHeader.biCompression = BI_RGB;
        void* bits = nullptr;
        HBITMAP bitmap = CreateDIBSection(screen, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
        if (!bitmap || !bits) {
            if (bitmap)
                DeleteObject(bitmap);
            return false;
        }
        m_bitmap = bitmap;
        m_bits = bits;
        m_width = w;
        m_height = h;
        return true;
    }

    void DropBitmap()
    {
        if (m_bitmap)
            DeleteObject(m_bitmap);
        m_bitmap = nullptr;
        m_bits = nullptr;
        m_width = m_height = 0;
    }

    HBITMAP m_bitmap = nullptr;
    void* m_bits = nullptr;
    int m_width = 0;
    int m_height = 0;
};

}  // namespace

std::unique_ptr<ScreenGrabber> CreateNativeScreenGrabber()
{
    return std::make_unique<GdiScreenGrabber>();
}

}  // namespace orvantis
