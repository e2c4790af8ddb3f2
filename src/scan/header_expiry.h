#pragma once

#include <cstdint>
#include <optional>

#include "app/settings.h"

namespace qs {

// Headers posted before this time are dropped by a scan: now - RetentionDays days - 1 s,
// 0 (keep everything) when RetentionDays is 0 or less, none when FindExpired is off.
std::optional<int64_t> ExpiryCutoff(const Settings& settings, int64_t now);

// The earlier of two cut-offs; none counts as later than any time.
std::optional<int64_t> EarlierCutoff(std::optional<int64_t> a, std::optional<int64_t> b);

}  // namespace qs
