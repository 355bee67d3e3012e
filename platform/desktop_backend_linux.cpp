// Picks the desktop backend of a Linux session by what the session offers,
// not by the desktop's name:
//   no WAYLAND_DISPLAY                          X11, as on any X desktop;
//   a compositor with virtual keyboard, virtual pointer and screencopy
//   protocols (wlroots: sway, Hyprland, river, labwc, Wayfire)   wlroots;
//   a desktop portal with remote control (GNOME, KDE)            portal;
//   none of these                               X11 through XWayland, which
//   reaches X11 programs only, and a notice that says so.

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "platform/DesktopBackend.h"
#include "platform/LinuxBackends.h"

namespace orvantis {

DesktopBackend CreateX11Backend()
{
    return DesktopBackend{"x11", CreateNativeInputInjector(), CreateNativeScreenGrabber()};
}

namespace {

DesktopBackend Chosen(DesktopBackend backend, const std::string& note)
{
    std::fprintf(stderr, "orvantis: desktop backend: %s%s%s\n", backend.name.c_str(), note.empty() ? "" : " (",
                 note.empty() ? "" : (note + ")").c_str());
    return backend;
}

}  // namespace

DesktopBackend CreateDesktopBackend(const DesktopNoticeSink& notices)
{
    const char* forced = std::getenv("ORVANTIS_BACKEND");
    const std::string force = forced ? forced : "";
    const char* wayland = std::getenv("WAYLAND_DISPLAY");
    const bool waylandSession = wayland && *wayland;

    if (force == "x11")
        return Chosen(CreateX11Backend(), "ORVANTIS_BACKEND");
    if (!force.empty() && force != "wlroots" && force != "portal")
        std::fprintf(stderr, "orvantis: ORVANTIS_BACKEND=%s is not one of x11, wlroots, portal: ignored\n",
                     forced);
    const bool anyForced = force == "wlroots" || force == "portal";
    if (!waylandSession && !anyForced)
        return Chosen(CreateX11Backend(), "");

    std::string why;
    if (force.empty() || force == "wlroots") {
        std::string whyNot;
        if (std::optional<DesktopBackend> backend = CreateWlrootsBackend(whyNot))
            return Chosen(std::move(*backend), force.empty() ? "" : "ORVANTIS_BACKEND");
        why += "wlroots: " + whyNot;
    }
    if (force.empty() || force == "portal") {
        std::string whyNot;
        if (std::optional<DesktopBackend> backend = CreatePortalBackend(notices, CreateX11Backend, whyNot))
            return Chosen(std::move(*backend), force.empty() ? "" : "ORVANTIS_BACKEND");
        why += (why.empty() ? "" : "; ") + std::string("portal: ") + whyNot;
    }
    if (waylandSession && notices)
        notices(DesktopNotice::WaylandWithoutBackend);
    return Chosen(CreateX11Backend(), why);
}

}  // namespace orvantis
