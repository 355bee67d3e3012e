#pragma once
// The application object: one running copy per user, the image handlers, the
// main window.

#include <memory>

#include <wx/app.h>

#include "app/ProgramParts.h"
#include "platform/InstanceGuard.h"

class OrvantisApp : public wxApp {
public:
    virtual bool OnInit() wxOVERRIDE;
    virtual int OnExit() wxOVERRIDE;

private:
    orvantis::InstanceGuard* m_checker = nullptr;
    std::unique_ptr<orvantis::ProgramParts> m_parts;
};

wxDECLARE_APP(OrvantisApp);
