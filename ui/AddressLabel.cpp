#include "ui/AddressLabel.h"

#include <wx/intl.h>

namespace orvantis {

namespace {

// A host text as it fits into its fixed-size slot.
std::string FitSlot(const std::string& text)
{
    return text.size() < kHostSlotBytes ? text : text.substr(0, kHostSlotBytes - 1);
}

// UTF-8 text as it is, any other bytes each as U+FFFD: a host name need
// not be UTF-8, and the toolkit's own conversion gives an empty text then.
wxString DecodeLossily(const std::string& bytes)
{
    const wxString strict = wxString::FromUTF8(bytes.data(), bytes.size());
    if (!strict.empty() || bytes.empty())
        return strict;
    std::wstring text;
    const auto byte = [&](size_t i) { return static_cast<unsigned char>(bytes[i]); };
    for (size_t i = 0; i < bytes.size();) {
        const unsigned char lead = byte(i);
        size_t length = 0;
        unsigned long code = 0, least = 0;
        if (lead < 0x80) {
            length = 1, code = lead;
        } else if (lead >= 0xC2 && lead <= 0xDF) {
            length = 2, code = lead & 0x1F, least = 0x80;
        } else if (lead >= 0xE0 && lead <= 0xEF) {
            length = 3, code = lead & 0x0F, least = 0x800;
        } else if (lead >= 0xF0 && lead <= 0xF4) {
            length = 4, code = lead & 0x07, least = 0x10000;
        }
        bool ok = length > 0 && i + length <= bytes.size();
        for (size_t k = 1; ok && k < length; ++k) {
            ok = (byte(i + k) & 0xC0) == 0x80;
            code = (code << 6) | (byte(i + k) & 0x3F);
        }
        ok = ok && code >= least && code <= 0x10FFFF && !(code >= 0xD800 && code <= 0xDFFF);
        if (!ok) {
            text += L'\uFFFD';
            ++i;
            continue;
        }
        if (sizeof(wchar_t) == 2 && code >= 0x10000) {
            code -= 0x10000;
            text += static_cast<wchar_t>(0xD800 + (code >> 10));
            text += static_cast<wchar_t>(0xDC00 + (code & 0x3FF));
        } else {
            text += static_cast<wchar_t>(code);
        }
        i += length;
    }
    return wxString(text);
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
    const wxString host = DecodeLossily(table.hosts[static_cast<size_t>(index)]);

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
