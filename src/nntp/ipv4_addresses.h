#pragma once

#include <string>
#include <vector>

namespace qs {

// The IPv4 addresses the system resolver gives for `host`, in its order, as dotted-decimal
// text (each once). False when the name does not resolve to any.
bool ResolveIPv4(const std::string& host, std::vector<std::string>& addresses);

}  // namespace qs
