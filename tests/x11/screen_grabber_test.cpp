// The X11 grabber against pictures the test draws on the root window: full
// size, colours in the right channels, rows at the right stride, both grab
// paths, the primary monitor only, 16-bit displays, and the JPEG of a grab.

// gtest before any X11 header: Xlib defines None and Bool as macros.
#include <gtest/gtest.h>

#include <wx/image.h>
#include <wx/mstream.h>

#include "control/JpegEncode.h"
#include "platform/InputInjector.h"
#include "platform/ScreenGrabber.h"
#include "platform/capture_x11_detail.h"

#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>


#include "x11_test_support.h"

#include <X11/extensions/Xrandr.h>

namespace orvantis {
namespace {

using testx11::ChannelTolerance;
using testx11::MaskBits;
using testx11::PixelFromRgb;
using testx11::Rgb;
using testx11::TestDisplay;

// The test picture: a different colour per quadrant of the screen (each with
// distinct R, G and B, so swapped channels show) and a fine texture that
// changes with x and y (so a wrong offset or row stride shows).
Rgb PicturePixel(int x, int y, int screenW, int screenH, int variant)
{
    static const Rgb kBases[2][4] = {
        {{0xC0, 0x20, 0x60}, {0x10, 0x90, 0xE0}, {0x30, 0xE0, 0x70}, {0x80, 0x28, 0xD0}},
        {{0x20, 0xD0, 0x40}, {0xE0, 0x50, 0x18}, {0x60, 0x08, 0xB0}, {0xA8, 0xC0, 0x30}},
    };
    const int quadrant = (x >= screenW / 2 ? 1 : 0) + (y >= screenH / 2 ? 2 : 0);
    const Rgb base = kBases[variant][quadrant];
    return Rgb{static_cast<unsigned char>(base.r + (x % 16)), static_cast<unsigned char>(base.g + (y % 16)),
               static_cast<unsigned char>(base.b + ((x / 16 + y / 16) % 16))};
}

// Draws the picture over the whole root window with XPutImage.
void DrawPicture(const TestDisplay& display, int variant)
{
    const int w = display.Width(), h = display.Height();
    Visual* visual = display.DefaultVisualOf();
    XImage* image = XCreateImage(display, visual, display.Depth(), ZPixmap, 0, nullptr, w, h, 32, 0);
    ASSERT_NE(image, nullptr);
    image->data = static_cast<char*>(std::malloc(static_cast<size_t>(image->bytes_per_line) * h));
    for (int y = 0; y < h; ++y) {
        for (int x = 0; x < w; ++x) {
            const Rgb c = PicturePixel(x, y, w, h, variant);
            XPutPixel(image, x, y, PixelFromRgb(visual, c.r, c.g, c.b));
        }
    }
    GC gc = XCreateGC(display, display.Root(), 0, nullptr);
    XPutImage(display, display.Root(), gc, image, 0, 0, 0, 0, w, h);
    XFreeGC(display, gc);
    XSync(display, False);
    XDestroyImage(image);  // frees data too
}

// Compares `grabbed` with the picture seen from (originX, originY) of the
// screen. Reports the first few differing pixels.
::testing::AssertionResult MatchesPicture(const ScreenPixels& grabbed, const TestDisplay& display, int originX,
                                          int originY, int variant)
{
    Visual* visual = display.DefaultVisualOf();
    const int tolR = ChannelTolerance(MaskBits(visual->red_mask));
    const int tolG = ChannelTolerance(MaskBits(visual->green_mask));
    const int tolB = ChannelTolerance(MaskBits(visual->blue_mask));
    const bool rgb = grabbed.format == PixelFormat::Rgb24;
    const int bytesPerPixel = rgb ? 3 : 4;
    if (grabbed.stride < static_cast<size_t>(grabbed.width) * bytesPerPixel)
        return ::testing::AssertionFailure() << "rows of " << grabbed.stride << " bytes are too short";
    long bad = 0;
    std::ostringstream first;
    for (int y = 0; y < grabbed.height; ++y) {
        for (int x = 0; x < grabbed.width; ++x) {
            const unsigned char* p = grabbed.data + y * grabbed.stride + static_cast<size_t>(x) * bytesPerPixel;
            const int r = rgb ? p[0] : p[2], g = p[1], b = rgb ? p[2] : p[0];
            const Rgb want = PicturePixel(originX + x, originY + y, display.Width(), display.Height(), variant);
            if (std::abs(r - want.r) > tolR || std::abs(g - want.g) > tolG || std::abs(b - want.b) > tolB) {
                if (bad < 5)
                    first << " (" << x << "," << y << ") got " << r << "," << g << "," << b << " want "
                          << int(want.r) << "," << int(want.g) << "," << int(want.b) << ";";
                ++bad;
            }
        }
    }
    if (bad == 0)
        return ::testing::AssertionSuccess();
    return ::testing::AssertionFailure() << bad << " pixels differ:" << first.str();
}

// The System V shared memory segments this process created, with their mode.
std::vector<unsigned> OwnSharedMemoryModes()
{
    std::vector<unsigned> modes;
    std::ifstream in("/proc/sysvipc/shm");
    std::string line;
    std::getline(in, line);  // header
    while (std::getline(in, line)) {
        std::istringstream fields(line);
        long key = 0, shmid = 0, size = 0;
        std::string perms;
        long cpid = 0;
        fields >> key >> shmid >> perms >> size >> cpid;
        if (cpid == getpid())
            modes.push_back(static_cast<unsigned>(std::stoul(perms, nullptr, 8)));
    }
    return modes;
}

class CaptureTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_NE(display_.get(), nullptr) << "no X display; run under scripts/with-xvfb.sh";
        DrawPicture(display_, 0);
    }
    TestDisplay display_;
};

