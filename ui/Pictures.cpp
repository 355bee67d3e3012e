#include "ui/Pictures.h"

#include <wx/filefn.h>
#include <wx/icon.h>
#include <wx/image.h>
#include <wx/mstream.h>

namespace orvantis {

const BuiltInFile* FindBuiltInFile(const wxString& fileName)
{
    for (const BuiltInFile* f = kBuiltInFiles; f->name; ++f)
        if (fileName == wxString::FromUTF8(f->name))
            return f;
    return nullptr;
}

namespace {

wxImage BuiltInImage(const wxString& fileName)
{
    const BuiltInFile* f = FindBuiltInFile(fileName);
    if (!f)
        return wxImage();
    wxMemoryInputStream in(f->bytes, f->size);
    return wxImage(in, wxBITMAP_TYPE_ANY);
}

}  // namespace

wxBitmap LoadPicture(const wxString& fileName)
{
    // A file that is there is read exactly as before, errors and all.
    const wxImage image = wxFileExists(fileName) ? wxImage(fileName, wxBITMAP_TYPE_ANY) : BuiltInImage(fileName);
    return image.IsOk() ? wxBitmap(image) : wxBitmap();
}

wxIconBundle LoadWindowIcons(const wxString& fileName)
{
    wxIconBundle icons;
#ifdef __WINDOWS__
    if (!wxFileExists(fileName)) {
        // The icon Explorer shows for orvantis.exe (app/orvantis.rc).
        return wxIconBundle(wxT("AAAAORVANTIS"), nullptr);
    }
#endif
    const wxBitmap picture = LoadPicture(fileName);
    if (picture.IsOk()) {
        wxIcon icon;
        icon.CopyFromBitmap(picture);
        icons.AddIcon(icon);
    }
    return icons;
}

}  // namespace orvantis
