#include "ui/AboutDialog.h"

#include <wx/font.h>
#include <wx/hyperlink.h>
#include <wx/image.h>
#include <wx/intl.h>
#include <wx/sizer.h>

#include "platform/Product.h"
#include "ui/OrvantisFrame.h"
#include "ui/Pictures.h"

const long AboutDialog::ID_STATICTEXT1 = wxNewId();
const long AboutDialog::ID_STATICTEXT6 = wxNewId();
const long AboutDialog::ID_STATICTEXT7 = wxNewId();
const long AboutDialog::ID_STATICTEXT8 = wxNewId();
const long AboutDialog::ID_STATICBITMAP1 = wxNewId();
const long AboutDialog::ID_STATICTEXT2 = wxNewId();
const long AboutDialog::ID_STATICTEXT3 = wxNewId();
const long AboutDialog::ID_STATICTEXT4 = wxNewId();
const long AboutDialog::ID_STATICTEXT5 = wxNewId();
const long AboutDialog::ID_STATICTEXT9 = wxNewId();
const long AboutDialog::ID_STATICTEXT10 = wxNewId();
const long AboutDialog::ID_BUTTON1 = wxNewId();

wxBEGIN_EVENT_TABLE(AboutDialog, wxDialog)
wxEND_EVENT_TABLE()

namespace {

const int kCentred = wxALL | wxALIGN_CENTER_HORIZONTAL | wxALIGN_CENTER_VERTICAL;

wxStaticText* MakeText(wxWindow* parent, long id, const wxString& name, const wxString& text)
{
    return new wxStaticText(parent, id, text, wxDefaultPosition, wxDefaultSize, 0, name);
}

void Grey(wxStaticText* text)
{
    text->SetForegroundColour(wxColour(128, 128, 128));
}

}  // namespace