TEST_F(CaptureTest, GrabsTheWholeScreenWithTheRightColours)
{
    auto grabber = CreateNativeScreenGrabber();
    ScreenPixels pixels;
    ASSERT_TRUE(grabber->GrabPrimary(pixels));
    ASSERT_EQ(pixels.width, display_.Width());
    ASSERT_EQ(pixels.height, display_.Height());
    if (display_.Depth() == 24)
        EXPECT_EQ(pixels.format, PixelFormat::Bgrx32) << "a 24-bit screen's rows are handed out as they are";
    else
        EXPECT_EQ(pixels.format, PixelFormat::Rgb24);
    EXPECT_TRUE(MatchesPicture(pixels, display_, 0, 0, 0));

    // Each grab shows what is on the screen now, not a frame left in the
    // buffers kept between grabs.
    DrawPicture(display_, 1);
    ASSERT_TRUE(grabber->GrabPrimary(pixels));
    EXPECT_TRUE(MatchesPicture(pixels, display_, 0, 0, 1));
    DrawPicture(display_, 0);
    ASSERT_TRUE(grabber->GrabPrimary(pixels));
    EXPECT_TRUE(MatchesPicture(pixels, display_, 0, 0, 0));
}

TEST_F(CaptureTest, SharedMemoryAndXGetImageGiveTheSamePicture)
{
    x11::X11Capture shm(x11::GrabMethod::Auto);
    ASSERT_TRUE(shm.Grab());
    EXPECT_TRUE(shm.LastGrabUsedShm()) << "Xvfb offers MIT-SHM; the fast path was not taken";
    ScreenPixels viaShm;
    ASSERT_TRUE(shm.Pixels(viaShm));

    x11::X11Capture plain(x11::GrabMethod::XGetImageOnly);
    ASSERT_TRUE(plain.Grab());
    EXPECT_FALSE(plain.LastGrabUsedShm());
    ScreenPixels viaGetImage;
    ASSERT_TRUE(plain.Pixels(viaGetImage));

    for (const ScreenPixels* pixels : {&viaShm, &viaGetImage}) {
        ASSERT_EQ(pixels->width, display_.Width());
        ASSERT_EQ(pixels->height, display_.Height());
        EXPECT_TRUE(MatchesPicture(*pixels, display_, 0, 0, 0));
    }

    auto grabber = x11::CreateX11ScreenGrabber(x11::GrabMethod::XGetImageOnly);
    ScreenPixels pixels;
    ASSERT_TRUE(grabber->GrabPrimary(pixels));
    EXPECT_TRUE(MatchesPicture(pixels, display_, 0, 0, 0));
}

