#pragma once
// The application object: one running copy per user, the image handlers, the
// main window.

#include <memory>

#include <wx/app.h>
#include <wx/snglinst.h>

#include "app/ProgramParts.h"

class OrvantisApp : public wxApp {
public:
    virtual bool OnInit() wxOVERRIDE;
    virtual int OnExit() wxOVERRIDE;

private:
    wxSingleInstanceChecker* m_checker = nullptr;
    std::unique_ptr<orvantis::ProgramParts> m_parts;
};

wxDECLARE_APP(OrvantisApp);
