// capture_bench: what one screenshot costs, stage by stage.
//
// Draws a busy picture on the root window, then times N screenshots the way
// the program takes them:
//   grab     MIT-SHM copy of the primary monitor
//   convert  XImage to RGB wxImage
//   encode   orvantis::EncodeJpeg (wx's JPEG handler, default quality 75)
//   write    orvantis::WriteWholeFile into a temporary directory
// next to a plain XGetImage grab, and a reference doing the least work
// possible: the same MIT-SHM grab, libjpeg-turbo encoding straight from the
// BGRX buffer at quality 75 (no conversion), and the same file write.
//
// The program's allocation policy (orvantis::ReturnLargeBlocksToSystem) is
// in force unless --default-malloc is given.
//
// Usage: scripts/with-xvfb.sh build/bench/capture_bench [-n N] [--keep] [--default-malloc]

#include <wx/image.h>
#include <wx/init.h>

#include "control/JpegEncode.h"
#include "platform/ProcessTuning.h"
#include "platform/capture_x11_detail.h"

#include <stdlib.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include <X11/Xlib.h>
#include <X11/Xutil.h>

#include <jpeglib.h>

namespace {

using Clock = std::chrono::steady_clock;

double MsSince(Clock::time_point start)
{
    return std::chrono::duration<double, std::milli>(Clock::now() - start).count();
}

struct Series {
    const char* name;
    std::vector<double> ms;

    double Quantile(double q) const
    {
        if (ms.empty())
            return 0;
        std::vector<double> sorted = ms;
        std::sort(sorted.begin(), sorted.end());
        // Nearest rank.
        size_t rank = static_cast<size_t>(q * sorted.size() + 0.999999);
        rank = std::clamp<size_t>(rank, 1, sorted.size());
        return sorted[rank - 1];
    }
    double Median() const { return Quantile(0.5); }
    double P90() const { return Quantile(0.9); }
};

// Something JPEG finds hard: coloured noise over a gradient, solid shapes
// with sharp edges, thin lines, and text.
void DrawBusyPicture(Display* display)
{
    const int screen = DefaultScreen(display);
    const int w = DisplayWidth(display, screen), h = DisplayHeight(display, screen);
    const Window root = RootWindow(display, screen);
    Visual* visual = DefaultVisual(display, screen);
    XImage* image = XCreateImage(display, visual, DefaultDepth(display, screen), ZPixmap, 0, nullptr, w, h, 32, 0);
    image->data = static_cast<char*>(std::malloc(static_cast<size_t>(image->bytes_per_line) * h));
    std::mt19937 rng(20240611);
    std::uniform_int_distribution<int> noise(-48, 48);
    auto clamp8 = [](int v) { return static_cast<unsigned long>(std::clamp(v, 0, 255)); };
    auto pixelOf = [&](unsigned long r, unsigned long g, unsigned long b) {
        // The default visual here is 24-bit TrueColor.
        auto put = [](unsigned long mask, unsigned long v) {
            int shift = 0;
            while (!((mask >> shift) & 1UL))
                ++shift;
            int bits = 0;
            while ((mask >> (shift + bits)) & 1UL)
                ++bits;
            return ((bits >= 8 ? v << (bits - 8) : v >> (8 - bits)) << shift) & mask;
        };
        return put(visual->red_mask, r) | put(visual->green_mask, g) | put(visual->blue_mask, b);
    };
    for (int y = 0; y < h; ++y) {
        for (int x = 0; x < w; ++x) {
            const int r = x * 255 / w + noise(rng), g = y * 255 / h + noise(rng), b = (x + y) % 256 + noise(rng);
            XPutPixel(image, x, y, pixelOf(clamp8(r), clamp8(g), clamp8(b)));
        }
    }
    GC gc = XCreateGC(display, root, 0, nullptr);
    XPutImage(display, root, gc, image, 0, 0, 0, 0, w, h);
    XDestroyImage(image);

    std::uniform_int_distribution<int> px(0, w - 1), py(0, h - 1), size(10, 160), colour(0, 255);
    for (int i = 0; i < 200; ++i) {
        XSetForeground(display, gc, pixelOf(colour(rng), colour(rng), colour(rng)));
        switch (i % 4) {
        case 0:
            XFillRectangle(display, root, gc, px(rng), py(rng), size(rng), size(rng));
            break;
        case 1:
            XFillArc(display, root, gc, px(rng), py(rng), size(rng), size(rng), 0, 360 * 64);
            break;
        case 2:
            XDrawLine(display, root, gc, px(rng), py(rng), px(rng), py(rng));
            break;
        default: {
            const char text[] = "Quarterly figures 2024: revenue +12.5%, costs -3.1%";
            XDrawString(display, root, gc, px(rng), py(rng), text, static_cast<int>(sizeof text - 1));
            break;
        }
        }
    }
    XFreeGC(display, gc);
    XSync(display, False);
}

// libjpeg-turbo straight from the grabbed 32-bit pixels.
bool EncodeBgrx(const XImage& image, int quality, std::string& out)
{
    jpeg_compress_struct cinfo;
    jpeg_error_mgr jerr;
    cinfo.err = jpeg_std_error(&jerr);
    jpeg_create_compress(&cinfo);
    unsigned char* buffer = nullptr;
    unsigned long size = 0;
    jpeg_mem_dest(&cinfo, &buffer, &size);
    cinfo.image_width = static_cast<JDIMENSION>(image.width);
    cinfo.image_height = static_cast<JDIMENSION>(image.height);
    cinfo.input_components = 4;
    cinfo.in_color_space = JCS_EXT_BGRX;
    jpeg_set_defaults(&cinfo);
    jpeg_set_quality(&cinfo, quality, TRUE);
    jpeg_start_compress(&cinfo, TRUE);
    std::vector<JSAMPROW> rows(image.height);
    for (int y = 0; y < image.height; ++y)
        rows[y] = reinterpret_cast<JSAMPROW>(image.data + static_cast<size_t>(y) * image.bytes_per_line);
    while (cinfo.next_scanline < cinfo.image_height)
        jpeg_write_scanlines(&cinfo, rows.data() + cinfo.next_scanline, cinfo.image_height - cinfo.next_scanline);
    jpeg_finish_compress(&cinfo);
    jpeg_destroy_compress(&cinfo);
    out.assign(reinterpret_cast<const char*>(buffer), size);
    free(buffer);
    return size > 0;
}

void PrintRow(const Series& s)
{
    std::printf("  %-28s median %8.2f ms   p90 %8.2f ms\n", s.name, s.Median(), s.P90());
}

}  // namespace

