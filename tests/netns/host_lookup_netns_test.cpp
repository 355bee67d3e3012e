// The Linux address layer against real interfaces: each run is in a network
// namespace that the test made (scripts/in-netns.sh: only lo up;
// tests/netns/with-veth.sh: lo and a veth with known addresses), so what the
// system reports is known in advance.

#include <unistd.h>

#include <cstdlib>
#include <sstream>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "platform/HostLookup.h"
#include "ui/AddressLabel.h"

namespace {

std::string Env(const char* name)
{
    const char* value = std::getenv(name);
    return value ? value : "";
}

// The addresses that the namespace's interfaces carry and that are up, in
// the order they were assigned; {"127.0.0.1"} when there is none.
std::vector<std::string> Expected()
{
    std::vector<std::string> addresses;
    std::istringstream list(Env("ORVANTIS_TEST_ADDRESSES"));
    std::string address;
    while (std::getline(list, address, ','))
        if (!address.empty())
            addresses.push_back(address);
    if (addresses.empty())
        addresses.push_back("127.0.0.1");
    return addresses;
}

std::string HostName()
{
    char name[256] = {};
    ::gethostname(name, sizeof name - 1);
    return name;
}

std::string Utf8(const wxString& text)
{
    return std::string(text.utf8_str());
}

class HostLookupInNamespace : public ::testing::Test {
protected:
    void SetUp() override
    {
        const std::string network = Env("ORVANTIS_TEST_NETWORK");
        if (network != "lo" && network != "veth")
            GTEST_SKIP() << "needs ORVANTIS_TEST_NETWORK=lo or veth; run it through ctest";
    }
};

}  // namespace

TEST_F(HostLookupInNamespace, ReportsTheAddressesOfTheInterfacesThatAreUp)
{
    std::vector<std::string> expected = Expected();
    if (expected.size() > 10)
        expected.resize(10);
    const std::vector<std::string> reported = orvantis::OpenHostLookup()->Ipv4Addresses(10);
    EXPECT_EQ(reported, expected);
    if (expected != std::vector<std::string>{"127.0.0.1"}) {
        for (const std::string& address : reported)
            EXPECT_NE(address, "127.0.0.1") << "the loopback address is no use to a phone";
    }
}

TEST_F(HostLookupInNamespace, GivesNoMoreAddressesThanAskedFor)
{
    const std::vector<std::string> expected = Expected();
    std::unique_ptr<orvantis::HostLookup> lookup = orvantis::OpenHostLookup();
    EXPECT_EQ(lookup->Ipv4Addresses(1), std::vector<std::string>{expected[0]});
    EXPECT_TRUE(lookup->Ipv4Addresses(0).empty());
}

TEST_F(HostLookupInNamespace, KnowsTheComputerName)
{
    std::string name;
    ASSERT_TRUE(orvantis::OpenHostLookup()->ComputerName(name));
    EXPECT_FALSE(name.empty());
    EXPECT_EQ(name, HostName());
}

// What the main window's timer makes of this namespace.
TEST_F(HostLookupInNamespace, AddressTableOfThisNetwork)
{
    std::unique_ptr<orvantis::HostLookup> lookup = orvantis::OpenHostLookup();
    const orvantis::AddressTable table = orvantis::BuildAddressTable(*lookup);
    std::vector<std::string> expected = Expected();
    if (expected == std::vector<std::string>{"127.0.0.1"}) {
        EXPECT_FALSE(table.urlMode);
        EXPECT_EQ(table.hosts, std::vector<std::string>{"Not Connected to LAN or WIFI"});
        EXPECT_EQ(Utf8(orvantis::FormatAddressLabel(table, 1, 80)), "Not Connected to LAN or WIFI");
        return;
    }
    if (expected.size() > 10)
        expected.resize(10);
    expected.push_back(HostName());
    EXPECT_TRUE(table.urlMode);
    EXPECT_EQ(table.hosts, expected);
    EXPECT_EQ(Utf8(orvantis::FormatAddressLabel(table, 1, 80)), "http://" + expected[0]);
}
