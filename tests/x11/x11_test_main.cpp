// The X11 tests run under a private Xvfb (scripts/with-xvfb.sh); wx is set up
// without a GUI, as the grabber and the encoder need no windows.

#include <wx/image.h>
#include <wx/init.h>

#include <gtest/gtest.h>

int main(int argc, char** argv)
{
    ::testing::InitGoogleTest(&argc, argv);
    wxInitializer wx;
    if (!wx.IsOk())
        return 2;
    wxImage::AddHandler(new wxJPEGHandler);
    return RUN_ALL_TESTS();
}
