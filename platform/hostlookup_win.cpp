// This PC's addresses and computer name on Windows, through Winsock 1.1 and
// GetComputerNameA. One lookup is one Winsock session.

#include "platform/HostLookup.h"

#include <winsock.h>
#include <windows.h>

#include <cstring>

namespace orvantis {

namespace {

class WinsockHostLookup : public HostLookup {
public:
    WinsockHostLookup()
    {
        WSADATA data;
        WSAStartup(MAKEWORD(1, 0), &data);
    }
    ~WinsockHostLookup() override { WSACleanup(); }

    std::vector<std::string> Ipv4Addresses(std::size_t max) override
    {
        std::vector<std::string> addresses;
        char hostName[128];
        std::memset(hostName, 0, sizeof hostName);
        gethostname(hostName, sizeof hostName);
        const hostent* entry = gethostbyname(hostName);
        if (!entry)
            return addresses;
        for (int i = 0; entry->h_addr_list[i] && addresses.size() < max; ++i) {
            in_addr address;
            std::memset(&address, 0, sizeof address);
            std::memcpy(&address, entry->h_addr_list[i],
                        static_cast<size_t>(entry->h_length) < sizeof address ? entry->h_length : sizeof address);
            // inet_ntoa's text lives in a per-thread buffer: copy it at once.
            addresses.emplace_back(inet_ntoa(address));
        }
        return addresses;
    }

    bool ComputerName(std::string& name) override
    {
        char buffer[64];
        DWORD size = sizeof buffer;
        if (!GetComputerNameA(buffer, &size))
            return false;
        name.assign(buffer, size);
        return true;
    }
};

}  // namespace

std::unique_ptr<HostLookup> OpenHostLookup()
{
    return std::make_unique<WinsockHostLookup>();
}

}  // namespace orvantis
