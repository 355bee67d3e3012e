#include "control/JpegEncode.h"

#include "platform/ProcessTuning.h"

// jpeglib.h wants FILE and size_t declared before it.
#include <csetjmp>
#include <cstdio>

#include <algorithm>
#include <condition_variable>
#include <mutex>
#include <thread>
#include <vector>

#include <jpeglib.h>
#include <jerror.h>

#ifndef JCS_EXTENSIONS
#error "libjpeg-turbo is needed: the pixels are encoded in their BGRX/BGRA layout"
#endif

namespace orvantis {

namespace {

// The library's own error handler ends the process; this one jumps back to
// Compress instead.
struct ErrorHandler {
    jpeg_error_mgr pub;
    std::jmp_buf escape;
};

void JumpBack(j_common_ptr cinfo)
{
    std::longjmp(reinterpret_cast<ErrorHandler*>(cinfo->err)->escape, 1);
}

void SayNothing(j_common_ptr) {}

// Writes the compressed bytes straight into a std::string: it is made as
// long as a guess first, doubled whenever the encoder fills it, and cut to
// the length written at the end.
struct StringDestination {
    jpeg_destination_mgr pub;
    std::string* out;
    size_t initialSize;
};

// Makes the string `size` bytes long and hands the encoder the part from
// `used` on. No exception may cross the library's C frames: a failed
// allocation leaves through the error handler.
void ResizeString(j_compress_ptr cinfo, size_t used, size_t size)
{
    auto* dest = reinterpret_cast<StringDestination*>(cinfo->dest);
    bool resized = true;
    try {
        std::string& out = *dest->out;
        if (size > out.capacity()) {
            out.reserve(size);
            // A block this large is fresh from the system: have its pages
            // backed in one go rather than one fault at a time.
            PrepareForWriting(&out[0] + used, out.capacity() - used);
        }
        out.resize(size);
    } catch (...) {
        resized = false;
    }
    if (!resized)
        ERREXIT(cinfo, JERR_OUT_OF_MEMORY);
    dest->pub.next_output_byte = reinterpret_cast<JOCTET*>(&(*dest->out)[used]);
    dest->pub.free_in_buffer = size - used;
}

void StartString(j_compress_ptr cinfo)
{
    ResizeString(cinfo, 0, reinterpret_cast<StringDestination*>(cinfo->dest)->initialSize);
}

boolean GrowString(j_compress_ptr cinfo)
{
    // Called when the whole string is full.
    const size_t used = reinterpret_cast<StringDestination*>(cinfo->dest)->out->size();
    ResizeString(cinfo, used, used * 2);
    return TRUE;
}

void EndString(j_compress_ptr cinfo)
{
    auto* dest = reinterpret_cast<StringDestination*>(cinfo->dest);
    dest->out->resize(dest->out->size() - dest->pub.free_in_buffer);
}

// What is encoded: the rows [firstRow, firstRow + rows) of the picture, as
// a JPEG of their own.
struct Rows {
    const ScreenPixels* pixels;
    J_COLOR_SPACE space;
    int components;
    int firstRow;
    int rows;
    unsigned restartInterval;
};

// The work of one encoding, apart from anything with a destructor, as the
// error handler leaves it through longjmp. `guess` is how long the JPEG is
// expected to be.
bool Compress(const Rows& what, size_t guess, std::string& jpeg)
{
    // Zeroed, so that destroying it is safe whenever the handler jumps back.
    jpeg_compress_struct cinfo{};
    ErrorHandler errors;
    cinfo.err = jpeg_std_error(&errors.pub);
    errors.pub.error_exit = &JumpBack;
    errors.pub.output_message = &SayNothing;
    StringDestination dest;
    dest.pub.init_destination = &StartString;
    dest.pub.empty_output_buffer = &GrowString;
    dest.pub.term_destination = &EndString;
    dest.out = &jpeg;
    // Room for the guess and an eighth more, or for a third of a byte per
    // pixel at first (a busy slide needs about a quarter).
    const ScreenPixels& pixels = *what.pixels;
    const size_t room = guess ? guess + guess / 8 : static_cast<size_t>(pixels.width) * what.rows / 3;
    dest.initialSize = std::max<size_t>(size_t{64} << 10, room);

    if (setjmp(errors.escape)) {
        jpeg_destroy_compress(&cinfo);
        return false;
    }
    jpeg_create_compress(&cinfo);
    cinfo.dest = &dest.pub;
    cinfo.image_width = static_cast<JDIMENSION>(pixels.width);
    cinfo.image_height = static_cast<JDIMENSION>(what.rows);
    cinfo.input_components = what.components;
    cinfo.in_color_space = what.space;
    // Baseline JFIF with Huffman tables of the standard, 4:2:0 sampling and
    // quality 75: the library's defaults.
    jpeg_set_defaults(&cinfo);
    jpeg_set_quality(&cinfo, 75, TRUE);
    cinfo.restart_interval = what.restartInterval;
    jpeg_start_compress(&cinfo, TRUE);
    JSAMPROW rows[16];
    const unsigned char* first = pixels.data + static_cast<size_t>(what.firstRow) * pixels.stride;
    while (cinfo.next_scanline < cinfo.image_height) {
        const JDIMENSION done = cinfo.next_scanline;
        const JDIMENSION count = std::min<JDIMENSION>(16, cinfo.image_height - done);
        for (JDIMENSION i = 0; i < count; ++i)
            rows[i] = const_cast<JSAMPROW>(first + (done + i) * pixels.stride);
        jpeg_write_scanlines(&cinfo, rows, count);
    }
    jpeg_finish_compress(&cinfo);
    jpeg_destroy_compress(&cinfo);
    return true;
}

// Where the frame header's height and the coded data of a JPEG made by
// Compress are.
struct Layout {
    size_t heightAt = 0;  // the two bytes of the frame's height
    size_t dataAt = 0;    // the first byte after the scan header
};

bool FindLayout(const std::string& jpeg, Layout& layout)
{
    const auto byte = [&](size_t i) { return static_cast<unsigned char>(jpeg[i]); };
    if (jpeg.size() < 4 || byte(0) != 0xFF || byte(1) != 0xD8 || byte(jpeg.size() - 2) != 0xFF ||
        byte(jpeg.size() - 1) != 0xD9)
        return false;
    size_t at = 2;
    while (at + 4 <= jpeg.size() && byte(at) == 0xFF) {
        const unsigned marker = byte(at + 1);
        const size_t length = (static_cast<size_t>(byte(at + 2)) << 8) | byte(at + 3);
        if (length < 2 || at + 2 + length > jpeg.size())
            return false;
        if (marker == 0xC0 && length >= 7)
            layout.heightAt = at + 5;
        if (marker == 0xDA) {
            layout.dataAt = at + 2 + length;
            return layout.heightAt != 0;
        }
        at += 2 + length;
    }
    return false;
}

// Makes `jpeg`, the first band's JPEG, one frame of the whole `height`:
// the first band's headers with that height, each further band's coded data
// after the previous one's behind a restart marker (RST0 to RST7 in turn),
// one end-of-image marker.
bool JoinBands(std::string& jpeg, int height, const std::string* others, size_t count)
{
    Layout first;
    if (!FindLayout(jpeg, first))
        return false;
    jpeg.resize(jpeg.size() - 2);  // its end-of-image marker
    jpeg[first.heightAt] = static_cast<char>(height >> 8);
    jpeg[first.heightAt + 1] = static_cast<char>(height & 0xFF);
    for (size_t b = 0; b < count; ++b) {
        Layout next;
        if (!FindLayout(others[b], next))
            return false;
        jpeg.push_back(static_cast<char>(0xFF));
        jpeg.push_back(static_cast<char>(0xD0 + (b & 7)));
        jpeg.append(others[b], next.dataAt, others[b].size() - 2 - next.dataAt);
    }
    jpeg.push_back(static_cast<char>(0xFF));
    jpeg.push_back(static_cast<char>(0xD9));
    return true;
}

}  // namespace

BandPlan PlanBands(int width, int height, int maxBands)
{
    // Blocks of 16x16 pixels with 4:2:0 sampling; the standard counts the
    // restart interval in a 16-bit field.
    constexpr int kMinMcuRowsPerBand = 8;
    constexpr long kMaxRestartInterval = 65535;
    BandPlan plan;
    if (width <= 0 || height <= 0)
        return plan;
    const int mcuRows = (height + 15) / 16;
    const long mcusPerRow = (width + 15) / 16;
    plan.mcuRowsPerBand = mcuRows;
    const int bands = std::min(maxBands, mcuRows / kMinMcuRowsPerBand);
    if (bands <= 1)
        return plan;
    const int perBand = (mcuRows + bands - 1) / bands;
    // Fewer bands would only make the interval longer.
    if (perBand * mcusPerRow > kMaxRestartInterval)
        return plan;
    // As many bands as it takes with that many rows each: an even cut can
    // leave the last one empty (9 rows in 4 bands of 3).
    plan.bands = (mcuRows + perBand - 1) / perBand;
    plan.mcuRowsPerBand = perBand;
    plan.restartInterval = static_cast<unsigned>(perBand * mcusPerRow);
    return plan;
}

// The state the calling thread shares with the band threads.
struct JpegEncoder::Shared {
    int maxBands = 1;
    std::vector<std::thread> threads;
    std::mutex mutex;
    std::condition_variable work;
    std::condition_variable finished;
    unsigned round = 0;  // counts the encodings handed out
    bool stop = false;
    // The current encoding: band i + 1 is the job of thread i.
    std::vector<Rows> bands;
    std::vector<std::string> out;       // band i's JPEG (the first band's goes to the caller)
    std::vector<char> ok;               // band i encoded
    std::vector<size_t> lastLength;     // band i's length the last time
    int pending = 0;

