#pragma once
// The running program's parts and how they are wired: the desktop (control),
// the gate and the listener with its workers (server), and the main window
// (ui), which shows what the listener reports.

#include <chrono>
#include <cstddef>
#include <memory>

#include "control/SystemDesktop.h"
#include "server/Listener.h"
#include "server/UseGate.h"
#include "ui/OrvantisFrame.h"

namespace orvantis {

class ProgramParts {
public:
    // The desktop, with the gate open on its operations, and a listener that
    // has not started yet.
    ProgramParts();
    // Finish() if it has not run. When a worker outlived it, the parts that
    // worker may still reach (the gate, the count, the listener and the
    // desktop) are left to the system rather than destroyed under it.
    ~ProgramParts();
    ProgramParts(const ProgramParts&) = delete;
    ProgramParts& operator=(const ProgramParts&) = delete;

    // Builds the main window, which starts the listener. Once the user
    // closes the window no desktop operation starts; once it is destroyed
    // the listener is closed and the operation in progress has finished.
    OrvantisFrame* CreateMainWindow();
    // False when key presses and clicks cannot reach the desktop and no
    // notice about the desktop has said why already.
    bool InputAvailable() const;

    // At exit, after the main window is gone: waits at most `timeout` for
    // the workers still winding down (told to stop when the window closed,
    // each ends within a fifth of a second of its current step). True when
    // none is left.
    bool Finish(std::chrono::milliseconds timeout);
    std::size_t WorkersAlive() const { return m_workers ? m_workers->Alive() : 0; }

private:
    struct NoticeTarget;
    void CloseDesktop();

    // Where the desktop's notices go: the main window once it exists, on
    // the GUI thread. Shared with notices still queued for that thread.
    std::shared_ptr<NoticeTarget> m_notices;

    std::unique_ptr<SystemDesktop> m_desktop;
    std::unique_ptr<UseGate> m_gate;
    std::unique_ptr<WorkerCount> m_workers;
    std::unique_ptr<Listener> m_listener;
    bool m_finished = false;
};

}  // namespace orvantis
