#include "platform/FileReplace.h"

#include <cstdio>

namespace orvantis {

bool ReplaceFileWith(const wxString& from, const wxString& to)
{
    return std::rename(from.fn_str(), to.fn_str()) == 0;
}

}  // namespace orvantis
