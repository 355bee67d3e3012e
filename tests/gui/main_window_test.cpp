// The main window as a person sees it: its texts, pictures, menus and fixed
// size, the URL that the address timer puts up, and its built-in pictures
// when the picture files are missing.

#include <sched.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <string>
#include <vector>

#include <wx/font.h>
#include <wx/frame.h>
#include <wx/image.h>
#include <wx/menu.h>
#include <wx/panel.h>
#include <wx/statbmp.h>
#include <wx/stattext.h>
#include <wx/statusbr.h>

#include "gui_support.h"
#include "ui/OrvantisFrame.h"

using namespace guitest;

namespace {

const char* const kWaiting = "Getting URL, Please wait...";
const char* const kServerUp = "OrvantisServer is up and running...";

struct ExpectedText {
    const char* name;
    const char* label;
    int boldPoints;    // 0: the default font
    const char* face;
};

const ExpectedText kTexts[] = {
    {"ID_STATICTEXT3",
     "Any phone with WIFI: iPhone, Nokia N-Series, E-Series, Windows Mobile, Blackberry, etc...", 0,
     nullptr},
    {"ID_STATICTEXT1", "Open URL in phone Web-Browser:", 16, "Trebuchet MS"},
    {"ID_STATICTEXT2", kWaiting, 18, "Trebuchet MS"},
    {"ID_STATICTEXT5", "Connect phone to the WIFI access-point that links to this computer's LAN.", 0,
     nullptr},
    {"ID_STATICTEXT6", "Or connect this computer to the same WIFI as phone.", 0, nullptr},
    {"ID_STATICTEXT7", "Note: Make sure your firewall allows port 80 and orvantis", 9, "Tahoma"},
};

const char* const kBitmaps[] = {"ID_STATICBITMAP1", "ID_STATICBITMAP2", "ID_STATICBITMAP3"};

wxPanel* Panel(OrvantisFrame* frame)
{
    return FindByName<wxPanel>(frame, "ID_PANEL1");
}

wxStaticText* UrlLabel(OrvantisFrame* frame)
{
    return FindByName<wxStaticText>(Panel(frame), "ID_STATICTEXT2");
}

// The texts of the window, in place, whole and on one line.
void ExpectTexts(wxPanel* panel)
{
    for (const ExpectedText& expected : kTexts) {
        SCOPED_TRACE(expected.name);
        auto* text = FindByName<wxStaticText>(panel, expected.name);
        ASSERT_NE(text, nullptr);
        EXPECT_EQ(text->GetParent(), panel);
        EXPECT_EQ(text->GetLabel(), expected.label);
        EXPECT_TRUE(ShownWhole(text));
        EXPECT_TRUE(OnOneLine(text));
        if (expected.boldPoints) {
            const wxFont font = text->GetFont();
            EXPECT_EQ(font.GetWeight(), wxFONTWEIGHT_BOLD);
            EXPECT_EQ(font.GetPointSize(), expected.boldPoints);
            EXPECT_EQ(font.GetFaceName(), expected.face);
        }
    }
}

// The window keeps the size its layout asks for, and the panel fills it.
void ExpectFittedSize(OrvantisFrame* frame)
{
    EXPECT_EQ(frame->GetSize(), frame->GetMinSize());
    EXPECT_EQ(Panel(frame)->GetSize(), frame->GetClientSize());
}

// Runs the test in an empty directory of its own, so that the program finds
// none of its picture files.
class InEmptyDirectory {
public:
    InEmptyDirectory()
    {
        char dir[] = "/tmp/orvantis-gui-nopictures-XXXXXX";
        if (::mkdtemp(dir) && ::getcwd(m_previous, sizeof m_previous) && ::chdir(dir) == 0)
            m_dir = dir;
    }
    ~InEmptyDirectory()
    {
        if (!m_dir.empty()) {
            (void)::chdir(m_previous);
            ::rmdir(m_dir.c_str());
        }
    }
    bool ok() const { return !m_dir.empty(); }

private:
    char m_previous[4096] = {};
    std::string m_dir;
};

class MainWindow : public GuiTest {};
class AddressTimer : public GuiTest {};
class AddressTimerVeth : public GuiTest {};

}  // namespace

