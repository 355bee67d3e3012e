// This PC's addresses on Linux. The host name's own entry is no help here:
// Debian maps it to 127.0.1.1, not to an address a phone can reach. The
// addresses of the interfaces that are up are what a phone can use.

#include "platform/HostLookup.h"

#include <arpa/inet.h>
#include <ifaddrs.h>
#include <net/if.h>
#include <netinet/in.h>
#include <unistd.h>

namespace orvantis {

namespace {

class LinuxHostLookup : public HostLookup {
public:
    std::vector<std::string> Ipv4Addresses(std::size_t max) override
    {
        std::vector<std::string> addresses;
        ifaddrs* list = nullptr;
        if (::getifaddrs(&list) != 0)
            return addresses;
        for (ifaddrs* i = list; i && addresses.size() < max; i = i->ifa_next) {
            if (!i->ifa_addr || i->ifa_addr->sa_family != AF_INET)
                continue;
            if (!(i->ifa_flags & IFF_UP) || (i->ifa_flags & IFF_LOOPBACK))
                continue;
            char text[INET_ADDRSTRLEN] = {};
            const auto* in = reinterpret_cast<const sockaddr_in*>(i->ifa_addr);
            if (::inet_ntop(AF_INET, &in->sin_addr, text, sizeof text))
                addresses.emplace_back(text);
        }
        ::freeifaddrs(list);
        // No network: report the loopback address alone, as a PC without
        // one does elsewhere.
        if (addresses.empty() && max > 0)
            addresses.emplace_back("127.0.0.1");
        return addresses;
    }

    bool ComputerName(std::string& name) override
    {
        char buffer[256] = {};
        if (::gethostname(buffer, sizeof buffer - 1) != 0 || buffer[0] == '\0')
            return false;
        name = buffer;
        return true;
    }
};

}  // namespace

std::unique_ptr<HostLookup> OpenHostLookup()
{
    return std::make_unique<LinuxHostLookup>();
}

}  // namespace orvantis
