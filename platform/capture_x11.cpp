// Screen capture for X11.
//
// This runs on worker threads, so it talks to the X server through a
// connection of its own with plain Xlib and never touches the toolkit's
// device contexts or bitmaps (wxGTK may only be used from the GUI thread).

#include "platform/ScreenGrabber.h"
#include "platform/PixelConvert.h"
#include "platform/capture_x11_detail.h"

#include <sys/ipc.h>
#include <sys/shm.h>

#include <algorithm>
#include <cstring>
#include <new>

#include <X11/Xlib.h>
#include <X11/Xlibint.h>  // XAddExtension, XESetError, xError
#include <X11/Xutil.h>
#include <X11/extensions/XShm.h>
#include <X11/extensions/Xrandr.h>

// Xlibint.h defines these as macros.
#undef min
#undef max

namespace orvantis {
namespace x11 {

namespace {

// ---------------------------------------------------------------------------
// Errors on our own connection.
//
// The process-wide Xlib error handler belongs to the toolkit, so we do not
// replace it. Instead a per-display hook (XESetError) sees every error that
// arrives while Xlib waits for a reply on our connection, records it for the
// calling thread and keeps it away from the process-wide handler. Every call
// that can fail here either waits for a reply itself or is followed by XSync.

thread_local int t_lastErrorCode = 0;

int SwallowError(Display*, xError* error, XExtCodes*, int* returnCode)
{
    t_lastErrorCode = error->errorCode ? error->errorCode : -1;
    *returnCode = 0;
    return 1;  // handled: do not call the process-wide handler
}

void InstallErrorHook(Display* display)
{
    if (XExtCodes* codes = XAddExtension(display))
        XESetError(display, codes->extension, &SwallowError);
}

// Clears the recorded error on construction; Failed() tells whether one
// arrived since.
class ErrorTrap {
public:
    ErrorTrap() { t_lastErrorCode = 0; }
    bool Failed() const { return t_lastErrorCode != 0; }
};

// ---------------------------------------------------------------------------
// Pixel conversion: direct-mapped images go through the shared converter;
// only colour tables and odd pixel sizes are read here, pixel by pixel.

bool IsDirectMapped(int visualClass)
{
    return visualClass == TrueColor || visualClass == DirectColor;
}

int MaskShift(unsigned long mask)
{
    int shift = 0;
    while (mask && !(mask & 1UL)) {
        mask >>= 1;
        ++shift;
    }
    return shift;
}

// One channel of a direct-mapped pixel, widened to 8 bits.
unsigned char ChannelValue(unsigned long pixel, unsigned long mask)
{
    const int shift = MaskShift(mask);
    const unsigned long max = mask >> shift;
    if (max == 0)
        return 0;
    const unsigned long v = (pixel & mask) >> shift;
    return static_cast<unsigned char>((v * 255 + max / 2) / max);
}

PackedPixels Packed(const XImage& image, const PixelLayout& layout)
{
    PackedPixels p;
    p.data = reinterpret_cast<const unsigned char*>(image.data);
    p.width = image.width;
    p.height = image.height;
    p.stride = static_cast<size_t>(image.bytes_per_line);
    p.bitsPerPixel = image.bits_per_pixel;
    p.msbFirst = image.byte_order == MSBFirst;
    p.redMask = layout.redMask;
    p.greenMask = layout.greenMask;
    p.blueMask = layout.blueMask;
    return p;
}

void ConvertPerPixel(XImage& image, const PixelLayout& layout, unsigned char* rgb)
{
    const bool direct = IsDirectMapped(layout.visualClass);
    unsigned char* dst = rgb;
    for (int y = 0; y < image.height; ++y) {
        for (int x = 0; x < image.width; ++x) {
            const unsigned long pixel = XGetPixel(&image, x, y);
            if (direct) {
                dst[0] = ChannelValue(pixel, layout.redMask);
                dst[1] = ChannelValue(pixel, layout.greenMask);
                dst[2] = ChannelValue(pixel, layout.blueMask);
            } else {
                const std::uint32_t c = pixel < layout.palette.size() ? layout.palette[pixel] : 0;
                dst[0] = static_cast<unsigned char>(c >> 16);
                dst[1] = static_cast<unsigned char>(c >> 8);
                dst[2] = static_cast<unsigned char>(c);
            }
            dst += 3;
        }
    }
}

// ---------------------------------------------------------------------------

Rect ClipToScreen(Rect r, int screenWidth, int screenHeight)
{
    const int x0 = std::max(r.x, 0);
    const int y0 = std::max(r.y, 0);
    const int x1 = std::min(r.x + r.width, screenWidth);
    const int y1 = std::min(r.y + r.height, screenHeight);
    if (x1 <= x0 || y1 <= y0)
        return Rect{0, 0, screenWidth, screenHeight};
    return Rect{x0, y0, x1 - x0, y1 - y0};
}

}  // namespace

ConvertPath PickConvertPath(const XImage& image, const PixelLayout& layout)
{
    if (!IsDirectMapped(layout.visualClass) || image.format != ZPixmap || image.xoffset != 0)
        return ConvertPath::PerPixel;
    switch (PickPackedPath(Packed(image, layout))) {
    case PackedPath::Fast32: return ConvertPath::Fast32;
    case PackedPath::Masks: return ConvertPath::Masks;
    case PackedPath::Unsupported: break;
    }
    return ConvertPath::PerPixel;
}

bool RowsAreBgrx(const XImage& image, const PixelLayout& layout)
{
    return PickConvertPath(image, layout) != ConvertPath::PerPixel &&
           DirectFormat(Packed(image, layout)) == PixelFormat::Bgrx32;
}

void ConvertToRgb(XImage& image, const PixelLayout& layout, unsigned char* rgb)
{
    if (PickConvertPath(image, layout) == ConvertPath::PerPixel)
        ConvertPerPixel(image, layout, rgb);
    else
        ConvertPackedToRgb(Packed(image, layout), rgb);
}

Rect PrimaryMonitorRect(Display* display)
{
    const Window root = DefaultRootWindow(display);
    // The root's size as it is now: DisplayWidth() and DisplayHeight() are
    // only updated for clients that read RandR events, which we don't.
    int sw = DisplayWidth(display, DefaultScreen(display));
    int sh = DisplayHeight(display, DefaultScreen(display));
    {
        ErrorTrap trap;
        Window rootReturn = None;
        int x = 0, y = 0;
        unsigned w = 0, h = 0, border = 0, depth = 0;
        if (XGetGeometry(display, root, &rootReturn, &x, &y, &w, &h, &border, &depth) && !trap.Failed()) {
            sw = static_cast<int>(w);
            sh = static_cast<int>(h);
        }
    }
    const Rect whole{0, 0, sw, sh};

    int eventBase = 0, errorBase = 0, major = 0, minor = 0;
    if (!XRRQueryExtension(display, &eventBase, &errorBase) || !XRRQueryVersion(display, &major, &minor))
        return whole;

    ErrorTrap trap;
    if (major > 1 || (major == 1 && minor >= 5)) {
        int count = 0;
        if (XRRMonitorInfo* monitors = XRRGetMonitors(display, root, True, &count)) {
            Rect found;
            bool have = false;
            for (int i = 0; i < count && !have; ++i) {
                if (monitors[i].primary && monitors[i].width > 0 && monitors[i].height > 0) {
                    found = Rect{monitors[i].x, monitors[i].y, monitors[i].width, monitors[i].height};
                    have = true;
                }
            }
            XRRFreeMonitors(monitors);
            if (have && !trap.Failed())
                return ClipToScreen(found, sw, sh);
        }
    }

    if (major > 1 || (major == 1 && minor >= 3)) {
        const RROutput primary = XRRGetOutputPrimary(display, root);
        if (primary != None) {
            Rect found;
            bool have = false;
            if (XRRScreenResources* resources = XRRGetScreenResourcesCurrent(display, root)) {
                if (XRROutputInfo* output = XRRGetOutputInfo(display, resources, primary)) {
                    if (output->crtc != None) {
                        if (XRRCrtcInfo* crtc = XRRGetCrtcInfo(display, resources, output->crtc)) {
                            if (crtc->width > 0 && crtc->height > 0) {
                                found = Rect{crtc->x, crtc->y, static_cast<int>(crtc->width),
                                             static_cast<int>(crtc->height)};
                                have = true;
                            }
                            XRRFreeCrtcInfo(crtc);
                        }
                    }
                    XRRFreeOutputInfo(output);
                }
                XRRFreeScreenResources(resources);
            }
            if (have && !trap.Failed())
                return ClipToScreen(found, sw, sh);
        }
    }
    return whole;
}

// ---------------------------------------------------------------------------

struct X11Capture::State {
    GrabMethod method;
    Display* display = nullptr;
    bool shmAvailable = false;  // MIT-SHM usable on this connection
    bool shmFailed = false;     // MIT-SHM failed once: never try it again
    Visual* visual = nullptr;
    int depth = 0;
    PixelLayout layout;

