// The XImage to RGB converter on pixel formats a test display does not offer:
// other byte orders, packed 24 bpp, 15/16/30-bit channels, 4-bit pixels,
// colour tables; and which of them are handed to the encoder unconverted.
// Pixels are written with Xlib's own XPutPixel, so the image layout is the
// one Xlib (and a server of that format) would produce.

// gtest before any X11 header: Xlib defines None and Bool as macros.
#include <gtest/gtest.h>

#include "platform/capture_x11_detail.h"

#include <cstdlib>
#include <string>
#include <vector>


#include "x11_test_support.h"

namespace orvantis {
namespace {

using testx11::ChannelTolerance;
using testx11::MaskBits;
using x11::ConvertPath;
using x11::PixelLayout;

struct Format {
    const char* name;
    int depth;
    int bitsPerPixel;
    int byteOrder;
    unsigned long red, green, blue;
    ConvertPath path;
    // Bytes B, G, R, X in memory: encoded as they are, never converted.
    bool bgrx = false;
};

unsigned long Encode(unsigned long mask, unsigned v)
{
    int shift = 0;
    while (!((mask >> shift) & 1UL))
        ++shift;
    const int bits = MaskBits(mask);
    const unsigned long scaled = bits >= 8 ? (static_cast<unsigned long>(v) << (bits - 8)) : (v >> (8 - bits));
    return (scaled << shift) & mask;
}

// An image with a padded row stride, its pixels set with XPutPixel.
struct TestImage {
    XImage image{};
    std::vector<char> bytes;