    // `seen`: the last encoding handed out before the thread was started.
    void Run(size_t index, unsigned seen)
    {
        std::unique_lock<std::mutex> lock(mutex);
        for (;;) {
            work.wait(lock, [&] { return stop || round != seen; });
            if (stop)
                return;
            seen = round;
            const size_t band = index + 1;
            if (band >= bands.size())
                continue;
            const Rows what = bands[band];
            const size_t guess = lastLength[band];
            std::string& bytes = out[band];
            lock.unlock();
            const bool done = Compress(what, guess, bytes);
            lock.lock();
            ok[band] = done;
            if (--pending == 0)
                finished.notify_one();
        }
    }

    // Starts band threads until there are `count`, and returns how many
    // there are: a system that refuses threads leaves fewer bands. Called
    // by the encoding thread only, before it hands out the next encoding.
    size_t StartThreads(size_t count)
    {
        while (threads.size() < count) {
            try {
                threads.emplace_back([this, index = threads.size(), seen = round] { Run(index, seen); });
            } catch (...) {
                break;
            }
        }
        return threads.size();
    }
};

JpegEncoder::JpegEncoder(int maxBands) : m_shared(std::make_unique<Shared>())
{
    if (maxBands <= 0)
        maxBands = static_cast<int>(std::min(4u, std::max(1u, std::thread::hardware_concurrency())));
    m_shared->maxBands = maxBands;
}

JpegEncoder::~JpegEncoder()
{
    {
        std::lock_guard<std::mutex> lock(m_shared->mutex);
        m_shared->stop = true;
    }
    m_shared->work.notify_all();
    for (std::thread& thread : m_shared->threads)
        thread.join();
}

bool JpegEncoder::Encode(const ScreenPixels& pixels, std::string& jpeg)
{
    jpeg.clear();
    if (!pixels.data || pixels.width <= 0 || pixels.height <= 0)
        return false;
    J_COLOR_SPACE space = JCS_RGB;
    int components = 3;
    switch (pixels.format) {
    case PixelFormat::Bgrx32:
        space = JCS_EXT_BGRX;
        components = 4;
        break;
    case PixelFormat::Bgra32:
        // The alpha byte is skipped like the unused one of BGRX.
        space = JCS_EXT_BGRA;
        components = 4;
        break;
    case PixelFormat::Rgb24:
        break;
    }
    if (pixels.stride < static_cast<size_t>(pixels.width) * components)
        return false;

    Shared& s = *m_shared;
    BandPlan plan = PlanBands(pixels.width, pixels.height, s.maxBands);
    if (plan.bands > 1) {
        const size_t threads = s.StartThreads(static_cast<size_t>(plan.bands - 1));
        if (threads + 1 < static_cast<size_t>(plan.bands))
            plan = PlanBands(pixels.width, pixels.height, static_cast<int>(threads) + 1);
    }

    const size_t count = static_cast<size_t>(plan.bands);
    try {
        std::lock_guard<std::mutex> lock(s.mutex);
        s.bands.clear();
        for (int b = 0; b < plan.bands; ++b) {
            const int first = b * plan.mcuRowsPerBand * 16;
            const int rows = std::min(pixels.height - first, plan.mcuRowsPerBand * 16);
            s.bands.push_back(Rows{&pixels, space, components, first, rows, plan.restartInterval});
        }
        s.out.resize(std::max(s.out.size(), count));
        s.lastLength.resize(std::max(s.lastLength.size(), count), 0);
        s.ok.assign(count, 0);
        s.pending = plan.bands - 1;
        if (plan.bands > 1)
            ++s.round;
    } catch (...) {
        return false;
    }
    if (plan.bands > 1)
        s.work.notify_all();

    // The first band (or the whole picture) straight into the caller's
    // string, with room for the others behind it. The band threads only
    // read what was set up above, so it is read here without the lock.
    size_t expected = 0;
    for (size_t b = 0; b < count; ++b)
        expected += s.lastLength[b];
    bool ok = true;
    try {
        if (expected > jpeg.capacity()) {
            jpeg.reserve(expected + expected / 8);
            PrepareForWriting(&jpeg[0], jpeg.capacity());
        }
    } catch (...) {
        ok = false;
    }
    ok = ok && Compress(s.bands[0], s.lastLength[0], jpeg);

    std::unique_lock<std::mutex> lock(s.mutex);
    s.finished.wait(lock, [&] { return s.pending == 0; });
    if (ok)
        s.lastLength[0] = jpeg.size();
    for (size_t b = 1; b < count; ++b) {
        ok = ok && s.ok[b];
        if (s.ok[b])
            s.lastLength[b] = s.out[b].size();
    }
    if (ok && count > 1) {
        try {
            ok = JoinBands(jpeg, pixels.height, &s.out[1], count - 1);
        } catch (...) {
            ok = false;
        }
    }
    if (!ok) {
        jpeg.clear();
        return false;
    }
    return true;
}

}  // namespace orvantis