    // The MIT-SHM image, kept between grabs while the rectangle stays.
    XImage* shmImage = nullptr;
    XShmSegmentInfo shmInfo{};
    bool shmAttached = false;

    // The XGetImage result of the last grab, when that path was used.
    XImage* plainImage = nullptr;

    XImage* last = nullptr;
    Rect lastRect;
    bool lastUsedShm = false;

    // The primary monitor's rectangle, asked for once and then kept until
    // the server tells of a change: finding it costs three round trips to
    // the server, more than the MIT-SHM copy of the pixels itself.
    Rect primary;
    bool primaryKnown = false;

    // The RGB copy of the last grab, for images whose rows cannot be handed
    // out as they are. Kept between grabs: a fresh multi-megabyte block per
    // screenshot costs more in page faults than the conversion itself when
    // large blocks come straight from the system.
    std::vector<unsigned char> rgb;

    explicit State(GrabMethod m) : method(m) {}

    ~State() { CloseDisplay(); }

    bool OpenDisplay()
    {
        if (display)
            return true;
        display = XOpenDisplay(nullptr);
        if (!display)
            return false;
        InstallErrorHook(display);
        const int screen = DefaultScreen(display);
        visual = DefaultVisual(display, screen);
        depth = DefaultDepth(display, screen);
        int major = 0, minor = 0;
        Bool pixmaps = False;
        shmAvailable = method == GrabMethod::Auto && !shmFailed && XShmQueryExtension(display) &&
                       XShmQueryVersion(display, &major, &minor, &pixmaps);
        layout = PixelLayout{};
        layout.visualClass = visual->c_class;
        layout.redMask = visual->red_mask;
        layout.greenMask = visual->green_mask;
        layout.blueMask = visual->blue_mask;
        WatchForLayoutChanges();
        return true;
    }

