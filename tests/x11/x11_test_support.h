#pragma once
// Helpers for tests that run against a real (virtual) X display.

#include <chrono>
#include <cstdint>
#include <functional>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include <X11/Xlib.h>
#include <X11/Xutil.h>

namespace orvantis::testx11 {

// A display connection of the test's own, closed at the end of the scope.
class TestDisplay {
public:
    TestDisplay() : display_(XOpenDisplay(nullptr)) {}
    ~TestDisplay()
    {
        if (display_)
            XCloseDisplay(display_);
    }
    TestDisplay(const TestDisplay&) = delete;
    TestDisplay& operator=(const TestDisplay&) = delete;

    Display* get() const { return display_; }
    operator Display*() const { return display_; }
    Window Root() const { return DefaultRootWindow(display_); }
    int Width() const { return DisplayWidth(display_, DefaultScreen(display_)); }
    int Height() const { return DisplayHeight(display_, DefaultScreen(display_)); }
    int Depth() const { return DefaultDepth(display_, DefaultScreen(display_)); }
    Visual* DefaultVisualOf() const { return DefaultVisual(display_, DefaultScreen(display_)); }

private:
    Display* display_;
};

// Waits up to `timeout` for an event that `accept` takes; other events are
// dropped. Returns false on time-out.
inline bool WaitForEvent(Display* display, XEvent& event, const std::function<bool(const XEvent&)>& accept,
                         std::chrono::milliseconds timeout = std::chrono::milliseconds(3000))
{
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    for (;;) {
        while (XPending(display)) {
            XNextEvent(display, &event);
            if (accept(event))
                return true;
        }
        if (std::chrono::steady_clock::now() >= deadline)
            return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
}

inline bool WaitForType(Display* display, XEvent& event, int type, Window window,
                        std::chrono::milliseconds timeout = std::chrono::milliseconds(3000))
{
    return WaitForEvent(
        display, event, [&](const XEvent& e) { return e.type == type && e.xany.window == window; }, timeout);
}

// 8-bit channel value `v` stored in a channel of `mask` and read back the
// way the grabber widens it.
inline unsigned PixelFromRgb(Visual* visual, unsigned r, unsigned g, unsigned b)
{
    auto put = [](unsigned long mask, unsigned v) -> unsigned long {
        int shift = 0;
        while (!((mask >> shift) & 1UL))
            ++shift;
        int bits = 0;
        while ((mask >> (shift + bits)) & 1UL)
            ++bits;
        const unsigned long scaled = bits >= 8 ? (static_cast<unsigned long>(v) << (bits - 8)) : (v >> (8 - bits));
        return (scaled << shift) & mask;
    };
    return static_cast<unsigned>(put(visual->red_mask, r) | put(visual->green_mask, g) | put(visual->blue_mask, b));
}

inline int MaskBits(unsigned long mask)
{
    int bits = 0;
    for (; mask; mask >>= 1)
        bits += static_cast<int>(mask & 1UL);
    return bits;
}

// Largest difference a channel of `bits` bits may show against the 8-bit
// value that was drawn into it.
inline int ChannelTolerance(int bits)
{
    return bits >= 8 ? 0 : (1 << (8 - bits));
}

struct Rgb {
    unsigned char r, g, b;
};

}  // namespace orvantis::testx11
