#include "platform/WorkingDirectory.h"

#include <wx/filefn.h>
#include <wx/filename.h>
#include <wx/log.h>

namespace orvantis {

wxString LocateInWorkingDirectory(const wxString& bareName)
{
    // A working directory that was removed or renamed away cannot be read:
    // the toolkit would report that in a message box on the presenter's
    // screen, once per phone request. The caller gets no path instead.
    wxLogNull quiet;
    const wxString cwd = wxGetCwd();
    if (cwd.empty())
        return wxString();
    wxFileName name;
    name.AssignDir(cwd);
    name.SetFullName(bareName);
    return name.GetFullPath();
}

}  // namespace orvantis