    // Monitors added, moved or removed, a new primary output and a resized
    // screen each send us an event from now on (monitor changes come as the
    // root's ConfigureNotify). The requests go out before the first look-up
    // of the rectangle, so no change after that look-up goes unreported.
    void WatchForLayoutChanges()
    {
        primaryKnown = false;
        const Window root = DefaultRootWindow(display);
        XSelectInput(display, root, StructureNotifyMask);
        int eventBase = 0, errorBase = 0;
        if (XRRQueryExtension(display, &eventBase, &errorBase))
            XRRSelectInput(display, root,
                           RRScreenChangeNotifyMask | RRCrtcChangeNotifyMask | RROutputChangeNotifyMask);
    }

    void CloseDisplay()
    {
        DropShmImage();
        DropPlainImage();
        last = nullptr;
        if (display) {
            XCloseDisplay(display);
            display = nullptr;
        }
    }

    void DropShmImage()
    {
        if (shmAttached) {
            XShmDetach(display, &shmInfo);
            XSync(display, False);
            shmAttached = false;
        }
        if (shmImage) {
            shmImage->data = nullptr;  // the segment is not Xlib's to free
            XDestroyImage(shmImage);
            shmImage = nullptr;
        }
        if (shmInfo.shmaddr && shmInfo.shmaddr != reinterpret_cast<char*>(-1))
            shmdt(shmInfo.shmaddr);
        shmInfo = XShmSegmentInfo{};
        if (last && last != plainImage)
            last = nullptr;
    }