TEST_F(CaptureTest, SharedMemoryIsReleasedEvenIfTheProcessDies)
{
    ASSERT_TRUE(OwnSharedMemoryModes().empty());
    {
        x11::X11Capture capture(x11::GrabMethod::Auto);
        ASSERT_TRUE(capture.Grab());
        ASSERT_TRUE(capture.Grab());
        ASSERT_TRUE(capture.LastGrabUsedShm());
        const auto modes = OwnSharedMemoryModes();
        ASSERT_EQ(modes.size(), 1u) << "one segment, kept between grabs";
        // Marked for removal while in use: the kernel frees it when the last
        // user detaches, whatever way this process ends.
        EXPECT_TRUE(modes[0] & 01000) << "segment not marked for removal (IPC_RMID)";
    }
    EXPECT_TRUE(OwnSharedMemoryModes().empty());
}

// The segments of a JPEG up to its first scan: (marker, payload).
std::vector<std::pair<int, std::string>> JpegHeaderSegments(const std::string& jpeg)
{
    std::vector<std::pair<int, std::string>> segments;
    size_t at = 2;  // after SOI
    while (at + 4 <= jpeg.size() && static_cast<unsigned char>(jpeg[at]) == 0xFF) {
        const int marker = static_cast<unsigned char>(jpeg[at + 1]);
        const size_t length =
            static_cast<size_t>(static_cast<unsigned char>(jpeg[at + 2])) << 8 | static_cast<unsigned char>(jpeg[at + 3]);
        if (length < 2 || at + 2 + length > jpeg.size())
            break;
        segments.emplace_back(marker, jpeg.substr(at + 4, length - 2));
        if (marker == 0xDA)  // start of scan: entropy-coded data follows
            break;
        at += 2 + length;
    }
    return segments;
}

TEST_F(CaptureTest, JpegOfTheGrabDecodesAtTheSameSize)
{
    auto grabber = CreateNativeScreenGrabber();
    ScreenPixels pixels;
    ASSERT_TRUE(grabber->GrabPrimary(pixels));
    // In four bands encoded at once and joined, as a machine with four
    // cores does, and in one pass: the same picture either way.
    std::string jpeg, onePass;
    ASSERT_TRUE(JpegEncoder(4).Encode(pixels, jpeg));
    ASSERT_TRUE(JpegEncoder(1).Encode(pixels, onePass));
    ASSERT_GT(jpeg.size(), 2u);
    EXPECT_EQ(static_cast<unsigned char>(jpeg[0]), 0xFF);
    EXPECT_EQ(static_cast<unsigned char>(jpeg[1]), 0xD8);

    // A JFIF file, one baseline frame of the whole display in three
    // components, 4:2:0 (what every phone browser decodes).
    const auto segments = JpegHeaderSegments(jpeg);
    ASSERT_FALSE(segments.empty());
    EXPECT_EQ(segments.front().first, 0xE0);
    EXPECT_EQ(segments.front().second.substr(0, 5), std::string("JFIF\0", 5));
    std::vector<int> frames;
    std::string frame;
    for (const auto& [marker, payload] : segments) {
        if (marker >= 0xC0 && marker <= 0xCF && marker != 0xC4 && marker != 0xC8 && marker != 0xCC) {
            frames.push_back(marker);
            frame = payload;
        }
    }
    ASSERT_EQ(frames, std::vector<int>{0xC0}) << "one baseline frame";
    const bool restarts =
        std::any_of(segments.begin(), segments.end(), [](const auto& s) { return s.first == 0xDD; });
    EXPECT_EQ(restarts, PlanBands(display_.Width(), display_.Height(), 4).bands > 1);
    ASSERT_EQ(frame.size(), 6u + 3 * 3);
    auto byteAt = [&](size_t i) { return static_cast<unsigned char>(frame[i]); };
    EXPECT_EQ(byteAt(1) << 8 | byteAt(2), display_.Height());
    EXPECT_EQ(byteAt(3) << 8 | byteAt(4), display_.Width());
    EXPECT_EQ(byteAt(5), 3);
    EXPECT_EQ(byteAt(7), 0x22);
    EXPECT_EQ(byteAt(10), 0x11);
    EXPECT_EQ(byteAt(13), 0x11);

    wxMemoryInputStream stream(jpeg.data(), jpeg.size());
    wxImage decoded;
    ASSERT_TRUE(decoded.LoadFile(stream, wxBITMAP_TYPE_JPEG));
    ASSERT_EQ(decoded.GetWidth(), display_.Width());
    ASSERT_EQ(decoded.GetHeight(), display_.Height());
    wxMemoryInputStream oneStream(onePass.data(), onePass.size());
    wxImage whole;
    ASSERT_TRUE(whole.LoadFile(oneStream, wxBITMAP_TYPE_JPEG));
    ASSERT_EQ(whole.GetHeight(), decoded.GetHeight());
    EXPECT_EQ(std::memcmp(whole.GetData(), decoded.GetData(), size_t{3} * decoded.GetWidth() * decoded.GetHeight()), 0)
        << "the bands decode to other pixels than one pass";

    // The mean colour of a block inside each quadrant survives the encoding.
    const int w = display_.Width(), h = display_.Height();
    for (int q = 0; q < 4; ++q) {
        const int x0 = (q % 2) * w / 2 + w / 8, y0 = (q / 2) * h / 2 + h / 8;
        double got[3] = {}, want[3] = {};
        int n = 0;
        for (int y = y0; y < y0 + 64; ++y) {
            for (int x = x0; x < x0 + 64; ++x, ++n) {
                const Rgb c = PicturePixel(x, y, w, h, 0);
                want[0] += c.r;
                want[1] += c.g;
                want[2] += c.b;
                got[0] += decoded.GetRed(x, y);
                got[1] += decoded.GetGreen(x, y);
                got[2] += decoded.GetBlue(x, y);
            }
        }
        for (int ch = 0; ch < 3; ++ch)
            EXPECT_NEAR(got[ch] / n, want[ch] / n, 10.0) << "quadrant " << q << " channel " << ch;
    }
}

