#pragma once
// The listening server: port 80, else 8888, and one worker thread for every
// connection it accepts.

#include <wx/event.h>
#include <wx/socket.h>
#include <wx/timer.h>

#include "server/UseGate.h"

namespace orvantis {

class DesktopOperations;

// The event ids of the listening socket and of the timer that ends a pause
// in accepting.
enum { ID_SERVER_SOCKET = 19, ID_ACCEPT_RESUME = 20 };

// Told what became of the listener, on the GUI thread, while Start() runs.
class ListenerObserver {
public:
    virtual ~ListenerObserver() = default;
    // The server listens on `port` (80 or 8888).
    virtual void OnListening(int port) = 0;
    // Neither port could be opened; no connection will ever be accepted.
    virtual void OnListenFailed() = 0;
};

class Listener : public wxEvtHandler {
public:
    // Workers reach the desktop only through `gate`, and are counted in
    // `workers` for as long as they live.
    Listener(UseGate& gate, WorkerCount& workers);
    ~Listener() override;
    Listener(const Listener&) = delete;
    Listener& operator=(const Listener&) = delete;

    // Opens port 80, else 8888, and tells `observer` the outcome; on success
    // connections are accepted from then on. Called once.
    void Start(ListenerObserver& observer);
    // Closes the listening socket: no connection is accepted any more.
    void Stop();

private:
    void OnServerEvent(wxSocketEvent& event);
    void OnResumeTimer(wxTimerEvent& event);
    void AcceptWaiting();

    UseGate& m_gate;
    WorkerCount& m_workers;
    wxSocketServer* m_server = nullptr;
    int m_serverPort = 80;
    // Runs while accepting pauses because no descriptor is left.
    wxTimer m_resume;
    int m_pauseMs = 0;

    wxDECLARE_EVENT_TABLE();
};

}  // namespace orvantis