    void DropPlainImage()
    {
        if (last == plainImage)
            last = nullptr;
        if (plainImage) {
            XDestroyImage(plainImage);
            plainImage = nullptr;
        }
    }

    // Makes shmImage a w x h image backed by an attached segment.
    bool PrepareShmImage(int w, int h)
    {
        if (shmImage && shmImage->width == w && shmImage->height == h)
            return true;
        DropShmImage();
        shmImage = XShmCreateImage(display, visual, depth, ZPixmap, nullptr, &shmInfo, w, h);
        if (!shmImage)
            return false;
        const size_t bytes = static_cast<size_t>(shmImage->bytes_per_line) * shmImage->height;
        shmInfo.shmid = shmget(IPC_PRIVATE, bytes, IPC_CREAT | 0600);
        if (shmInfo.shmid < 0) {
            DropShmImage();
            return false;
        }
        shmInfo.shmaddr = static_cast<char*>(shmat(shmInfo.shmid, nullptr, 0));
        if (shmInfo.shmaddr == reinterpret_cast<char*>(-1)) {
            shmctl(shmInfo.shmid, IPC_RMID, nullptr);
            DropShmImage();
            return false;
        }
        shmImage->data = shmInfo.shmaddr;
        shmInfo.readOnly = False;

        ErrorTrap trap;
        const Status attached = XShmAttach(display, &shmInfo);
        XSync(display, False);
        // Both sides hold it now (or the server never will): once we and the
        // server detach, or either process dies, the segment goes away.
        shmctl(shmInfo.shmid, IPC_RMID, nullptr);
        if (!attached || trap.Failed()) {
            DropShmImage();
            return false;
        }
        shmAttached = true;
        return true;
    }

    bool GrabShm(const Rect& r)
    {
        if (!PrepareShmImage(r.width, r.height))
            return false;
        ErrorTrap trap;
        const Window root = DefaultRootWindow(display);
        if (!XShmGetImage(display, root, shmImage, r.x, r.y, AllPlanes) || trap.Failed())
            return false;
        return true;
    }

    bool GrabPlain(const Rect& r)
    {
        DropPlainImage();
        ErrorTrap trap;
        const Window root = DefaultRootWindow(display);
        XImage* image = XGetImage(display, root, r.x, r.y, r.width, r.height, AllPlanes, ZPixmap);
        if (!image || trap.Failed()) {
            if (image)
                XDestroyImage(image);
            return false;
        }
        plainImage = image;
        return true;
    }

    // Reads the events that arrived since the last grab. Any of them may
    // mean the monitors changed, so the rectangle is looked up afresh; the
    // few that come unasked (MappingNotify) cost one extra look-up.
    void ReadEvents()
    {
        XEvent event;
        while (XPending(display)) {
            XNextEvent(display, &event);
            primaryKnown = false;
        }
    }

    void RefreshPalette()
    {
        if (IsDirectMapped(layout.visualClass))
            return;
        const int entries = std::min(visual->map_entries, 1 << std::min(depth, 16));
        std::vector<XColor> colors(entries > 0 ? entries : 0);
        for (int i = 0; i < entries; ++i)
            colors[i].pixel = static_cast<unsigned long>(i);
        layout.palette.assign(colors.size(), 0);
        if (colors.empty())
            return;
        ErrorTrap trap;
        XQueryColors(display, DefaultColormap(display, DefaultScreen(display)), colors.data(),
                     static_cast<int>(colors.size()));
        if (trap.Failed())
            return;
        for (size_t i = 0; i < colors.size(); ++i)
            layout.palette[i] = (static_cast<std::uint32_t>(colors[i].red >> 8) << 16) |
                                (static_cast<std::uint32_t>(colors[i].green >> 8) << 8) |
                                (colors[i].blue >> 8);
    }

