#pragma once
// This PC's IPv4 addresses and its computer name, as the main window shows
// them to the person who has to type a URL into a phone.

#include <memory>
#include <string>
#include <vector>

namespace orvantis {

class HostLookup {
public:
    virtual ~HostLookup() = default;
    // The IPv4 addresses of this PC in dotted-decimal form, in the system's
    // order, at most `max` of them. A PC without a network reports exactly
    // one address, "127.0.0.1". May be empty when the lookup fails.
    virtual std::vector<std::string> Ipv4Addresses(std::size_t max) = 0;
    // The computer name; false when it cannot be had.
    virtual bool ComputerName(std::string& name) = 0;
};

// One lookup session: the OS's network layer is started when it is opened
// and cleaned up when it is destroyed.
std::unique_ptr<HostLookup> OpenHostLookup();

}  // namespace orvantis
