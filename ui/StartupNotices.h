#pragma once
// Notices shown once at start-up when the desktop operations cannot do all
// that the phone's buttons promise. The program carries on serving after
// each of them.

#include <vector>

#include <wx/string.h>

namespace orvantis {

struct StartupNotice {
    wxString caption;
    wxString message;
};

// The notices for a session that is a Wayland one and/or a desktop that
// takes no synthesised key presses and clicks; none when neither holds.
std::vector<StartupNotice> StartupNotices(bool waylandSession, bool inputAvailable);

}  // namespace orvantis
