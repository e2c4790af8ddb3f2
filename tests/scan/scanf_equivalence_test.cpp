// The subject and date readers against the C library's own formatted reading, on many
// random strings built from the characters that matter to the formats.

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <random>
#include <string>

#include "scan/date_parser.h"
#include "scan/subject_parser.h"

namespace qs {
namespace {

// Long digit runs would overflow %d, which the C library leaves undefined.
bool HasLongDigitRun(const std::string& s) {
    int run = 0;
    for (char c : s) {
        run = (c >= '0' && c <= '9') ? run + 1 : 0;
        if (run >= 9)
            return true;
    }
    return false;
}

std::string RandomText(std::mt19937& rng, std::string_view alphabet, size_t max_len) {
    std::uniform_int_distribution<size_t> len(0, max_len);
    std::uniform_int_distribution<size_t> pick(0, alphabet.size() - 1);
    std::string s(len(rng), ' ');
    for (char& c : s)
        c = alphabet[pick(rng)];
    return s;
}

// The counter search written the classic way: every start position from the end.
SubjectCounter ReferenceCounter(const std::string& subject) {
    SubjectCounter r;
    r.name = subject;
    for (size_t p = subject.size(); p-- > 0;) {
        int a = 0, b = 0;
        int n = std::sscanf(subject.c_str() + p, "%*[^([]%*c%d/%d", &a, &b);
        if (n >= 1)
            r.part_number = a;
        if (n == 2) {
            r.part_total = b;
            if (p > 0)
                r.name = std::string_view(subject).substr(0, p + 1);
            break;
        }
    }
    return r;
}

TEST(ScanfEquivalence, SubjectCounterMatchesFormattedReading) {
    std::mt19937 rng(12345);
    const std::string_view alphabet = "([)]/ 0123456789-+ax\v";
    int checked = 0;
    for (int i = 0; i < 200000; ++i) {
        std::string s = RandomText(rng, alphabet, 16);
        if (HasLongDigitRun(s))
            continue;
        SubjectCounter got = ParseSubjectCounter(s);
        SubjectCounter want = ReferenceCounter(s);
        ASSERT_EQ(got.name, want.name) << '"' << s << '"';
        ASSERT_EQ(got.part_number, want.part_number) << '"' << s << '"';
        ASSERT_EQ(got.part_total, want.part_total) << '"' << s << '"';
        ++checked;
    }
    EXPECT_GT(checked, 100000);
}

int64_t ReferenceDate(const std::string& text) {
    int day = 0, year = 0, hour = 0, minute = 0, second = 0;
    char month[256] = {0};
    int n = std::sscanf(text.c_str(), "%*[^0-9] %d %255s %d %d:%d:%d", &day, month, &year, &hour,
                        &minute, &second);
    if (n != 6) {
        n = std::sscanf(text.c_str(), "%d %255s %d %d:%d:%d", &day, month, &year, &hour, &minute,
                        &second);
    }
    if (n != 6)
        return 0;
    static const char* const kMonths[] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                          "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
    int mon = 12;
    for (int m = 0; m < 12; ++m) {
        if (std::string(month) == kMonths[m]) {
            mon = m;
            break;
        }
    }
    if (year < 1970)
        year += year >= 70 ? 1900 : 2000;
    std::tm tm{};
    tm.tm_mday = day;
    tm.tm_mon = mon;
    tm.tm_year = year - 1900;
    tm.tm_hour = hour;
    tm.tm_min = minute;
    tm.tm_sec = second;
    tm.tm_isdst = -1;
    std::time_t t = std::mktime(&tm);
    return t == static_cast<std::time_t>(-1) ? 0 : static_cast<int64_t>(t);
}

TEST(ScanfEquivalence, DateMatchesFormattedReading) {
    setenv("TZ", "UTC0", 1);
    tzset();
    std::mt19937 rng(777);
    // Pieces of real dates shuffled with separators, so that many strings get far.
    const char* const pieces[] = {"Sun,", " ", " ", "07", "7",  "Dec", "DEC", "Jan", "2026", "99",
                                  "5",    ":", ":", "06", "52", "-",   "+",   "\t",  "x"};
    std::uniform_int_distribution<size_t> pick(0, std::size(pieces) - 1);
    std::uniform_int_distribution<int> count(0, 14);
    int six_fields = 0;
    for (int i = 0; i < 100000; ++i) {
        std::string s;
        if (i % 2 == 0) {
            // Mostly well-formed dates with one random damage.
            s = "Sun, 07 Dec 2026 06:52:44 +0000";
            s[std::uniform_int_distribution<size_t>(0, s.size() - 1)(rng)] = pieces[pick(rng)][0];
        } else {
            for (int n = count(rng); n > 0; --n)
                s += pieces[pick(rng)];
        }
        if (HasLongDigitRun(s))
            continue;
        int64_t want = ReferenceDate(s);
        if (want != 0)
            ++six_fields;
        ASSERT_EQ(ParseOverviewDate(s), want) << '"' << s << '"';
    }
    EXPECT_GT(six_fields, 1000);
    unsetenv("TZ");
    tzset();
}

}  // namespace
}  // namespace qs
