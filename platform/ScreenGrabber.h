#pragma once
// Copies the pixels of the primary display.

#include <cstddef>
#include <memory>

namespace orvantis {

// How the bytes of one pixel are laid out in memory.
enum class PixelFormat {
    Bgrx32,  // blue, green, red, one unused byte (the usual X server layout)
    Bgra32,  // blue, green, red, alpha, which means nothing here (a GDI DIB)
    Rgb24,   // red, green, blue, packed (anything else, converted)
};

// The rows of a captured picture, top row first. The bytes belong to the
// grabber that made the capture.
struct ScreenPixels {
    const unsigned char* data = nullptr;
    int width = 0;
    int height = 0;
    std::size_t stride = 0;  // bytes from the start of one row to the next
    PixelFormat format = PixelFormat::Rgb24;
};

class ScreenGrabber {
public:
    virtual ~ScreenGrabber() = default;
    // Copies the primary display at its full size and points `out` at the
    // pixels. They stay the grabber's and are valid until its next
    // GrabPrimary() or its destruction; whoever needs them longer copies or
    // encodes them before that. Returns false (leaving `out` untouched) when
    // nothing could be copied, for example when there is no display. Safe to
    // call from any thread, but one call at a time per grabber.
    virtual bool GrabPrimary(ScreenPixels& out) = 0;
};

// The grabber of the display system itself: GDI on Windows, Xlib and MIT-SHM
// on X11 (also XWayland's). Never null. The program picks its grabber
// through CreateDesktopBackend (DesktopBackend.h).
std::unique_ptr<ScreenGrabber> CreateNativeScreenGrabber();

}  // namespace orvantis
