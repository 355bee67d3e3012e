#include "control/JpegEncode.h"

#include <wx/file.h>
#include <wx/log.h>

#include "platform/ProcessTuning.h"

// jpeglib.h wants FILE and size_t declared before it.
#include <csetjmp>
#include <cstdio>

#include <algorithm>
#include <atomic>

#include <jpeglib.h>
#include <jerror.h>

#ifndef JCS_EXTENSIONS
#error "libjpeg-turbo is needed: the pixels are encoded in their BGRX/BGRA layout"
#endif

namespace orvantis {

namespace {

// The library's own error handler ends the process; this one jumps back to
// EncodeJpeg instead.
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

// The length of the last JPEG made: the next capture of the same screen
// comes out about as long.
std::atomic<size_t> g_lastLength{0};

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
            // A block this large is fresh from the system every time: have
            // its pages backed in one go rather than one fault at a time.
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

// The work of EncodeJpeg, apart from anything with a destructor, as the
// error handler leaves it through longjmp.
bool Compress(const ScreenPixels& pixels, J_COLOR_SPACE space, int components, std::string& jpeg)
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
    // Room for the last capture's length and an eighth more, or for a third
    // of a byte per pixel at first (a busy slide needs about a quarter).
    const size_t last = g_lastLength.load(std::memory_order_relaxed);
    const size_t guess = last ? last + last / 8 : static_cast<size_t>(pixels.width) * pixels.height / 3;
    dest.initialSize = std::max<size_t>(size_t{64} << 10, guess);

    if (setjmp(errors.escape)) {
        jpeg_destroy_compress(&cinfo);
        return false;
    }
    jpeg_create_compress(&cinfo);
    cinfo.dest = &dest.pub;
    cinfo.image_width = static_cast<JDIMENSION>(pixels.width);
    cinfo.image_height = static_cast<JDIMENSION>(pixels.height);
    cinfo.input_components = components;
    cinfo.in_color_space = space;
    // Baseline JFIF with Huffman tables of the standard, 4:2:0 sampling and
    // quality 75: the library's defaults.
    jpeg_set_defaults(&cinfo);
    jpeg_set_quality(&cinfo, 75, TRUE);
    jpeg_start_compress(&cinfo, TRUE);
    JSAMPROW rows[16];
    while (cinfo.next_scanline < cinfo.image_height) {
        const JDIMENSION first = cinfo.next_scanline;
        const JDIMENSION count = std::min<JDIMENSION>(16, cinfo.image_height - first);
        for (JDIMENSION i = 0; i < count; ++i)
            rows[i] = const_cast<JSAMPROW>(pixels.data + (first + i) * pixels.stride);
        jpeg_write_scanlines(&cinfo, rows, count);
    }
    jpeg_finish_compress(&cinfo);
    jpeg_destroy_compress(&cinfo);
    return true;
}

}  // namespace

bool EncodeJpeg(const ScreenPixels& pixels, std::string& jpeg)
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
    if (!Compress(pixels, space, components, jpeg)) {
        jpeg.clear();
        return false;
    }
    g_lastLength.store(jpeg.size(), std::memory_order_relaxed);
    return !jpeg.empty();
}

bool WriteWholeFile(const wxString& path, const std::string& bytes)
{
    // A failure is the caller's to handle; the toolkit must not pop up an
    // error box on the presenter's screen for it.
    wxLogNull quiet;
    wxFile file;
    if (!file.Create(path, true))
        return false;
    const size_t written = file.Write(bytes.data(), bytes.size());
    const bool closed = file.Close();
    return written == bytes.size() && closed;
}

}  // namespace orvantis
