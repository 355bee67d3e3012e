#include "platform/Browser.h"

#include <windows.h>
#include <shellapi.h>

namespace orvantis {

void OpenInDefaultBrowser(const std::string& url)
{
    ShellExecuteA(nullptr, "open", url.c_str(), nullptr, nullptr, SW_SHOWNORMAL);
}

}  // namespace orvantis
