#include <gtest/gtest.h>

#include <cctype>
#include <random>

#include "codec_support.h"
#include "download/decoder.h"
#include "download/mime_decoder.h"
#include "download/uu_decoder.h"
#include "support/temp_dir.h"

namespace qs {
namespace {

using test::ReadFile;
using test::RunCommand;
using test::TempDir;
using test::ToLineList;
using test::WriteFile;

OutputNamer PlainNamer() {
    return [](std::string_view, std::string_view name, std::string_view dir) {
        return std::string(dir) + std::string(name);
    };
}

// Feeds the parts as part retrieval does: the first to Start, the rest to Continue.
template <typename Decoder>
std::string DecodeParts(Decoder& dec, const std::vector<LineList>& parts, const TempDir& dir) {
    EXPECT_EQ(dec.Start(dir.path() + "/out/", parts.at(0)), DecodeOutcome::Decoded);
    for (size_t i = 1; i < parts.size(); ++i)
        EXPECT_EQ(dec.Continue(parts[i]), DecodeOutcome::Decoded);
    dec.Finish();
    return ReadFile(dec.output_path());
}

class Encoded : public ::testing::Test {
  protected:
    void SetUp() override { ASSERT_EQ(::mkdir(dir_.File("out").c_str(), 0755), 0); }