int main(int argc, char** argv)
{
    int iterations = 30;
    bool keep = false;
    bool programMalloc = true;
    for (int i = 1; i < argc; ++i) {
        if ((!std::strcmp(argv[i], "-n") || !std::strcmp(argv[i], "--iterations")) && i + 1 < argc)
            iterations = std::max(1, std::atoi(argv[++i]));
        else if (!std::strcmp(argv[i], "--keep"))
            keep = true;
        else if (!std::strcmp(argv[i], "--default-malloc"))
            programMalloc = false;
        else {
            std::fprintf(stderr, "usage: %s [-n N] [--keep] [--default-malloc]\n", argv[0]);
            return 2;
        }
    }
    if (programMalloc)
        orvantis::ReturnLargeBlocksToSystem();

    wxInitializer wx;
    if (!wx.IsOk())
        return 1;
    wxImage::AddHandler(new wxJPEGHandler);

    Display* display = XOpenDisplay(nullptr);
    if (!display) {
        std::fprintf(stderr, "capture_bench: no X display (run under scripts/with-xvfb.sh)\n");
        return 1;
    }
    const int screen = DefaultScreen(display);
    std::printf("display %s: %dx%d, depth %d; allocation policy: %s\n", DisplayString(display),
                DisplayWidth(display, screen), DisplayHeight(display, screen), DefaultDepth(display, screen),
                programMalloc ? "the program's (large blocks from the system)" : "C library default");
    DrawBusyPicture(display);

    char dirTemplate[] = "/tmp/capture_bench.XXXXXX";
    const char* dir = mkdtemp(dirTemplate);
    if (!dir) {
        std::perror("mkdtemp");
        return 1;
    }
    const wxString shotPath = wxString(dir) + "/shot.jpg";
    const wxString refPath = wxString(dir) + "/reference.jpg";

    orvantis::x11::X11Capture capture(orvantis::x11::GrabMethod::Auto);
    orvantis::x11::X11Capture reference(orvantis::x11::GrabMethod::Auto);
    orvantis::x11::X11Capture plain(orvantis::x11::GrabMethod::XGetImageOnly);

    // Warm up: connections, SHM segments, page faults, the JPEG handler.
    for (int i = 0; i < 2; ++i) {
        wxImage image;
        std::string jpeg;
        if (!capture.Grab() || !capture.ToImage(image) || !orvantis::EncodeJpeg(image, jpeg) ||
            !reference.Grab() || !plain.Grab()) {
            std::fprintf(stderr, "capture_bench: a warm-up screenshot failed\n");
            return 1;
        }
    }
    if (!capture.LastGrabUsedShm())
        std::printf("note: MIT-SHM not in use, the grab went through XGetImage\n");
    const XImage& probe = *reference.LastImage();
    const orvantis::x11::PixelLayout& layout = reference.Layout();
    const bool bgrx = probe.bits_per_pixel == 32 && probe.byte_order == LSBFirst && layout.redMask == 0xFF0000 &&
                      layout.greenMask == 0x00FF00 && layout.blueMask == 0x0000FF;
    if (!bgrx) {
        std::fprintf(stderr, "capture_bench: the screen is not 32-bit BGRX; the reference cannot run\n");
        return 1;
    }

    Series grab{"grab (XShmGetImage)", {}}, convert{"convert (to wxImage RGB)", {}},
        encode{"encode (EncodeJpeg, wx)", {}}, write{"write (WriteWholeFile)", {}}, total{"total", {}};
    Series plainGrab{"grab (XGetImage)", {}};
    Series refGrab{"grab (XShmGetImage)", {}}, refEncode{"encode (libjpeg BGRX q75)", {}},
        refWrite{"write (WriteWholeFile)", {}}, refTotal{"total", {}};
    Series ratio{"per-run ratio", {}};
    size_t shotBytes = 0, refBytes = 0;

    // The program's pipeline and the reference take turns, so that anything
    // else going on on the machine hits both alike.
    for (int i = 0; i < iterations; ++i) {
        const auto t0 = Clock::now();
        if (!capture.Grab())
            return 1;
        const double g = MsSince(t0);
        const auto t1 = Clock::now();
        wxImage image;
        if (!capture.ToImage(image))
            return 1;
        const double c = MsSince(t1);
        const auto t2 = Clock::now();
        std::string jpeg;
        if (!orvantis::EncodeJpeg(image, jpeg))
            return 1;
        const double e = MsSince(t2);
        const auto t3 = Clock::now();
        if (!orvantis::WriteWholeFile(shotPath, jpeg))
            return 1;
        const double w = MsSince(t3);
        grab.ms.push_back(g);
        convert.ms.push_back(c);
        encode.ms.push_back(e);
        write.ms.push_back(w);
        total.ms.push_back(g + c + e + w);
        shotBytes = jpeg.size();

        const auto r0 = Clock::now();
        if (!reference.Grab())
            return 1;
        const double rg = MsSince(r0);
        const auto r1 = Clock::now();
        std::string refJpeg;
        if (!EncodeBgrx(*reference.LastImage(), 75, refJpeg))
            return 1;
        const double re = MsSince(r1);
        const auto r2 = Clock::now();
        if (!orvantis::WriteWholeFile(refPath, refJpeg))
            return 1;
        const double rw = MsSince(r2);
        refGrab.ms.push_back(rg);
        refEncode.ms.push_back(re);
        refWrite.ms.push_back(rw);
        refTotal.ms.push_back(rg + re + rw);
        refBytes = refJpeg.size();
        ratio.ms.push_back((g + c + e + w) / (rg + re + rw));

        const auto p0 = Clock::now();
        if (!plain.Grab())
            return 1;
        plainGrab.ms.push_back(MsSince(p0));
    }

    std::printf("\n%d screenshots of %dx%d\n", iterations, probe.width, probe.height);
    std::printf("program pipeline (JPEG %zu bytes):\n", shotBytes);
    for (const Series* s : {&grab, &convert, &encode, &write, &total})
        PrintRow(*s);
    std::printf("plain grab for comparison:\n");
    PrintRow(plainGrab);
    std::printf("reference: XShm + libjpeg-turbo from BGRX + write (JPEG %zu bytes):\n", refBytes);
    for (const Series* s : {&refGrab, &refEncode, &refWrite, &refTotal})
        PrintRow(*s);
    std::printf("\nratio (grab+convert+encode+write) / reference:\n");
    std::printf("  of medians %.3f   of p90s %.3f   per-run median %.3f   per-run p90 %.3f\n",
                total.Median() / refTotal.Median(), total.P90() / refTotal.P90(), ratio.Median(), ratio.P90());
    std::printf("  encoder cost over libjpeg directly: %+.2f ms (median)\n", encode.Median() - refEncode.Median());

    if (!keep) {
        unlink(shotPath.utf8_str());
        unlink(refPath.utf8_str());
        rmdir(dir);
    } else {
        std::printf("files kept in %s\n", dir);
    }
    XCloseDisplay(display);
    return 0;
}
