#pragma once
// The window's pictures. Each is read from the working directory, as it
// always was, so a file there wins; when the file is missing the program
// uses the copy built into it (generated from data/ at build time), so the
// window is whole wherever the program was started.

#include <cstddef>

#include <wx/bitmap.h>
#include <wx/iconbndl.h>
#include <wx/string.h>

namespace orvantis {

struct BuiltInFile {
    const char* name;
    const unsigned char* bytes;
    std::size_t size;
};

// The built-in copies, ended by an entry with a null name.
extern const BuiltInFile kBuiltInFiles[];

// The built-in copy of a file, or nullptr when there is none.
const BuiltInFile* FindBuiltInFile(const wxString& fileName);

// The picture `fileName` from the working directory; when there is no such
// file, the built-in copy, silently. A file that is there but cannot be read
// gives an empty bitmap, and the toolkit logs why.
wxBitmap LoadPicture(const wxString& fileName);

// The window icon from the icon file `fileName`, found like LoadPicture's
// pictures; on Windows a missing file falls back to the program file's own
// icon, in all its sizes. Empty when nothing could be loaded.
wxIconBundle LoadWindowIcons(const wxString& fileName);

}  // namespace orvantis
