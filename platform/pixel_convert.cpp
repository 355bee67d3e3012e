#include "platform/PixelConvert.h"

#include <cstdint>
#include <cstring>
#include <new>

namespace orvantis {

namespace {

int MaskShift(unsigned long mask)
{
    if (mask == 0)
        return 0;
    int shift = 0;
    while (!(mask & 1UL)) {
        mask >>= 1;
        ++shift;
    }
    return shift;
}

int MaskBits(unsigned long mask)
{
    mask >>= MaskShift(mask);
    int bits = 0;
    while (mask & 1UL) {
        mask >>= 1;
        ++bits;
    }
    return bits;
}

bool HostIsLsbFirst()
{
    const std::uint16_t probe = 1;
    unsigned char first;
    std::memcpy(&first, &probe, 1);
    return first == 1;
}

// One channel of a direct-mapped pixel: its place and how to widen it to 8 bits.
struct Channel {
    unsigned long mask = 0;
    int shift = 0;
    int bits = 0;
    unsigned char widen[256] = {};  // for channels of up to 8 bits

    explicit Channel(unsigned long m) : mask(m), shift(MaskShift(m)), bits(MaskBits(m))
    {
        if (bits > 0 && bits <= 8) {
            const unsigned max = (1u << bits) - 1;
            for (unsigned v = 0; v <= max; ++v)
                widen[v] = static_cast<unsigned char>((v * 255 + max / 2) / max);
        }
    }

