#pragma once
// The About box: what the program is for, its logo, version, the maker's
// link, a copyright line, a disclaimer and acknowledgements.

#include <wx/button.h>
#include <wx/dialog.h>
#include <wx/statbmp.h>
#include <wx/stattext.h>

class AboutDialog : public wxDialog {
public:
    AboutDialog(wxWindow* parent, wxWindowID id = wxID_ANY, const wxPoint& pos = wxDefaultPosition,
                const wxSize& size = wxDefaultSize);
    virtual ~AboutDialog();

    static const long ID_STATICTEXT1;
    static const long ID_STATICTEXT6;
    static const long ID_STATICTEXT7;
    static const long ID_STATICTEXT8;
    static const long ID_STATICBITMAP1;
    static const long ID_STATICTEXT2;
    static const long ID_STATICTEXT3;
    static const long ID_STATICTEXT4;
    static const long ID_STATICTEXT5;
    static const long ID_STATICTEXT9;
    static const long ID_STATICTEXT10;
    static const long ID_BUTTON1;

private:
    void OnOkButtonClick(wxCommandEvent& event);

    wxStaticText* m_titleText;
    wxStaticText* m_purposeText;
    wxStaticText* m_phonesText;
    wxStaticText* m_howToText;
    wxStaticBitmap* m_logoBitmap;
    wxStaticText* m_versionText;
    wxStaticText* m_copyrightText;
    wxStaticText* m_disclaimerText;
    wxStaticText* m_liabilityText;
    wxStaticText* m_jpegCreditText;
    wxStaticText* m_toolkitCreditText;
    wxButton* m_okButton;

    wxDECLARE_EVENT_TABLE();
};
