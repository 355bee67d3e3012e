#include "platform/Browser.h"

#include <wx/utils.h>

namespace orvantis {

void OpenInDefaultBrowser(const std::string& url)
{
    wxLaunchDefaultBrowser(wxString::FromUTF8(url.c_str()));
}

}  // namespace orvantis
