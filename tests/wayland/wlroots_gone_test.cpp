// The wlroots backend when its compositor goes away under it. Run inside a
// headless sway session of the test's own (test_wlroots_gone.py), as the
// session's user: the test ends the compositor itself (swaymsg exit).

#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <string>
#include <thread>

#include <gtest/gtest.h>

#include "platform/LinuxBackends.h"

namespace orvantis {
namespace {

TEST(WlrootsBackend, AfterTheCompositorEndsRecordsAreDroppedAndGrabsFail)
{
    std::string whyNot;
    std::optional<DesktopBackend> created = CreateWlrootsBackend(whyNot);
    ASSERT_TRUE(created.has_value()) << whyNot;
    DesktopBackend backend = std::move(*created);
    created.reset();
    EXPECT_EQ(backend.name, "wlroots");
    EXPECT_TRUE(backend.input->Available());

    ScreenPixels pixels;
    ASSERT_TRUE(backend.grabber->GrabPrimary(pixels));
    EXPECT_EQ(pixels.width, 1920);
    EXPECT_EQ(pixels.height, 1080);
    // The headless output's XRGB8888 goes to the encoder as it is.
    EXPECT_EQ(pixels.format, PixelFormat::Bgrx32);
    // A button left down when the compositor goes: the backend must not
    // trip over it when it ends.
    backend.input->Send({InputKind::LeftButtonDown, 0});

    // sway ends before it answers: its status says nothing.
    (void)std::system("swaymsg -q exit 2>/dev/null");
    // Wait until the compositor has closed our connection.
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    while (backend.input->Available() && std::chrono::steady_clock::now() < deadline)
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    EXPECT_FALSE(backend.input->Available());

    const auto start = std::chrono::steady_clock::now();
    for (const InputRecord record : {InputRecord{InputKind::KeyDown, VKEY_NEXT}, InputRecord{InputKind::KeyUp, VKEY_NEXT},
                                     InputRecord{InputKind::LeftButtonUp, 0}})
        backend.input->Send(record);
    ScreenPixels after;
    EXPECT_FALSE(backend.grabber->GrabPrimary(after));
    EXPECT_EQ(after.data, nullptr);
    backend.input.reset();
    backend.grabber.reset();
    // Failing, and ending, take no waiting for answers that cannot come.
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(1));
}

}  // namespace
}  // namespace orvantis
