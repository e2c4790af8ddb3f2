#pragma once

#include <cstdint>
#include <string_view>

namespace qs {

// Parses an overview Date field, "Sun, 07 Dec 2026 06:52:44 +0000" or the same without the
// weekday, as local time (the zone text is ignored; the system decides on daylight saving).
// Month words are compared exactly ("Jan" .. "Dec"); any other word counts as the month after
// December, i.e. January of the following year. Years below 1970 are two-digit or offset
// years: 70..1969 get 1900 added, smaller ones 2000. Returns seconds since 1970 UTC, or 0
// when the text does not hold all six fields or the time cannot be represented.
int64_t ParseOverviewDate(std::string_view text);

// ParseOverviewDate reads the TZ variable for every date, to notice a change of zone. While
// an OverviewDateZone exists on a thread, dates parsed on that thread read it only after
// LookAgain: a scan parses a million dates a second and asks every hundred lines.
class OverviewDateZone {
  public:
    OverviewDateZone();
    ~OverviewDateZone();
    OverviewDateZone(const OverviewDateZone&) = delete;
    OverviewDateZone& operator=(const OverviewDateZone&) = delete;

    void LookAgain();
};

// 0..11 for "Jan".."Dec", 12 for anything else.
int MonthIndex(std::string_view word);

}  // namespace qs
