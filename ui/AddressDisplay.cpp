// The address timer of the main window: every 2 seconds it says in the status
// bar whether the server runs, and shows the next URL under which a phone can
// reach this PC.

#include <wx/control.h>

#include "platform/HostLookup.h"
#include "ui/AddressLabel.h"
#include "ui/OrvantisFrame.h"

void OrvantisFrame::OnAddressTimer(wxTimerEvent& WXUNUSED(event))
{
    const bool serverUp = m_serverUp;
    const orvantis::AddressTick tick =
        orvantis::RunAddressTick(serverUp, m_tickCount, m_serverPort, orvantis::OpenHostLookup);
    m_statusBar->SetStatusText(tick.statusText, 0);
    if (tick.updateLabel) {
        // A host name may hold '&', which the label would take as the
        // marker of a mnemonic and hide.
        const wxString label = wxControl::EscapeMnemonics(tick.label);
        const bool changed = m_urlLabel->GetLabel() != label;
        m_urlLabel->SetLabel(label);
        if (changed)
            Refit();
    }
}
