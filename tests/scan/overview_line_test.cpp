#include "scan/overview_line.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <ctime>
#include <string>

namespace qs {
namespace {

TEST(OverviewLine, SplitsTheEightFieldsAndDropsTheLineEnd) {
    OverviewFields f = SplitOverviewLine(
        "4711\tfile.rar (03/12)\tPoster <p@x.org>\tSun, 07 Dec 2026 06:52:44 +0000\t<id@x>\t"
        "<ref@x>\t123456\t789\tXref: extra\r\n");
    EXPECT_EQ(f.number, "4711");
    EXPECT_EQ(f.subject, "file.rar (03/12)");
    EXPECT_EQ(f.from, "Poster <p@x.org>");
    EXPECT_EQ(f.date, "Sun, 07 Dec 2026 06:52:44 +0000");
    EXPECT_EQ(f.message_id, "<id@x>");
    EXPECT_EQ(f.references, "<ref@x>");
    EXPECT_EQ(f.bytes, "123456");
    EXPECT_EQ(f.lines, "789");  // fields after the eighth are ignored

    // A short line: missing fields are empty, and the CR does not stick to the last one.
    f = SplitOverviewLine("12\tsubject only\r");
    EXPECT_EQ(f.number, "12");
    EXPECT_EQ(f.subject, "subject only");
    EXPECT_EQ(f.from, "");
    EXPECT_EQ(f.lines, "");

    // Empty fields stay in place.
    f = SplitOverviewLine("1\t\t\t\t<m@x>\t\t\t5");
    EXPECT_EQ(f.subject, "");
    EXPECT_EQ(f.message_id, "<m@x>");
    EXPECT_EQ(f.lines, "5");
}

TEST(OverviewLine, NumberFields) {
    EXPECT_EQ(ReadOverviewNumber("4294967296"), 4294967296);  // article numbers beyond 32 bits
    EXPECT_EQ(ReadOverviewNumber(" 42\r"), 42);
    EXPECT_EQ(ReadOverviewNumber("-7"), -7);
    EXPECT_EQ(ReadOverviewNumber(""), 0);
    EXPECT_EQ(ReadOverviewNumber("x1"), 0);
    EXPECT_EQ(ReadOverviewNumber("99999999999999999999999"), INT64_MAX);
    // The limits exactly, one past them, and leading zeros that do not count as digits.
    EXPECT_EQ(ReadOverviewNumber("9223372036854775807"), INT64_MAX);
    EXPECT_EQ(ReadOverviewNumber("9223372036854775808"), INT64_MAX);
    EXPECT_EQ(ReadOverviewNumber("-9223372036854775808"), INT64_MIN);
    EXPECT_EQ(ReadOverviewNumber("-9223372036854775809"), INT64_MIN);
    EXPECT_EQ(ReadOverviewNumber("18446744073709551616"), INT64_MAX);  // wraps 64 bits to 0
    EXPECT_EQ(ReadOverviewNumber("0000000000000000000000000042x"), 42);
    EXPECT_EQ(ReadOverviewNumber("-00000000000000000000009223372036854775808"), INT64_MIN);
    EXPECT_EQ(ReadOverviewNumber("000"), 0);
}

TEST(OverviewLine, DataLinesStartWithADigit) {
    EXPECT_TRUE(IsOverviewDataLine("1\tx"));
    EXPECT_FALSE(IsOverviewDataLine(".\r"));
    EXPECT_FALSE(IsOverviewDataLine(""));
    EXPECT_FALSE(IsOverviewDataLine(" 1\tx"));
}

TEST(OverviewLine, ParsesNumbersCounterAndDate) {
    setenv("TZ", "UTC0", 1);
    tzset();
    OverviewRecord r = ParseOverviewLine(
        "4711\tfile.rar yEnc [1/5] - more\tP <p@x>\t07 Dec 2026 06:52:44 GMT\t<id@x>\t\t"
        "3000000000\t 42x\r\n");
    unsetenv("TZ");
    tzset();
    EXPECT_EQ(r.number, 4711);
    EXPECT_EQ(r.subject, "file.rar yEnc ");
    EXPECT_EQ(r.from, "P <p@x>");
    EXPECT_EQ(r.date, 1796626364);
    EXPECT_EQ(r.message_id, "<id@x>");
    EXPECT_EQ(r.bytes, 3000000000);  // beyond 32 bits
    EXPECT_EQ(r.lines, 42);
    EXPECT_EQ(r.part_number, 1);
    EXPECT_EQ(r.part_total, 5);

    // Junk numbers read as 0; a reused record is reset.
    ParseOverviewFields(SplitOverviewLine("9x\tplain\t\tnot a date\t<b@x>\t\tmany\t"), r);
    EXPECT_EQ(r.number, 9);
    EXPECT_EQ(r.subject, "plain");
    EXPECT_EQ(r.from, "");
    EXPECT_EQ(r.date, 0);
    EXPECT_EQ(r.bytes, 0);
    EXPECT_EQ(r.lines, 0);
    EXPECT_EQ(r.part_number, 1);
    EXPECT_EQ(r.part_total, 1);
}

TEST(OverviewLine, HostileLinesAreHandled) {
    std::string huge = "1\t" + std::string(1 << 20, '(') + "\t" + std::string(1 << 20, '\xff') +
                       "\t" + std::string(1 << 20, '7') + "\t<a@b>\t" + std::string(100000, '\t');
    OverviewRecord r = ParseOverviewLine(huge);
    EXPECT_EQ(r.subject.size(), 1u << 20);
    EXPECT_EQ(r.date, 0);
    EXPECT_EQ(r.message_id, "<a@b>");

    std::string binary("3\ta\0b (1/2)\tz\0\t\t<c\0d>\t\t\0\t\0", 26);
    r = ParseOverviewLine(binary);
    EXPECT_EQ(r.subject, std::string("a\0b ", 4));
    EXPECT_EQ(r.part_total, 2);
}

TEST(ScannedArticleTest, SinglePartIsKeyedByMessageId) {
    OverviewRecord r = ParseOverviewLine("77\tholiday.jpg\tme <m@x>\t\t<one@x>\t\t100\t3");
    ScannedArticle out;
    ASSERT_TRUE(ToScannedArticle(r, out));
    EXPECT_EQ(out.message_id, "<one@x>");
    EXPECT_EQ(out.article_id, 77);
    EXPECT_EQ(out.bytes, 100);
    EXPECT_EQ(out.lines, 3);
    EXPECT_EQ(out.partnum, 1);
    EXPECT_EQ(out.id, "<one@x>");
    EXPECT_EQ(out.filename, "holiday.jpg");
    EXPECT_EQ(out.email, "me <m@x>");
    EXPECT_EQ(out.parts, 1);

    // A counter of (1/1) or (2/x) still means a single-part post.
    r = ParseOverviewLine("78\tabc (2/x)\tme\t\t<two@x>\t\t1\t1");
    ASSERT_TRUE(ToScannedArticle(r, out));
    EXPECT_EQ(out.id, "<two@x>");
    EXPECT_EQ(out.partnum, 2);
}

TEST(ScannedArticleTest, PartsOfOneFileShareTheirName) {
    const OverviewRecord first = ParseOverviewLine("1\tf.rar (1/2)\tme\t\t<a@x>\t\t1\t1");
    const OverviewRecord second = ParseOverviewLine("2\tf.rar (2/2)\tme\t\t<b@x>\t\t1\t1");
    ScannedArticle a, b;
    ASSERT_TRUE(ToScannedArticle(first, a));
    ASSERT_TRUE(ToScannedArticle(second, b));
    EXPECT_EQ(a.id, "f.rar ");
    EXPECT_EQ(a.id, b.id);
    EXPECT_EQ(a.parts, 2);
    EXPECT_EQ(b.partnum, 2);

    // A counter right after the first character keeps the subject whole, so the parts differ.
    const OverviewRecord third = ParseOverviewLine("3\tx(1/2)\tme\t\t<c@x>\t\t1\t1");
    const OverviewRecord fourth = ParseOverviewLine("4\tx(2/2)\tme\t\t<d@x>\t\t1\t1");
    ASSERT_TRUE(ToScannedArticle(third, a));
    ASSERT_TRUE(ToScannedArticle(fourth, b));
    EXPECT_EQ(a.id, "x(1/2)");
    EXPECT_NE(a.id, b.id);
}

TEST(ScannedArticleTest, LinesWithoutAUsableMessageIdAreRefused) {
    ScannedArticle out;
    for (const std::string& line :
         {std::string("5\tf (1/2)\tme\t\t\t\t1\t1"), std::string("5\tf\tme"),
          std::string("5\tf\tme\t\t<a\rb@x>\t\t1\t1"), std::string("5\tf\tme\t\t<a\0b>", 13)})
        EXPECT_FALSE(ToScannedArticle(ParseOverviewLine(line), out)) << line;
}

}  // namespace
}  // namespace qs
