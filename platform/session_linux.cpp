#include "platform/DesktopSession.h"

#include <cstdlib>
#include <cstring>

namespace orvantis {

bool IsWaylandSession()
{
    // The login manager names the session type; a compositor also hands its
    // clients WAYLAND_DISPLAY, even when XDG_SESSION_TYPE was not passed on.
    const char* type = std::getenv("XDG_SESSION_TYPE");
    const char* wayland = std::getenv("WAYLAND_DISPLAY");
    return (type && std::strcmp(type, "wayland") == 0) || (wayland && *wayland);
}

}  // namespace orvantis
