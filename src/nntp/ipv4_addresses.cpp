#include "nntp/ipv4_addresses.h"

#include <arpa/inet.h>
#include <netdb.h>
#include <netinet/in.h>
#include <sys/socket.h>

#include <algorithm>

namespace qs {

bool ResolveIPv4(const std::string& host, std::vector<std::string>& addresses) {
    addresses.clear();
    addrinfo hints{};
    hints.ai_family = AF_INET;
    hints.ai_socktype = SOCK_STREAM;
    addrinfo* found = nullptr;
    if (host.empty() || getaddrinfo(host.c_str(), nullptr, &hints, &found) != 0)
        return false;
    for (addrinfo* a = found; a; a = a->ai_next) {
        if (a->ai_family != AF_INET)
            continue;
        char text[INET_ADDRSTRLEN];
        const auto* sa = reinterpret_cast<const sockaddr_in*>(a->ai_addr);
        if (!inet_ntop(AF_INET, &sa->sin_addr, text, sizeof text))
            continue;
        if (std::find(addresses.begin(), addresses.end(), text) == addresses.end())
            addresses.emplace_back(text);
    }
    freeaddrinfo(found);
    return !addresses.empty();
}

}  // namespace qs
