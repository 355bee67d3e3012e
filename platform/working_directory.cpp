#include "platform/WorkingDirectory.h"

#include <wx/filename.h>

namespace orvantis {

wxString LocateInWorkingDirectory(const wxString& bareName)
{
    wxFileName name;
    name.AssignCwd();
    name.SetFullName(bareName);
    return name.GetFullPath();
}

}  // namespace orvantis