    unsigned char operator()(unsigned long pixel) const
    {
        const unsigned long v = (pixel & mask) >> shift;
        if (bits <= 8)
            return widen[v];
        return static_cast<unsigned char>(v >> (bits - 8));
    }
};

bool WholeByteMask(unsigned long mask)
{
    const int shift = MaskShift(mask);
    return MaskBits(mask) == 8 && shift % 8 == 0 && shift <= 24;
}

// 32 bits per pixel with 8-bit channels on byte boundaries: read each pixel
// as one 32-bit word (byte-swapped when the rows' order differs from ours)
// and shift the channels out.
template <bool Swap, int RShift, int GShift, int BShift>
void Convert32Fixed(const PackedPixels& p, unsigned char* rgb)
{
    const int w = p.width;
    for (int y = 0; y < p.height; ++y) {
        const unsigned char* src = p.data + static_cast<size_t>(y) * p.stride;
        unsigned char* dst = rgb + static_cast<size_t>(y) * w * 3;
        for (int x = 0; x < w; ++x) {
            std::uint32_t v;
            std::memcpy(&v, src + 4 * x, 4);
            if (Swap)
                v = __builtin_bswap32(v);
            dst[0] = static_cast<unsigned char>(v >> RShift);
            dst[1] = static_cast<unsigned char>(v >> GShift);
            dst[2] = static_cast<unsigned char>(v >> BShift);
            dst += 3;
        }
    }
}

template <bool Swap>
void Convert32Any(const PackedPixels& p, int rs, int gs, int bs, unsigned char* rgb)
{
    const int w = p.width;
    for (int y = 0; y < p.height; ++y) {
        const unsigned char* src = p.data + static_cast<size_t>(y) * p.stride;
        unsigned char* dst = rgb + static_cast<size_t>(y) * w * 3;
        for (int x = 0; x < w; ++x) {
            std::uint32_t v;
            std::memcpy(&v, src + 4 * x, 4);
            if (Swap)
                v = __builtin_bswap32(v);
            dst[0] = static_cast<unsigned char>(v >> rs);
            dst[1] = static_cast<unsigned char>(v >> gs);
            dst[2] = static_cast<unsigned char>(v >> bs);
            dst += 3;
        }
    }
}

void ConvertFast32(const PackedPixels& p, unsigned char* rgb)
{
    const bool swap = p.msbFirst == HostIsLsbFirst();
    const int rs = MaskShift(p.redMask);
    const int gs = MaskShift(p.greenMask);
    const int bs = MaskShift(p.blueMask);
    // The usual layout (0x00RRGGBB words) gets a loop of its own with the
    // shifts known at compile time. (In LSB-first order those are BGRX rows,
    // which are encoded as they are and only come here in the tests.)
    if (rs == 16 && gs == 8 && bs == 0) {
        if (swap)
            Convert32Fixed<true, 16, 8, 0>(p, rgb);
        else
            Convert32Fixed<false, 16, 8, 0>(p, rgb);
    } else if (swap) {
        Convert32Any<true>(p, rs, gs, bs, rgb);
    } else {
        Convert32Any<false>(p, rs, gs, bs, rgb);
    }
}

void ConvertMasks(const PackedPixels& p, unsigned char* rgb)
{
    const Channel red(p.redMask), green(p.greenMask), blue(p.blueMask);
    const int w = p.width;
    const int bytesPerPixel = p.bitsPerPixel / 8;
    for (int y = 0; y < p.height; ++y) {
        const unsigned char* src = p.data + static_cast<size_t>(y) * p.stride;
        unsigned char* dst = rgb + static_cast<size_t>(y) * w * 3;
        for (int x = 0; x < w; ++x) {
            const unsigned char* px = src + x * bytesPerPixel;
            unsigned long pixel = 0;
            if (p.msbFirst) {
                for (int i = 0; i < bytesPerPixel; ++i)
                    pixel = (pixel << 8) | px[i];
            } else {
                for (int i = bytesPerPixel - 1; i >= 0; --i)
                    pixel = (pixel << 8) | px[i];
            }
            dst[0] = red(pixel);
            dst[1] = green(pixel);
            dst[2] = blue(pixel);
            dst += 3;
        }
    }
}

}  // namespace

PackedPath PickPackedPath(const PackedPixels& p)
{
    if (!p.redMask || !p.greenMask || !p.blueMask)
        return PackedPath::Unsupported;
    const bool disjoint = (p.redMask & p.greenMask) == 0 && (p.redMask & p.blueMask) == 0 &&
                          (p.greenMask & p.blueMask) == 0;
    if (!disjoint)
        return PackedPath::Unsupported;
    if (p.bitsPerPixel == 32 && WholeByteMask(p.redMask) && WholeByteMask(p.greenMask) &&
        WholeByteMask(p.blueMask))
        return PackedPath::Fast32;
    const unsigned long masks = p.redMask | p.greenMask | p.blueMask;
    switch (p.bitsPerPixel) {
    case 8:
    case 16:
    case 24:
    case 32:
        // The pixel value must fit in the bytes we read.
        if (p.bitsPerPixel == 32 || masks < (1UL << p.bitsPerPixel))
            return PackedPath::Masks;
        break;
    default:
        break;
    }
    return PackedPath::Unsupported;
}

PixelFormat DirectFormat(const PackedPixels& p)
{
    // Only 0x00RRGGBB words qualify, and only least significant byte first:
    // the other order puts the same words in memory as X, R, G, B.
    if (PickPackedPath(p) == PackedPath::Fast32 && !p.msbFirst && p.redMask == 0xFF0000 &&
        p.greenMask == 0x00FF00 && p.blueMask == 0x0000FF)
        return PixelFormat::Bgrx32;
    return PixelFormat::Rgb24;
}

void ConvertPackedToRgb(const PackedPixels& p, unsigned char* rgb)
{
    switch (PickPackedPath(p)) {
    case PackedPath::Fast32:
        ConvertFast32(p, rgb);
        break;
    case PackedPath::Masks:
        ConvertMasks(p, rgb);
        break;
    case PackedPath::Unsupported:
        break;
    }
}

bool HandOutPixels(const PackedPixels& p, std::vector<unsigned char>& buffer, ScreenPixels& out)
{
    if (!p.data || p.width <= 0 || p.height <= 0 || PickPackedPath(p) == PackedPath::Unsupported)
        return false;
    ScreenPixels pixels;
    pixels.width = p.width;
    pixels.height = p.height;
    if (DirectFormat(p) == PixelFormat::Bgrx32) {
        pixels.data = p.data;
        pixels.stride = p.stride;
        pixels.format = PixelFormat::Bgrx32;
    } else {
        const size_t stride = static_cast<size_t>(p.width) * 3;
        try {
            buffer.resize(stride * static_cast<size_t>(p.height));
        } catch (const std::bad_alloc&) {
            return false;
        }
        ConvertPackedToRgb(p, buffer.data());
        pixels.data = buffer.data();
        pixels.stride = stride;
        pixels.format = PixelFormat::Rgb24;
    }
    out = pixels;
    return true;
}

}  // namespace orvantis
