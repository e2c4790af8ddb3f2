#include "scan/header_expiry.h"

#include <algorithm>
#include <limits>

namespace qs {

std::optional<int64_t> ExpiryCutoff(const Settings& settings, int64_t now) {
    if (settings.FindExpired == 0)
        return std::nullopt;
    if (settings.RetentionDays <= 0)
        return 0;
    constexpr int64_t kDay = 86400;
    // A retention longer than the clock has run keeps everything.
    const int64_t days = settings.RetentionDays;
    if (days > (now - 1) / kDay)
        return 0;
    return now - days * kDay - 1;
}

std::optional<int64_t> EarlierCutoff(std::optional<int64_t> a, std::optional<int64_t> b) {
    if (!a)
        return b;
    if (!b)
        return a;
    return std::min(*a, *b);
}

}  // namespace qs
