#pragma once
// Helpers of the GUI tests: the event loop run for a while, controls found by
// their window names, ports held by the test, the toolkit's log and modal
// dialogs watched, and the X server asked for what a person would see.

#include <chrono>
#include <functional>
#include <mutex>
#include <set>
#include <string>
#include <vector>

#include <wx/dialog.h>
#include <wx/gdicmn.h>
#include <wx/log.h>
#include <wx/modalhook.h>
#include <wx/string.h>
#include <wx/window.h>

#include <gtest/gtest.h>

#include <memory>

#include "app/ProgramParts.h"

namespace guitest {

using Clock = std::chrono::steady_clock;

long MsSince(Clock::time_point start);

// Runs the GUI event loop for `ms` milliseconds.
void Pump(int ms);
// Runs the GUI event loop until `done` holds (looked at every 20 ms) or
// `timeoutMs` have passed; returns whether it holds.
bool PumpUntil(const std::function<bool()>& done, int timeoutMs);

// The control named `name` below `parent` (or `parent` itself), when it is a T.
template <class T>
T* FindByName(wxWindow* parent, const wxString& name)
{
    return dynamic_cast<T*>(wxWindow::FindWindowByName(name, parent));
}

// ---------------------------------------------------------------------------
// The toolkit's log: collected instead of being shown in message boxes.
struct LogEntry {
    wxLogLevel level;
    std::string text;
};

class CollectingLog : public wxLog {
public:
    std::vector<LogEntry> Entries() const;
    void Clear();

protected:
    void DoLogRecord(wxLogLevel level, const wxString& msg, const wxLogRecordInfo& info) override;

private:
    mutable std::mutex m_mutex;
    std::vector<LogEntry> m_entries;
};

CollectingLog& Log();
// The texts of the errors (and worse) logged since the last Clear().
std::vector<std::string> LoggedErrors();

// The toolkit's assertions: recorded (and printed) instead of stopping the
// run in an assertion dialog. An assertion is a programming error that a
// release build hides; every test fails on one.
std::vector<std::string> FailedAssertions();
void ClearFailedAssertions();

// ---------------------------------------------------------------------------
// Every modal dialog shown, in order. The dialogs are really shown: a test
// that expects one must dismiss it.
struct ModalRecord {
    wxDialog* dialog = nullptr;
    bool isMessageBox = false;
    wxString title;
    wxString message;        // message boxes only
    bool exited = false;
    Clock::time_point enteredAt;
    Clock::time_point exitedAt;
};

class ModalWatch : public wxModalDialogHook {
public:
    std::vector<ModalRecord> Records() const { return m_records; }
    void Clear() { m_records.clear(); }
    // Called when a dialog is about to be shown, before it blocks.
    std::function<void(const ModalRecord&)> onEnter;

protected:
    int Enter(wxDialog* dialog) override;
    void Exit(wxDialog* dialog) override;

private:
    std::vector<ModalRecord> m_records;
};

ModalWatch& Modals();

// Sets up the log target and the modal watch; called once from main().
void InstallWatches();

// ---------------------------------------------------------------------------
// A TCP port on 0.0.0.0 held by the test (bound and listening).
class PortHolder {
public:
    explicit PortHolder(int port);
    ~PortHolder();
    PortHolder(const PortHolder&) = delete;
    PortHolder& operator=(const PortHolder&) = delete;
    bool ok() const { return m_fd >= 0; }
    const std::string& error() const { return m_error; }

private:
    int m_fd = -1;
    std::string m_error;
};

// How many sockets of this network namespace listen on each TCP port.
std::multiset<int> ListeningTcpPorts();

// ---------------------------------------------------------------------------
// The main window of one test: created (and shown) in the constructor,
// destroyed at the end of the scope, with the event loop run until the
// toolkit has really deleted it.
class FrameUnderTest {
public:
    explicit FrameUnderTest(bool show = true);
    ~FrameUnderTest();
    FrameUnderTest(const FrameUnderTest&) = delete;
    FrameUnderTest& operator=(const FrameUnderTest&) = delete;

    OrvantisFrame* get() const { return m_frame; }
    OrvantisFrame* operator->() const { return m_frame; }
    // Just before the constructor ran; the address timer starts after this.
    Clock::time_point createdAt() const { return m_createdAt; }

private:
    std::unique_ptr<orvantis::ProgramParts> m_parts;
    OrvantisFrame* m_frame = nullptr;
    Clock::time_point m_createdAt;
};

// The main window, found among the toolkit's top-level windows; null when
// there is none.
OrvantisFrame* FindMainWindow();

// ---------------------------------------------------------------------------
// The network the test runs in, as the CTest wrappers describe it:
// ORVANTIS_TEST_NETWORK is "lo" (only the loopback interface is up) or
// "veth" (ORVANTIS_TEST_ADDRESSES lists the IPv4 addresses on a veth).
std::string Env(const char* name);
std::string TestNetwork();
std::vector<std::string> TestAddresses();
std::string ComputerName();

// ---------------------------------------------------------------------------
// The X server.

// Presses and releases Return in the mapped top-level X window titled
// `title`, after giving it the input focus; false when there is none.
bool PressReturnInWindowTitled(const wxString& title);

// Asks the top-level X window titled `title` to close, as a window manager's
// close button does (WM_DELETE_WINDOW); false when there is none.
bool AskWindowTitledToClose(const wxString& title);

// Saves what the screen shows in `rect` as a PNG file.
bool SaveScreenPicture(const wxRect& rect, const wxString& path);

// Pictures for the README are written only when ORVANTIS_UPDATE_DOCS=1.
bool UpdateDocs();
wxString DocsPath(const char* fileName);

// ---------------------------------------------------------------------------
// The About box, opened from the main window's menu command: while it is
// shown (and has had time to paint) `inspect` looks at it, then a click on OK
// is sent to it. Returns when the menu command has returned.
struct AboutBoxRun {
    bool shown = false;       // a modal dialog came up
    bool clicked = false;     // OK was sent to it
    bool rescued = false;     // it was still up 5 s after OK and had to be ended
    long msFromOkToReturn = -1;
};
AboutBoxRun RunAboutBox(OrvantisFrame* frame, const std::function<void(wxDialog*)>& inspect);
// Whether an About box still exists (shown or waiting to be deleted).
bool AnyAboutBoxLeft();

// Sets a marker text into the status bar and runs the event loop until the
// address timer overwrites it; returns the milliseconds that took, or -1.
long WaitForAddressTick(OrvantisFrame* frame, int timeoutMs);

// ---------------------------------------------------------------------------
// The fixture of every GUI test: a clean log and no dialogs seen yet; at the
// end, no error logged unless the test said it expects some.
class GuiTest : public ::testing::Test {
protected:
    void SetUp() override;
    void TearDown() override;
    bool m_errorsExpected = false;
};

// Tests whose expectations depend on the network they run in.
#define REQUIRE_TEST_NETWORK(kind)                                                          \
    if (::guitest::TestNetwork() != (kind))                                                 \
    GTEST_SKIP() << "needs ORVANTIS_TEST_NETWORK=" << (kind) << "; run it through ctest"

// ---------------------------------------------------------------------------
// Layout checks shared by the window tests.

// `control` lies entirely inside its parent's client area.
::testing::AssertionResult ShownWhole(wxWindow* control);
// No two children of `parent` cover each other.
::testing::AssertionResult NoOverlaps(wxWindow* parent);
// A static text is on one line at least as large as its text.
::testing::AssertionResult OnOneLine(wxWindow* text);

}  // namespace guitest
