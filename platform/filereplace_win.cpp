#include "platform/FileReplace.h"

#include <windows.h>

namespace orvantis {

bool ReplaceFileWith(const wxString& from, const wxString& to)
{
    return MoveFileExW(from.wc_str(), to.wc_str(), MOVEFILE_REPLACE_EXISTING) != 0;
}

}  // namespace orvantis
