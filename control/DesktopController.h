#pragma once
// The desktop operations behind the main window: a key press, a mouse click
// and a screenshot, one at a time under the window's control mutex, so the
// records of two commands never interleave and a capture never sees a
// half-finished key press.

#include <functional>
#include <string>

#include <wx/string.h>
#include <wx/thread.h>

#include "control/InputSequencer.h"
#include "platform/InputInjector.h"
#include "platform/ScreenGrabber.h"

namespace orvantis {

// Pause before a capture, so the screen has settled after the command that
// usually comes just before it. It is taken before the lock.
constexpr int kCaptureSettleMs = 100;

class DesktopController {
public:
    using Sleep = InputSequencer::Sleep;
    // Where "ss.jpg" goes; looked up afresh for every capture.
    using ScreenshotPath = std::function<wxString()>;

    DesktopController(wxMutex& mutex, InputInjector& input, ScreenGrabber& grabber, Sleep sleep,
                      ScreenshotPath screenshotPath);

    void SendKeyPress(int keyCode, int modifiers);
    void SendMouseClick();
    // Captures the primary display, writes it as a JPEG to the screenshot
    // path and, when `jpeg` is given, hands over the bytes of this capture
    // (empty when nothing could be captured).
    void TakeScreenshot(std::string* jpeg);

private:
    wxMutex& m_mutex;
    InputInjector& m_input;
    ScreenGrabber& m_grabber;
    Sleep m_sleep;
    ScreenshotPath m_screenshotPath;
};

}  // namespace orvantis
