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
        m_started = WSAStartup(MAKEWORD(1, 0), &data) == 0;
    }
    ~WinsockHostLookup() override
    {
        // Winsock counts sessions per process: a cleanup without its own
        // startup would end the session the toolkit's sockets run in.
        if (m_started)
            WSACleanup();
    }

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
        // The name comes in the ANSI code page; the label takes UTF-8. A
        // name with an umlaut or accent would otherwise show as no host.
        wchar_t wide[64];
        const int w = MultiByteToWideChar(CP_ACP, 0, buffer, static_cast<int>(size), wide, 64);
        char utf8[4 * 64];
        const int n = w > 0 ? WideCharToMultiByte(CP_UTF8, 0, wide, w, utf8, static_cast<int>(sizeof utf8),
                                                  nullptr, nullptr)
                            : 0;
        if (n > 0)
            name.assign(utf8, static_cast<std::size_t>(n));
        else
            name.assign(buffer, size);
        return true;
    }

private:
    bool m_started = false;
};

}  // namespace

std::unique_ptr<HostLookup> OpenHostLookup()
{
    return std::make_unique<WinsockHostLookup>();
}

}  // namespace orvantis
