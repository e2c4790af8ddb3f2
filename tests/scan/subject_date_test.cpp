#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <limits>
#include <random>
#include <string>

#include "scan/date_parser.h"
#include "scan/subject_parser.h"

namespace qs {
namespace {

struct SubjectCase {
    const char* subject;
    const char* name;
    int part_number;
    int part_total;
};

TEST(SubjectCounter, CountersAndNames) {
    const SubjectCase cases[] = {
        // Either bracket style; the blank before the bracket stays in the name.
        {"file.rar (03/12)", "file.rar ", 3, 12},
        {"file.rar yEnc [1/5] - more text", "file.rar yEnc ", 1, 5},
        // The last well-formed counter wins.
        {"a (1/3) b (2/7)", "a (1/3) b ", 2, 7},
        {"a (1/2) b (3/x)", "a ", 1, 2},
        // Brackets are not paired; the closing one may be anything or missing.
        {"a (3/12]", "a ", 3, 12},
        {"a (3/12", "a ", 3, 12},
        {"name[7/9]", "name", 7, 9},
        // A counter right after the first character leaves the subject whole.
        {"x(1/2)", "x(1/2)", 1, 2},
        // A bracket needs a non-bracket in front of it.
        {"(1/2)", "(1/2)", 1, 1},
        {"a [(4/9)", "a [(4/9)", 1, 1},
        {"", "", 1, 1},
        {"no counter at all", "no counter at all", 1, 1},
        // A number without "/number" sets the part number only; the leftmost one counts.
        {"abc (2/x)", "abc (2/x)", 2, 1},
        {"file (3 / 12)", "file (3 / 12)", 3, 1},
        {"a (2/x) b (5/y)", "a (2/x) b (5/y)", 2, 1},
        // Numbers are read like %d: leading blanks and a sign are allowed.
        {"a ( 3/ 12)", "a ", 3, 12},
        {"a (+3/-1)", "a ", 3, -1},
        {"a (-/3)", "a (-/3)", 1, 1},
        // Values beyond int saturate instead of wrapping.
        {"a (99999999999/3)", "a ", std::numeric_limits<int>::max(), 3},
        {"a (1/-99999999999)", "a ", 1, std::numeric_limits<int>::min()},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.subject);
        SubjectCounter r = ParseSubjectCounter(c.subject);
        EXPECT_EQ(r.name, c.name);
        EXPECT_EQ(r.part_number, c.part_number);
        EXPECT_EQ(r.part_total, c.part_total);
    }
}

TEST(SubjectCounter, LongAndJunkSubjectsAreSafe) {
    // Many brackets: linear work, no crash.
    std::string brackets(100000, '(');
    SubjectCounter r = ParseSubjectCounter(brackets);
    EXPECT_EQ(r.name.size(), brackets.size());
    EXPECT_EQ(r.part_total, 1);

    std::string spaced;
    for (int i = 0; i < 20000; ++i)
        spaced += "x (     ";
    spaced += "x (4/5)";
    r = ParseSubjectCounter(spaced);
    EXPECT_EQ(r.part_number, 4);
    EXPECT_EQ(r.part_total, 5);
    EXPECT_EQ(r.name.size(), spaced.size() - 5);

    std::string junk("\xff\x00\x01(7/8)\x80", 10);
    r = ParseSubjectCounter(junk);
    EXPECT_EQ(r.name, std::string_view("\xff\x00\x01", 3));
    EXPECT_EQ(r.part_number, 7);
    EXPECT_EQ(r.part_total, 8);
}

// Runs each date test in a fixed time zone and restores the previous one.
class OverviewDate : public ::testing::Test {
  protected:
    void SetZone(const char* zone) {
        setenv("TZ", zone, 1);
        tzset();
    }
    void SetUp() override {
        const char* old = std::getenv("TZ");
        had_zone_ = old != nullptr;
        if (had_zone_)
            old_zone_ = old;
        SetZone("UTC0");
    }
    void TearDown() override {
        if (had_zone_) {
            setenv("TZ", old_zone_.c_str(), 1);
        } else {
            unsetenv("TZ");
        }
        tzset();
    }

