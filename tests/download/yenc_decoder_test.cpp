#include "download/yenc_decoder.h"

#include <gtest/gtest.h>

#include <random>

#include "codec_support.h"
#include "download/crc32.h"
#include "support/temp_dir.h"

namespace qs {
namespace {

using test::EncodeYencPost;
using test::ReadFile;
using test::TempDir;

// The name as the decoder found it, inside the test's directory.
OutputNamer PlainNamer() {
    return [](std::string_view, std::string_view name, std::string_view dir) {
        return std::string(dir) + std::string(name);
    };
}

// Feeds the parts as part retrieval does, the first to Start and the rest to Continue, and
// returns the file.
std::string Decode(YencDecoder& dec, const std::vector<LineList>& parts, const TempDir& dir) {
    for (size_t i = 0; i < parts.size(); ++i) {
        if (i == 0)
            dec.Start(dir.path() + "/", parts[0]);
        else
            dec.Continue(parts[i]);
    }
    dec.Finish();
    return ReadFile(dec.output_path());
}

std::string Decode(const std::vector<LineList>& parts, const TempDir& dir) {
    YencDecoder dec("subject", PlainNamer());
    return Decode(dec, parts, dir);
}

TEST(Crc32, KnownVectorsAndCombine) {
    EXPECT_EQ(Crc32(0, "123456789", 9), 0xCBF43926u);
    EXPECT_EQ(Crc32(0, "", 0), 0u);
    EXPECT_EQ(Crc32(Crc32(0, "12345", 5), "6789", 4), 0xCBF43926u);
    EXPECT_EQ(Crc32Combine(Crc32(0, "1234", 4), Crc32(0, "56789", 5), 5), 0xCBF43926u);
}

TEST(YencDecoder, HandCheckedVectors) {
    TempDir dir;
    // "123456789" is each byte + 42; its CRC-32 is CBF43926.
    std::vector<LineList> post = {{"=ybegin line=128 size=9 name=a b.bin\r", "[\\]^_`abc\r",
                                   "=yend size=9 crc32=cbf43926\r"}};
    EXPECT_EQ(Decode(post, dir), "123456789");

    // Critical characters escaped: NUL, LF, CR, "=", TAB and space at the line start, and a
    // dot at the line start sent dot-stuffed.
    post = {{"=ybegin line=128 size=9 name=esc.bin\r", "=@=J=M=}\r", "=I=`\r", "..X\r", "=n=J*\r",
             "=yend size=11\r"}};
    const unsigned char expected[] = {0xD6, 0xE0, 0xE3, 0x13, 0xDF, 0xF6,
                                      0x04, 0x2E, 0x04, 0xE0, 0x00};
    EXPECT_EQ(Decode(post, dir), std::string(reinterpret_cast<const char*>(expected), 11));
}

TEST(YencDecoder, RoundTripsSingleAndMultiPart) {
    TempDir dir;
    for (size_t size : {0u, 1u, 45u, 100u, 1000000u}) {
        std::string data = test::RandomBytes(size, static_cast<uint32_t>(size));
        for (int parts : {1, size < 3 ? 1 : 3}) {
            for (bool dots : {false, true}) {
                std::string name = "rt" + std::to_string(size) + "_" + std::to_string(parts);
                YencDecoder dec("subject", PlainNamer());
                std::string got = Decode(dec, EncodeYencPost(data, name, parts, 128, dots), dir);
                ASSERT_EQ(got.size(), data.size()) << name;
                EXPECT_TRUE(got == data) << name;
                EXPECT_EQ(dec.parts_decoded(), parts);
                EXPECT_EQ(dec.held_parts(), 0);
            }
        }
    }
}

TEST(YencDecoder, LongLinesDecodeWhole) {
    TempDir dir;
    std::string data = test::RandomBytes(50000, 3);
    EXPECT_TRUE(Decode(EncodeYencPost(data, "long", 2, 4000), dir) == data);
}

TEST(YencDecoder, MultiPartWritesAtItsOffsetAndLeavesHoles) {
    TempDir dir;
    std::string data = test::RandomBytes(30000, 11);
    auto parts = EncodeYencPost(data, "x.rar", 3);

    YencDecoder dec("s", PlainNamer());
    EXPECT_EQ(dec.Start(dir.path() + "/", parts[0]), DecodeOutcome::Decoded);
    EXPECT_EQ(dec.Continue(parts[2]), DecodeOutcome::Decoded);
    EXPECT_EQ(dec.parts_decoded(), 2);
    EXPECT_TRUE(dec.file_check_failed());  // part 2 is missing
    dec.Finish();
    std::string got = ReadFile(dir.File("x.rar"));
    ASSERT_EQ(got.size(), data.size());
    EXPECT_TRUE(got.substr(0, 10000) == data.substr(0, 10000));
    EXPECT_EQ(got.substr(10000, 10000), std::string(10000, '\0'));
    EXPECT_TRUE(got.substr(20000) == data.substr(20000));

    // Out of order and repeated parts land where they belong, once.
    YencDecoder again("s", PlainNamer());
    again.Start(dir.path() + "/", parts[2]);
    for (int p : {0, 1, 1, 2})
        again.Continue(parts[p]);
    EXPECT_FALSE(again.file_check_failed());
    again.Finish();
    EXPECT_TRUE(ReadFile(dir.File("x.rar")) == data);
}

TEST(YencDecoder, DamagedPartIsReportedAndHeldBack) {
    TempDir dir;
    std::string data = test::RandomBytes(30000, 5);
    auto parts = EncodeYencPost(data, "d.bin", 3);
    LineList damaged = parts[1];
    damaged[5][10] ^= 0x01;  // one flipped bit in a data line

    YencDecoder dec("s", PlainNamer());
    EXPECT_EQ(dec.Start(dir.path() + "/", parts[0]), DecodeOutcome::Decoded);
    EXPECT_EQ(dec.Continue(damaged), DecodeOutcome::HeldBack);
    EXPECT_EQ(dec.parts_decoded(), 1);
    EXPECT_EQ(dec.held_parts(), 1);
    // Fetched again from another server.
    EXPECT_EQ(dec.Continue(parts[1]), DecodeOutcome::Decoded);
    EXPECT_EQ(dec.parts_decoded(), 2);
    EXPECT_EQ(dec.held_parts(), 0);
    dec.Continue(parts[2]);
    EXPECT_FALSE(dec.file_check_failed());
    dec.Finish();
    EXPECT_TRUE(ReadFile(dir.File("d.bin")) == data);
}

TEST(YencDecoder, DamagedSinglePartIsNotWrittenTwice) {
    TempDir dir;
    std::string data = test::RandomBytes(5000, 9);
    auto post = EncodeYencPost(data, "s.bin", 1);
    LineList damaged = post[0];
    damaged[2][3] ^= 0x04;
    LineList cut(post[0].begin(), post[0].begin() + 4);  // connection dropped: no =yend

    YencDecoder dec("s", PlainNamer());
    EXPECT_EQ(dec.Start(dir.path() + "/", damaged), DecodeOutcome::HeldBack);
    EXPECT_EQ(dec.held_parts(), 1);
    EXPECT_EQ(dec.Continue(cut), DecodeOutcome::HeldBack);
    EXPECT_EQ(dec.held_parts(), 1);
    EXPECT_EQ(dec.Continue(post[0]), DecodeOutcome::Decoded);
    EXPECT_EQ(dec.parts_decoded(), 1);
    EXPECT_EQ(dec.held_parts(), 0);
    dec.Finish();
    EXPECT_TRUE(ReadFile(dir.File("s.bin")) == data);

    // With no better copy to be had, the damaged bytes can still be kept.
    YencDecoder keep("s", PlainNamer());
    EXPECT_EQ(keep.Start(dir.path() + "/", damaged), DecodeOutcome::HeldBack);
    EXPECT_EQ(keep.parts_decoded(), 0);
    keep.KeepBadParts();
    EXPECT_EQ(keep.parts_decoded(), 1);
    keep.Finish();
    EXPECT_EQ(ReadFile(dir.File("s.bin")).size(), data.size());
}

TEST(YencDecoder, WrongPartNumberOrSizeOnYendIsBad) {
    TempDir dir;
    std::string data = test::RandomBytes(3000, 1);
    auto parts = EncodeYencPost(data, "p.bin", 3);
    LineList wrong_part = parts[0];
    wrong_part.back() = "=yend size=1000 part=2\r";
    LineList wrong_size = parts[0];
    wrong_size.back() = "=yend size=999 part=1\r";
    YencDecoder dec("s", PlainNamer());
    EXPECT_EQ(dec.Start(dir.path() + "/", wrong_part), DecodeOutcome::HeldBack);
    EXPECT_EQ(dec.held_parts(), 1);
    EXPECT_EQ(dec.Continue(wrong_size), DecodeOutcome::HeldBack);
    EXPECT_EQ(dec.held_parts(), 1);
    EXPECT_EQ(dec.Continue(parts[0]), DecodeOutcome::Decoded);
}

TEST(YencDecoder, WholeFileCrcIsChecked) {
    TempDir dir;
    std::string data = test::RandomBytes(3000, 2);
    auto parts = EncodeYencPost(data, "f.bin", 2);
    std::string& trailer = parts[1].back();
    size_t at = trailer.find(" crc32=") + 7;
    trailer[at] = trailer[at] == '0' ? '1' : '0';
    YencDecoder dec("s", PlainNamer());
    dec.Start(dir.path() + "/", parts[0]);
    EXPECT_EQ(dec.Continue(parts[1]), DecodeOutcome::Decoded);  // the part itself is fine
    EXPECT_TRUE(dec.file_check_failed());
}

TEST(YencDecoder, HeaderRules) {
    TempDir dir;
    // A multi-part header without "=ypart" names the file, but decoding starts at the
    // next real header.
    LineList lines = {"=ybegin part=1 line=128 size=5 name=y\r", "KKKK\r",
                      "=ybegin line=128 size=2 name=z\r", "LL\r", "=yend size=2\r"};
    YencDecoder dec("s", PlainNamer());
    EXPECT_EQ(dec.Start(dir.path() + "/", lines), DecodeOutcome::Decoded);
    EXPECT_EQ(dec.parts_decoded(), 1);
    dec.Finish();
    EXPECT_EQ(dec.output_path(), dir.path() + "/z");
    EXPECT_EQ(ReadFile(dir.File("z")), "\"\"");

    // No header: nothing decoded, no file.
    YencDecoder none("s", PlainNamer());
    EXPECT_EQ(none.Start(dir.path() + "/", LineList{"hello\r", "world\r"}),
              DecodeOutcome::NotFound);
    EXPECT_EQ(none.parts_decoded(), 0);
    EXPECT_FALSE(none.output_open());

    // Headers with blanks in the name, and a part whose "=yend" is missing before the
    // next part's header.
    std::string data = test::RandomBytes(2000, 4);
    auto parts = EncodeYencPost(data, "a b.bin", 2);
    LineList both = parts[0];
    both.pop_back();
    both.insert(both.end(), parts[1].begin(), parts[1].end());
    YencDecoder joined("s", PlainNamer());
    EXPECT_EQ(joined.Start(dir.path() + "/", both), DecodeOutcome::Decoded);
    EXPECT_EQ(joined.parts_decoded(), 2);
    joined.Finish();
    EXPECT_TRUE(ReadFile(dir.File("a b.bin")) == data);
}

TEST(YencDecoder, HeaderNumbersBeyondRangeMakeABadPart) {
    TempDir dir;
    // Numbers saturate at the 64-bit limits; the range they give is rejected, not computed.
    LineList lines = {"=ybegin part=1 total=1 line=128 size=99999999999999999999 name=h\r",
                      "=ypart begin=-99999999999999999999 end=99999999999999999999\r", "KK\r"};
    YencDecoder dec("s", PlainNamer());
    EXPECT_EQ(dec.Start(dir.path() + "/", lines), DecodeOutcome::HeldBack);
    EXPECT_EQ(dec.parts_decoded(), 0);
}

TEST(YencDecoder, LaterPartsKeepTheFirstPathAndResetCloses) {
    TempDir dir;
    Settings settings;
    settings.RenameExisting = 1;
    std::string data = test::RandomBytes(3000, 6);
    auto parts = EncodeYencPost(data, "r.bin", 3);
    YencDecoder dec("s", MakeOutputNamer(settings));
    dec.Start(dir.path() + "/", parts[0]);
    dec.Continue(parts[1]);
    dec.Continue(parts[2]);
    EXPECT_EQ(dec.output_path(), dir.path() + "/r.bin");
    dec.Reset();
    EXPECT_FALSE(dec.output_open());
    EXPECT_EQ(dec.parts_decoded(), 0);
    EXPECT_TRUE(ReadFile(dir.File("r.bin")) == data);
    // A second download of the same post goes beside the first.
    dec.Start(dir.path() + "/", parts[0]);
    EXPECT_EQ(dec.output_path(), dir.path() + "/r_1.bin");
}

TEST(YencDecoder, UnopenableOutputReportsNothingDecoded) {
    TempDir dir;
    auto post = EncodeYencPost("abc", "n.bin", 1);
    YencDecoder dec("s", PlainNamer());
    EXPECT_EQ(dec.Start(dir.path() + "/missing/", post[0]), DecodeOutcome::NotFound);
    EXPECT_EQ(dec.parts_decoded(), 0);
}

}  // namespace
}  // namespace qs
