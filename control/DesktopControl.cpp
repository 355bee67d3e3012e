// The main window's operations on the desktop. They run on connection
// threads; the controller serialises them under m_controlMutex.

#include <chrono>
#include <thread>

#include "control/DesktopController.h"
#include "server/HttpAnswer.h"
#include "ui/OrvantisFrame.h"

namespace {

void SleepMs(int milliseconds)
{
    std::this_thread::sleep_for(std::chrono::milliseconds(milliseconds));
}

wxString ScreenshotPath()
{
    return orvantis::LocateInWorkingDirectory(_T("ss.jpg"));
}

}  // namespace

std::unique_ptr<orvantis::DesktopController> OrvantisFrame::MakeDesktopController()
{
    return std::make_unique<orvantis::DesktopController>(*m_controlMutex, *m_input, *m_grabber, SleepMs,
                                                         ScreenshotPath);
}

bool OrvantisFrame::SendKeyPress(int keyCode, int modifiers)
{
    return m_desktop->SendKeyPress(keyCode, modifiers);
}

bool OrvantisFrame::SendMouseClick()
{
    return m_desktop->SendMouseClick();
}

bool OrvantisFrame::TakeScreenshot(std::string* jpeg)
{
    return m_desktop->TakeScreenshot(jpeg);
}
