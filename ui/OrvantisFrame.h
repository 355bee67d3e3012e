#pragma once
// The program's one window: it tells the person at the PC which URL to open
// on the phone, whether the server runs and which port the firewall must
// let through.

#include <wx/frame.h>
#include <wx/menu.h>
#include <wx/panel.h>
#include <wx/statbmp.h>
#include <wx/stattext.h>
#include <wx/statusbr.h>
#include <wx/timer.h>

#include "platform/DesktopBackend.h"
#include "server/Listener.h"

class OrvantisFrame : public wxFrame, private orvantis::ListenerObserver {
public:
    // Builds the window and starts `listener`, which lives as long as the
    // window; a failure to listen is shown before the window is.
    OrvantisFrame(wxWindow* parent, wxWindowID id, orvantis::Listener& listener);
    virtual ~OrvantisFrame();

    // Shows, once the window is on screen, a message box for each thing the
    // desktop operations cannot do in this session (see StartupNotices.h).
    void ShowStartupNotices(bool inputAvailable);
    // Shows what the desktop backend reported, in a message box of its own.
    // GUI thread only.
    void ShowDesktopNotice(orvantis::DesktopNotice notice);

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

private:
    void StartServer();
    void OnListening(int port) override;
    void OnListenFailed() override;
    // Fits the window to its texts again after one of them changed.
    void Refit();
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
    orvantis::Listener& m_listener;
    bool m_serverUp;
    wxTimer m_addressTimer;
    int m_tickCount;
    int m_serverPort;

    wxDECLARE_EVENT_TABLE();
};
