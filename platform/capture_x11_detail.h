#pragma once
// The parts of the X11 screen grabber that its tests and the capture
// benchmark reach into: the grab and the handing out of its pixels as
// separate steps, a way to bypass MIT-SHM, and the converter on its own. The
// program itself only uses the grabber CreateDesktopBackend() hands out.

#include <cstdint>
#include <memory>
#include <vector>

#include <X11/Xlib.h>

#include "platform/ScreenGrabber.h"

namespace orvantis {

namespace x11 {

struct Rect {
    int x = 0;
    int y = 0;
    int width = 0;
    int height = 0;
};

// How pixel values of an XImage stand for colours.
struct PixelLayout {
    int visualClass = TrueColor;
    unsigned long redMask = 0;
    unsigned long greenMask = 0;
    unsigned long blueMask = 0;
    // For visuals with a colour table (PseudoColor, StaticColor, GrayScale,
    // StaticGray): 0xRRGGBB of each pixel value.
    std::vector<std::uint32_t> palette;
};

enum class ConvertPath {
    Fast32,    // 32 bits per pixel, one whole byte per channel
    Masks,     // any TrueColor/DirectColor ZPixmap of 8, 16, 24 or 32 bpp
    PerPixel,  // anything else, one XGetPixel per pixel
};

// The path ConvertToRgb takes for this image.
ConvertPath PickConvertPath(const XImage& image, const PixelLayout& layout);

// Writes image.width * image.height * 3 bytes of packed RGB to `rgb`.
void ConvertToRgb(XImage& image, const PixelLayout& layout, unsigned char* rgb);

// True when every pixel of `image` is four bytes in memory: blue, green, red
// and one unused, so its rows can be encoded as they are.
bool RowsAreBgrx(const XImage& image, const PixelLayout& layout);

enum class GrabMethod {
    Auto,          // MIT-SHM when the server offers it, else XGetImage
    XGetImageOnly, // never use MIT-SHM
};

// The grabber's work in two steps. Not thread-safe; one call at a time.
class X11Capture {
public:
    explicit X11Capture(GrabMethod method = GrabMethod::Auto);
    ~X11Capture();
    X11Capture(const X11Capture&) = delete;
    X11Capture& operator=(const X11Capture&) = delete;

    // Copies the primary monitor's pixels into an image kept inside (opening
    // the display connection on first use). False when nothing was copied.
    bool Grab();
    // The image of the last successful Grab(), null before one; valid until
    // the next Grab() or the destruction of this object.
    XImage* LastImage() const;
    const PixelLayout& Layout() const;
    // The rectangle of the root window the last Grab() copied.
    Rect LastRect() const;
    // True when the last Grab() went through MIT-SHM.
    bool LastGrabUsedShm() const;
    // Points `out` at the pixels of the last grab: the grabbed image's own
    // rows when they are BGRX, else a packed RGB copy made here. False (and
    // `out` untouched) when there is no grabbed image. Valid until the next
    // Grab() or Pixels() or the destruction of this object.
    bool Pixels(ScreenPixels& out);

private:
    struct State;
    std::unique_ptr<State> state_;
};

// The rectangle of the primary monitor on `display`: the RandR 1.5 monitor
// marked primary, else the CRTC of the primary output, else the whole screen.
Rect PrimaryMonitorRect(Display* display);

std::unique_ptr<ScreenGrabber> CreateX11ScreenGrabber(GrabMethod method);

}  // namespace x11
}  // namespace orvantis
