#pragma once
// The Linux backends the desktop factory chooses from. Each constructor
// returns a backend only when the session offers what it needs, and
// otherwise says why not in `whyNot`.

#include <optional>
#include <string>

#include "platform/DesktopBackend.h"

namespace orvantis {

// XTEST and MIT-SHM on the display named by DISPLAY (also XWayland's).
DesktopBackend CreateX11Backend();

// Virtual keyboard, virtual pointer and screencopy of a wlroots compositor
// (sway, Hyprland, river, labwc, Wayfire).
std::optional<DesktopBackend> CreateWlrootsBackend(std::string& whyNot);

// xdg-desktop-portal's RemoteDesktop session combined with a ScreenCast of
// the monitor (GNOME, KDE). Asks for the desktop's consent at once; until it
// is given, key presses and clicks are refused at once (InputInjector::Ready)
// and screenshots find nothing. When consent is refused the backend goes on
// with `fallback` and tells `notices`; when the session ends it tells
// `notices` and the next command asks for a new one. Declines when there is
// no session bus, no portal, or a portal without remote control.
std::optional<DesktopBackend> CreatePortalBackend(const DesktopNoticeSink& notices,
                                                  std::function<DesktopBackend()> fallback,
                                                  std::string& whyNot);

}  // namespace orvantis