TEST(CaptureWithoutDisplay, GrabFailsAndInputIsDropped)
{
    const char* saved = std::getenv("DISPLAY");
    const std::string display = saved ? saved : "";
    unsetenv("DISPLAY");

    auto grabber = CreateNativeScreenGrabber();
    ASSERT_NE(grabber, nullptr);
    const unsigned char before[12] = {};
    ScreenPixels out;
    out.data = before;
    out.width = 4;
    out.height = 1;
    out.stride = 12;
    EXPECT_FALSE(grabber->GrabPrimary(out));
    EXPECT_FALSE(grabber->GrabPrimary(out));
    EXPECT_EQ(out.data, before);
    EXPECT_EQ(out.width, 4);

    auto injector = CreateNativeInputInjector();
    ASSERT_NE(injector, nullptr);
    injector->Send(InputRecord{InputKind::KeyDown, VKEY_NEXT});
    injector->Send(InputRecord{InputKind::KeyUp, VKEY_NEXT});
    injector->Send(InputRecord{InputKind::LeftButtonDown, 0});
    injector->Send(InputRecord{InputKind::LeftButtonUp, 0});

    if (!display.empty()) {
        setenv("DISPLAY", display.c_str(), 1);
        // The grabber opens its connection lazily: once there is a display,
        // the same grabber works.
        TestDisplay now;
        ASSERT_NE(now.get(), nullptr);
        DrawPicture(now, 0);
        ASSERT_TRUE(grabber->GrabPrimary(out));
        EXPECT_EQ(out.width, now.Width());
        EXPECT_TRUE(MatchesPicture(out, now, 0, 0, 0));
    }
}

