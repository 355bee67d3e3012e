#include "app/OrvantisApp.h"

#include <chrono>
#include <cstdio>
#include <cstdlib>

#include <wx/image.h>
#include <wx/intl.h>
#include <wx/msgdlg.h>
#include <wx/sizer.h>
#include <wx/socket.h>
#include <wx/utils.h>

#include "platform/ProcessTuning.h"
#include "platform/SocketIo.h"

wxIMPLEMENT_APP(OrvantisApp);

bool OrvantisApp::OnInit()
{
    const wxString guardName = wxString::Format(_T("MyApp-%s"), wxGetUserId());
    m_checker = orvantis::TakeInstanceGuard(guardName).release();
    if (m_checker->AnotherIsRunning()) {
        wxMessageBox(_("Orvantis is already running... maybe it's minimized - please click it in your "
                       "taskbar..."),
                     _("Already Running..."), wxOK | wxCENTRE);
        return false;
    }

    wxInitAllImageHandlers();
    // Connection threads use sockets; the toolkit's socket layer must be set
    // up on this thread before the first one exists.
    wxSocketBase::Initialize();
    orvantis::RaiseDescriptorLimit();
    orvantis::ReturnLargeBlocksToSystem();
    // The window's layout keeps alignment flags beside wxEXPAND in the cells
    // that grow; the toolkit would question that combination at run time.
    wxSizerFlags::DisableConsistencyChecks();

    m_parts = std::make_unique<orvantis::ProgramParts>();
    OrvantisFrame* frame = m_parts->CreateMainWindow();
    frame->Show(true);
    SetTopWindow(frame);
    frame->ShowStartupNotices(m_parts->InputAvailable());
    return true;
}

int OrvantisApp::OnExit()
{
    // The window is gone and nothing reaches the desktop any more: a new
    // start need not wait for the connections still winding down.
    delete m_checker;
    m_checker = nullptr;
    // Let connection threads end before the toolkit is torn down under them.
    // They were told to stop when the window closed and each ends within a
    // fifth of a second of its current step; the desktop they could use is
    // already closed to them.
    if (m_parts && !m_parts->Finish(std::chrono::seconds(2))) {
        // One is stuck in a call that does not return. Tearing the toolkit
        // down would free the thread bookkeeping it still uses, and waiting
        // longer would keep the program running without a window: end the
        // process here instead, with nothing left to save.
        std::fprintf(stderr, "Orvantis: %zu connection threads did not end; exiting without cleanup\n",
                     m_parts->WorkersAlive());
        std::fflush(nullptr);
        std::_Exit(0);
    }
    m_parts.reset();
    return 0;
}
