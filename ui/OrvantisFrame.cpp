#include "ui/OrvantisFrame.h"

#include <algorithm>

#include <wx/font.h>
#include <wx/icon.h>
#include <wx/image.h>
#include <wx/intl.h>
#include <wx/msgdlg.h>
#include <wx/sizer.h>

#include "platform/Browser.h"
#include "platform/Product.h"
#include "ui/Pictures.h"
#include "ui/StartupNotices.h"

const long OrvantisFrame::ID_STATICBITMAP2 = wxNewId();
const long OrvantisFrame::ID_STATICTEXT3 = wxNewId();
const long OrvantisFrame::ID_STATICBITMAP1 = wxNewId();
const long OrvantisFrame::ID_STATICTEXT1 = wxNewId();
const long OrvantisFrame::ID_STATICTEXT2 = wxNewId();
const long OrvantisFrame::ID_STATICTEXT5 = wxNewId();
const long OrvantisFrame::ID_STATICTEXT6 = wxNewId();
const long OrvantisFrame::ID_STATICTEXT7 = wxNewId();
const long OrvantisFrame::ID_STATICBITMAP3 = wxNewId();
const long OrvantisFrame::ID_PANEL1 = wxNewId();
const long OrvantisFrame::ID_MENU_ABOUT = wxNewId();
const long OrvantisFrame::ID_MENU_OFFICIAL_PAGE = wxNewId();
const long OrvantisFrame::ID_STATUSBAR1 = wxNewId();
const long OrvantisFrame::ID_ADDRESS_TIMER = wxNewId();

wxBEGIN_EVENT_TABLE(OrvantisFrame, wxFrame)
    EVT_TIMER(ID_ADDRESS_TIMER, OrvantisFrame::OnAddressTimer)
wxEND_EVENT_TABLE()

namespace {

wxFont BoldSwissFont(int points, const wxString& face)
{
    return wxFont(points, wxFONTFAMILY_SWISS, wxFONTSTYLE_NORMAL, wxFONTWEIGHT_BOLD, false, face,
                  wxFONTENCODING_DEFAULT);
}

// The note under the logo: the port the server took and the program a
// firewall must let through, named as the firewall lists it.
wxString FirewallNote(int port)
{
    return wxString::Format(_T("Note: Make sure your firewall allows port %d and %s"), port,
                            wxString::FromUTF8(orvantis::kProgramFileName));
}

}  // namespace

