#include "control/JpegEncode.h"

#include <wx/file.h>
#include <wx/image.h>
#include <wx/log.h>
#include <wx/mstream.h>

namespace orvantis {

bool EncodeJpeg(const wxImage& image, std::string& jpeg)
{
    if (!image.IsOk() || !wxImage::FindHandler(wxBITMAP_TYPE_JPEG))
        return false;
    wxMemoryOutputStream stream;
    if (!image.SaveFile(stream, wxBITMAP_TYPE_JPEG))
        return false;
    const wxStreamBuffer* buffer = stream.GetOutputStreamBuffer();
    const size_t length = stream.GetLength();
    jpeg.assign(static_cast<const char*>(buffer->GetBufferStart()), length);
    return length > 0;
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
