// The listening server and the hand-over of every accepted connection to
// its own worker thread.

#include "server/Listener.h"

#include <algorithm>
#include <vector>

#include <wx/socket.h>

#include "platform/SocketIo.h"
#include "server/COrvantisReqHandler.h"

namespace orvantis {

namespace {

// The size at which the control page shows the screenshot.
const wxSize kScreenshotDisplaySize(300, 225);

// Connections taken per report of the listening socket.
constexpr std::size_t kMaxAcceptsPerEvent = 4096;

// How long accepting pauses when the process has no descriptor left: short
// while workers ending keep freeing some (a flood of connections that end
// at once), up to a tenth of a second while none come free.
constexpr int kShortestPauseMs = 10;
constexpr int kLongestPauseMs = 100;

wxSocketServer* Listen(int port)
{
    wxIPV4address address;
    address.Service(static_cast<unsigned short>(port));
    return new wxSocketServer(address, ListenerFlags());
}

}  // namespace

wxBEGIN_EVENT_TABLE(Listener, wxEvtHandler)
    EVT_SOCKET(ID_SERVER_SOCKET, Listener::OnServerEvent)
    EVT_TIMER(ID_ACCEPT_RESUME, Listener::OnResumeTimer)
wxEND_EVENT_TABLE()

Listener::Listener(UseGate& gate, WorkerCount& workers)
    : m_gate(gate), m_workers(workers), m_resume(this, ID_ACCEPT_RESUME)
{
}

Listener::~Listener()
{
    Stop();
}

void Listener::Start(ListenerObserver& observer)
{
    delete m_server;
    m_server = Listen(m_serverPort);
    if (!m_server->IsOk()) {
        // Port 80 is often taken or needs privileges: fall back silently.
        m_serverPort = 8888;
        delete m_server;
        m_server = Listen(m_serverPort);
        if (!m_server->IsOk()) {
            observer.OnListenFailed();
            return;
        }
    }

    WidenListenBacklog(*m_server);
    observer.OnListening(m_serverPort);
    m_server->SetEventHandler(*this, ID_SERVER_SOCKET);
    m_server->SetNotify(wxSOCKET_CONNECTION_FLAG);
    m_server->Notify(true);
}

void Listener::Stop()
{
    m_resume.Stop();
    delete m_server;
    m_server = nullptr;
}

void Listener::OnServerEvent(wxSocketEvent& WXUNUSED(event))
{
    AcceptWaiting();
}

void Listener::OnResumeTimer(wxTimerEvent& WXUNUSED(event))
{
    AcceptWaiting();
}

void Listener::AcceptWaiting()
{
    // While accepting pauses, reports of the listening socket are left to
    // the timer: without an accept the toolkit reports nothing more.
    if (!m_server || m_resume.IsRunning())
        return;
    // Every connection that is waiting, not one per event, bounded so the
    // window stays responsive under a flood (what is left is reported
    // again). Accepting is cheap; starting a worker thread is not (a tenth
    // of a millisecond or more), so a phone's request that arrives behind a
    // flood of silent connections would wait for all their workers to start
    // first. Connections whose request has already arrived get their
    // workers first; every connection still gets its own worker within this
    // event, and its 2 s wait starts only then.
    std::vector<wxSocketBase*> accepted;
    bool outOfDescriptors = false;
    while (accepted.size() < kMaxAcceptsPerEvent) {
        // The connection is used only by its worker thread, with blocking
        // waits; it never reports events to the GUI thread.
        wxSocketBase* socket = new wxSocketBase(wxSOCKET_BLOCK, wxSOCKET_BASE);
        if (!m_server->AcceptWith(*socket, false)) {
            socket->Destroy();
            outOfDescriptors = DescriptorsExhausted();
            break;
        }
        UseNonBlockingDescriptor(*socket);
        socket->SetTimeout(2);
        accepted.push_back(socket);
    }
    std::stable_partition(accepted.begin(), accepted.end(),
                          [](wxSocketBase* socket) { return HasDataWaiting(*socket); });
    for (wxSocketBase* socket : accepted)
        COrvantisReqHandler::Start(socket, kScreenshotDisplaySize, m_gate, m_workers);
    // No descriptor for the next connection: it stays queued, and the system
    // would report it again at once, keeping this thread busy for nothing.
    // Accepting pauses briefly instead; the connections wait in the queue
    // until workers ending free descriptors, and are then served. The pause
    // grows while a pause freed none.
    if (outOfDescriptors) {
        m_pauseMs = accepted.empty() ? std::clamp(2 * m_pauseMs, kShortestPauseMs, kLongestPauseMs)
                                     : kShortestPauseMs;
        m_resume.StartOnce(m_pauseMs);
    }
}

}  // namespace orvantis
