#include "scan/date_parser.h"

#include <cstdint>
#include <cstdlib>
#include <ctime>
#include <mutex>
#include <string>

#include "app/number_reader.h"

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

// "D Mon YYYY HH:MM:SS" or "DD Mon ...", at `pos` and ended by a non-digit: what nearly every
// server writes, read at fixed places. Gives what ReadDateFields gives for such a text (which
// reads each number with a general reader, skipping blanks and signs).
bool ReadUsualDateFields(std::string_view text, size_t pos, DateFields& f) {
    using scanf_reader::IsDigit;
    using scanf_reader::IsSpace;
    constexpr size_t kRest = 18;  // " Mon YYYY HH:MM:SS"
    if (pos >= text.size() || !IsDigit(text[pos]))
        return false;
    int day = text[pos++] - '0';
    if (pos < text.size() && IsDigit(text[pos]))
        day = day * 10 + (text[pos++] - '0');
    if (text.size() - pos < kRest)
        return false;
    const char* c = text.data() + pos;
    auto digits = [c](size_t at, size_t count) {
        int value = 0;
        for (size_t i = at; i < at + count; ++i) {
            if (!IsDigit(c[i]))
                return -1;
            value = value * 10 + (c[i] - '0');
        }
        return value;
    };
    if (c[0] != ' ' || IsSpace(c[1]) || IsSpace(c[2]) || IsSpace(c[3]) || c[4] != ' ' ||
        c[9] != ' ' || c[12] != ':' || c[15] != ':')
        return false;
    if (text.size() - pos > kRest && IsDigit(c[kRest]))
        return false;  // the seconds go on
    const int year = digits(5, 4), hour = digits(10, 2), minute = digits(13, 2),
              second = digits(16, 2);
    if (year < 0 || hour < 0 || minute < 0 || second < 0)
        return false;
    f.day = day;
    f.month = std::string_view(c + 1, 3);
    f.year = year;
    f.hour = hour;
    f.minute = minute;
    f.second = second;
    return true;
}

std::time_t LocalToTime(int year, int month, int day, int hour, int minute, int second) {
    std::tm tm{};
    tm.tm_mday = day;
    tm.tm_mon = month;
    tm.tm_year = year - 1900;  // cannot overflow: year >= INT_MIN + 2000 here
    tm.tm_hour = hour;
    tm.tm_min = minute;
    tm.tm_sec = second;
    tm.tm_isdst = -1;  // the system decides whether daylight saving applies
    // glibc serialises mktime's time-zone reload with a lock the thread checker cannot see;
    // our own lock makes that visible, and the hour cache keeps it rarely taken.
    static std::mutex mktime_mutex;
    std::lock_guard lock(mktime_mutex);
    return std::mktime(&tm);
}

// mktime re-reads the time zone on every call (a system call each time), which would cost
// more than everything else done for an overview line. Times of one local hour share one
// offset from UTC unless a zone change falls inside the hour, so each thread remembers the
// start of recently seen hours, checked against the hour's last second, and adds minutes
// and seconds itself. A change of TZ empties the cache.
class HourCache {
  public:
    std::time_t Convert(int year, int month, int day, int hour, int minute, int second) {
        if (minute < 0 || minute > 59 || second < 0 || second > 59) {
            return LocalToTime(year, month, day, hour, minute, second);
        }
        CheckZone();
        Entry& e = entries_[Slot(year, month, day, hour)];
        if (!e.valid || e.year != year || e.month != month || e.day != day || e.hour != hour) {
            std::time_t start = LocalToTime(year, month, day, hour, 0, 0);
            std::time_t end = LocalToTime(year, month, day, hour, 59, 59);
            if (start == static_cast<std::time_t>(-1) || end != start + 3599) {
                return LocalToTime(year, month, day, hour, minute, second);
            }
            e = Entry{true, year, month, day, hour, start};
        }
        return e.start + minute * 60 + second;
    }

    // While an OverviewDateZone holds the cache, TZ is read again only when it asks.
    void Hold() { ++holders_; }
    void Release() { --holders_; }
    void LookAtZoneAgain() { zone_seen_ = false; }

  private:
    struct Entry {
        bool valid = false;
        int year = 0, month = 0, day = 0, hour = 0;
        std::time_t start = 0;
    };
    static constexpr size_t kSlots = 256;

    static size_t Slot(int year, int month, int day, int hour) {
        auto h = static_cast<uint32_t>(year) * 2654435761u ^ static_cast<uint32_t>(month) * 40503u ^
                 static_cast<uint32_t>(day) * 97u ^ static_cast<uint32_t>(hour) * 7919u;
        return (h ^ (h >> 16)) % kSlots;
    }

    void CheckZone() {
        if (holders_ > 0 && zone_seen_)
            return;
        zone_seen_ = true;
        const char* tz = std::getenv("TZ");
        bool has_zone = tz != nullptr;
        if (has_zone == has_zone_ && (!has_zone || zone_ == tz))
            return;
        has_zone_ = has_zone;
        zone_ = has_zone ? tz : "";
        for (Entry& e : entries_)
            e.valid = false;
    }

    Entry entries_[kSlots];
    bool has_zone_ = false;
    std::string zone_;
    int holders_ = 0;
    bool zone_seen_ = false;  // since the last LookAtZoneAgain
};

HourCache& ThreadHourCache() {
    thread_local HourCache cache;
    return cache;
}

}  // namespace

// Every overview line has a month: the names are compared as three-byte numbers.
int MonthIndex(std::string_view word) {
    static constexpr char kMonths[] = "JanFebMarAprMayJunJulAugSepOctNovDec";
    constexpr auto key = [](const char* c) {
        return static_cast<uint32_t>(static_cast<unsigned char>(c[0])) << 16 |
               static_cast<uint32_t>(static_cast<unsigned char>(c[1])) << 8 |
               static_cast<uint32_t>(static_cast<unsigned char>(c[2]));
    };
    if (word.size() != 3)
        return 12;
    const uint32_t wanted = key(word.data());
    for (int i = 0; i < 12; ++i) {
        if (key(kMonths + 3 * i) == wanted)
            return i;
    }
    return 12;
}

OverviewDateZone::OverviewDateZone() {
    ThreadHourCache().Hold();
    ThreadHourCache().LookAtZoneAgain();
}

OverviewDateZone::~OverviewDateZone() {
    ThreadHourCache().Release();
}

void OverviewDateZone::LookAgain() {
    ThreadHourCache().LookAtZoneAgain();
}

int64_t ParseOverviewDate(std::string_view text) {
    DateFields f;
    size_t first_digit = 0;
    while (first_digit < text.size() && !scanf_reader::IsDigit(text[first_digit]))
        ++first_digit;
    if (!ReadUsualDateFields(text, first_digit, f) && !ReadDateWithWeekday(text, f)) {
        f = DateFields{};
        if (!ReadDateFields(text, 0, f))
            return 0;
    }
    int year = f.year;
    if (year < 1970)
        year += year >= 70 ? 1900 : 2000;

    std::time_t t =
        ThreadHourCache().Convert(year, MonthIndex(f.month), f.day, f.hour, f.minute, f.second);
    // mktime reports a time it cannot represent as -1.
    if (t == static_cast<std::time_t>(-1))
        return 0;
    return static_cast<int64_t>(t);
}

}  // namespace qs
