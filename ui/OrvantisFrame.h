#pragma once
// The program's one window and the hub of the process: it owns the listening
// socket, the address timer and the lock that lets one desktop operation run
// at a time.

#include <memory>
#include <string>

#include <wx/frame.h>
#include <wx/menu.h>
#include <wx/panel.h>
#include <wx/socket.h>
#include <wx/statbmp.h>
#include <wx/stattext.h>
#include <wx/statusbr.h>
#include <wx/thread.h>
#include <wx/timer.h>

#include "server/UseGate.h"

namespace orvantis {
class DesktopController;
class InputInjector;
class ScreenGrabber;
}

// The event id of the listening socket.
enum { ID_SERVER_SOCKET = 19 };

class OrvantisFrame : public wxFrame {
public:
    OrvantisFrame(wxWindow* parent, wxWindowID id = -1);
    virtual ~OrvantisFrame();

    // Desktop operations, called on connection threads; one runs at a time.
    // False when the window closed before the operation got its turn.
    bool SendKeyPress(int keyCode, int modifiers);
    bool SendMouseClick();
    // Captures the primary display into "ss.jpg" in the working directory.
    // When `jpeg` is given it receives the bytes of this very capture, so a
    // caller never reads back a file that another capture is rewriting; it is
    // left empty when nothing could be captured.
    bool TakeScreenshot(std::string* jpeg = nullptr);

    // Shows, once the window is on screen, a message box for each thing the
    // desktop operations cannot do in this session (see StartupNotices.h).
    void ShowStartupNotices();

    // Control ids, from wxNewId() during static initialisation.
    static const long ID_STATICBITMAP2;
    static const long ID_STATICTEXT3;
    static const long ID_STATICBITMAP1;
    static const long ID_STATICTEXT1;
    static const long ID_STATICTEXT2;
    static const long ID_STATICTEXT5;
    static const long ID_STATICTEXT6;
    static const long ID_STATICTEXT7;
    static const long ID_STATICBITMAP3;
    static const long ID_PANEL1;
    static const long ID_MENU_ABOUT;
    static const long ID_MENU_OFFICIAL_PAGE;
    static const long ID_STATUSBAR1;
    static const long ID_ADDRESS_TIMER;

    // Connection threads reach the window only through this gate; it closes
    // when the window is destroyed.
    static orvantis::UseGate& Gate();
    // The connection threads that are alive.
    static orvantis::WorkerCount& Workers();

private:
    void StartServer();
    // Fits the window to its texts again after one of them changed.
    void Refit();
    void OnServerEvent(wxSocketEvent& event);
    void OnAddressTimer(wxTimerEvent& event);
    void OnAbout(wxCommandEvent& event);
    void OnOfficialPage(wxCommandEvent& event);

    wxStaticBitmap* m_topGradient;
    wxStaticText* m_phonesText;
    wxStaticBitmap* m_logoBitmap;
    wxMenuItem* m_officialPageItem;
    wxPanel* m_panel;
    wxStaticText* m_openUrlCaption;
    wxStaticText* m_wifiHintText;
    wxMenu* m_helpMenu;
    wxStaticText* m_firewallNote;
    wxStaticText* m_urlLabel;
    wxMenuItem* m_aboutItem;
    wxStatusBar* m_statusBar;
    wxMenuBar* m_menuBar;
    wxMenu* m_aboutMenu;
    wxStaticText* m_sameWifiText;
    wxStaticBitmap* m_bottomGradient;
    wxMutex* m_controlMutex;
    wxSocketServer* m_server;
    wxTimer m_addressTimer;
    int m_tickCount;
    int m_serverPort;

    // The OS facilities behind the desktop operations, used under
    // m_controlMutex only.
    std::unique_ptr<orvantis::InputInjector> m_input;
    std::unique_ptr<orvantis::ScreenGrabber> m_grabber;
    std::unique_ptr<orvantis::DesktopController> m_desktop;
    std::unique_ptr<orvantis::DesktopController> MakeDesktopController();

    wxDECLARE_EVENT_TABLE();
};

// The one main window, for the connection threads. Set by the constructor
// before the server starts; cleared when the window is being destroyed.
extern OrvantisFrame* g_mainFrame;
