#include "app/default_gateways.h"

#include <gtest/gtest.h>

namespace qs {
namespace {

TEST(DefaultGateways, DefaultRoutesOfTheRoutingTable) {
    // Little-endian hex as the kernel writes it on this machine: 0101A8C0 is 192.168.1.1.
    const std::string table =
        "Iface\tDestination\tGateway \tFlags\tRefCnt\tUse\tMetric\tMask\t\tMTU\tWindow\tIRTT\n"
        "eth0\t00000000\t0101A8C0\t0003\t0\t0\t100\t00000000\t0\t0\t0\n"
        "eth0\t0001A8C0\t00000000\t0001\t0\t0\t100\t00FFFFFF\t0\t0\t0\n"
        "wlan0\t00000000\t0101A8C0\t0003\t0\t0\t600\t00000000\t0\t0\t0\n"
        "wlan1\t00000000\t FE01000A\t0003\t0\t0\t600\t00000000\t0\t0\t0\n"
        "down0\t00000000\t0202000A\t0002\t0\t0\t600\t00000000\t0\t0\t0\n"
        "junk line\n"
        "bad0\t00000000\tZZZZZZZZ\t0003\t0\t0\t0\t00000000\t0\t0\t0\n";
    EXPECT_EQ(ParseDefaultGateways(table), (std::vector<std::string>{"192.168.1.1", "10.0.1.254"}));
    EXPECT_TRUE(ParseDefaultGateways("").empty());
}

TEST(DefaultGateways, CandidateNamesFromTheGatewaysNames) {
    using Names = std::vector<std::string>;
    EXPECT_EQ(ServerCandidatesFrom("", {"gw.isp.example.net"}),
              (Names{"news", "nntp", "news.isp.example.net", "nntp.isp.example.net",
                     "news.example.net", "nntp.example.net"}));
    // Two labels add nothing; no reverse name adds not even the typed host.
    EXPECT_EQ(ServerCandidatesFrom("", {"router.lan"}), (Names{"news", "nntp"}));
    EXPECT_EQ(ServerCandidatesFrom("typed.example", {"", ""}), (Names{"news", "nntp"}));
    // The typed host comes once per gateway with a name, before that gateway's names.
    EXPECT_EQ(ServerCandidatesFrom("typed.example", {"router.lan", "", "a.b.c"}),
              (Names{"news", "nntp", "typed.example", "typed.example", "news.b.c", "nntp.b.c"}));
}

}  // namespace
}  // namespace qs
