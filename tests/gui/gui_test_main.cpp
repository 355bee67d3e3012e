// The GUI tests run inside a wx application of their own, set up as the
// program's OnInit sets up its own, on the display that scripts/with-xvfb.sh
// starts for them. Each test creates the windows it looks at and destroys
// them before it ends.

#include <cstdio>

#include <wx/app.h>
#include <wx/image.h>
#include <wx/init.h>
#include <wx/sizer.h>
#include <wx/socket.h>

#include <gtest/gtest.h>

#include "gui_support.h"

namespace {

class GuiTestApp : public wxApp {
public:
    // No command line of its own to parse: GoogleTest has taken its flags.
    bool OnInit() override { return true; }
};

}  // namespace

wxIMPLEMENT_APP_NO_MAIN(GuiTestApp);

int main(int argc, char** argv)
{
    ::testing::InitGoogleTest(&argc, argv);
    // The window's server takes ports 80 and 8888 of whatever network it is
    // in: run only in a namespace that a CTest wrapper made for the test.
    if (guitest::TestNetwork().empty()) {
        std::fprintf(stderr,
                     "orvantis_gui_tests: run it through ctest (-R gui_tests), which starts it in a "
                     "network namespace of its own with ORVANTIS_TEST_NETWORK set\n");
        return 2;
    }
    if (!wxEntryStart(argc, argv)) {
        std::fprintf(stderr, "orvantis_gui_tests: the toolkit could not start (is DISPLAY set?)\n");
        return 2;
    }
    if (!wxTheApp->CallOnInit()) {
        wxEntryCleanup();
        return 2;
    }
    // A test destroys its main window; that must not end anything.
    wxTheApp->SetExitOnFrameDelete(false);

    wxInitAllImageHandlers();
    wxSocketBase::Initialize();
    wxSizerFlags::DisableConsistencyChecks();
    guitest::InstallWatches();

    const int result = RUN_ALL_TESTS();

    wxTheApp->OnExit();
    wxEntryCleanup();
    return result;
}