OrvantisFrame::OrvantisFrame(wxWindow* parent, wxWindowID WXUNUSED(id), orvantis::Listener& listener)
    : m_listener(listener),
      m_serverUp(false),
      m_addressTimer(this, ID_ADDRESS_TIMER),
      m_tickCount(0),
      m_serverPort(80)
{
    const wxColour white(255, 255, 255);

    Create(parent, wxID_ANY, _("Orvantis"), wxDefaultPosition, wxDefaultSize,
           wxCAPTION | wxSYSTEM_MENU | wxCLOSE_BOX | wxMINIMIZE_BOX | wxFRAME_SHAPED,
           _T("wxID_ANY"));
    SetBackgroundColour(white);

    const wxIconBundle icons = orvantis::LoadWindowIcons(_T("OrvantisLogoIconSmall.ICO"));
    if (!icons.IsEmpty())
        SetIcons(icons);

    wxFlexGridSizer* frameSizer = new wxFlexGridSizer(1, 1, 0, 0);
    frameSizer->AddGrowableCol(0);
    frameSizer->AddGrowableRow(0);
    m_panel = new wxPanel(this, ID_PANEL1, wxDefaultPosition, wxDefaultSize, 0, _T("ID_PANEL1"));
    m_panel->SetBackgroundColour(white);

    wxFlexGridSizer* panelSizer = new wxFlexGridSizer(0, 1, 0, 0);
    panelSizer->AddGrowableCol(0);
    panelSizer->AddGrowableRow(0);
    panelSizer->AddGrowableRow(1);
    m_topGradient = new wxStaticBitmap(m_panel, ID_STATICBITMAP2, orvantis::LoadPicture(_T("gradt.png")),
                                       wxDefaultPosition, wxDefaultSize, 0, _T("ID_STATICBITMAP2"));
    panelSizer->Add(m_topGradient, 1, wxBOTTOM | wxLEFT | wxRIGHT | wxALIGN_CENTER, 0);
    m_phonesText = new wxStaticText(
        m_panel, ID_STATICTEXT3,
        _("Any phone with WIFI: iPhone, Nokia N-Series, E-Series, Windows Mobile, Blackberry, etc..."),
        wxDefaultPosition, wxDefaultSize, 0, _T("ID_STATICTEXT3"));
    panelSizer->Add(m_phonesText, 1, wxALL | wxALIGN_CENTER, 2);

    wxFlexGridSizer* logoRow = new wxFlexGridSizer(1, 2, 0, 0);
    logoRow->AddGrowableCol(0);
    logoRow->AddGrowableRow(0);
    m_logoBitmap = new wxStaticBitmap(m_panel, ID_STATICBITMAP1, orvantis::LoadPicture(_T("OrvantisLogo100px.png")),
                                      wxDefaultPosition, wxDefaultSize, 0, _T("ID_STATICBITMAP1"));
    logoRow->Add(m_logoBitmap, 1, wxALL | wxALIGN_CENTER, 5);

    wxFlexGridSizer* textColumn = new wxFlexGridSizer(4, 1, 0, 0);
    textColumn->AddGrowableCol(0);
    for (int row = 0; row < 4; ++row)
        textColumn->AddGrowableRow(row);
    m_openUrlCaption = new wxStaticText(m_panel, ID_STATICTEXT1, _("Open URL in phone Web-Browser:"),
                                        wxDefaultPosition, wxDefaultSize, 0, _T("ID_STATICTEXT1"));
    m_openUrlCaption->SetFont(BoldSwissFont(16, _T("Trebuchet MS")));
    textColumn->Add(m_openUrlCaption, 1, wxALL | wxALIGN_CENTER_VERTICAL, 5);
    m_urlLabel = new wxStaticText(m_panel, ID_STATICTEXT2, _("Getting URL, Please wait..."),
                                  wxDefaultPosition, wxDefaultSize, 0, _T("ID_STATICTEXT2"));
    m_urlLabel->SetFont(BoldSwissFont(18, _T("Trebuchet MS")));
    textColumn->Add(m_urlLabel, 1, wxALL | wxALIGN_CENTER_VERTICAL, 5);
    m_wifiHintText = new wxStaticText(
        m_panel, ID_STATICTEXT5,
        _("Connect phone to the WIFI access-point that links to this computer's LAN."),
        wxDefaultPosition, wxDefaultSize, 0, _T("ID_STATICTEXT5"));
    textColumn->Add(m_wifiHintText, 1, wxALL | wxALIGN_CENTER, 5);
    m_sameWifiText = new wxStaticText(m_panel, ID_STATICTEXT6,
                                      _("Or connect this computer to the same WIFI as phone."),
                                      wxDefaultPosition, wxDefaultSize, 0, _T("ID_STATICTEXT6"));
    textColumn->Add(m_sameWifiText, 1, wxALL | wxALIGN_CENTER, 5);
    logoRow->Add(textColumn, 1, wxALL | wxEXPAND | wxALIGN_CENTER, 0);
    panelSizer->Add(logoRow, 1, wxALL | wxEXPAND | wxALIGN_CENTER, 0);

    m_firewallNote = new wxStaticText(m_panel, ID_STATICTEXT7, FirewallNote(80),
                                      wxDefaultPosition, wxDefaultSize, 0, _T("ID_STATICTEXT7"));
    m_firewallNote->SetFont(BoldSwissFont(9, _T("Tahoma")));
    panelSizer->Add(m_firewallNote, 1, wxALL | wxALIGN_CENTER, 5);
    m_bottomGradient = new wxStaticBitmap(m_panel, ID_STATICBITMAP3, orvantis::LoadPicture(_T("gradb.png")),
                                          wxDefaultPosition, wxDefaultSize, 0, _T("ID_STATICBITMAP3"));
    panelSizer->Add(m_bottomGradient, 1, wxALL | wxALIGN_CENTER, 0);

    m_panel->SetSizer(panelSizer);
    panelSizer->Fit(m_panel);
    panelSizer->SetSizeHints(m_panel);
    frameSizer->Add(m_panel, 1, wxBOTTOM | wxLEFT | wxRIGHT | wxEXPAND | wxALIGN_CENTER, 0);
    SetSizer(frameSizer);

    m_statusBar = new wxStatusBar(this, ID_STATUSBAR1, 0, _T("ID_STATUSBAR1"));
    const int fieldWidths[1] = {-10};
    const int fieldStyles[1] = {wxSB_NORMAL};
    m_statusBar->SetFieldsCount(1, fieldWidths);
    m_statusBar->SetStatusStyles(1, fieldStyles);
    SetStatusBar(m_statusBar);

    m_menuBar = new wxMenuBar();
    m_aboutMenu = new wxMenu();
    m_aboutItem = new wxMenuItem(m_aboutMenu, ID_MENU_ABOUT, _("About Orvantis"), wxEmptyString,
                                 wxITEM_NORMAL);
    m_aboutMenu->Append(m_aboutItem);
    m_menuBar->Append(m_aboutMenu, _("About"));
    m_helpMenu = new wxMenu();
    m_officialPageItem = new wxMenuItem(m_helpMenu, ID_MENU_OFFICIAL_PAGE,
                                        _("Show Official Page to see more info..."), wxEmptyString,
                                        wxITEM_NORMAL);
    m_helpMenu->Append(m_officialPageItem);
    m_menuBar->Append(m_helpMenu, _("Help"));
    SetMenuBar(m_menuBar);

    frameSizer->Fit(this);
    frameSizer->SetSizeHints(this);

    Connect(ID_MENU_ABOUT, wxEVT_COMMAND_MENU_SELECTED,
            wxCommandEventHandler(OrvantisFrame::OnAbout));
    Connect(ID_MENU_OFFICIAL_PAGE, wxEVT_COMMAND_MENU_SELECTED,
            wxCommandEventHandler(OrvantisFrame::OnOfficialPage));

    Centre(wxBOTH);
    // wxGTK measures texts in their own fonts only once they are on screen:
    // fit the window again then.
    Bind(wxEVT_SHOW, [this](wxShowEvent& event) {
        event.Skip();
        if (event.IsShown())
            CallAfter([this] { Refit(); Centre(wxBOTH); });
    });
    StartServer();
    m_tickCount = 0;
}

