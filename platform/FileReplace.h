#pragma once
// Replacing a file in one step, so that readers (and a crash) only ever see
// the old file or the new one, never a half-written one; and never writing
// through a name that someone else may have put in the folder.

#include <string>

#include <wx/string.h>

namespace orvantis {

// What became of a new file written beside another.
enum class NewFileResult {
    Written,     // `written` names the new file, whole and closed
    NotCreated,  // no new file could be made in the folder (it is read-only, say)
    NotWritten,  // it was made but could not be filled (a full disk): removed again
};

// Writes `bytes` into a file of its own in the folder of `target`, named
// after it with a unique ending. The file is created exclusively: a name
// that exists already, as a file or as a link of any kind, is never opened,
// so nothing is ever written through a link planted in the folder.
NewFileResult WriteNewFileBeside(const wxString& target, const std::string& bytes, wxString& written);

// Moves `from` over `to`, replacing it in one step (rename() on POSIX,
// MoveFileEx with MOVEFILE_REPLACE_EXISTING on Windows). False, with both
// files left as they were, when the system refuses: on Windows, for example,
// while another program holds `to` open without sharing it for deletion.
bool ReplaceFileWith(const wxString& from, const wxString& to);

// Rewrites the existing file at `path` in place with `bytes`. Only a plain
// file with a single name is rewritten: a link, or a file that has other
// names too, is left alone (false), as is a missing file.
bool OverwriteFileInPlace(const wxString& path, const std::string& bytes);

// Removes the file at `path`, quietly.
void RemoveFileQuietly(const wxString& path);

}  // namespace orvantis