TEST_F(MainWindow, ShowsItsTextsPicturesAndMenusAtItsFittedSize)
{
    FrameUnderTest frame;
    Pump(300);

    EXPECT_EQ(frame->GetTitle(), "Orvantis");
    EXPECT_EQ(frame->GetName(), "wxID_ANY");
    const long frameBits = wxCAPTION | wxSYSTEM_MENU | wxCLOSE_BOX | wxMINIMIZE_BOX | wxFRAME_SHAPED |
                           wxRESIZE_BORDER | wxMAXIMIZE_BOX;
    EXPECT_EQ(frame->GetWindowStyleFlag() & frameBits,
              wxCAPTION | wxSYSTEM_MENU | wxCLOSE_BOX | wxMINIMIZE_BOX | wxFRAME_SHAPED)
        << "the window must have a caption, a close and a minimise box, and neither a resize border "
           "nor a maximise box";
    EXPECT_EQ(frame->GetBackgroundColour(), *wxWHITE);
    EXPECT_TRUE(frame->GetIcon().IsOk());

    wxPanel* panel = Panel(frame.get());
    ASSERT_NE(panel, nullptr);
    EXPECT_EQ(panel->GetParent(), frame.get());
    EXPECT_EQ(panel->GetBackgroundColour(), *wxWHITE);
    ExpectTexts(panel);

    struct {
        const char* name;
        wxSize size;
    } const pictures[] = {{"ID_STATICBITMAP1", {100, 100}},
                          {"ID_STATICBITMAP2", {600, 24}},
                          {"ID_STATICBITMAP3", {600, 24}}};
    for (const auto& picture : pictures) {
        SCOPED_TRACE(picture.name);
        auto* bitmap = FindByName<wxStaticBitmap>(panel, picture.name);
        ASSERT_NE(bitmap, nullptr);
        EXPECT_TRUE(bitmap->GetBitmap().IsOk());
        EXPECT_EQ(bitmap->GetBitmap().GetSize(), picture.size);
        EXPECT_TRUE(ShownWhole(bitmap));
    }

    wxStatusBar* status = FindByName<wxStatusBar>(frame.get(), "ID_STATUSBAR1");
    ASSERT_NE(status, nullptr);
    EXPECT_EQ(frame->GetStatusBar(), status);
    EXPECT_EQ(status->GetFieldsCount(), 1);

    wxMenuBar* menus = frame->GetMenuBar();
    ASSERT_NE(menus, nullptr);
    ASSERT_EQ(menus->GetMenuCount(), 2u);
    EXPECT_EQ(menus->GetMenuLabelText(0), "About");
    EXPECT_EQ(menus->GetMenuLabelText(1), "Help");
    ASSERT_EQ(menus->GetMenu(0)->GetMenuItemCount(), 1u);
    ASSERT_EQ(menus->GetMenu(1)->GetMenuItemCount(), 1u);
    wxMenuItem* about = menus->GetMenu(0)->FindItemByPosition(0);
    wxMenuItem* page = menus->GetMenu(1)->FindItemByPosition(0);
    EXPECT_EQ(about->GetItemLabelText(), "About Orvantis");
    EXPECT_EQ(about->GetId(), OrvantisFrame::ID_MENU_ABOUT);
    EXPECT_EQ(page->GetItemLabelText(), "Show Official Page to see more info...");
    EXPECT_EQ(page->GetId(), OrvantisFrame::ID_MENU_OFFICIAL_PAGE);

    EXPECT_TRUE(NoOverlaps(panel));
    ExpectFittedSize(frame.get());
    EXPECT_TRUE(Modals().Records().empty());
}

TEST_F(MainWindow, ShowsItsBuiltInPicturesWhereThereAreNoPictureFiles)
{
    // What the files in the working directory show (it holds copies of data/).
    std::vector<wxImage> expected;
    for (const char* file : {"OrvantisLogo100px.png", "gradt.png", "gradb.png"})
        expected.emplace_back(wxString(file), wxBITMAP_TYPE_PNG);
    const auto same = [](const wxBitmap& bitmap, const wxImage& image) {
        const wxImage shown = bitmap.ConvertToImage();
        return bitmap.IsOk() && image.IsOk() && shown.GetSize() == image.GetSize() &&
               std::equal(shown.GetData(), shown.GetData() + 3 * image.GetWidth() * image.GetHeight(),
                          image.GetData());
    };
    {
        InEmptyDirectory here;
        ASSERT_TRUE(here.ok());
        FrameUnderTest frame;
        Pump(300);
        wxPanel* panel = Panel(frame.get());
        ASSERT_NE(panel, nullptr);
        ExpectTexts(panel);
        EXPECT_TRUE(frame->GetIcon().IsOk());
        for (std::size_t i = 0; i < 3; ++i) {
            auto* bitmap = FindByName<wxStaticBitmap>(panel, kBitmaps[i]);
            ASSERT_NE(bitmap, nullptr) << kBitmaps[i];
            EXPECT_TRUE(same(bitmap->GetBitmap(), expected[i])) << kBitmaps[i];
            EXPECT_TRUE(ShownWhole(bitmap)) << kBitmaps[i];
        }
        EXPECT_TRUE(NoOverlaps(panel));
        ExpectFittedSize(frame.get());
        if (UpdateDocs()) {
            EXPECT_TRUE(
                SaveScreenPicture(frame->GetScreenRect(), DocsPath("main-window-no-picture-files.png")));
        }

        const AboutBoxRun run = RunAboutBox(frame.get(), [&](wxDialog* box) {
            auto* logo = FindByName<wxStaticBitmap>(box, "ID_STATICBITMAP1");
            ASSERT_NE(logo, nullptr);
            EXPECT_TRUE(same(logo->GetBitmap(), expected[0]));
            EXPECT_TRUE(ShownWhole(logo));
        });
        EXPECT_TRUE(run.clicked);
        EXPECT_FALSE(run.rescued);
        EXPECT_TRUE(PumpUntil([] { return !AnyAboutBoxLeft(); }, 5000));
        EXPECT_TRUE(Modals().Records().size() == 1u && !Modals().Records()[0].isMessageBox)
            << "a missing picture must not bring up a message box";
    }

    // A picture file that is there still wins over the built-in copy.
    {
        InEmptyDirectory here;
        ASSERT_TRUE(here.ok());
        ASSERT_TRUE(wxImage(40, 6).SaveFile("gradt.png", wxBITMAP_TYPE_PNG));
        FrameUnderTest frame;
        Pump(300);
        auto* top = FindByName<wxStaticBitmap>(Panel(frame.get()), "ID_STATICBITMAP2");
        ASSERT_NE(top, nullptr);
        EXPECT_EQ(top->GetBitmap().GetSize(), wxSize(40, 6));
        ::unlink("gradt.png");
    }
    // Nothing logged an error (GuiTest checks that at the end).
}

