#include "app/default_gateways.h"

#include <arpa/inet.h>
#include <netdb.h>
#include <netinet/in.h>
#include <sys/socket.h>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <fstream>
#include <sstream>

namespace qs {

namespace {

constexpr unsigned kRouteUp = 0x1;       // RTF_UP
constexpr unsigned kRouteGateway = 0x2;  // RTF_GATEWAY

bool ParseHex(const std::string& text, uint32_t& out) {
    if (text.empty() || text.size() > 8)
        return false;
    uint32_t value = 0;
    for (char c : text) {
        int digit = c >= '0' && c <= '9'   ? c - '0'
                    : c >= 'A' && c <= 'F' ? c - 'A' + 10
                    : c >= 'a' && c <= 'f' ? c - 'a' + 10
                                           : -1;
        if (digit < 0)
            return false;
        value = value << 4 | static_cast<uint32_t>(digit);
    }
    out = value;
    return true;
}

// Erases every occurrence of `part` from `text`.
std::string EraseAll(std::string text, const std::string& part) {
    if (part.empty())
        return text;
    for (size_t at = text.find(part); at != std::string::npos; at = text.find(part, at))
        text.erase(at, part.size());
    return text;
}

}  // namespace

std::vector<std::string> ParseDefaultGateways(std::string_view route_table) {
    std::vector<std::string> gateways;
    std::istringstream in{std::string(route_table)};
    std::string line;
    while (std::getline(in, line)) {
        // Iface Destination Gateway Flags RefCnt Use Metric Mask ...; the header line
        // fails the hex parse below.
        std::istringstream fields(line);
        std::string iface, destination, gateway, flags, refcnt, use, metric, mask;
        if (!(fields >> iface >> destination >> gateway >> flags >> refcnt >> use >> metric >>
              mask))
            continue;
        uint32_t dest = 0, gw = 0, fl = 0, msk = 0;
        if (!ParseHex(destination, dest) || !ParseHex(gateway, gw) || !ParseHex(flags, fl) ||
            !ParseHex(mask, msk))
            continue;
        if (dest != 0 || msk != 0 || gw == 0 || (fl & kRouteUp) == 0 || (fl & kRouteGateway) == 0)
            continue;
        // The kernel prints the address as the number its bytes make in this machine's order.
        in_addr address;
        std::memcpy(&address.s_addr, &gw, sizeof gw);
        char text[INET_ADDRSTRLEN];
        if (!inet_ntop(AF_INET, &address, text, sizeof text))
            continue;
        if (std::find(gateways.begin(), gateways.end(), text) == gateways.end())
            gateways.emplace_back(text);
    }
    return gateways;
}

std::vector<std::string> DefaultGateways() {
    std::ifstream in("/proc/net/route");
    if (!in)
        return {};
    std::ostringstream text;
    text << in.rdbuf();
    return ParseDefaultGateways(text.str());
}

std::string ReverseName(const std::string& address) {
    sockaddr_in sa{};
    sa.sin_family = AF_INET;
    if (inet_pton(AF_INET, address.c_str(), &sa.sin_addr) != 1)
        return {};
    char host[NI_MAXHOST];
    if (getnameinfo(reinterpret_cast<const sockaddr*>(&sa), sizeof sa, host, sizeof host, nullptr,
                    0, NI_NAMEREQD) != 0)
        return {};
    return host;
}

std::vector<std::string> DefaultGatewayNames() {
    std::vector<std::string> names;
    for (const std::string& gateway : DefaultGateways())
        names.push_back(ReverseName(gateway));
    return names;
}

std::vector<std::string> ServerCandidatesFrom(const std::string& typed_host,
                                              const std::vector<std::string>& gateway_names) {
    std::vector<std::string> candidates = {"news", "nntp"};
    for (const std::string& name : gateway_names) {
        if (name.empty())
            continue;
        if (!typed_host.empty())
            candidates.push_back(typed_host);
        for (size_t dot = name.find('.', 1); dot != std::string::npos;
             dot = name.find('.', dot + 1)) {
            std::string suffix = EraseAll(name, name.substr(0, dot));
            if (std::count(suffix.begin(), suffix.end(), '.') < 2)
                break;
            candidates.push_back("news" + suffix);
            candidates.push_back("nntp" + suffix);
        }
    }
    return candidates;
}

}  // namespace qs
