#pragma once
// Turning captured pixels of any direct-mapped layout into rows the JPEG
// encoder takes: a grabber hands its rows on as they are when they are BGRX
// or BGRA in memory, and converts anything else (other channel orders, 16-
// and 24-bit pixels, the other byte order) into packed RGB here.

#include <cstddef>
#include <vector>

#include "platform/ScreenGrabber.h"

namespace orvantis {

// Rows of pixels whose value, read as one number of `bitsPerPixel` bits in
// the given byte order, holds each channel under its mask.
struct PackedPixels {
    const unsigned char* data = nullptr;
    int width = 0;
    int height = 0;
    std::size_t stride = 0;  // bytes from one row to the next
    int bitsPerPixel = 32;   // 8, 16, 24 or 32
    bool msbFirst = false;   // the pixel's most significant byte comes first in memory
    unsigned long redMask = 0;
    unsigned long greenMask = 0;
    unsigned long blueMask = 0;
};

enum class PackedPath {
    Unsupported,  // masks that overlap, are empty or do not fit the pixel
    Fast32,       // 32 bits per pixel, each channel one whole byte
    Masks,        // any other layout of 8, 16, 24 or 32 bits per pixel
};

PackedPath PickPackedPath(const PackedPixels& pixels);

// The format the encoder can take these rows in as they are (Bgrx32 for
// 0x00RRGGBB words stored least significant byte first), or Rgb24 when
// they need converting.
PixelFormat DirectFormat(const PackedPixels& pixels);

// Writes width * height * 3 bytes of packed RGB. Nothing for Unsupported.
void ConvertPackedToRgb(const PackedPixels& pixels, unsigned char* rgb);

// Points `out` at `pixels` as they are when the encoder takes them, else
// converts them into `buffer` (grown as needed and kept by the caller
// between captures) and points `out` there. False, `out` untouched, for an
// unsupported layout, an empty picture or a buffer that cannot grow.
bool HandOutPixels(const PackedPixels& pixels, std::vector<unsigned char>& buffer, ScreenPixels& out);

}  // namespace orvantis
