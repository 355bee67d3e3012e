#pragma once
// What the main window shows about where a phone can reach this PC: one URL
// per IPv4 address and one for the computer name, in turn, one per tick.

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include <wx/string.h>

#include "platform/HostLookup.h"

namespace orvantis {

constexpr std::size_t kMaxAddresses = 10;
constexpr std::size_t kHostSlotBytes = 64;  // a host text holds at most 63 bytes

struct AddressTable {
    std::vector<std::string> hosts;  // addresses, then the computer name
    bool urlMode = true;             // false: hosts[0] is a message, not a host
};

// The hosts of one tick: up to ten addresses, then the computer name. A PC
// whose only address is the loopback one is not on a network: the table then
// holds the message "Not Connected to LAN or WIFI" and no computer name.
AddressTable BuildAddressTable(HostLookup& lookup);

// The URL label for the tick number `tickCount` (1 on the first tick):
// "http://" before the first host, "Or http://" before every other, and
// ":port" when the port is not 80; "Failed to get local IP address..." when
// there is no host at all. A host name that is not valid UTF-8 is shown
// with U+FFFD for each byte that does not fit. The text is as it should read:
// a label that takes '&' as a mnemonic marker needs it escaped.
wxString FormatAddressLabel(const AddressTable& table, int tickCount, int port);

// What one tick of the address timer changes in the main window.
struct AddressTick {
    wxString statusText;  // status-bar field 0
    bool updateLabel = false;
    wxString label;       // the URL label, when updateLabel
};

// One tick: with the server down only the status text changes and the
// rotation does not advance; otherwise `tickCount` goes up by one and the
// label shows the next host.
AddressTick RunAddressTick(bool serverUp, int& tickCount, int port,
                           const std::function<std::unique_ptr<HostLookup>()>& openLookup);

}  // namespace orvantis
