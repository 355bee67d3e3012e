#include "control/SystemDesktop.h"

#include <chrono>
#include <thread>

#include "platform/WorkingDirectory.h"

namespace orvantis {

namespace {

void SleepMs(int milliseconds)
{
    std::this_thread::sleep_for(std::chrono::milliseconds(milliseconds));
}

wxString ScreenshotPath()
{
    return LocateInWorkingDirectory(_T("ss.jpg"));
}

}  // namespace

SystemDesktop::SystemDesktop(const DesktopNoticeSink& notices)
    : m_backend(CreateDesktopBackend(notices)),
      m_controller(std::make_unique<DesktopController>(m_controlMutex, *m_backend.input, *m_backend.grabber,
                                                       SleepMs, ScreenshotPath))
{
}

// The controller goes first: it uses the lock and the OS facilities.
SystemDesktop::~SystemDesktop()
{
    m_controller.reset();
}

DesktopOperations& SystemDesktop::Operations()
{
    return *m_controller;
}

bool SystemDesktop::InputAvailable() const
{
    return m_backend.input->Available();
}

void SystemDesktop::Close()
{
    m_controller->Close();
}

}  // namespace orvantis
