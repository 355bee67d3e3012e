#include "gui_support.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>

#include <wx/evtloop.h>
#include <wx/image.h>
#include <wx/msgdlg.h>
#include <wx/timer.h>
#include <wx/toplevel.h>

#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <X11/extensions/XTest.h>
#include <X11/keysym.h>

#include <wx/button.h>
#include <wx/statusbr.h>

#include "ui/AboutDialog.h"
#include "ui/OrvantisFrame.h"

namespace guitest {

long MsSince(Clock::time_point start)
{
    return static_cast<long>(
        std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start).count());
}

bool PumpUntil(const std::function<bool()>& done, int timeoutMs)
{
    if (done && done())
        return true;
    const Clock::time_point deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
    bool held = false;
    wxGUIEventLoop loop;
    wxTimer poll;
    poll.Bind(wxEVT_TIMER, [&](wxTimerEvent&) {
        if (done && done()) {
            held = true;
            loop.Exit();
        } else if (Clock::now() >= deadline) {
            loop.Exit();
        }
    });
    poll.Start(20);
    loop.Run();
    poll.Stop();
    return held;
}

void Pump(int ms)
{
    PumpUntil(nullptr, ms);
}

// ---------------------------------------------------------------------------

std::vector<LogEntry> CollectingLog::Entries() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_entries;
}

void CollectingLog::Clear()
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_entries.clear();
}

void CollectingLog::DoLogRecord(wxLogLevel level, const wxString& msg, const wxLogRecordInfo&)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_entries.push_back({level, std::string(msg.utf8_str())});
}

namespace {

CollectingLog* g_log = nullptr;
ModalWatch* g_modals = nullptr;

std::mutex g_assertMutex;
std::vector<std::string> g_assertions;

void RecordAssertion(const wxString& file, int line, const wxString& function, const wxString& condition,
                     const wxString& message)
{
    const std::string text = std::string(file.utf8_str()) + ":" + std::to_string(line) + " in " +
                             std::string(function.utf8_str()) + "(): " +
                             std::string(condition.utf8_str()) + " - " + std::string(message.utf8_str());
    std::fprintf(stderr, "wx assertion failed: %s\n", text.c_str());
    std::lock_guard<std::mutex> lock(g_assertMutex);
    g_assertions.push_back(text);
}

}  // namespace

std::vector<std::string> FailedAssertions()
{
    std::lock_guard<std::mutex> lock(g_assertMutex);
    return g_assertions;
}

void ClearFailedAssertions()
{
    std::lock_guard<std::mutex> lock(g_assertMutex);
    g_assertions.clear();
}

CollectingLog& Log()
{
    return *g_log;
}

std::vector<std::string> LoggedErrors()
{
    std::vector<std::string> errors;
    for (const LogEntry& entry : Log().Entries())
        if (entry.level <= wxLOG_Error)
            errors.push_back(entry.text);
    return errors;
}

int ModalWatch::Enter(wxDialog* dialog)
{
    ModalRecord record;
    record.dialog = dialog;
    record.title = dialog->GetTitle();
    if (auto* box = dynamic_cast<wxMessageDialogBase*>(dialog)) {
        record.isMessageBox = true;
        record.title = box->GetCaption();
        record.message = box->GetMessage();
    }
    record.enteredAt = Clock::now();
    m_records.push_back(record);
    if (onEnter)
        onEnter(record);
    return wxID_NONE;  // show it for real
}

void ModalWatch::Exit(wxDialog* dialog)
{
    for (auto it = m_records.rbegin(); it != m_records.rend(); ++it) {
        if (it->dialog == dialog && !it->exited) {
            it->exited = true;
            it->exitedAt = Clock::now();
            break;
        }
    }
}

ModalWatch& Modals()
{
    return *g_modals;
}

void InstallWatches()
{
    wxSetAssertHandler(RecordAssertion);
    g_log = new CollectingLog;
    delete wxLog::SetActiveTarget(g_log);
    g_modals = new ModalWatch;
    g_modals->Register();
}

// ---------------------------------------------------------------------------

