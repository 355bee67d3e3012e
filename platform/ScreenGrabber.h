#pragma once
// Copies the pixels of the primary display.

#include <memory>

class wxImage;

namespace orvantis {

class ScreenGrabber {
public:
    virtual ~ScreenGrabber() = default;
    // Fills `out` with an RGB image of the primary display at its full size.
    // Returns false (leaving `out` untouched) when nothing could be copied,
    // for example when there is no display. Safe to call from any thread, but
    // one call at a time per grabber.
    virtual bool GrabPrimary(wxImage& out) = 0;
};

// The grabber of this OS. Never null.
std::unique_ptr<ScreenGrabber> CreateScreenGrabber();

}  // namespace orvantis
