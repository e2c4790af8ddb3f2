#pragma once

// The local network's default gateways and the news server names they suggest. The
// gateways come from the kernel's routing table (/proc/net/route); their names from a
// reverse lookup.

#include <string>
#include <string_view>
#include <vector>

namespace qs {

// The gateways of the default routes (destination and mask 0, up, via a gateway) in the
// table's order, as dotted-decimal text, each once. Lines that do not parse are skipped.
std::vector<std::string> ParseDefaultGateways(std::string_view route_table);

// ParseDefaultGateways over /proc/net/route; empty when it cannot be read.
std::vector<std::string> DefaultGateways();

// The host name of an address by reverse lookup; "" when it has none.
std::string ReverseName(const std::string& address);

// For each default gateway, its reverse name ("" for one without).
std::vector<std::string> DefaultGatewayNames();

// The host names to try for a news server: "news", "nntp", then for each gateway with a
// name, the typed host (when not empty) and "news" and "nntp" in front of each suffix of
// the gateway's name that still holds two dots (gw.isp.example.net gives
// news.isp.example.net, nntp.isp.example.net, news.example.net, nntp.example.net).
std::vector<std::string> ServerCandidatesFrom(const std::string& typed_host,
                                              const std::vector<std::string>& gateway_names);

}  // namespace qs
