#pragma once
// The application object: one running copy per user, the image handlers, the
// main window.

#include <wx/app.h>
#include <wx/snglinst.h>

class OrvantisApp : public wxApp {
public:
    virtual bool OnInit() wxOVERRIDE;
    virtual int OnExit() wxOVERRIDE;

private:
    wxSingleInstanceChecker* m_checker = nullptr;
};

wxDECLARE_APP(OrvantisApp);
