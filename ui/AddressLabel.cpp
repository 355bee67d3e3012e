#include "ui/AddressLabel.h"

#include <wx/intl.h>

namespace orvantis {

namespace {

// A host text as it fits into its fixed-size slot.
std::string FitSlot(const std::string& text)
{
    return text.size() < kHostSlotBytes ? text : text.substr(0, kHostSlotBytes - 1);
}

std::string Translated(const char* literal)
{
    return std::string(wxGetTranslation(literal).utf8_str());
}

}  // namespace

AddressTable BuildAddressTable(HostLookup& lookup)
{
    AddressTable table;
    for (const std::string& address : lookup.Ipv4Addresses(kMaxAddresses)) {
        if (table.hosts.size() == kMaxAddresses)
            break;
        table.hosts.push_back(FitSlot(address));
    }

    if (table.hosts.size() == 1 && table.hosts[0] == Translated("127.0.0.1")) {
        table.hosts[0] = FitSlot(Translated("Not Connected to LAN or WIFI"));
        table.urlMode = false;
        return table;
    }

    std::string name;
    if (lookup.ComputerName(name))
        table.hosts.push_back(FitSlot(name));
    return table;
}

wxString FormatAddressLabel(const AddressTable& table, int tickCount, int port)
{
    if (table.hosts.empty())
        return wxGetTranslation("Failed to get local IP address...");

    const int count = static_cast<int>(table.hosts.size());
    // The remainder of a negative tick would be negative: keep the index in range.
    int index = (tickCount - 1) % count;
    if (index < 0)
        index += count;
    const wxString host = wxString::FromUTF8(table.hosts[static_cast<size_t>(index)].c_str());

    if (!table.urlMode)
        return host;

    wxString label = index == 0 ? wxGetTranslation("http://") : wxGetTranslation("Or http://");
    label += host;
    if (port != 80) {
        label += wxGetTranslation(":");
        label += wxString::Format(wxGetTranslation("%d"), port);
    }
    return label;
}

AddressTick RunAddressTick(bool serverUp, int& tickCount, int port,
                           const std::function<std::unique_ptr<HostLookup>()>& openLookup)
{
    AddressTick tick;
    if (!serverUp) {
        tick.statusText = wxGetTranslation(
            "Failed to access the Port... Please allow it in the Firewall for your LAN or WIFI "
            "connection.");
        return tick;
    }
    tick.statusText = wxGetTranslation("OrvantisServer is up and running...");
    ++tickCount;

    AddressTable table;
    if (std::unique_ptr<HostLookup> lookup = openLookup())
        table = BuildAddressTable(*lookup);
    tick.updateLabel = true;
    tick.label = FormatAddressLabel(table, tickCount, port);
    return tick;
}

}  // namespace orvantis