    std::string Uuencode(const std::string& data, const std::string& name = "file.bin") {
        WriteFile(dir_.File("in.bin"), data);
        return RunCommand("uuencode '" + dir_.File("in.bin") + "' '" + name + "'");
    }
    std::string Mpack(const std::string& data, const std::string& name = "file.bin") {
        WriteFile(dir_.File(name), data);
        RunCommand("cd '" + dir_.path() + "' && rm -f mime.txt && mpack -s test -o mime.txt '" +
                   name + "'");
        return ReadFile(dir_.File("mime.txt"));
    }
    TempDir dir_;
};

TEST_F(Encoded, UuRoundTripsThroughUuencode) {
    for (size_t size : {0u, 1u, 45u, 100u, 1000000u}) {
        std::string data = test::RandomBytes(size, static_cast<uint32_t>(size + 1));
        LineList lines = ToLineList(Uuencode(data));
        for (size_t per_part : {lines.size(), size_t{7}, size_t{3000}}) {
            UuDecoder dec("subject", PlainNamer());
            std::string got = DecodeParts(dec, test::SplitLines(lines, per_part), dir_);
            ASSERT_EQ(got.size(), data.size()) << size << " " << per_part;
            EXPECT_TRUE(got == data) << size;
            EXPECT_EQ(dec.output_path(), dir_.path() + "/out/file.bin");
        }
    }
}

TEST_F(Encoded, UuShortLastLineIsHeldUntilTheEnd) {
    // 100 bytes: two full lines, a held 10-byte line, the backquote line, "end".
    std::string data = test::RandomBytes(100, 42);
    LineList lines = ToLineList(Uuencode(data, "my file.jpg"));
    ASSERT_EQ(lines.size(), 6u);
    EXPECT_EQ(lines[0], "begin 644 my file.jpg\r");
    UuDecoder dec("s", PlainNamer());
    EXPECT_EQ(DecodeParts(dec, {lines}, dir_), data);
    EXPECT_EQ(dec.output_path(), dir_.path() + "/out/my file.jpg");

    // 30 bytes: the only data line sets the normal length and is written at once.
    data = test::RandomBytes(30, 43);
    UuDecoder small("s", PlainNamer());
    EXPECT_EQ(DecodeParts(small, {ToLineList(Uuencode(data))}, dir_), data);

    // A short line in the middle of the post is damage: the full lines after it win.
    lines = ToLineList(Uuencode(test::RandomBytes(200, 44)));
    LineList damaged = lines;
    damaged.insert(damaged.begin() + 2, "&86)C\r");
    UuDecoder dec2("s", PlainNamer());
    EXPECT_EQ(DecodeParts(dec2, {damaged}, dir_).size(), 200u);
}

TEST_F(Encoded, UuDotStuffedAndMalformedLines) {
    // 14 bytes give a data line that starts with "." and reaches us as "..".
    std::string data14 = test::RandomBytes(14, 14);
    LineList lines = ToLineList(Uuencode(data14));
    ASSERT_EQ(lines[1].substr(0, 2), "..");
    lines.insert(lines.begin(), "some text first\r");
    UuDecoder dec("s", PlainNamer());
    EXPECT_EQ(DecodeParts(dec, {lines}, dir_), data14);

    // A count that promises more than the line holds: the bytes that are there, and
    // nothing read beyond the line.
    UuDecoder cut("s", PlainNamer());
    std::string got = DecodeParts(cut, {{"begin 644 cut.bin\r", "M86)C\r"}}, dir_);
    EXPECT_EQ(got, "abc");
    UuDecoder partial("s", PlainNamer());
    got = DecodeParts(partial, {{"begin 644 p.bin\r", "&86)C86)\r"}}, dir_);
    EXPECT_EQ(got, "abcab");

    // A held line whose count promises more than it holds gives the bytes it has.
    std::string held = "M" + std::string(60, '!') + "\r";
    std::string long_line = std::string(1, static_cast<char>(32 + 63)) + std::string(84, '!');
    UuDecoder big("s", PlainNamer());
    got = DecodeParts(big, {{"begin 644 big.bin\r", held, held, long_line.substr(0, 57) + "\r"}},
                      dir_);
    EXPECT_EQ(got.size(), 45u * 2 + 42u);

    UuDecoder none("s", PlainNamer());
    EXPECT_EQ(none.Start(dir_.path() + "/out/", LineList{"hello\r", "begin x\r"}),
              DecodeOutcome::NotFound);
    EXPECT_FALSE(none.output_open());
}

TEST_F(Encoded, UuLineWithALowerCaseByteAnywhereIsText) {
    // A full data line ("M" announces 45 bytes) with one byte replaced: 0x61..0x7f anywhere
    // before the last character makes it text; the bytes around that range are data.
    const std::string data_line = "M" + std::string(60, '!');
    for (size_t at = 1; at < data_line.size(); ++at) {
        for (unsigned char c : {0x60, 0x61, 0x7a, 0x7f, 0x80}) {
            std::string line = data_line;
            line[at] = static_cast<char>(c);
            UuDecoder dec("s", PlainNamer());
            std::string got = DecodeParts(dec, {{"begin 644 t.bin\r", line + "\r", "end\r"}}, dir_);
            const bool text = c >= 0x61 && c <= 0x7f && at + 1 < data_line.size();
            EXPECT_EQ(got.size(), text ? 0u : 45u) << "byte " << int{c} << " at " << at;
        }
    }
}

TEST_F(Encoded, UuUnopenableFileFailsStart) {
    UuDecoder dec("s", PlainNamer());
    EXPECT_EQ(dec.Start(dir_.path() + "/missing/", LineList{"begin 644 a\r", "#86)C\r"}),
              DecodeOutcome::NotFound);
}

TEST_F(Encoded, Base64RoundTripsThroughMpack) {
    for (size_t size : {0u, 1u, 45u, 100u, 1000000u}) {
        std::string data = test::RandomBytes(size, static_cast<uint32_t>(size + 2));
        LineList lines = ToLineList(Mpack(data, "photo.jpg"));
        for (size_t per_part : {lines.size(), size_t{4000}}) {
            Base64Decoder dec("subject", PlainNamer());
            std::string got = DecodeParts(dec, test::SplitLines(lines, per_part), dir_);
            ASSERT_EQ(got.size(), data.size()) << size;
            EXPECT_TRUE(got == data) << size;
            EXPECT_EQ(dec.output_path(), dir_.path() + "/out/photo.jpg");
        }
    }
}

TEST_F(Encoded, Base64HeldLinesAndPadding) {
    // A shorter last line ending in "==" is held and written at the end.
    Base64Decoder dec("s", PlainNamer());
    std::string got = DecodeParts(
        dec,
        {{"Content-Transfer-Encoding: base64\r", "Content-Type: text/plain; name=\"a.txt\"\r", "\r",
          "YWJjZGVm\r", "Z2hp\r", "amtsbW5v\r", "cA==\r", "\r", "--boundary--\r"}},
        dir_);
    EXPECT_EQ(got, "abcdefjklmnop");  // the short line in the middle is damage, not data

    // A full-length line ending in "=" writes its two bytes at once; a line with a blank in
    // the middle is ignored whole; "filename=" satisfies the name search.
    Base64Decoder eq("s", PlainNamer());
    got = DecodeParts(eq,
                      {{"Content-Disposition: attachment; filename=\"b.bin\"; size=3\r",
                        "Content-Transfer-Encoding: BASE64\r", "\r", "YWJj\r", "ZG V\r", "ZGU=\r"}},
                      dir_);
    EXPECT_EQ(got, "abcde");
    EXPECT_EQ(eq.output_path(), dir_.path() + "/out/b.bin");

    // Held lines of any length are kept whole.
    std::string long_line(400, 'Q');
    Base64Decoder big("s", PlainNamer());
    got = DecodeParts(
        big, {{"name=\"c\" base64\r", "\r", std::string(800, 'A') + "\r", long_line + "\r"}}, dir_);
    EXPECT_EQ(got.size(), 600u + 300u);
}

TEST_F(Encoded, Base64NeedsBothHeaderWords) {
    Base64Decoder dec("s", PlainNamer());
    EXPECT_EQ(
        dec.Start(dir_.path() + "/out/", LineList{"Content-Type: x; name=\"a\"\r", "\r", "YWJj\r"}),
        DecodeOutcome::NotFound);
    EXPECT_FALSE(dec.output_open());
}

// The header search finds what a plain byte-by-byte comparison in either case finds, first
// match included, in text full of near misses and of the needle's first letter in both cases.
TEST(FindNoCase, AgreesWithAPlainSearchOnRandomText) {
    auto lower = [](char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c + 32) : c; };
    auto plain = [&](std::string_view text, std::string_view needle) {
        for (size_t i = 0; i + needle.size() <= text.size(); ++i) {
            size_t k = 0;
            while (k < needle.size() && lower(text[i + k]) == lower(needle[k]))
                ++k;
            if (k == needle.size())
                return i;
        }
        return std::string_view::npos;
    };
    std::mt19937 rng(5);
    const std::string alphabet = "bBaAsSeE64nNmM=\"x";
    for (const std::string needle : {"base64", "name=\"", "=", "Bb", "\"q"}) {
        for (int round = 0; round < 2000; ++round) {
            std::string text(rng() % 40, ' ');
            for (char& c : text)
                c = alphabet[rng() % alphabet.size()];
            if (rng() % 3 == 0 && !text.empty())  // a match in some mix of cases
                for (size_t k = 0, at = rng() % text.size();
                     k < needle.size() && at + k < text.size(); ++k)
                    text[at + k] =
                        rng() % 2 ? needle[k] : static_cast<char>(std::toupper(needle[k]));
            ASSERT_EQ(FindNoCase(text, needle), plain(text, needle)) << text << " / " << needle;
        }
    }
    EXPECT_EQ(FindNoCase("", ""), 0u);
    EXPECT_EQ(FindNoCase("ab", "abc"), std::string_view::npos);
}

}  // namespace
}  // namespace qs
