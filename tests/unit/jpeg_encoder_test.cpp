// The band encoder without a display: pictures whose sizes do not divide
// into blocks and bands, every pixel layout the grabbers give, rows with
// padding, one encoder used for one size after another, and the block a
// capture hands back being written into again. Cut into bands or not, the
// JPEG decodes to the same pixels.

#include <gtest/gtest.h>

#include <csetjmp>
#include <cstdio>
#include <memory>
#include <random>
#include <string>
#include <tuple>
#include <vector>

#include <jpeglib.h>

#include <wx/thread.h>

#include "control/DesktopController.h"
#include "control/JpegEncode.h"

using namespace orvantis;

namespace {

struct Decoded {
    int width = 0, height = 0;
    std::vector<unsigned char> rgb;
    int restarts = 0;  // restart markers in the coded data
};

struct DecodeError {
    jpeg_error_mgr pub;
    std::jmp_buf escape;
};

Decoded Decode(const std::string& jpeg)
{
    Decoded out;
    jpeg_decompress_struct cinfo{};
    DecodeError errors;
    cinfo.err = jpeg_std_error(&errors.pub);
    errors.pub.error_exit = [](j_common_ptr c) { std::longjmp(reinterpret_cast<DecodeError*>(c->err)->escape, 1); };
    if (setjmp(errors.escape)) {
        jpeg_destroy_decompress(&cinfo);
        return Decoded{};
    }
    jpeg_create_decompress(&cinfo);
    jpeg_mem_src(&cinfo, reinterpret_cast<const unsigned char*>(jpeg.data()), jpeg.size());
    jpeg_read_header(&cinfo, TRUE);
    cinfo.out_color_space = JCS_RGB;
    jpeg_start_decompress(&cinfo);
    out.width = static_cast<int>(cinfo.output_width);
    out.height = static_cast<int>(cinfo.output_height);
    out.rgb.resize(static_cast<size_t>(out.width) * out.height * 3);
    while (cinfo.output_scanline < cinfo.output_height) {
        JSAMPROW row = &out.rgb[static_cast<size_t>(cinfo.output_scanline) * out.width * 3];
        jpeg_read_scanlines(&cinfo, &row, 1);
    }
    jpeg_finish_decompress(&cinfo);
    jpeg_destroy_decompress(&cinfo);
    for (size_t i = 0; i + 1 < jpeg.size(); ++i) {
        const auto b = static_cast<unsigned char>(jpeg[i + 1]);
        if (static_cast<unsigned char>(jpeg[i]) == 0xFF && b >= 0xD0 && b <= 0xD7)
            ++out.restarts;
    }
    return out;
}

enum class Content { Pattern, Noise, Flat };

// A picture in `format` with `padding` bytes after each row: gradients with
// sharp edges (slides), or noise that JPEG cannot squeeze, or one colour.
class Picture {
public:
    Picture(int width, int height, PixelFormat format, size_t padding, Content content, unsigned seed = 1)
    {
        const size_t bpp = format == PixelFormat::Rgb24 ? 3 : 4;
        pixels.width = width;
        pixels.height = height;
        pixels.format = format;
        pixels.stride = width * bpp + padding;
        bytes.assign(pixels.stride * height, 0xEE);  // the padding holds rubbish
        std::mt19937 random(seed);
        for (int y = 0; y < height; ++y) {
            unsigned char* row = &bytes[y * pixels.stride];
            for (int x = 0; x < width; ++x) {
                unsigned char r = 40, g = 90, b = 200;
                if (content == Content::Noise) {
                    const unsigned v = random();
                    r = v & 0xFF, g = (v >> 8) & 0xFF, b = (v >> 16) & 0xFF;
                } else if (content == Content::Pattern) {
                    r = static_cast<unsigned char>(x * 255 / width);
                    g = static_cast<unsigned char>(y * 255 / height);
                    b = ((x / 37 + y / 23) & 1) ? 230 : 20;
                }
                unsigned char* p = row + x * bpp;
                if (format == PixelFormat::Rgb24) {
                    p[0] = r, p[1] = g, p[2] = b;
                } else {
                    p[0] = b, p[1] = g, p[2] = r, p[3] = static_cast<unsigned char>(x);  // unused or alpha
                }
            }
        }
        pixels.data = bytes.data();
    }
    ScreenPixels pixels;
    std::vector<unsigned char> bytes;
};

void ExpectSamePicture(const std::string& banded, const std::string& onePass, int width, int height, int bands)
{
    const Decoded a = Decode(banded), b = Decode(onePass);
    ASSERT_EQ(a.width, width);
    ASSERT_EQ(a.height, height);
    ASSERT_EQ(b.width, width);
    ASSERT_EQ(b.height, height);
    EXPECT_EQ(a.restarts, bands - 1);
    EXPECT_EQ(b.restarts, 0);
    EXPECT_TRUE(a.rgb == b.rgb) << "banded and one-pass encodings decode to different pixels";
}

// One encoder for every case below, as the desktop keeps one: its band
// threads and its guesses carry over from one size to the next.
JpegEncoder& SharedEncoder()
{
    static JpegEncoder encoder(4);
    return encoder;
}

using Case = std::tuple<std::pair<int, int>, PixelFormat, size_t>;

class BandedEncoding : public ::testing::TestWithParam<Case> {};

std::string CaseName(const ::testing::TestParamInfo<Case>& info)
{
    const std::pair<int, int> size = std::get<0>(info.param);
    const PixelFormat format = std::get<1>(info.param);
    const char* layout = format == PixelFormat::Bgrx32 ? "Bgrx" : format == PixelFormat::Bgra32 ? "Bgra" : "Rgb";
    return std::to_string(size.first) + "x" + std::to_string(size.second) + layout +
           (std::get<2>(info.param) ? "Padded" : "Packed");
}

}  // namespace

