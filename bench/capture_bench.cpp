// capture_bench: what one screenshot costs, stage by stage, against the
// least work that can produce the same file.
//
// Draws a busy picture on the root window, then times N screenshots the way
// the program takes them: DesktopController::TakeScreenshot itself, with its
// 100 ms pause left out (the capture path), and the same stages one by one
// with the same parts, for the breakdown:
//   grab     X11Capture::Grab (MIT-SHM copy of the primary monitor)
//   pixels   X11Capture::Pixels (the grabbed rows, or an RGB copy)
//   encode   JpegEncoder::Encode (in bands on as many cores as it uses)
//   write    ReplaceScreenshotFile into a temporary directory
// next to a plain XGetImage grab, and a reference doing the least work
// possible, all of it here, in one pass on one core: one MIT-SHM segment made
// once for the primary monitor's rectangle (looked up once), XShmGetImage,
// libjpeg-turbo encoding straight from the BGRX rows at quality 75 into a
// buffer made once, and one open/write/close of the file from that buffer.
//
// With --getss PORT it also asks the running program for a screenshot over
// HTTP in every round (connect to last byte, minus the 100 ms pause), so the
// whole answer is measured beside the reference under the same load.
//
// The program's allocation policy (orvantis::ReturnLargeBlocksToSystem) is
// in force unless --default-malloc is given. --bands N encodes in at most N
// bands (1: one pass, as the reference does).
//
// Usage: scripts/with-xvfb.sh build/bench/capture_bench [-n N] [--keep]
//            [--default-malloc] [--bands N] [--getss PORT]

#include <wx/init.h>

#include "control/DesktopController.h"
#include "control/JpegEncode.h"
#include "platform/ProcessTuning.h"
#include "platform/capture_x11_detail.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <stdlib.h>
#include <sys/ipc.h>
#include <sys/shm.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <functional>
#include <memory>
#include <ctime>
#include <random>
#include <string>
#include <vector>

#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <X11/extensions/XShm.h>

#include <jpeglib.h>