  private:
    bool had_zone_ = false;
    std::string old_zone_;
};

TEST_F(OverviewDate, FormsAndYears) {
    const struct {
        const char* text;
        int64_t expected;
    } cases[] = {
        {"Sun, 07 Dec 2026 06:52:44 +0000", 1796626364},
        {"07 Dec 2026 06:52:44 GMT", 1796626364},
        {"Sun,07 Dec 2026 06:52:44", 1796626364},
        {"  7   Dec 2026  6: 52: 44", 1796626364},
        // The zone text is ignored: the fields are local time.
        {"Mon, 07 Dec 2026 06:52:44 -0800", 1796626364},
        // Any other month word, upper case included, is the month after December.
        {"Sun, 07 DEC 2026 06:52:44 +0000", 1799304764},
        {"7 December 2026 06:52:44", 1799304764},
        // Two-digit and offset years.
        {"7 Dec 99 06:52:44", 944549564},
        {"7 Dec 105 06:52:44", 1133938364},
        {"7 Dec 26 06:52:44", 1796626364},
        // Fields out of range are carried like the calendar conversion does.
        {"Fri, 31 Dec 2025 24:00:00", 1767225600},
        // Not all six fields: no date.
        {"", 0},
        {"yesterday", 0},
        {"Sun, 07 Dec 2026 06:52", 0},
        {"Sun, 07 Dec 2026 06 :52:44", 0},
        {"Sun, 07 Dec2026 06:52:44", 0},
        {"07 Dec", 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.text);
        EXPECT_EQ(ParseOverviewDate(c.text), c.expected);
    }
}

TEST_F(OverviewDate, LocalTimeDecidesDaylightSaving) {
    SetZone("CET-1CEST,M3.5.0,M10.5.0/3");
    EXPECT_EQ(ParseOverviewDate("Wed, 01 Jul 2026 12:00:00 +0000"), 1782900000);  // 10:00 UTC
    EXPECT_EQ(ParseOverviewDate("Tue, 01 Dec 2026 12:00:00 +0000"), 1796122800);  // 11:00 UTC
}

// A scan holds the zone and asks for it again every hundred lines: a change of TZ counts
// from the next ask on, and at once again when nothing holds it.
TEST_F(OverviewDate, AHeldZoneIsReadWhenAskedFor) {
    const char* date = "Wed, 01 Jul 2026 12:00:00 +0000";
    const int64_t utc = 1782907200;
    {
        OverviewDateZone held;
        EXPECT_EQ(ParseOverviewDate(date), utc);
        SetZone("CET-1CEST,M3.5.0,M10.5.0/3");
        held.LookAgain();
        EXPECT_EQ(ParseOverviewDate(date), utc - 2 * 3600);
    }
    SetZone("UTC0");
    EXPECT_EQ(ParseOverviewDate(date), utc);
}

// Dates are converted through a per-thread cache of local hours; across daylight-saving
// changes (including a zone that shifts at half past) it must agree with mktime itself.
TEST_F(OverviewDate, AgreesWithMktimeAroundZoneChanges) {
    static const char* const kMonths[] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                          "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
    for (const char* zone : {"CET-1CEST,M3.5.0,M10.5.0/3", "EST5EDT,M3.2.0,M11.1.0",
                             "<+1030>-10:30<+11>-11,M10.1.0,M4.1.0"}) {
        SCOPED_TRACE(zone);
        SetZone(zone);
        std::mt19937 rng(42);
        for (int i = 0; i < 20000; ++i) {
            // Mostly the days of the changes, every hour and minute of them.
            int month = i % 4 == 0 ? static_cast<int>(rng() % 12) : (i % 2 ? 2 : 9 + i % 3);
            int day = 1 + static_cast<int>(rng() % 31);
            int hour = static_cast<int>(rng() % 24);
            int minute = static_cast<int>(rng() % 60);
            int second = static_cast<int>(rng() % 61);
            char text[80];
            std::snprintf(text, sizeof text, "%02d %s 2026 %02d:%02d:%02d", day, kMonths[month],
                          hour, minute, second);
            std::tm tm{};
            tm.tm_year = 126;
            tm.tm_mon = month;
            tm.tm_mday = day;
            tm.tm_hour = hour;
            tm.tm_min = minute;
            tm.tm_sec = second;
            tm.tm_isdst = -1;
            std::time_t want = std::mktime(&tm);
            ASSERT_EQ(ParseOverviewDate(text), static_cast<int64_t>(want)) << text;
        }
    }
}

TEST_F(OverviewDate, ExtremeNumbersDoNotOverflow) {
    // Saturated fields reach the calendar conversion without signed overflow in between
    // (the sanitizers would stop the test); whatever it makes of them is kept or 0.
    (void)ParseOverviewDate("1 Jan 99999999999 00:00:00");
    (void)ParseOverviewDate("1 Jan -99999999999 00:00:00");
    (void)ParseOverviewDate("Sun, 99999999999 Jan 2026 99999999999:99999999999:-99999999999");
    std::string long_word = "7 " + std::string(100000, 'M') + " 2026 06:52:44";
    EXPECT_EQ(ParseOverviewDate(long_word), 1799304764);  // an unknown month word
}

TEST(MonthIndex, ExactWordsOnly) {
    EXPECT_EQ(MonthIndex("Jan"), 0);
    EXPECT_EQ(MonthIndex("Dec"), 11);
    EXPECT_EQ(MonthIndex("jan"), 12);
    EXPECT_EQ(MonthIndex("Janu"), 12);
    EXPECT_EQ(MonthIndex(""), 12);
}

}  // namespace
}  // namespace qs