// Run by CTest under a 3840x1080 Xvfb (see CMakeLists.txt): two monitors side
// by side on one screen, defined through RandR 1.5.
class CaptureTwoMonitors : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_NE(display_.get(), nullptr);
        if (display_.Width() != 3840 || display_.Height() != 1080)
            GTEST_SKIP() << "needs a 3840x1080 screen (with-xvfb.sh -s 3840x1080x24)";
        int major = 0, minor = 0;
        ASSERT_TRUE(XRRQueryVersion(display_, &major, &minor));
        ASSERT_TRUE(major > 1 || minor >= 5) << "RandR 1.5 needed";
        DrawPicture(display_, 0);
    }

    void TearDown() override
    {
        for (Atom name : defined_)
            XRRDeleteMonitor(display_, display_.Root(), name);
        XSync(display_, False);
    }

    void DefineMonitor(const char* name, int x, bool primary)
    {
        XRRMonitorInfo* monitor = XRRAllocateMonitor(display_, 0);
        monitor->name = XInternAtom(display_, name, False);
        monitor->primary = primary;
        monitor->x = x;
        monitor->y = 0;
        monitor->width = 1920;
        monitor->height = 1080;
        monitor->mwidth = 510;
        monitor->mheight = 290;
        // The server refuses to redefine a monitor in place: delete it first.
        if (std::find(defined_.begin(), defined_.end(), monitor->name) != defined_.end())
            XRRDeleteMonitor(display_, display_.Root(), monitor->name);
        else
            defined_.push_back(monitor->name);
        XRRSetMonitor(display_, display_.Root(), monitor);
        XSync(display_, False);
        XRRFreeMonitors(monitor);
    }

    TestDisplay display_;
    std::vector<Atom> defined_;
};

TEST_F(CaptureTwoMonitors, OnlyThePrimaryMonitorIsCaptured)
{
    // One capture object throughout: its kept MIT-SHM buffer must follow the
    // size of the primary monitor (and not drop to XGetImage on the way).
    x11::X11Capture capture(x11::GrabMethod::Auto);
    ScreenPixels image;
    auto grab = [&] { return capture.Grab() && capture.LastGrabUsedShm() && capture.Pixels(image); };

    // No monitor marked primary: the whole screen.
    ASSERT_TRUE(grab());
    EXPECT_EQ(image.width, 3840);
    EXPECT_TRUE(MatchesPicture(image, display_, 0, 0, 0));

    // The right half is primary: that half only, at its size.
    DefineMonitor("ORV-LEFT", 0, false);
    DefineMonitor("ORV-RIGHT", 1920, true);
    ASSERT_TRUE(grab());
    ASSERT_EQ(image.width, 1920);
    ASSERT_EQ(image.height, 1080);
    EXPECT_TRUE(MatchesPicture(image, display_, 1920, 0, 0));

    // Through the public interface and through XGetImage too.
    std::unique_ptr<ScreenGrabber> grabbers[] = {CreateNativeScreenGrabber(),
                                                 x11::CreateX11ScreenGrabber(x11::GrabMethod::XGetImageOnly)};
    for (auto& grabber : grabbers) {
        ScreenPixels other;
        ASSERT_TRUE(grabber->GrabPrimary(other));
        ASSERT_EQ(other.width, 1920);
        ASSERT_EQ(other.height, 1080);
        EXPECT_TRUE(MatchesPicture(other, display_, 1920, 0, 0));
    }

    // The primary moves to the left half while the program runs (marking
    // one monitor primary takes the mark from the other).
    DefineMonitor("ORV-LEFT", 0, true);
    ASSERT_TRUE(grab());
    ASSERT_EQ(image.width, 1920);
    EXPECT_TRUE(MatchesPicture(image, display_, 0, 0, 0));
}

// Run by CTest under a 16-bit Xvfb (see CMakeLists.txt).
TEST(CaptureDepth16, ColoursSurviveWithinTheChannelPrecision)
{
    TestDisplay display;
    ASSERT_NE(display.get(), nullptr);
    if (display.Depth() != 16)
        GTEST_SKIP() << "needs a 16-bit display (with-xvfb.sh -s 1280x1024x16)";
    DrawPicture(display, 0);

    for (auto method : {x11::GrabMethod::Auto, x11::GrabMethod::XGetImageOnly}) {
        x11::X11Capture capture(method);
        ASSERT_TRUE(capture.Grab());
        ASSERT_NE(capture.LastImage(), nullptr);
        EXPECT_EQ(capture.LastImage()->bits_per_pixel, 16);
        ScreenPixels image;
        ASSERT_TRUE(capture.Pixels(image));
        EXPECT_EQ(image.format, PixelFormat::Rgb24);
        ASSERT_EQ(image.width, display.Width());
        ASSERT_EQ(image.height, display.Height());
        EXPECT_TRUE(MatchesPicture(image, display, 0, 0, 0));
    }
}

}  // namespace
}  // namespace orvantis