namespace {

using Clock = std::chrono::steady_clock;

double MsSince(Clock::time_point start)
{
    return std::chrono::duration<double, std::milli>(Clock::now() - start).count();
}

// The processor time of the whole process so far, all threads.
double ProcessCpuMs()
{
    timespec t{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
    return t.tv_sec * 1e3 + t.tv_nsec / 1e6;
}

// The bench sends no input; the controller needs an injector all the same.
class NoInput : public orvantis::InputInjector {
public:
    void Send(const orvantis::InputRecord&) override {}
};

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

// The reference grab: one MIT-SHM image of a fixed rectangle, made once.
class ShmGrab {
public:
    ShmGrab(Display* display, const orvantis::x11::Rect& r) : display_(display), rect_(r)
    {
        const int screen = DefaultScreen(display);
        image_ = XShmCreateImage(display, DefaultVisual(display, screen), DefaultDepth(display, screen), ZPixmap,
                                 nullptr, &info_, r.width, r.height);
        if (!image_)
            return;
        info_.shmid = shmget(IPC_PRIVATE, static_cast<size_t>(image_->bytes_per_line) * image_->height,
                             IPC_CREAT | 0600);
        if (info_.shmid < 0)
            return;
        info_.shmaddr = image_->data = static_cast<char*>(shmat(info_.shmid, nullptr, 0));
        info_.readOnly = False;
        attached_ = info_.shmaddr != reinterpret_cast<char*>(-1) && XShmAttach(display, &info_);
        XSync(display, False);
        shmctl(info_.shmid, IPC_RMID, nullptr);
    }
    ~ShmGrab()
    {
        if (attached_) {
            XShmDetach(display_, &info_);
            XSync(display_, False);
        }
        if (image_) {
            image_->data = nullptr;
            XDestroyImage(image_);
        }
        if (info_.shmaddr && info_.shmaddr != reinterpret_cast<char*>(-1))
            shmdt(info_.shmaddr);
    }
    bool Ok() const { return attached_; }
    bool Grab() { return XShmGetImage(display_, DefaultRootWindow(display_), image_, rect_.x, rect_.y, AllPlanes); }
    const XImage& Image() const { return *image_; }

private:
    Display* display_;
    orvantis::x11::Rect rect_;
    XImage* image_ = nullptr;
    XShmSegmentInfo info_{};
    bool attached_ = false;
};

// libjpeg-turbo straight from the grabbed 32-bit pixels into a buffer made
// once and kept between runs (four bytes per pixel: more than any JPEG of
// these pixels needs), then written to the file from there.
class BgrxEncoder {
public:
    ~BgrxEncoder() { free(buffer_); }

    // The JPEG stays in Bytes() until the next call.
    bool Encode(const XImage& image, int quality)
    {
        if (!buffer_) {
            capacity_ = static_cast<unsigned long>(image.width) * image.height * 4;
            buffer_ = static_cast<unsigned char*>(malloc(capacity_));
        }
        jpeg_compress_struct cinfo;
        jpeg_error_mgr jerr;
        cinfo.err = jpeg_std_error(&jerr);
        jpeg_create_compress(&cinfo);
        unsigned char* out = buffer_;
        unsigned long size = capacity_;
        jpeg_mem_dest(&cinfo, &out, &size);
        cinfo.image_width = static_cast<JDIMENSION>(image.width);
        cinfo.image_height = static_cast<JDIMENSION>(image.height);
        cinfo.input_components = 4;
        cinfo.in_color_space = JCS_EXT_BGRX;
        jpeg_set_defaults(&cinfo);
        jpeg_set_quality(&cinfo, quality, TRUE);
        jpeg_start_compress(&cinfo, TRUE);
        JSAMPROW rows[16];
        while (cinfo.next_scanline < cinfo.image_height) {
            const JDIMENSION count = std::min<JDIMENSION>(16, cinfo.image_height - cinfo.next_scanline);
            for (JDIMENSION i = 0; i < count; ++i)
                rows[i] = reinterpret_cast<JSAMPROW>(image.data +
                                                     static_cast<size_t>(cinfo.next_scanline + i) * image.bytes_per_line);
            jpeg_write_scanlines(&cinfo, rows, count);
        }
        jpeg_finish_compress(&cinfo);
        jpeg_destroy_compress(&cinfo);
        if (out != buffer_) {
            // Outgrown after all: the library made a bigger buffer; keep it.
            free(buffer_);
            buffer_ = out;
            capacity_ = size;
        }
        length_ = size;
        return size > 0;
    }
    const unsigned char* Bytes() const { return buffer_; }
    size_t Length() const { return length_; }

private:
    unsigned char* buffer_ = nullptr;
    unsigned long capacity_ = 0;
    size_t length_ = 0;
};

bool WriteFile(const char* path, const unsigned char* bytes, size_t length)
{
    const int fd = open(path, O_WRONLY | O_CREAT | O_TRUNC, 0644);
    if (fd < 0)
        return false;
    const bool written = write(fd, bytes, length) == static_cast<ssize_t>(length);
    return close(fd) == 0 && written;
}

// One GET of a fresh /getss to the program on this machine; the bytes
// received (headers included), or -1.
long AskForScreenshot(int port)
{
    const int fd = socket(AF_INET, SOCK_STREAM, 0);
    if (fd < 0)
        return -1;
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(static_cast<uint16_t>(port));
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    const std::string request =
        "GET /getss" + std::to_string(std::time(nullptr)) + " HTTP/1.1\r\nHost: pc\r\n\r\n";
    long total = -1;
    if (connect(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0 &&
        send(fd, request.data(), request.size(), MSG_NOSIGNAL) == static_cast<ssize_t>(request.size())) {
        total = 0;
        static char buf[1 << 16];
        for (;;) {
            const ssize_t n = recv(fd, buf, sizeof buf, 0);
            if (n <= 0)
                break;
            total += n;
        }
    }
    close(fd);
    return total;
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
    int getssPort = 0;
    int maxBands = 0;
    for (int i = 1; i < argc; ++i) {
        if ((!std::strcmp(argv[i], "-n") || !std::strcmp(argv[i], "--iterations")) && i + 1 < argc)
            iterations = std::max(1, std::atoi(argv[++i]));
        else if (!std::strcmp(argv[i], "--keep"))
            keep = true;
        else if (!std::strcmp(argv[i], "--default-malloc"))
            programMalloc = false;
        else if (!std::strcmp(argv[i], "--getss") && i + 1 < argc)
            getssPort = std::atoi(argv[++i]);
        else if (!std::strcmp(argv[i], "--bands") && i + 1 < argc)
            maxBands = std::max(1, std::atoi(argv[++i]));
        else {
            std::fprintf(stderr, "usage: %s [-n N] [--keep] [--default-malloc] [--bands N] [--getss PORT]\n",
                         argv[0]);
            return 2;
        }
    }
    if (programMalloc)
        orvantis::ReturnLargeBlocksToSystem();

    wxInitializer wx;
    if (!wx.IsOk())
        return 1;

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
    const wxString controllerPath = wxString(dir) + "/ss.jpg";
    const std::string refPath = std::string(dir) + "/reference.jpg";

    orvantis::x11::X11Capture capture(orvantis::x11::GrabMethod::Auto);
    orvantis::JpegEncoder encoder(maxBands);
    // Kept between rounds, as the controller keeps the block of the last
    // capture that was let go.
    std::string jpeg;
    // The program's own capture path, on a grabber and encoder of its own.
    wxMutex controlLock;
    NoInput noInput;
    std::unique_ptr<orvantis::ScreenGrabber> grabber = orvantis::CreateNativeScreenGrabber();
    orvantis::DesktopController controller(controlLock, noInput, *grabber, [](int) {},
                                           [&] { return controllerPath; }, maxBands);
    if (maxBands)
        std::printf("bands: at most %d\n", maxBands);
    orvantis::x11::X11Capture plain(orvantis::x11::GrabMethod::XGetImageOnly);
    auto referenceGrab = std::make_unique<ShmGrab>(display, orvantis::x11::PrimaryMonitorRect(display));
    ShmGrab& reference = *referenceGrab;
    BgrxEncoder refEncoder;
    if (!reference.Ok()) {
        std::fprintf(stderr, "capture_bench: MIT-SHM is not available; the reference cannot run\n");
        return 1;
    }
    const XImage& probe = reference.Image();
    const Visual* visual = DefaultVisual(display, screen);
    if (!(probe.bits_per_pixel == 32 && probe.byte_order == LSBFirst && visual->red_mask == 0xFF0000 &&
          visual->green_mask == 0x00FF00 && visual->blue_mask == 0x0000FF)) {
        std::fprintf(stderr, "capture_bench: the screen is not 32-bit BGRX; the reference cannot run\n");
        return 1;
    }

    // Warm up: connections, SHM segments, page faults, the program's file.
    for (int i = 0; i < 2; ++i) {
        orvantis::ScreenPixels pixels;
        orvantis::CaptureBytes shot;
        if (!capture.Grab() || !capture.Pixels(pixels) || !encoder.Encode(pixels, jpeg) ||
            !controller.TakeScreenshot(&shot) || shot.Empty() ||
            !reference.Grab() || !refEncoder.Encode(reference.Image(), 75) || !plain.Grab() || (getssPort && AskForScreenshot(getssPort) <= 0)) {
            std::fprintf(stderr, "capture_bench: a warm-up screenshot failed\n");
            return 1;
        }
    }
    if (!capture.LastGrabUsedShm())
        std::printf("note: MIT-SHM not in use, the grab went through XGetImage\n");

    Series grab{"grab (X11Capture::Grab)", {}}, pixelsStage{"pixels (X11Capture::Pixels)", {}},
        encode{"encode (JpegEncoder)", {}}, write{"write (ReplaceScreenshotFile)", {}}, total{"total", {}};
    Series path{"TakeScreenshot, no pause", {}}, pathCpu{"processor time", {}};
    Series refCpu{"processor time", {}};
    Series plainGrab{"grab (XGetImage)", {}};
    Series refGrab{"grab (XShmGetImage)", {}}, refEncode{"encode (libjpeg BGRX q75)", {}},
        refWrite{"write (open/write/close)", {}}, refTotal{"total", {}};
    Series getss{"/getss over HTTP - 100 ms", {}};
    Series ratio{"per-run ratio", {}}, getssRatio{"per-run ratio", {}}, grabOver{"grab", {}},
        encodeOver{"encode", {}}, writeOver{"write", {}},
        answerOver{"answer over pipeline", {}}, pathOver{"capture path", {}};
    size_t shotBytes = 0, refBytes = 0;
    long answerBytes = 0;
    const char* format = "?";

    // One round: the program's pipeline, the reference and (with --getss)
    // the HTTP request, in an order that rotates from round to round, so
    // that whatever else goes on on the machine, and whatever one leaves in
    // the caches for the next, hits them alike; then the plain grab.
    double stagesMs = 0, programMs = 0, referenceMs = 0, answerMs = 0;
    auto runStages = [&] {
        const auto t0 = Clock::now();
        if (!capture.Grab())
            return false;
        const double g = MsSince(t0);
        const auto t1 = Clock::now();
        orvantis::ScreenPixels pixels;
        if (!capture.Pixels(pixels))
            return false;
        const double p = MsSince(t1);
        const auto t2 = Clock::now();
        if (!encoder.Encode(pixels, jpeg))
            return false;
        const double e = MsSince(t2);
        const auto t3 = Clock::now();
        if (!orvantis::ReplaceScreenshotFile(shotPath, jpeg))
            return false;
        const double w = MsSince(t3);
        grab.ms.push_back(g);
        pixelsStage.ms.push_back(p);
        encode.ms.push_back(e);
        write.ms.push_back(w);
        stagesMs = g + p + e + w;
        total.ms.push_back(stagesMs);
        shotBytes = jpeg.size();
        format = pixels.format == orvantis::PixelFormat::Bgrx32 ? "BGRX rows as grabbed" : "converted to RGB";
        return true;
    };
    auto runProgram = [&] {
        orvantis::CaptureBytes shot;
        const double cpu0 = ProcessCpuMs();
        const auto t0 = Clock::now();
        if (!controller.TakeScreenshot(&shot) || shot.Empty())
            return false;
        programMs = MsSince(t0);
        pathCpu.ms.push_back(ProcessCpuMs() - cpu0);
        path.ms.push_back(programMs);
        return true;
    };
    auto runReference = [&] {
        const double cpu0 = ProcessCpuMs();
        const auto r0 = Clock::now();
        if (!reference.Grab())
            return false;
        const double rg = MsSince(r0);
        const auto r1 = Clock::now();
        if (!refEncoder.Encode(reference.Image(), 75))
            return false;
        const double re = MsSince(r1);
        const auto r2 = Clock::now();
        if (!WriteFile(refPath.c_str(), refEncoder.Bytes(), refEncoder.Length()))
            return false;
        const double rw = MsSince(r2);
        refGrab.ms.push_back(rg);
        refEncode.ms.push_back(re);
        refWrite.ms.push_back(rw);
        referenceMs = rg + re + rw;
        refCpu.ms.push_back(ProcessCpuMs() - cpu0);
        refTotal.ms.push_back(referenceMs);
        refBytes = refEncoder.Length();
        return true;
    };
    auto runAnswer = [&] {
        const auto h0 = Clock::now();
        answerBytes = AskForScreenshot(getssPort);
        answerMs = MsSince(h0) - 100.0;
        getss.ms.push_back(answerMs);
        return answerBytes > 0;
    };
    std::vector<std::function<bool()>> steps = {runStages, runProgram, runReference};
    if (getssPort)
        steps.push_back(runAnswer);
    for (int i = 0; i < iterations; ++i) {
        for (size_t k = 0; k < steps.size(); ++k) {
            if (!steps[(i + k) % steps.size()]()) {
                std::fprintf(stderr, "capture_bench: a screenshot failed\n");
                return 1;
            }
        }
        ratio.ms.push_back(programMs / referenceMs);
        grabOver.ms.push_back(grab.ms.back() - refGrab.ms.back());
        encodeOver.ms.push_back(encode.ms.back() - refEncode.ms.back());
        pathOver.ms.push_back(programMs - referenceMs);
        writeOver.ms.push_back(write.ms.back() - refWrite.ms.back());
        if (getssPort) {
            getssRatio.ms.push_back(answerMs / referenceMs);
            answerOver.ms.push_back(answerMs - programMs);
        }

        const auto p0 = Clock::now();
        if (!plain.Grab())
            return 1;
        plainGrab.ms.push_back(MsSince(p0));
    }

    std::printf("\n%d screenshots of %dx%d\n", iterations, probe.width, probe.height);
    std::printf("program, stage by stage with the program's parts (%s, JPEG %zu bytes):\n", format, shotBytes);
    for (const Series* s : {&grab, &pixelsStage, &encode, &write, &total})
        PrintRow(*s);
    std::printf("program, the capture path as the program takes it:\n");
    for (const Series* s : {&path, &pathCpu})
        PrintRow(*s);
    std::printf("plain grab for comparison:\n");
    PrintRow(plainGrab);
    std::printf("reference: XShm segment made once + libjpeg-turbo from BGRX + write (JPEG %zu bytes):\n",
                refBytes);
    for (const Series* s : {&refGrab, &refEncode, &refWrite, &refTotal, &refCpu})
        PrintRow(*s);
    std::printf("\nratio capture path (TakeScreenshot without its pause) / reference:\n");
    std::printf("  of medians %.3f   of p90s %.3f   per-run median %.3f   per-run p90 %.3f\n",
                path.Median() / refTotal.Median(), path.P90() / refTotal.P90(), ratio.Median(), ratio.P90());
    std::printf("  processor time, of medians %.3f\n", pathCpu.Median() / refCpu.Median());
    std::printf("  over the reference, per run (median / p90):\n");
    for (const Series* s : {&pathOver, &grabOver, &encodeOver, &writeOver})
        std::printf("    %-13s %+6.2f ms / %+6.2f ms\n", s->name, s->Median(), s->P90());
    if (getssPort) {
        std::printf("\nwhole answer: the program's /getss on port %d (%ld bytes with headers), in the same rounds:\n",
                    getssPort, answerBytes);
        PrintRow(getss);
        std::printf("ratio (/getss - 100 ms) / reference:\n");
        std::printf("  of medians %.3f   of p90s %.3f   per-run median %.3f   per-run p90 %.3f\n",
                    getss.Median() / refTotal.Median(), getss.P90() / refTotal.P90(), getssRatio.Median(),
                    getssRatio.P90());
        std::printf("  over the program's own pipeline (thread, request, pause overshoot, sending), per run:\n"
                    "  median %+.2f ms   p90 %+.2f ms\n",
                    answerOver.Median(), answerOver.P90());
    }

    if (!keep) {
        unlink(shotPath.utf8_str());
        unlink(controllerPath.utf8_str());
        unlink(refPath.c_str());
        rmdir(dir);
    } else {
        std::printf("files kept in %s\n", dir);
    }
    referenceGrab.reset();
    XCloseDisplay(display);
    return 0;
}
