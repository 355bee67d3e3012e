#pragma once
#include <string>

#include <wx/string.h>

class wxImage;

namespace orvantis {

// Encodes `image` as a baseline JPEG through the toolkit's JPEG handler at its
// default settings (no quality option set: the encoder's default of 75).
// Returns false when the handler is missing or the encoding fails.
bool EncodeJpeg(const wxImage& image, std::string& jpeg);

// Replaces the file at `path` with `bytes`: created or truncated, written and
// closed before it returns. Returns false when the file cannot be written.
bool WriteWholeFile(const wxString& path, const std::string& bytes);

}  // namespace orvantis