    TestImage(int w, int h, int depth, int bpp, int byteOrder, unsigned long r, unsigned long g, unsigned long b)
    {
        image.width = w;
        image.height = h;
        image.xoffset = 0;
        image.format = ZPixmap;
        image.byte_order = byteOrder;
        image.bitmap_unit = 32;
        image.bitmap_bit_order = byteOrder;
        image.bitmap_pad = 32;
        image.depth = depth;
        image.bits_per_pixel = bpp;
        // Rows longer than the pixels need, as servers pad them.
        image.bytes_per_line = ((w * bpp + 31) / 32) * 4 + 12;
        image.red_mask = r;
        image.green_mask = g;
        image.blue_mask = b;
        bytes.assign(static_cast<size_t>(image.bytes_per_line) * h, static_cast<char>(0xA5));
        image.data = bytes.data();
        EXPECT_NE(XInitImage(&image), 0);
    }
};

struct Sample {
    unsigned char r, g, b;
};

std::vector<Sample> Samples(int count)
{
    // Extremes first: black, white and each primary at full scale must come
    // back exactly, whatever the channel width.
    std::vector<Sample> s = {{0, 0, 0}, {255, 255, 255}, {255, 0, 0}, {0, 255, 0}, {0, 0, 255}};
    unsigned seed = 12345;
    while (static_cast<int>(s.size()) < count) {
        seed = seed * 1103515245u + 12345u;
        s.push_back({static_cast<unsigned char>(seed >> 8), static_cast<unsigned char>(seed >> 16),
                     static_cast<unsigned char>(seed >> 24)});
    }
    return s;
}

void CheckWidth(const Format& f, int w)
{
    SCOPED_TRACE("width " + std::to_string(w));
    const int h = 5;
    TestImage t(w, h, f.depth, f.bitsPerPixel, f.byteOrder, f.red, f.green, f.blue);
    const auto samples = Samples(w * h);
    for (int i = 0; i < w * h; ++i) {
        const Sample& s = samples[i];
        XPutPixel(&t.image, i % w, i / w, Encode(f.red, s.r) | Encode(f.green, s.g) | Encode(f.blue, s.b));
    }

    PixelLayout layout;
    layout.visualClass = TrueColor;
    layout.redMask = f.red;
    layout.greenMask = f.green;
    layout.blueMask = f.blue;
    EXPECT_EQ(x11::PickConvertPath(t.image, layout), f.path);
    EXPECT_EQ(x11::RowsAreBgrx(t.image, layout), f.bgrx);

    std::vector<unsigned char> rgb(static_cast<size_t>(w) * h * 3);
    x11::ConvertToRgb(t.image, layout, rgb.data());

    const int tol[3] = {ChannelTolerance(MaskBits(f.red)), ChannelTolerance(MaskBits(f.green)),
                        ChannelTolerance(MaskBits(f.blue))};
    for (int i = 0; i < w * h; ++i) {
        const unsigned char want[3] = {samples[i].r, samples[i].g, samples[i].b};
        for (int ch = 0; ch < 3; ++ch) {
            const int got = rgb[static_cast<size_t>(i) * 3 + ch];
            if (want[ch] == 0 || want[ch] == 255)
                EXPECT_EQ(got, want[ch]) << "pixel " << i << " channel " << ch;
            else
                EXPECT_LE(std::abs(got - want[ch]), tol[ch]) << "pixel " << i << " channel " << ch;
        }
    }
}

class DirectFormats : public ::testing::TestWithParam<Format> {};

TEST_P(DirectFormats, EveryPixelComesBackInItsChannels)
{
    const Format& f = GetParam();
    // Narrow and odd widths too: converters that take several pixels at a
    // time must get the end of each row right.
    for (int w : {1, 3, 4, 5, 8, 13, 31})
        CheckWidth(f, w);
}


INSTANTIATE_TEST_SUITE_P(
    Converter, DirectFormats,
    ::testing::Values(
        Format{"xrgb32_lsb", 24, 32, LSBFirst, 0xFF0000, 0x00FF00, 0x0000FF, ConvertPath::Fast32, true},
        Format{"xrgb32_msb", 24, 32, MSBFirst, 0xFF0000, 0x00FF00, 0x0000FF, ConvertPath::Fast32},
        Format{"xbgr32_lsb", 24, 32, LSBFirst, 0x0000FF, 0x00FF00, 0xFF0000, ConvertPath::Fast32},
        Format{"bgrx32_msb", 24, 32, MSBFirst, 0x0000FF00, 0x00FF0000, 0xFF000000, ConvertPath::Fast32},
        Format{"rgb24_lsb", 24, 24, LSBFirst, 0xFF0000, 0x00FF00, 0x0000FF, ConvertPath::Masks},
        Format{"rgb24_msb", 24, 24, MSBFirst, 0xFF0000, 0x00FF00, 0x0000FF, ConvertPath::Masks},
        Format{"rgb565_lsb", 16, 16, LSBFirst, 0xF800, 0x07E0, 0x001F, ConvertPath::Masks},
        Format{"rgb565_msb", 16, 16, MSBFirst, 0xF800, 0x07E0, 0x001F, ConvertPath::Masks},
        Format{"rgb555_lsb", 15, 16, LSBFirst, 0x7C00, 0x03E0, 0x001F, ConvertPath::Masks},
        Format{"rgb332", 8, 8, LSBFirst, 0xE0, 0x1C, 0x03, ConvertPath::Masks},
        Format{"rgb30_lsb", 30, 32, LSBFirst, 0x3FF00000, 0x000FFC00, 0x000003FF, ConvertPath::Masks},
        Format{"rgb30_msb", 30, 32, MSBFirst, 0x3FF00000, 0x000FFC00, 0x000003FF, ConvertPath::Masks},
        Format{"rgb121_in_4bpp", 4, 4, MSBFirst, 0x8, 0x6, 0x1, ConvertPath::PerPixel}),
    [](const ::testing::TestParamInfo<Format>& info) { return std::string(info.param.name); });

TEST(ColourTableFormats, PixelsAreLookedUpInThePalette)
{
    const int w = 9, h = 3;
    for (int bpp : {4, 8}) {
        SCOPED_TRACE("bits per pixel " + std::to_string(bpp));
        TestImage t(w, h, bpp, bpp, MSBFirst, 0, 0, 0);
        PixelLayout layout;
        layout.visualClass = PseudoColor;
        for (int i = 0; i < (1 << bpp); ++i)
            layout.palette.push_back(static_cast<std::uint32_t>(0x010203 * i + 0x400000));
        for (int i = 0; i < w * h; ++i)
            XPutPixel(&t.image, i % w, i / w, static_cast<unsigned long>((i * 7) % (1 << bpp)));
        EXPECT_EQ(x11::PickConvertPath(t.image, layout), ConvertPath::PerPixel);

        std::vector<unsigned char> rgb(static_cast<size_t>(w) * h * 3);
        x11::ConvertToRgb(t.image, layout, rgb.data());
        for (int i = 0; i < w * h; ++i) {
            const std::uint32_t c = layout.palette[(i * 7) % (1 << bpp)];
            EXPECT_EQ(rgb[i * 3 + 0], (c >> 16) & 0xFF) << "pixel " << i;
            EXPECT_EQ(rgb[i * 3 + 1], (c >> 8) & 0xFF) << "pixel " << i;
            EXPECT_EQ(rgb[i * 3 + 2], c & 0xFF) << "pixel " << i;
        }
    }
}

}  // namespace
}  // namespace orvantis
