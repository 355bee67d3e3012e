// Which port the main window's server takes, and what the window says when it
// gets none. The test holds ports itself before the window is created; each
// test runs in a network namespace of its own, so ports 80 and 8888 are free
// at the start.

#include <set>
#include <string>
#include <vector>

#include <wx/stattext.h>
#include <wx/statusbr.h>
#include <wx/timer.h>

#include "gui_support.h"
#include "ui/OrvantisFrame.h"

using namespace guitest;

namespace {

const char* const kFailedPort = "Failed to access port for OrvantisServer...";
const char* const kFailedStatus =
    "Failed to access the Port... Please allow it in the Firewall for your LAN or WIFI connection.";

wxStaticText* Text(OrvantisFrame* frame, const char* name)
{
    return FindByName<wxStaticText>(FindByName<wxWindow>(frame, "ID_PANEL1"), name);
}

wxString FirewallNote(int port)
{
    return wxString::Format("Note: Make sure your firewall allows port %d and orvantis", port);
}

class ServerStart : public GuiTest {};
class ServerStartVeth : public GuiTest {};

}  // namespace

TEST_F(ServerStart, ListensOnPort80WhenItIsFree)
{
    ASSERT_EQ(ListeningTcpPorts().count(80), 0u);
    FrameUnderTest frame;
    const std::multiset<int> ports = ListeningTcpPorts();
    EXPECT_EQ(ports.count(80), 1u);
    EXPECT_EQ(ports.count(8888), 0u);
    EXPECT_EQ(Text(frame.get(), "ID_STATICTEXT7")->GetLabel(), FirewallNote(80));
    EXPECT_TRUE(Modals().Records().empty());
}

TEST_F(ServerStart, FallsBackTo8888SilentlyWhenPort80IsTaken)
{
    PortHolder port80(80);
    ASSERT_TRUE(port80.ok()) << port80.error();
    {
        FrameUnderTest frame;
        const std::multiset<int> ports = ListeningTcpPorts();
        EXPECT_EQ(ports.count(80), 1u) << "only the test's own socket";
        EXPECT_EQ(ports.count(8888), 1u);
        wxStaticText* note = Text(frame.get(), "ID_STATICTEXT7");
        EXPECT_EQ(note->GetLabel(), FirewallNote(8888));
        Pump(200);
        EXPECT_TRUE(ShownWhole(note));
        EXPECT_TRUE(Modals().Records().empty()) << "the fallback must not bring up a message box";

        ASSERT_TRUE(PumpUntil([&] { return !frame->GetStatusBar()->GetStatusText(0).empty(); }, 8000));
        EXPECT_EQ(frame->GetStatusBar()->GetStatusText(0), "OrvantisServer is up and running...");
    }
    EXPECT_EQ(ListeningTcpPorts().count(8888), 0u) << "the window's server outlived the window";
}

TEST_F(ServerStart, WithBothPortsTakenSaysSoAndStopsTheAddressTimer)
{
    PortHolder port80(80), port8888(8888);
    ASSERT_TRUE(port80.ok()) << port80.error();
    ASSERT_TRUE(port8888.ok()) << port8888.error();

    // The message box blocks inside the window's constructor. What the window
    // shows at that moment is noted, then Return is pressed in the box as a
    // person would.
    wxString labelWhileBoxUp, statusWhileBoxUp;
    Modals().onEnter = [&](const ModalRecord&) {
        if (OrvantisFrame* frame = FindMainWindow()) {
            labelWhileBoxUp = Text(frame, "ID_STATICTEXT2")->GetLabel();
            statusWhileBoxUp = frame->GetStatusBar()->GetStatusText(0);
        }
    };
    // Should Return not work, the box is closed as a window manager would, so
    // that the run goes on, and the test fails.
    int presses = 0;
    bool closedOtherwise = false;
    wxTimer dismisser;
    dismisser.Bind(wxEVT_TIMER, [&](wxTimerEvent&) {
        const std::vector<ModalRecord> records = Modals().Records();
        if (records.empty() || records.back().exited || !records.back().isMessageBox)
            return;
        const long up = MsSince(records.back().enteredAt);
        if (up > 5000 && AskWindowTitledToClose(records.back().title))
            closedOtherwise = true;
        else if (up > 300 && PressReturnInWindowTitled(records.back().title))
            ++presses;
    });
    dismisser.Start(250);

    FrameUnderTest frame;  // returns once the box is gone
    dismisser.Stop();
    EXPECT_FALSE(closedOtherwise) << "Return did not close the message box";

    const std::vector<ModalRecord> records = Modals().Records();
    ASSERT_EQ(records.size(), 1u);
    EXPECT_TRUE(records[0].isMessageBox);
    EXPECT_TRUE(records[0].exited);
    EXPECT_EQ(records[0].title, kFailedPort);
    EXPECT_NE(records[0].message.Find("port 80 or 8888"), wxNOT_FOUND) << records[0].message;
    EXPECT_GE(presses, 1);
    EXPECT_EQ(labelWhileBoxUp, kFailedPort);
    EXPECT_EQ(statusWhileBoxUp, "");

    wxStaticText* label = Text(frame.get(), "ID_STATICTEXT2");
    EXPECT_EQ(label->GetLabel(), kFailedPort);
    EXPECT_EQ(frame->GetStatusBar()->GetStatusText(0), kFailedStatus);
    Pump(200);
    EXPECT_TRUE(ShownWhole(label));

    // The timer never runs: a tick would overwrite the status text.
    EXPECT_EQ(WaitForAddressTick(frame.get(), 4500), -1) << "the address timer ticked";
    EXPECT_EQ(label->GetLabel(), kFailedPort);
    const std::multiset<int> ports = ListeningTcpPorts();
    EXPECT_EQ(ports.count(80), 1u);
    EXPECT_EQ(ports.count(8888), 1u);
}

TEST_F(ServerStartVeth, UrlCarriesThePortAfterTheFallback)
{
    REQUIRE_TEST_NETWORK("veth");
    const std::vector<std::string> addresses = TestAddresses();
    ASSERT_FALSE(addresses.empty());
    PortHolder port80(80);
    ASSERT_TRUE(port80.ok()) << port80.error();

    FrameUnderTest frame;
    ASSERT_TRUE(PumpUntil([&] { return !frame->GetStatusBar()->GetStatusText(0).empty(); }, 8000));
    wxStaticText* label = Text(frame.get(), "ID_STATICTEXT2");
    EXPECT_EQ(label->GetLabel(), "http://" + wxString::FromUTF8(addresses[0].c_str()) + ":8888");
    EXPECT_TRUE(ShownWhole(label));
}