OrvantisFrame::~OrvantisFrame()
{
    m_addressTimer.Stop();
}

void OrvantisFrame::StartServer()
{
    m_addressTimer.Stop();
    m_listener.Start(*this);
}

void OrvantisFrame::OnListening(int port)
{
    m_serverUp = true;
    m_serverPort = port;
    m_firewallNote->SetLabel(FirewallNote(m_serverPort));
    Refit();
    m_addressTimer.Start(2000, wxTIMER_CONTINUOUS);
}

void OrvantisFrame::OnListenFailed()
{
    m_serverPort = 8888;
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
}

void OrvantisFrame::OnOfficialPage(wxCommandEvent& WXUNUSED(event))
{
    orvantis::OpenInDefaultBrowser(orvantis::kProductPageUrl);
}

void OrvantisFrame::ShowStartupNotices(bool inputAvailable)
{
    const std::vector<orvantis::StartupNotice> notices = orvantis::StartupNotices(inputAvailable);
    if (notices.empty())
        return;
    // After the window's own first layout, so the boxes come up over it;
    // the server already runs and keeps serving while they are open.
    CallAfter([this, notices] {
        for (const orvantis::StartupNotice& notice : notices)
            wxMessageBox(notice.message, notice.caption, wxOK | wxICON_WARNING | wxCENTRE, this);
    });
}

void OrvantisFrame::ShowDesktopNotice(orvantis::DesktopNotice notice)
{
    const orvantis::StartupNotice text = orvantis::NoticeFor(notice);
    CallAfter([this, text] { wxMessageBox(text.message, text.caption, wxOK | wxICON_WARNING | wxCENTRE, this); });
}

void OrvantisFrame::Refit()
{
    // Fit to the texts as they are now, but never shrink: the URL label
    // takes turns with texts of different lengths, and a window that jumped
    // in size every two seconds would be hard to read.
    const wxSize before = GetSize();
    m_panel->SetMinSize(wxDefaultSize);
    m_panel->GetSizer()->SetSizeHints(m_panel);
    SetMinSize(wxDefaultSize);
    GetSizer()->SetSizeHints(this);
    const wxSize fitted = GetSize();
    const wxSize grown(std::max(before.x, fitted.x), std::max(before.y, fitted.y));
    if (IsShown() && grown != fitted) {
        SetMinSize(grown);
        SetSize(grown);
    }
    Layout();
}
