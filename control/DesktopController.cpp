#include "control/DesktopController.h"

#include <utility>

#include <wx/image.h>

#include "control/JpegEncode.h"

namespace orvantis {

DesktopController::DesktopController(wxMutex& mutex, InputInjector& input, ScreenGrabber& grabber,
                                     Sleep sleep, ScreenshotPath screenshotPath)
    : m_mutex(mutex),
      m_input(input),
      m_grabber(grabber),
      m_sleep(std::move(sleep)),
      m_screenshotPath(std::move(screenshotPath))
{
}

void DesktopController::SendKeyPress(int keyCode, int modifiers)
{
    // Should the lock fail, the key is sent all the same, without it.
    wxMutexLocker lock(m_mutex);
    InputSequencer(m_input, m_sleep).KeyPress(keyCode, modifiers);
}

void DesktopController::SendMouseClick()
{
    wxMutexLocker lock(m_mutex);
    InputSequencer(m_input, m_sleep).MouseClick();
}

void DesktopController::TakeScreenshot(std::string* jpeg)
{
    m_sleep(kCaptureSettleMs);
    wxMutexLocker lock(m_mutex);

    std::string bytes;
    // The pixels stay the grabber's and the next capture writes over them:
    // they are encoded into bytes of our own before the lock is released.
    ScreenPixels screen;
    if (m_grabber.GrabPrimary(screen) && EncodeJpeg(screen, bytes)) {
        // A directory that cannot be written leaves no file and no message;
        // the caller still has the bytes.
        WriteWholeFile(m_screenshotPath(), bytes);
    }
    if (jpeg)
        jpeg->swap(bytes);
}

}  // namespace orvantis
