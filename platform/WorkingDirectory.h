#pragma once
// Where the program finds the files it names without a directory: its
// pictures, "bg.gif", and the screenshot "ss.jpg" that it writes.

#include <wx/string.h>

namespace orvantis {

// The path of a file named without a directory: the process's current
// working directory, looked up afresh at each call, and the bare name.
// Empty when the working directory cannot be had (it was removed): there
// is no such file then.
wxString LocateInWorkingDirectory(const wxString& bareName);

}  // namespace orvantis