PortHolder::PortHolder(int port)
{
    m_fd = ::socket(AF_INET, SOCK_STREAM, 0);
    if (m_fd < 0) {
        m_error = std::strerror(errno);
        return;
    }
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(static_cast<uint16_t>(port));
    address.sin_addr.s_addr = htonl(INADDR_ANY);
    if (::bind(m_fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
        ::listen(m_fd, 1) != 0) {
        m_error = "port " + std::to_string(port) + ": " + std::strerror(errno);
        ::close(m_fd);
        m_fd = -1;
    }
}

PortHolder::~PortHolder()
{
    if (m_fd >= 0)
        ::close(m_fd);
}

std::multiset<int> ListeningTcpPorts()
{
    std::multiset<int> ports;
    for (const char* table : {"/proc/net/tcp", "/proc/net/tcp6"}) {
        std::ifstream in(table);
        std::string line;
        std::getline(in, line);  // the heading
        while (std::getline(in, line)) {
            std::istringstream fields(line);
            std::string slot, local, remote, state;
            fields >> slot >> local >> remote >> state;
            if (state != "0A")  // TCP_LISTEN
                continue;
            const std::size_t colon = local.rfind(':');
            if (colon != std::string::npos)
                ports.insert(static_cast<int>(std::strtol(local.c_str() + colon + 1, nullptr, 16)));
        }
    }
    return ports;
}

// ---------------------------------------------------------------------------

FrameUnderTest::FrameUnderTest(bool show)
{
    m_createdAt = Clock::now();
    // Wired as the program wires it.
    m_parts = std::make_unique<orvantis::ProgramParts>();
    m_frame = m_parts->CreateMainWindow();
    if (show)
        m_frame->Show(true);
}

FrameUnderTest::~FrameUnderTest()
{
    OrvantisFrame* frame = m_frame;
    frame->Destroy();
    const bool gone = PumpUntil([frame] { return wxTopLevelWindows.Find(frame) == nullptr; }, 5000);
    EXPECT_TRUE(gone) << "the main window was not deleted within 5 s of Destroy()";
    EXPECT_TRUE(m_parts->Finish(std::chrono::seconds(5))) << "workers outlived the window";
}

OrvantisFrame* FindMainWindow()
{
    for (wxWindow* window : wxTopLevelWindows) {
        if (OrvantisFrame* frame = dynamic_cast<OrvantisFrame*>(window))
            return frame;
    }
    return nullptr;
}

// ---------------------------------------------------------------------------

std::string Env(const char* name)
{
    const char* value = std::getenv(name);
    return value ? value : "";
}

std::string TestNetwork()
{
    return Env("ORVANTIS_TEST_NETWORK");
}

std::vector<std::string> TestAddresses()
{
    std::vector<std::string> addresses;
    std::istringstream list(Env("ORVANTIS_TEST_ADDRESSES"));
    std::string address;
    while (std::getline(list, address, ','))
        if (!address.empty())
            addresses.push_back(address);
    return addresses;
}

std::string ComputerName()
{
    char name[256] = {};
    ::gethostname(name, sizeof name - 1);
    return name;
}

// ---------------------------------------------------------------------------

namespace {

// The test's own connection to the X server, kept for the whole run.
Display* TestDisplay()
{
    static Display* display = XOpenDisplay(nullptr);
    return display;
}

std::string WindowTitle(Display* display, Window window)
{
    std::string title;
    const Atom utf8 = XInternAtom(display, "UTF8_STRING", False);
    const Atom netName = XInternAtom(display, "_NET_WM_NAME", False);
    Atom type = None;
    int format = 0;
    unsigned long count = 0, after = 0;
    unsigned char* data = nullptr;
    if (XGetWindowProperty(display, window, netName, 0, 1024, False, utf8, &type, &format, &count,
                           &after, &data) == Success &&
        data) {
        if (type == utf8 && format == 8)
            title.assign(reinterpret_cast<char*>(data), count);
        XFree(data);
    }
    if (title.empty()) {
        char* name = nullptr;
        if (XFetchName(display, window, &name) && name) {
            title = name;
            XFree(name);
        }
    }
    return title;
}

int IgnoreXError(Display*, XErrorEvent*)
{
    return 0;
}

// Windows may go away at any moment; an X error about one must not end the
// process through Xlib's default handler. Only this thread talks to X while
// the guard is up.
class XErrorsIgnored {
public:
    explicit XErrorsIgnored(Display* display) : m_display(display), m_previous(XSetErrorHandler(IgnoreXError)) {}
    ~XErrorsIgnored()
    {
        XSync(m_display, False);
        XSetErrorHandler(m_previous);
    }

private:
    Display* m_display;
    XErrorHandler m_previous;
};

// The mapped top-level window titled `title`, or None.
Window FindWindowTitled(Display* display, const wxString& title)
{
    const std::string wanted(title.utf8_str());
    XErrorsIgnored guard(display);
    Window root = DefaultRootWindow(display), parent = None, *children = nullptr;
    unsigned int count = 0;
    Window target = None;
    if (XQueryTree(display, root, &root, &parent, &children, &count)) {
        for (unsigned int i = 0; i < count && target == None; ++i) {
            XWindowAttributes attributes;
            if (XGetWindowAttributes(display, children[i], &attributes) &&
                attributes.map_state == IsViewable && WindowTitle(display, children[i]) == wanted)
                target = children[i];
        }
        if (children)
            XFree(children);
    }
    return target;
}

}  // namespace

bool PressReturnInWindowTitled(const wxString& title)
{
    Display* display = TestDisplay();
    const Window target = display ? FindWindowTitled(display, title) : None;
    if (target == None)
        return false;
    XErrorsIgnored guard(display);
    XSetInputFocus(display, target, RevertToParent, CurrentTime);
    const KeyCode enter = XKeysymToKeycode(display, XK_Return);
    XTestFakeKeyEvent(display, enter, True, CurrentTime);
    XTestFakeKeyEvent(display, enter, False, CurrentTime);
    return true;
}

bool AskWindowTitledToClose(const wxString& title)
{
    Display* display = TestDisplay();
    const Window target = display ? FindWindowTitled(display, title) : None;
    if (target == None)
        return false;
    XEvent event{};
    event.xclient.type = ClientMessage;
    event.xclient.window = target;
    event.xclient.message_type = XInternAtom(display, "WM_PROTOCOLS", False);
    event.xclient.format = 32;
    event.xclient.data.l[0] = static_cast<long>(XInternAtom(display, "WM_DELETE_WINDOW", False));
    event.xclient.data.l[1] = CurrentTime;
    XErrorsIgnored guard(display);
    XSendEvent(display, target, False, NoEventMask, &event);
    return true;
}

bool SaveScreenPicture(const wxRect& rect, const wxString& path)
{
    Display* display = TestDisplay();
    if (!display || rect.IsEmpty())
        return false;
    XSync(display, False);
    XImage* shot = XGetImage(display, DefaultRootWindow(display), rect.x, rect.y,
                             static_cast<unsigned>(rect.width), static_cast<unsigned>(rect.height),
                             AllPlanes, ZPixmap);
    if (!shot)
        return false;
    // A channel of a TrueColor pixel, scaled to 8 bits.
    auto channel = [](unsigned long pixel, unsigned long mask) -> unsigned char {
        if (!mask)
            return 0;
        int shift = 0;
        while (!((mask >> shift) & 1))
            ++shift;
        const unsigned long max = mask >> shift;
        return static_cast<unsigned char>(((pixel & mask) >> shift) * 255 / max);
    };
    wxImage image(rect.width, rect.height);
    for (int y = 0; y < rect.height; ++y) {
        for (int x = 0; x < rect.width; ++x) {
            const unsigned long pixel = XGetPixel(shot, x, y);
            image.SetRGB(x, y, channel(pixel, shot->red_mask), channel(pixel, shot->green_mask),
                         channel(pixel, shot->blue_mask));
        }
    }
    XDestroyImage(shot);
    return image.SaveFile(path, wxBITMAP_TYPE_PNG);
}

bool UpdateDocs()
{
    return Env("ORVANTIS_UPDATE_DOCS") == "1";
}

wxString DocsPath(const char* fileName)
{
    return wxString::FromUTF8(ORVANTIS_DOCS_DIR) + "/" + fileName;
}

// ---------------------------------------------------------------------------

AboutBoxRun RunAboutBox(OrvantisFrame* frame, const std::function<void(wxDialog*)>& inspect)
{
    AboutBoxRun run;
    const std::size_t dialogsBefore = Modals().Records().size();
    wxDialog* box = nullptr;
    Clock::time_point seenAt, clickedAt;

    // Runs inside the dialog's modal loop.
    wxTimer driver;
    driver.Bind(wxEVT_TIMER, [&](wxTimerEvent&) {
        if (!box) {
            const std::vector<ModalRecord> records = Modals().Records();
            if (records.size() > dialogsBefore && !records.back().exited) {
                box = records.back().dialog;
                seenAt = Clock::now();
                run.shown = true;
            }
            return;
        }
        if (!run.clicked) {
            // Let it be laid out and painted first; end it if it never shows.
            if (!box->IsShown() && MsSince(seenAt) > 10000) {
                run.rescued = true;
                box->EndModal(wxID_CANCEL);
                return;
            }
            if (!box->IsShown() || MsSince(seenAt) < 300)
                return;
            if (inspect)
                inspect(box);
            wxCommandEvent ok(wxEVT_BUTTON, AboutDialog::ID_BUTTON1);
            ok.SetEventObject(box->FindWindow(AboutDialog::ID_BUTTON1));
            run.clicked = true;
            clickedAt = Clock::now();
            box->GetEventHandler()->ProcessEvent(ok);
            return;
        }
        if (box->IsModal() && MsSince(clickedAt) > 5000) {
            run.rescued = true;
            box->EndModal(wxID_CANCEL);
        }
    });
    driver.Start(50);

    wxCommandEvent about(wxEVT_MENU, OrvantisFrame::ID_MENU_ABOUT);
    about.SetEventObject(frame);
    frame->GetEventHandler()->ProcessEvent(about);
    driver.Stop();
    if (run.clicked)
        run.msFromOkToReturn = MsSince(clickedAt);
    return run;
}

bool AnyAboutBoxLeft()
{
    for (wxWindow* window : wxTopLevelWindows)
        if (dynamic_cast<AboutDialog*>(window))
            return true;
    return false;
}

long WaitForAddressTick(OrvantisFrame* frame, int timeoutMs)
{
    const wxString marker = "(waiting for the address timer)";
    wxStatusBar* status = frame->GetStatusBar();
    status->SetStatusText(marker, 0);
    const Clock::time_point start = Clock::now();
    if (!PumpUntil([&] { return status->GetStatusText(0) != marker; }, timeoutMs))
        return -1;
    return MsSince(start);
}

void GuiTest::SetUp()
{
    ClearFailedAssertions();
    Log().Clear();
    Modals().Clear();
    Modals().onEnter = nullptr;
}

void GuiTest::TearDown()
{
    EXPECT_EQ(FailedAssertions(), std::vector<std::string>{}) << "the toolkit asserted";
    Modals().onEnter = nullptr;
    if (!m_errorsExpected) {
        EXPECT_EQ(LoggedErrors(), std::vector<std::string>{});
    }
}

// ---------------------------------------------------------------------------

::testing::AssertionResult ShownWhole(wxWindow* control)
{
    if (!control)
        return ::testing::AssertionFailure() << "no control";
    const wxRect inside(control->GetParent()->GetClientSize());
    const wxRect rect = control->GetRect();
    if (!control->IsShown() || rect.IsEmpty())
        return ::testing::AssertionFailure() << control->GetName() << " is not shown";
    if (!inside.Contains(rect))
        return ::testing::AssertionFailure()
               << control->GetName() << " \"" << control->GetLabel() << "\" at (" << rect.x << ","
               << rect.y << " " << rect.width << "x" << rect.height << ") is cut off by its parent's "
               << inside.width << "x" << inside.height << " client area";
    return ::testing::AssertionSuccess();
}

::testing::AssertionResult NoOverlaps(wxWindow* parent)
{
    std::vector<wxWindow*> shown;
    for (wxWindow* child : parent->GetChildren())
        if (child->IsShown() && !child->IsTopLevel() && !child->GetRect().IsEmpty())
            shown.push_back(child);
    for (std::size_t i = 0; i < shown.size(); ++i) {
        for (std::size_t j = i + 1; j < shown.size(); ++j) {
            const wxRect a = shown[i]->GetRect(), b = shown[j]->GetRect();
            if (a.Intersects(b))
                return ::testing::AssertionFailure()
                       << shown[i]->GetName() << " (" << a.x << "," << a.y << " " << a.width << "x"
                       << a.height << ") and " << shown[j]->GetName() << " (" << b.x << "," << b.y << " "
                       << b.width << "x" << b.height << ") overlap";
        }
    }
    return ::testing::AssertionSuccess();
}

::testing::AssertionResult OnOneLine(wxWindow* text)
{
    if (!text)
        return ::testing::AssertionFailure() << "no control";
    const wxSize extent = text->GetTextExtent(text->GetLabel());
    const wxSize size = text->GetSize();
    if (size.x < extent.x || size.y < extent.y || size.y >= 2 * extent.y)
        return ::testing::AssertionFailure()
               << text->GetName() << " \"" << text->GetLabel() << "\" is " << size.x << "x" << size.y
               << " for a one-line text of " << extent.x << "x" << extent.y;
    return ::testing::AssertionSuccess();
}

}  // namespace guitest
