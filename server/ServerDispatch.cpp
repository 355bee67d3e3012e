// The listening server of the main window and the hand-over of every
// accepted connection to its own worker thread.

#include <wx/intl.h>
#include <wx/msgdlg.h>
#include <wx/socket.h>

#include "platform/SocketIo.h"
#include "server/COrvantisReqHandler.h"
#include "ui/OrvantisFrame.h"

namespace {

// The size at which the control page shows the screenshot.
const wxSize kScreenshotDisplaySize(300, 225);

// Connections taken per report of the listening socket.
constexpr int kMaxAcceptsPerEvent = 1024;

wxSocketServer* Listen(int port)
{
    wxIPV4address address;
    address.Service(static_cast<unsigned short>(port));
    return new wxSocketServer(address, orvantis::ListenerFlags());
}

}  // namespace

void OrvantisFrame::StartServer()
{
    m_addressTimer.Stop();

    delete m_server;
    m_server = Listen(m_serverPort);
    if (!m_server->IsOk()) {
        // Port 80 is often taken or needs privileges: fall back silently.
        m_serverPort = 8888;
        delete m_server;
        m_server = Listen(m_serverPort);
        if (!m_server->IsOk()) {
            m_urlLabel->SetLabel(_("Failed to access port for OrvantisServer..."));
            Refit();
            wxMessageBox(_("Please allow either port 80 or 8888 in the Firewall for your LAN or WIFI "
                           "connection.\r\nMake sure at least port 8888 is not used by another "
                           "program.\r\n(Orvantis tries to use the default port 80, if fails then it "
                           "tries port 8888...)"),
                         _("Failed to access port for OrvantisServer..."), wxOK | wxCENTRE);
            m_statusBar->SetStatusText(
                _("Failed to access the Port... Please allow it in the Firewall for your LAN or "
                  "WIFI connection."),
                0);
            return;
        }
    }

    orvantis::WidenListenBacklog(*m_server);
    m_firewallNote->SetLabel(
        wxString::Format(_T("Note: Make sure your firewall allows port %d and Orvantis.exe"), m_serverPort));
    Refit();
    m_addressTimer.Start(2000, wxTIMER_CONTINUOUS);
    m_server->SetEventHandler(*this, ID_SERVER_SOCKET);
    m_server->SetNotify(wxSOCKET_CONNECTION_FLAG);
    m_server->Notify(true);
}

void OrvantisFrame::OnServerEvent(wxSocketEvent& WXUNUSED(event))
{
    // Every connection that is waiting, not one per event: a phone's request
    // must not wait for the toolkit to report, one by one, a flood of idle
    // connections that came before it. Bounded, so the window stays
    // responsive under a flood; what is left is reported again.
    for (int accepted = 0; accepted < kMaxAcceptsPerEvent; ++accepted) {
        // The connection is used only by its worker thread, with blocking
        // waits; it never reports events to this window.
        wxSocketBase* socket = new wxSocketBase(wxSOCKET_BLOCK, wxSOCKET_BASE);
        if (!m_server->AcceptWith(*socket, false)) {
            socket->Destroy();
            // None left, or no descriptor left for the next one: then it is
            // closed unanswered rather than reported again at once.
            if (orvantis::ShedPendingConnection(*m_server))
                continue;
            return;
        }
        orvantis::UseNonBlockingDescriptor(*socket);
        socket->SetTimeout(2);
        COrvantisReqHandler::Start(socket, kScreenshotDisplaySize);
    }
}
