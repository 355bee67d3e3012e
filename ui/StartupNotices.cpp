#include "ui/StartupNotices.h"

#include <wx/intl.h>

namespace orvantis {

std::vector<StartupNotice> StartupNotices(bool waylandSession, bool inputAvailable)
{
    std::vector<StartupNotice> notices;
    if (waylandSession) {
        notices.push_back(
            {_("Orvantis on Wayland"),
             _("This desktop session runs on Wayland. Orvantis sends slide commands and mouse clicks and "
               "takes screenshots through X11, so in this session they reach only programs that run "
               "under X11 (XWayland): a slide show that runs natively on Wayland will not turn its "
               "slides, and the screenshots will not show it.\n\n"
               "To control any slide show, log out and choose an X11 session at the login screen "
               "(\"GNOME on Xorg\" under the gear button), then start Orvantis again.")});
    }
    if (!inputAvailable) {
        notices.push_back(
            {_("Orvantis cannot send keys or clicks"),
             _("This display does not accept synthesised key presses and mouse clicks (the X server "
               "offers no XTEST extension), so \"Next Slide\", \"Previous Slide\" and \"Mouse Click\" "
               "will not reach the slide show. The control page and its screenshots still work.\n\n"
               "Start the X server with its XTEST extension (it is on by default) to use the slide "
               "commands.")});
    }
    return notices;
}

}  // namespace orvantis
