#pragma once
// Replacing a file in one step, so that readers (and a crash) only ever see
// the old file or the new one, never a half-written one.

#include <wx/string.h>

namespace orvantis {

// Moves `from` over `to`, replacing it in one step (rename() on POSIX,
// MoveFileEx with MOVEFILE_REPLACE_EXISTING on Windows). False, with both
// files left as they were, when the system refuses: on Windows, for example,
// while another program holds `to` open without sharing it for deletion.
bool ReplaceFileWith(const wxString& from, const wxString& to);

}  // namespace orvantis