TEST_P(BandedEncoding, DecodesToTheSamePixelsAsOnePass)
{
    const auto [size, format, padding] = GetParam();
    const auto [width, height] = size;
    const Picture picture(width, height, format, padding, Content::Pattern);

    std::string onePass;
    ASSERT_TRUE(JpegEncoder(1).Encode(picture.pixels, onePass));
    for (int maxBands : {4, 3, 2}) {
        const int bands = PlanBands(width, height, maxBands).bands;
        std::string banded;
        if (maxBands == 4) {
            ASSERT_TRUE(SharedEncoder().Encode(picture.pixels, banded));
        } else {
            ASSERT_TRUE(JpegEncoder(maxBands).Encode(picture.pixels, banded));
        }
        ExpectSamePicture(banded, onePass, width, height, bands);
    }
}

INSTANTIATE_TEST_SUITE_P(
    UnevenSizesLayoutsAndStrides, BandedEncoding,
    ::testing::Combine(::testing::Values(std::make_pair(1023, 769), std::make_pair(17, 2049),
                                         std::make_pair(4095, 257), std::make_pair(5120, 2880)),
                       ::testing::Values(PixelFormat::Bgrx32, PixelFormat::Bgra32, PixelFormat::Rgb24),
                       ::testing::Values(size_t{0}, size_t{52})),
    CaseName);

TEST(BandedEncodingBuffer, GrowsForNoiseAfterFlatAndStaysRightForFlatAfterNoise)
{
    // The same encoder and the same block throughout: a flat picture sets a
    // small guess, noise outgrows it (the block is grown while encoding),
    // and a flat picture then goes into the grown block.
    JpegEncoder encoder(4);
    std::string block;
    const std::vector<std::pair<Content, unsigned>> order = {
        {Content::Flat, 1}, {Content::Noise, 2}, {Content::Flat, 3}, {Content::Noise, 4}};
    for (const auto& [content, seed] : order) {
        const Picture picture(1920, 1080, PixelFormat::Bgrx32, 0, content, seed);
        ASSERT_TRUE(encoder.Encode(picture.pixels, block));
        std::string onePass;
        ASSERT_TRUE(JpegEncoder(1).Encode(picture.pixels, onePass));
        if (content == Content::Noise) {
            EXPECT_GT(block.size(), 1000000u) << "not noisy enough to outgrow the guess";
        }
        ExpectSamePicture(block, onePass, 1920, 1080, PlanBands(1920, 1080, 4).bands);
    }
}

namespace {

class PictureGrabber : public ScreenGrabber {
public:
    bool GrabPrimary(ScreenPixels& out) override
    {
        out = picture->pixels;
        return true;
    }
    const Picture* picture = nullptr;
};

class NoInput : public InputInjector {
public:
    void Send(const InputRecord&) override {}
};

}  // namespace

TEST(BandedEncodingBuffer, TheBlockACaptureHandsBackIsWrittenIntoAgain)
{
    const Picture noise(1920, 1080, PixelFormat::Bgrx32, 0, Content::Noise, 7);
    const Picture slide(2560, 1440, PixelFormat::Bgra32, 64, Content::Pattern);
    PictureGrabber grabber;
    NoInput input;
    wxMutex mutex;
    DesktopController desktop(mutex, input, grabber, [](int) {}, [] { return wxString(); }, 4);

    const char* block = nullptr;
    for (const Picture* picture : {&noise, &slide, &noise}) {
        grabber.picture = picture;
        CaptureBytes capture;
        ASSERT_TRUE(desktop.TakeScreenshot(&capture));
        ASSERT_FALSE(capture.Empty());
        if (block) {
            EXPECT_EQ(capture.Bytes().data(), block) << "the block given back was not reused";
        }
        block = capture.Bytes().data();
        std::string onePass;
        ASSERT_TRUE(JpegEncoder(1).Encode(picture->pixels, onePass));
        ExpectSamePicture(capture.Bytes(), onePass, picture->pixels.width, picture->pixels.height,
                          PlanBands(picture->pixels.width, picture->pixels.height, 4).bands);
    }  // each capture gives its block back here
}
