#include "app/ProgramParts.h"

#include <atomic>

#include <wx/app.h>

namespace orvantis {

struct ProgramParts::NoticeTarget {
    OrvantisFrame* frame = nullptr;  // GUI thread only
    std::atomic<bool> anyRaised{false};

    // From any thread; shown once the event loop runs and while the window
    // lives.
    static void Raise(const std::shared_ptr<NoticeTarget>& self, DesktopNotice notice)
    {
        self->anyRaised = true;
        if (wxAppConsole* app = wxAppConsole::GetInstance()) {
            app->CallAfter([self, notice] {
                if (self->frame)
                    self->frame->ShowDesktopNotice(notice);
            });
        }
    }
};

ProgramParts::ProgramParts()
    : m_notices(std::make_shared<NoticeTarget>()),
      m_gate(std::make_unique<UseGate>()),
      m_workers(std::make_unique<WorkerCount>())
{
    const std::shared_ptr<NoticeTarget> notices = m_notices;
    m_desktop = std::make_unique<SystemDesktop>(
        [notices](DesktopNotice notice) { NoticeTarget::Raise(notices, notice); });
    m_listener = std::make_unique<Listener>(*m_gate, *m_workers);
    m_gate->Open(&m_desktop->Operations());
}

ProgramParts::~ProgramParts()
{
    if (!Finish(std::chrono::seconds(2))) {
        // A worker still runs and refers to these: leave them to the system.
        m_listener.release();
        m_workers.release();
        m_gate.release();
        m_desktop.release();
    }
}

OrvantisFrame* ProgramParts::CreateMainWindow()
{
    OrvantisFrame* frame = new OrvantisFrame(nullptr, -1, *m_listener);
    m_notices->frame = frame;
    // From the moment the user closes the window no desktop operation
    // starts and every transfer in progress stops; the toolkit then
    // destroys the window as usual.
    frame->Bind(wxEVT_CLOSE_WINDOW, [this](wxCloseEvent& event) {
        m_workers->StopTransfers();
        m_desktop->Close();
        event.Skip();
    });
    frame->Bind(wxEVT_DESTROY, [this, frame](wxWindowDestroyEvent& event) {
        event.Skip();
        if (event.GetEventObject() != frame)
            return;  // one of its controls
        m_notices->frame = nullptr;
        m_listener->Stop();
        CloseDesktop();
    });
    return frame;
}

bool ProgramParts::InputAvailable() const
{
    return m_desktop->InputAvailable() || m_notices->anyRaised;
}

void ProgramParts::CloseDesktop()
{
    // Transfers stop; queued operations give up their turn; the one in
    // progress finishes before the gate lets the caller go on.
    m_workers->StopTransfers();
    m_desktop->Close();
    m_gate->CloseAndWait();
}

bool ProgramParts::Finish(std::chrono::milliseconds timeout)
{
    if (m_finished)
        return !m_workers || m_workers->Alive() == 0;
    m_finished = true;
    m_listener->Stop();
    CloseDesktop();
    // Workers hold no reference to the desktop once the gate is closed, but
    // they use the toolkit's sockets and threads until they end.
    const bool none = m_workers->WaitForNone(timeout);
    if (none) {
        m_listener.reset();
        m_desktop.reset();
    }
    return none;
}

}  // namespace orvantis