AboutDialog::AboutDialog(wxWindow* parent, wxWindowID WXUNUSED(id), const wxPoint& WXUNUSED(pos),
                         const wxSize& WXUNUSED(size))
{
    Create(parent, wxID_ANY, _("About Orvantis..."), wxDefaultPosition, wxDefaultSize,
           wxDEFAULT_DIALOG_STYLE, _T("wxID_ANY"));
    SetBackgroundColour(wxColour(255, 255, 255));

    wxFlexGridSizer* outer = new wxFlexGridSizer(0, 1, 0, 0);
    m_titleText = MakeText(this, ID_STATICTEXT1, _T("ID_STATICTEXT1"), _("Orvantis"));
    m_titleText->SetFont(wxFont(18, wxFONTFAMILY_SWISS, wxFONTSTYLE_ITALIC, wxFONTWEIGHT_BOLD, false,
                                _T("Verdana"), wxFONTENCODING_DEFAULT));
    outer->Add(m_titleText, 1, kCentred, 5);

    wxFlexGridSizer* middle = new wxFlexGridSizer(0, 1, 0, 0);
    const wxFont tahomaBold(10, wxFONTFAMILY_SWISS, wxFONTSTYLE_NORMAL, wxFONTWEIGHT_BOLD, false,
                            _T("Tahoma"), wxFONTENCODING_DEFAULT);
    m_purposeText = MakeText(
        this, ID_STATICTEXT6, _T("ID_STATICTEXT6"),
        _("Use this software to Remote-Control Powerpoint/Presentations from WIFI-enabled Phones"));
    m_purposeText->SetFont(tahomaBold);
    middle->Add(m_purposeText, 1, kCentred, 5);
    m_phonesText = MakeText(this, ID_STATICTEXT7, _T("ID_STATICTEXT7"),
                            _("Just any WIFI-Enabled models: iPhone, Nokia N-Series, E-Series, Windows "
                              "Mobile, Blackberry, etc..."));
    middle->Add(m_phonesText, 1, kCentred, 5);
    m_howToText = MakeText(this, ID_STATICTEXT8, _T("ID_STATICTEXT8"),
                           _("Just get in on the same LAN as this PC and open the URL specified"));
    m_howToText->SetFont(tahomaBold);
    middle->Add(m_howToText, 1, kCentred, 5);

    wxFlexGridSizer* logoRow = new wxFlexGridSizer(1, 3, 0, 0);
    m_logoBitmap = new wxStaticBitmap(this, ID_STATICBITMAP1,
                                      orvantis::LoadPicture(_T("OrvantisLogo100px.png")),
                                      wxDefaultPosition, wxDefaultSize, 0, _T("ID_STATICBITMAP1"));
    logoRow->Add(m_logoBitmap, 1, kCentred, 5);
    wxBoxSizer* versionBox = new wxBoxSizer(wxVERTICAL);
    m_versionText = MakeText(this, ID_STATICTEXT2, _T("ID_STATICTEXT2"), _("Version 1.03"));
    m_versionText->SetForegroundColour(wxColour(64, 128, 128));
    m_versionText->SetFont(wxFont(10, wxFONTFAMILY_SWISS, wxFONTSTYLE_NORMAL, wxFONTWEIGHT_NORMAL,
                                  false, _T("Verdana"), wxFONTENCODING_DEFAULT));
    versionBox->Add(m_versionText, 1, kCentred, 5);
    logoRow->Add(versionBox, 1, kCentred, 5);
    middle->Add(logoRow, 1, kCentred, 0);
    outer->Add(middle, 1, kCentred, 3);

    m_copyrightText = MakeText(this, ID_STATICTEXT3, _T("ID_STATICTEXT3"),
                               _("Copyright (C) 2026 The Orvantis developers. All rights reserved."));
    Grey(m_copyrightText);
    outer->Add(m_copyrightText, 1, kCentred, 2);
    m_disclaimerText = MakeText(this, ID_STATICTEXT4, _T("ID_STATICTEXT4"),
                                _("Disclaimer: This software is provided \"as is\" without express or "
                                  "implied warranty of any kind."));
    Grey(m_disclaimerText);
    outer->Add(m_disclaimerText, 1, kCentred, 2);
    m_liabilityText = MakeText(this, ID_STATICTEXT5, _T("ID_STATICTEXT5"),
                               _("In no event will the authors be held liable for any damages arising "
                                 "from the use of this software."));
    Grey(m_liabilityText);
    outer->Add(m_liabilityText, 1, kCentred, 2);
    m_jpegCreditText = MakeText(this, ID_STATICTEXT9, _T("ID_STATICTEXT9"),
                                _("This software is based in part on the work of the Independent JPEG "
                                  "Group."));
    Grey(m_jpegCreditText);
    outer->Add(m_jpegCreditText, 1, kCentred, 2);
    m_toolkitCreditText = MakeText(this, ID_STATICTEXT10, _T("ID_STATICTEXT10"),
                                   _("Built with the wxWidgets cross-platform GUI toolkit."));
    Grey(m_toolkitCreditText);
    outer->Add(m_toolkitCreditText, 1, kCentred, 2);
    m_okButton = new wxButton(this, ID_BUTTON1, _("OK"), wxDefaultPosition, wxDefaultSize, 0,
                              wxDefaultValidator, _T("ID_BUTTON1"));
    outer->Add(m_okButton, 1, kCentred, 5);

    SetSizer(outer);
    outer->SetSizeHints(this);

    Connect(ID_BUTTON1, wxEVT_COMMAND_BUTTON_CLICKED,
            wxCommandEventHandler(AboutDialog::OnOkButtonClick));

    wxHyperlinkCtrl* link = new wxHyperlinkCtrl(
        this, wxID_STATIC, wxGetTranslation(orvantis::kMakerSiteHost),
        wxGetTranslation(orvantis::kMakerSiteUrl), wxDefaultPosition, wxDefaultSize,
        wxHL_DEFAULT_STYLE, _T("hyperlink"));
    versionBox->Add(link, 1, wxALL | wxEXPAND | wxALIGN_CENTER_HORIZONTAL | wxALIGN_CENTER_VERTICAL, 5);
    SetSizer(outer);
    outer->SetSizeHints(this);

    // wxGTK measures texts in their own fonts only once they are on screen:
    // fit and centre the box again then.
    Bind(wxEVT_SHOW, [this](wxShowEvent& event) {
        event.Skip();
        if (event.IsShown())
            CallAfter([this] {
                GetSizer()->SetSizeHints(this);
                Centre(wxBOTH);
            });
    });
}

AboutDialog::~AboutDialog()
{
}

void AboutDialog::OnOkButtonClick(wxCommandEvent& WXUNUSED(event))
{
    Close();
}

void OrvantisFrame::OnAbout(wxCommandEvent& WXUNUSED(event))
{
    AboutDialog* dialog = new AboutDialog(this, wxID_ANY, wxDefaultPosition, wxDefaultSize);
    dialog->Centre(wxBOTH);
    dialog->ShowModal();
    dialog->Destroy();
}
