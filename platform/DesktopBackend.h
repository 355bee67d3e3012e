#pragma once
// The desktop facilities of this session: one input injector and one screen
// grabber from the same backend, chosen once at start-up by probing what the
// session offers (Win32 on Windows; on Linux X11, a wlroots compositor's
// virtual devices and screencopy, or the desktop portal's remote-control
// session with its screen stream).

#include <functional>
#include <memory>
#include <string>

#include "platform/InputInjector.h"
#include "platform/ScreenGrabber.h"

namespace orvantis {

// What the person at the PC is to be told about the desktop, at start-up or
// while the program runs.
enum class DesktopNotice {
    // A Wayland session offers neither a compositor's virtual devices nor
    // the portal's remote control: commands and screenshots go through
    // XWayland and reach X11 programs only.
    WaylandWithoutBackend,
    // The desktop's consent dialog was refused or cancelled: the same, until
    // the next start.
    RemoteControlRefused,
    // The remote-control session ended while the program ran (stopped from
    // the desktop's sharing indicator, or the desktop went away). The next
    // command asks for it again.
    RemoteControlEnded,
};

// Receives notices; may be called on any thread, also after start-up.
using DesktopNoticeSink = std::function<void(DesktopNotice)>;

struct DesktopBackend {
    std::string name;  // "windows", "x11", "wlroots" or "portal"
    std::unique_ptr<InputInjector> input;
    std::unique_ptr<ScreenGrabber> grabber;
};

// Probes the session and builds its backend; never fails (a backend that
// cannot reach anything drops input and grabs nothing). On Linux the
// environment variable ORVANTIS_BACKEND (x11, wlroots or portal) forces one.
// The chosen backend is named on standard error.
DesktopBackend CreateDesktopBackend(const DesktopNoticeSink& notices);

}  // namespace orvantis
