// Which URL the main window shows on each tick of its address timer.

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "ui/AddressLabel.h"

using orvantis::AddressTable;
using orvantis::BuildAddressTable;
using orvantis::FormatAddressLabel;

namespace {

class FakeLookup : public orvantis::HostLookup {
public:
    FakeLookup(std::vector<std::string> addresses, std::string name, bool hasName = true)
        : m_addresses(std::move(addresses)), m_name(std::move(name)), m_hasName(hasName)
    {
    }
    std::vector<std::string> Ipv4Addresses(std::size_t max) override
    {
        std::vector<std::string> out = m_addresses;
        if (out.size() > max)
            out.resize(max);
        return out;
    }
    bool ComputerName(std::string& name) override
    {
        ++nameAsked;
        name = m_name;
        return m_hasName;
    }
    int nameAsked = 0;

private:
    std::vector<std::string> m_addresses;
    std::string m_name;
    bool m_hasName;
};

// The labels of ticks 1..n.
std::vector<std::string> Labels(FakeLookup& lookup, int ticks, int port)
{
    std::vector<std::string> labels;
    for (int tick = 1; tick <= ticks; ++tick)
        labels.push_back(std::string(FormatAddressLabel(BuildAddressTable(lookup), tick, port).utf8_str()));
    return labels;
}

}  // namespace

TEST(AddressLabel, OneAddressOnPort80AlternatesWithTheComputerName)
{
    FakeLookup lookup({"192.168.1.20"}, "PODIUM-PC");
    EXPECT_EQ(Labels(lookup, 4, 80),
              (std::vector<std::string>{"http://192.168.1.20", "Or http://PODIUM-PC", "http://192.168.1.20",
                                        "Or http://PODIUM-PC"}));
}

TEST(AddressLabel, EveryUrlCarriesAPortOtherThan80)
{
    FakeLookup lookup({"10.0.0.5", "172.16.3.9"}, "PODIUM-PC");
    EXPECT_EQ(Labels(lookup, 4, 8888),
              (std::vector<std::string>{"http://10.0.0.5:8888", "Or http://172.16.3.9:8888",
                                        "Or http://PODIUM-PC:8888", "http://10.0.0.5:8888"}));
}

TEST(AddressLabel, LoopbackAloneMeansNoNetworkAndNoName)
{
    FakeLookup lookup({"127.0.0.1"}, "PODIUM-PC");
    for (const std::string& label : Labels(lookup, 3, 8888))
        EXPECT_EQ(label, "Not Connected to LAN or WIFI");
    EXPECT_EQ(lookup.nameAsked, 0);
}

TEST(AddressLabel, LoopbackBesideALanAddressIsListedLikeAnyOther)
{
    FakeLookup lookup({"127.0.0.1", "192.168.1.20"}, "PODIUM-PC");
    EXPECT_EQ(Labels(lookup, 3, 80),
              (std::vector<std::string>{"http://127.0.0.1", "Or http://192.168.1.20", "Or http://PODIUM-PC"}));
}

TEST(AddressLabel, AtMostTenAddressesThenTheName)
{
    std::vector<std::string> many;
    for (int i = 1; i <= 13; ++i)
        many.push_back("10.0.0." + std::to_string(i));
    FakeLookup lookup(many, "PODIUM-PC");
    const AddressTable table = BuildAddressTable(lookup);
    ASSERT_EQ(table.hosts.size(), 11u);
    EXPECT_EQ(table.hosts[9], "10.0.0.10");
    EXPECT_EQ(FormatAddressLabel(table, 11, 80), "Or http://PODIUM-PC");
    EXPECT_EQ(FormatAddressLabel(table, 12, 80), "http://10.0.0.1");
}

TEST(AddressLabel, NameAloneOrNothingAtAll)
{
    FakeLookup nameOnly({}, "PODIUM-PC");
    EXPECT_EQ(Labels(nameOnly, 2, 8888),
              (std::vector<std::string>{"http://PODIUM-PC:8888", "http://PODIUM-PC:8888"}));

    FakeLookup nothing({}, "", false);
    EXPECT_EQ(Labels(nothing, 1, 80), (std::vector<std::string>{"Failed to get local IP address..."}));
}

TEST(AddressLabel, HostTextsAreCutToTheirSlot)
{
    FakeLookup lookup({"192.168.1.20"}, std::string(100, 'n'));
    const AddressTable table = BuildAddressTable(lookup);
    EXPECT_EQ(table.hosts.back(), std::string(63, 'n'));
}

TEST(AddressTick, ServerDownChangesOnlyTheStatusAndKeepsTheRotation)
{
    int tick = 0;
    int opened = 0;
    auto open = [&]() -> std::unique_ptr<orvantis::HostLookup> {
        ++opened;
        return std::make_unique<FakeLookup>(std::vector<std::string>{"192.168.1.20"}, "PODIUM-PC");
    };

    orvantis::AddressTick t = orvantis::RunAddressTick(true, tick, 80, open);
    EXPECT_EQ(t.statusText, "OrvantisServer is up and running...");
    EXPECT_TRUE(t.updateLabel);
    EXPECT_EQ(t.label, "http://192.168.1.20");

    t = orvantis::RunAddressTick(false, tick, 80, open);
    EXPECT_EQ(t.statusText,
              "Failed to access the Port... Please allow it in the Firewall for your LAN or WIFI connection.");
    EXPECT_FALSE(t.updateLabel);
    EXPECT_EQ(tick, 1);
    EXPECT_EQ(opened, 1);

    t = orvantis::RunAddressTick(true, tick, 80, open);
    EXPECT_EQ(t.label, "Or http://PODIUM-PC");
}

TEST(AddressLabel, HostNamesThatAreNotUtf8ShowLossilyDecoded)
{
    // Latin-1 bytes, a name cut inside a character at the slot's end, and a
    // valid name beside them.
    FakeLookup latin1({"10.0.0.2"}, "pr\xe9sentation");
    EXPECT_EQ(FormatAddressLabel(BuildAddressTable(latin1), 2, 8888), wxString(L"Or http://pr\uFFFDsentation:8888"));
    FakeLookup cut({"10.0.0.2"}, std::string(62, 'a') + "\xc3\xa9");
    EXPECT_EQ(FormatAddressLabel(BuildAddressTable(cut), 2, 80), wxString(L"Or http://") + wxString(62, 'a') + L"\uFFFD");
    FakeLookup utf8({"10.0.0.2"}, "b\xc3\xbchne & saal");
    EXPECT_EQ(FormatAddressLabel(BuildAddressTable(utf8), 2, 80), wxString(L"Or http://b\u00fchne & saal"));
}
