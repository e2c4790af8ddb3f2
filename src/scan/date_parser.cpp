#include "scan/date_parser.h"

#include <ctime>

#include "scan/scanf_reader.h"

namespace qs {

namespace {

struct DateFields {
    int day = 0;
    std::string_view month;
    int year = 0;
    int hour = 0;
    int minute = 0;
    int second = 0;
};

// "%d %s %d %d:%d:%d" from `pos`: true when all six values are read.
bool ReadDateFields(std::string_view text, size_t pos, DateFields& f) {
    using namespace scanf_reader;
    return ReadInt(text, pos, f.day) && ReadWord(text, pos, f.month) &&
           ReadInt(text, pos, f.year) && ReadInt(text, pos, f.hour) &&
           ReadLiteral(text, pos, ':') && ReadInt(text, pos, f.minute) &&
           ReadLiteral(text, pos, ':') && ReadInt(text, pos, f.second);
}

// "%*[^0-9] %d %s %d %d:%d:%d": a weekday (any non-digits) in front of the date.
bool ReadDateWithWeekday(std::string_view text, DateFields& f) {
    size_t pos = 0;
    while (pos < text.size() && !scanf_reader::IsDigit(text[pos]))
        ++pos;
    if (pos == 0)
        return false;  // the run of non-digits may not be empty
    // The blank directive that follows skips white space, as %d does anyway.
    return ReadDateFields(text, pos, f);
}

}  // namespace

int MonthIndex(std::string_view word) {
    static constexpr std::string_view kMonths[] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                                   "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
    for (int i = 0; i < 12; ++i) {
        if (word == kMonths[i])
            return i;
    }
    return 12;
}

int64_t ParseOverviewDate(std::string_view text) {
    DateFields f;
    if (!ReadDateWithWeekday(text, f)) {
        f = DateFields{};
        if (!ReadDateFields(text, 0, f))
            return 0;
    }
    int year = f.year;
    if (year < 1970)
        year += year >= 70 ? 1900 : 2000;

    std::tm tm{};
    tm.tm_mday = f.day;
    tm.tm_mon = MonthIndex(f.month);
    tm.tm_year = year - 1900;  // cannot overflow: year >= INT_MIN + 2000 here
    tm.tm_hour = f.hour;
    tm.tm_min = f.minute;
    tm.tm_sec = f.second;
    tm.tm_isdst = -1;
    std::time_t t = std::mktime(&tm);
    // mktime reports a time it cannot represent as -1.
    if (t == static_cast<std::time_t>(-1))
        return 0;
    return static_cast<int64_t>(t);
}

}  // namespace qs