TEST_F(AddressTimer, LoopbackOnlyNetworkShowsNotConnectedAfterTheFirstTick)
{
    REQUIRE_TEST_NETWORK("lo");
    FrameUnderTest frame;
    wxStaticText* label = UrlLabel(frame.get());
    wxStatusBar* status = frame->GetStatusBar();
    ASSERT_NE(label, nullptr);

    // Nothing changes before the first tick, 2 s after the window started.
    Pump(static_cast<int>(1500 - MsSince(frame.createdAt())));
    EXPECT_EQ(label->GetLabel(), kWaiting);
    EXPECT_EQ(status->GetStatusText(0), "");

    ASSERT_TRUE(PumpUntil([&] { return !status->GetStatusText(0).empty(); }, 8000))
        << "the address timer never ticked";
    EXPECT_GE(MsSince(frame.createdAt()), 1950);
    EXPECT_EQ(status->GetStatusText(0), kServerUp);
    EXPECT_EQ(label->GetLabel(), "Not Connected to LAN or WIFI");
    EXPECT_TRUE(ShownWhole(label));

    // And so on every tick.
    const long next = WaitForAddressTick(frame.get(), 8000);
    EXPECT_GE(next, 1000);
    EXPECT_EQ(status->GetStatusText(0), kServerUp);
    EXPECT_EQ(label->GetLabel(), "Not Connected to LAN or WIFI");
}

TEST_F(AddressTimerVeth, ShowsTheAddressThenTheComputerNameInTurn)
{
    REQUIRE_TEST_NETWORK("veth");
    const std::vector<std::string> addresses = TestAddresses();
    ASSERT_EQ(addresses.size(), 1u) << "set up one address on the veth";
    const wxString address = wxString::FromUTF8(addresses[0].c_str());
    const wxString name = wxString::FromUTF8(ComputerName().c_str());

    FrameUnderTest frame;
    wxStaticText* label = UrlLabel(frame.get());
    wxStatusBar* status = frame->GetStatusBar();
    ASSERT_NE(label, nullptr);

    ASSERT_TRUE(PumpUntil([&] { return !status->GetStatusText(0).empty(); }, 8000))
        << "the address timer never ticked";
    EXPECT_GE(MsSince(frame.createdAt()), 1950);
    EXPECT_EQ(status->GetStatusText(0), kServerUp);
    EXPECT_EQ(label->GetLabel(), "http://" + address);
    EXPECT_TRUE(ShownWhole(label));
    Pump(300);
    if (UpdateDocs()) {
        EXPECT_TRUE(SaveScreenPicture(frame->GetScreenRect(), DocsPath("main-window.png")));
    }

    ASSERT_GE(WaitForAddressTick(frame.get(), 8000), 0);
    EXPECT_EQ(label->GetLabel(), "Or http://" + name);
    EXPECT_TRUE(ShownWhole(label));

    ASSERT_GE(WaitForAddressTick(frame.get(), 8000), 0);
    EXPECT_EQ(label->GetLabel(), "http://" + address);
}

TEST_F(AddressTimerVeth, HostNameWithAnAmpersandAndBytesThatAreNotUtf8ShowsAsIs)
{
    REQUIRE_TEST_NETWORK("veth");
    // A host name of its own, for this thread only (the timer ticks on it).
    ASSERT_EQ(::unshare(CLONE_NEWUTS), 0) << "needs root";
    const std::string name = "pres&amp;hall-\xe9";
    ASSERT_EQ(::sethostname(name.data(), name.size()), 0);

    FrameUnderTest frame;
    wxStaticText* label = UrlLabel(frame.get());
    ASSERT_NE(label, nullptr);
    ASSERT_TRUE(PumpUntil([&] { return label->GetLabel().StartsWith("http://"); }, 8000));
    ASSERT_GE(WaitForAddressTick(frame.get(), 8000), 0);
    EXPECT_EQ(label->GetLabelText(), wxString(L"Or http://pres&amp;hall-\uFFFD"));
    EXPECT_EQ(label->GetLabel(), wxString(L"Or http://pres&&amp;hall-\uFFFD"));
    EXPECT_TRUE(ShownWhole(label));
}
