#pragma once
// The desktop of this PC as the program uses it: the system's input
// injector and screen grabber behind the one control lock, with every
// screenshot written to "ss.jpg" in the working directory.

#include <memory>

#include <wx/thread.h>

#include "control/DesktopController.h"
#include "platform/DesktopBackend.h"

namespace orvantis {

class SystemDesktop {
public:
    // Chooses the session's backend; `notices` hears what the person at the
    // PC should be told about it, now or later, on any thread.
    explicit SystemDesktop(const DesktopNoticeSink& notices);
    ~SystemDesktop();
    SystemDesktop(const SystemDesktop&) = delete;
    SystemDesktop& operator=(const SystemDesktop&) = delete;

    // The operations, for connection workers.
    DesktopOperations& Operations();
    // False when key presses and clicks cannot reach the desktop at all.
    bool InputAvailable() const;
    // No operation starts from now on; see DesktopController::Close.
    void Close();

private:
    wxMutex m_controlMutex;
    DesktopBackend m_backend;
    std::unique_ptr<DesktopController> m_controller;
};

}  // namespace orvantis
