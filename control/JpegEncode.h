#pragma once
#include <string>

#include <wx/string.h>

#include "platform/ScreenGrabber.h"

namespace orvantis {

// Encodes `pixels` as a baseline JFIF JPEG of quality 75 with 4:2:0 chroma
// subsampling, straight from their rows in whatever format they come, into
// `jpeg` (replacing what it held). Returns false, with `jpeg` empty, when
// there are no pixels or the encoder fails.
bool EncodeJpeg(const ScreenPixels& pixels, std::string& jpeg);

// Replaces the file at `path` with `bytes`: created or truncated, written and
// closed before it returns. Returns false when the file cannot be written.
bool WriteWholeFile(const wxString& path, const std::string& bytes);

}  // namespace orvantis
