#include "ui/StartupNotices.h"

#include <wx/intl.h>

namespace orvantis {

std::vector<StartupNotice> StartupNotices(bool inputAvailable)
{
    std::vector<StartupNotice> notices;
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

StartupNotice NoticeFor(DesktopNotice notice)
{
    switch (notice) {
    case DesktopNotice::WaylandWithoutBackend:
        return {_("Orvantis on Wayland"),
                _("This desktop session runs on Wayland and offers Orvantis no way to send keys and "
                  "clicks or to take screenshots of its own windows: neither the compositor's virtual "
                  "keyboard, pointer and screen copy nor the desktop's remote-control portal could be "
                  "reached. Orvantis goes through X11 instead, so the commands reach only programs that "
                  "run under X11 (XWayland), and the screenshots may stay black.\n\n"
                  "To control any slide show, log in with an X11 session (\"GNOME on Xorg\" under the "
                  "gear button of the login screen), then start Orvantis again.")};
    case DesktopNotice::RemoteControlRefused:
        return {_("Orvantis may not control this desktop"),
                _("The slide commands cannot reach this desktop's windows, because the desktop did not "
                  "allow remote control: restart Orvantis and choose Share, with \"Allow remote "
                  "interaction\" turned on.\n\n"
                  "Until then \"Next Slide\", \"Previous Slide\" and \"Mouse Click\" reach only programs "
                  "that run under X11 (XWayland), and the screenshots may stay black.")};
    case DesktopNotice::RemoteControlEnded:
        return {_("Orvantis lost control of this desktop"),
                _("The desktop stopped sharing its screen and remote control with Orvantis, so the "
                  "phone's commands could not reach the slide show.\n\n"
                  "The next command from the phone asks for it again: choose Share in the desktop's "
                  "dialog.")};
    }
    return {};
}

}  // namespace orvantis
