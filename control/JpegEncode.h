#pragma once
#include <memory>
#include <string>

#include <wx/string.h>

#include "platform/ScreenGrabber.h"

namespace orvantis {

// How a picture is cut into bands that are encoded at the same time. Each
// band but the last holds `mcuRowsPerBand` rows of 16x16 blocks; the bands'
// coded data are joined with a restart marker after every
// `restartInterval` blocks, which is where one band ends and the next one
// begins. One band (and no restart markers) when cutting does not pay or
// is not possible.
struct BandPlan {
    int bands = 1;
    int mcuRowsPerBand = 0;
    unsigned restartInterval = 0;
};

// At most `maxBands` bands of at least eight block rows (128 pixel rows)
// each, as even as the block rows allow.
BandPlan PlanBands(int width, int height, int maxBands);

// Encodes screenshots as baseline JFIF JPEGs of quality 75 with 4:2:0 chroma
// subsampling (the library's defaults), straight from their rows in whatever
// format they come.
//
// On a machine with more than one core a tall enough picture is cut into
// horizontal bands, one per core and at most four, encoded at the same time:
// the first on the calling thread, the others on threads the encoder starts
// on first use and keeps. The bands' coded data go into one frame, joined
// by restart markers. A decoder gets the same pixels as from one pass over
// the whole picture; the file is a few bytes longer.
class JpegEncoder {
public:
    // `maxBands`: 0 picks one band per core, up to four; 1 encodes in one
    // pass on the calling thread.
    explicit JpegEncoder(int maxBands = 0);
    ~JpegEncoder();
    JpegEncoder(const JpegEncoder&) = delete;
    JpegEncoder& operator=(const JpegEncoder&) = delete;

    // Replaces `jpeg`'s contents with the picture, written into the block
    // `jpeg` already has when that is large enough. Returns false, with
    // `jpeg` empty, when there are no pixels or the encoder fails. One call
    // at a time.
    bool Encode(const ScreenPixels& pixels, std::string& jpeg);

private:
    struct Shared;
    std::unique_ptr<Shared> m_shared;
};

}  // namespace orvantis