    bool Grab()
    {
        if (!OpenDisplay())
            return false;
        ReadEvents();
        const bool lookedUp = !primaryKnown;
        if (!primaryKnown) {
            primary = PrimaryMonitorRect(display);
            primaryKnown = true;
        }
        Rect r = primary;
        if (shmAvailable) {
            bool grabbed = GrabShm(r);
            if (!grabbed && !lookedUp) {
                // The layout may have changed just now, its event still on
                // the way: look again before blaming MIT-SHM.
                primary = PrimaryMonitorRect(display);
                r = primary;
                grabbed = GrabShm(r);
            }
            if (grabbed) {
                DropPlainImage();
                last = shmImage;
                lastRect = r;
                lastUsedShm = true;
                RefreshPalette();
                return true;
            }
            // Typical for a display on another machine: the extension is
            // offered but the segment cannot be shared. Stop trying.
            shmAvailable = false;
            shmFailed = true;
            DropShmImage();
        }
        if (!GrabPlain(r)) {
            // Start over with a fresh connection next time (the screen may
            // have shrunk under a rectangle whose change is still on its way).
            CloseDisplay();
            return false;
        }
        last = plainImage;
        lastRect = r;
        lastUsedShm = false;
        RefreshPalette();
        return true;
    }
};

X11Capture::X11Capture(GrabMethod method) : state_(std::make_unique<State>(method)) {}

X11Capture::~X11Capture() = default;

bool X11Capture::Grab()
{
    return state_->Grab();
}

XImage* X11Capture::LastImage() const
{
    return state_->last;
}

const PixelLayout& X11Capture::Layout() const
{
    return state_->layout;
}

Rect X11Capture::LastRect() const
{
    return state_->lastRect;
}

bool X11Capture::LastGrabUsedShm() const
{
    return state_->lastUsedShm;
}

bool X11Capture::Pixels(ScreenPixels& out)
{
    XImage* image = state_->last;
    if (!image || image->width <= 0 || image->height <= 0)
        return false;
    std::vector<unsigned char>& rgb = state_->rgb;
    if (PickConvertPath(*image, state_->layout) != ConvertPath::PerPixel)
        return HandOutPixels(Packed(*image, state_->layout), rgb, out);
    const size_t stride = static_cast<size_t>(image->width) * 3;
    try {
        rgb.resize(stride * static_cast<size_t>(image->height));
    } catch (const std::bad_alloc&) {
        return false;
    }
    ConvertPerPixel(*image, state_->layout, rgb.data());
    ScreenPixels pixels;
    pixels.data = rgb.data();
    pixels.width = image->width;
    pixels.height = image->height;
    pixels.stride = stride;
    pixels.format = PixelFormat::Rgb24;
    out = pixels;
    return true;
}

namespace {

class X11ScreenGrabber : public ScreenGrabber {
public:
    explicit X11ScreenGrabber(GrabMethod method) : capture_(method) {}

    bool GrabPrimary(ScreenPixels& out) override { return capture_.Grab() && capture_.Pixels(out); }

private:
    X11Capture capture_;
};

}  // namespace

std::unique_ptr<ScreenGrabber> CreateX11ScreenGrabber(GrabMethod method)
{
    return std::make_unique<X11ScreenGrabber>(method);
}

}  // namespace x11

}  // namespace orvantis

namespace orvantis {

std::unique_ptr<ScreenGrabber> CreateNativeScreenGrabber()
{
    return x11::CreateX11ScreenGrabber(x11::GrabMethod::Auto);
}

}  // namespace orvantis
