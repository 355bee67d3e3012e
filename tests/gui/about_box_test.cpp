// The About box: opened from the main window's menu, modal and centred over
// the window, its texts whole and on one line, closed by its OK button.

#include <cstdlib>

#include <wx/button.h>
#include <wx/hyperlink.h>
#include <wx/statbmp.h>
#include <wx/stattext.h>

#include "gui_support.h"
#include "platform/Product.h"
#include "ui/AboutDialog.h"
#include "ui/OrvantisFrame.h"

using namespace guitest;

namespace {

struct ExpectedText {
    const char* name;
    const char* label;
};

const ExpectedText kAboutTexts[] = {
    {"ID_STATICTEXT1", "Orvantis"},
    {"ID_STATICTEXT6",
     "Use this software to Remote-Control Powerpoint/Presentations from WIFI-enabled Phones"},
    {"ID_STATICTEXT7",
     "Just any WIFI-Enabled models: iPhone, Nokia N-Series, E-Series, Windows Mobile, Blackberry, etc..."},
    {"ID_STATICTEXT8", "Just get in on the same LAN as this PC and open the URL specified"},
    {"ID_STATICTEXT2", "Version 1.03"},
    {"ID_STATICTEXT3", "Copyright (C) 2026 The Orvantis developers. All rights reserved."},
    {"ID_STATICTEXT4",
     "Disclaimer: This software is provided \"as is\" without express or implied warranty of any kind."},
    {"ID_STATICTEXT5",
     "In no event will the authors be held liable for any damages arising from the use of this software."},
    {"ID_STATICTEXT9", "This software is based in part on the work of the Independent JPEG Group."},
    {"ID_STATICTEXT10", "Built with the wxWidgets cross-platform GUI toolkit."},
};

class AboutBox : public GuiTest {};

}  // namespace

TEST_F(AboutBox, OpensModalCentredOverTheWindowAndClosesOnOk)
{
    FrameUnderTest frame;
    Pump(300);

    wxRect boxRect;
    const AboutBoxRun run = RunAboutBox(frame.get(), [&](wxDialog* box) {
        EXPECT_EQ(box->GetTitle(), "About Orvantis...");
        EXPECT_TRUE(box->IsModal());
        EXPECT_EQ(box->GetParent(), frame.get());
        boxRect = box->GetScreenRect();

        for (const ExpectedText& expected : kAboutTexts) {
            SCOPED_TRACE(expected.name);
            auto* text = FindByName<wxStaticText>(box, expected.name);
            ASSERT_NE(text, nullptr);
            EXPECT_EQ(text->GetLabel(), expected.label);
            // Not wrapped: as wide as its one line, less than two lines high.
            EXPECT_EQ(text->GetSize().x, text->GetBestSize().x);
            EXPECT_TRUE(OnOneLine(text));
            EXPECT_TRUE(ShownWhole(text));
        }

        auto* logo = FindByName<wxStaticBitmap>(box, "ID_STATICBITMAP1");
        ASSERT_NE(logo, nullptr);
        EXPECT_TRUE(logo->GetBitmap().IsOk());
        EXPECT_TRUE(ShownWhole(logo));

        auto* ok = FindByName<wxButton>(box, "ID_BUTTON1");
        ASSERT_NE(ok, nullptr);
        EXPECT_EQ(ok->GetId(), AboutDialog::ID_BUTTON1);
        EXPECT_EQ(ok->GetLabel(), "OK");
        EXPECT_TRUE(ShownWhole(ok));

        auto* link = FindByName<wxHyperlinkCtrl>(box, "hyperlink");
        ASSERT_NE(link, nullptr) << "no wxHyperlinkCtrl named \"hyperlink\"";
        EXPECT_EQ(link->GetLabel(), orvantis::kMakerSiteHost);
        EXPECT_EQ(link->GetURL(), orvantis::kMakerSiteUrl);
        EXPECT_TRUE(ShownWhole(link));

        EXPECT_TRUE(NoOverlaps(box));

        if (UpdateDocs()) {
            EXPECT_TRUE(SaveScreenPicture(boxRect, DocsPath("about-box.png")));
        }
    });

    ASSERT_TRUE(run.shown) << "the menu command showed no modal dialog";
    EXPECT_TRUE(run.clicked);
    EXPECT_FALSE(run.rescued) << "OK did not close the About box";
    EXPECT_LT(run.msFromOkToReturn, 2000);

    const wxPoint boxCentre(boxRect.x + boxRect.width / 2, boxRect.y + boxRect.height / 2);
    const wxRect frameRect = frame->GetScreenRect();
    const wxPoint frameCentre(frameRect.x + frameRect.width / 2, frameRect.y + frameRect.height / 2);
    EXPECT_LE(std::abs(boxCentre.x - frameCentre.x), 3) << "About box centre x " << boxCentre.x
                                                        << ", window centre x " << frameCentre.x;
    EXPECT_LE(std::abs(boxCentre.y - frameCentre.y), 3) << "About box centre y " << boxCentre.y
                                                        << ", window centre y " << frameCentre.y;

    ASSERT_EQ(Modals().Records().size(), 1u);
    EXPECT_TRUE(Modals().Records()[0].exited);
    EXPECT_TRUE(PumpUntil([] { return !AnyAboutBoxLeft(); }, 5000)) << "the About box was not deleted";

    // Control is back with the main window: it goes on working.
    EXPECT_GE(WaitForAddressTick(frame.get(), 8000), 0);
}

