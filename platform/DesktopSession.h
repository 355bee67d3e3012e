#pragma once
// What kind of desktop session the program runs in.

namespace orvantis {

// True when the user's desktop session is a Wayland one. There the key
// presses, clicks and screenshots that go through X11 reach only programs
// that run under X11 (XWayland), not the session's native windows.
bool IsWaylandSession();

}  // namespace orvantis
