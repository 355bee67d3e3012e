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

    // The addresses Winsock gives this PC's own name. Windows answers that
    // name itself: with its adapters' addresses, or with 127.0.0.1 when no
    // network is up. Wine does so only while a route other than the
    // loopback exists; without one it asks the host's resolver, which may
    // not know the name at all (no address) or map it to a loopback address
    // of its own (127.0.1.1 in a Debian hosts file). Either way no phone can
    // reach such an address: the PC reports "127.0.0.1", as Windows does.
    std::vector<std::string> Ipv4Addresses(std::size_t max) override
    {
        std::vector<std::string> addresses;
        if (!m_started || max == 0)
            return addresses;
        char hostName[128];
        std::memset(hostName, 0, sizeof hostName);
        if (gethostname(hostName, sizeof hostName - 1) != 0)
            return addresses;
        const hostent* entry = gethostbyname(hostName);
        if (entry && entry->h_addrtype == AF_INET) {
            for (int i = 0; entry->h_addr_list[i] && addresses.size() < max; ++i) {
                in_addr address;
                std::memset(&address, 0, sizeof address);
                std::memcpy(&address, entry->h_addr_list[i],
                            static_cast<size_t>(entry->h_length) < sizeof address ? entry->h_length
                                                                                  : sizeof address);
                if ((ntohl(address.s_addr) >> 24) == 127)
                    continue;
                // inet_ntoa's text lives in a per-thread buffer: copy it at once.
                addresses.emplace_back(inet_ntoa(address));
            }
        }
        if (addresses.empty())
            addresses.emplace_back("127.0.0.1");
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
