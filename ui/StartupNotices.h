#pragma once
// Notices for the person at the PC when the desktop operations cannot do all
// that the phone's buttons promise. The program carries on serving after
// each of them.

#include <vector>

#include <wx/string.h>

#include "platform/DesktopBackend.h"

namespace orvantis {

struct StartupNotice {
    wxString caption;
    wxString message;
};

// The notice shown at start-up for a desktop that takes no synthesised key
// presses and clicks; none when it takes them.
std::vector<StartupNotice> StartupNotices(bool inputAvailable);

// The notice for something the desktop backend reported.
StartupNotice NoticeFor(DesktopNotice notice);

}  // namespace orvantis
