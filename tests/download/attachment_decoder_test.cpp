#include "download/attachment_decoder.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include "codec_support.h"
#include "support/temp_dir.h"

namespace qs {
namespace {

using test::EncodeYencPost;
using test::ReadFile;
using test::TempDir;

class AttachmentDecoderTest : public ::testing::Test {
  protected:
    AttachmentDecoderTest() {
        entry_.filename = "subject";
        entry_.dir = dir_.path() + "/";
        settings_.FilenameIsSubject = 0;
        settings_.RenameExisting = 0;
    }
    TempDir dir_;
    Attachment entry_;
    Settings settings_;
};

TEST_F(AttachmentDecoderTest, FirstRecognisedPartPicksTheDecoderAndCountsPartsWithoutData) {
    std::string data = test::RandomBytes(3000, 21);
    auto parts = EncodeYencPost(data, "y.bin", 2);
    AttachmentDecoder dec(entry_, settings_);

    // A text part before the data: nothing recognised yet, one error until a part is.
    EXPECT_FALSE(dec.Decode(LineList{"Some words about the post\r"}));
    EXPECT_FALSE(dec.recognised());
    EXPECT_EQ(dec.errors(), 1);
    EXPECT_EQ(dec.output_path(), "");

    EXPECT_FALSE(dec.Decode(parts[0]));
    EXPECT_TRUE(dec.recognised());
    EXPECT_EQ(dec.errors(), 0);
    EXPECT_EQ(dec.output_path(), dir_.File("y.bin"));

    // After that, a part without yEnc data counts as an error of the file.
    EXPECT_FALSE(dec.Decode(LineList{"begin 644 u.bin\r", "#86)C\r"}));
    EXPECT_EQ(dec.errors(), 1);
    EXPECT_FALSE(dec.Decode(parts[1]));
    dec.Finish();
    EXPECT_FALSE(dec.write_failed());
    EXPECT_EQ(dec.output_error(), "");
    EXPECT_TRUE(ReadFile(dir_.File("y.bin")) == data);
}

TEST_F(AttachmentDecoderTest, UuThenBase64ThenYencIsTheOrderOfDetection) {
    const LineList yenc_tail = {"=ybegin line=128 size=3 name=y.bin\r", "KLM\r", "=yend size=3\r"};
    LineList uu = {"begin 644 u.bin\r", "#86)C\r", "`\r", "end\r"};
    uu.insert(uu.end(), yenc_tail.begin(), yenc_tail.end());
    AttachmentDecoder uu_first(entry_, settings_);
    EXPECT_FALSE(uu_first.Decode(uu));
    uu_first.Finish();
    EXPECT_EQ(uu_first.output_path(), dir_.File("u.bin"));
    EXPECT_EQ(ReadFile(dir_.File("u.bin")).substr(0, 3), "abc");
    EXPECT_NE(::access(dir_.File("y.bin").c_str(), F_OK), 0);

    LineList mime = {"Content-Type: application/octet-stream; name=\"b.bin\"\r",
                     "Content-Transfer-Encoding: base64\r", "\r", "YWJj\r"};
    mime.insert(mime.end(), yenc_tail.begin(), yenc_tail.end());
    AttachmentDecoder base64_first(entry_, settings_);
    EXPECT_FALSE(base64_first.Decode(mime));
    base64_first.Finish();
    EXPECT_EQ(base64_first.output_path(), dir_.File("b.bin"));
}

TEST_F(AttachmentDecoderTest, DamagedYencPartIsHeldBackUntilReplacedOrKept) {
    std::string data = test::RandomBytes(5000, 22);
    auto post = EncodeYencPost(data, "d.bin", 1);
    LineList damaged = post[0];
    damaged[2][3] ^= 0x04;

    AttachmentDecoder again(entry_, settings_);
    EXPECT_TRUE(again.Decode(damaged));  // held back, even as the first part
    EXPECT_TRUE(again.recognised());
    EXPECT_EQ(again.errors(), 0);
    EXPECT_FALSE(again.Decode(post[0]));  // a good copy from another server
    again.Finish();
    EXPECT_TRUE(ReadFile(dir_.File("d.bin")) == data);

    AttachmentDecoder keep(entry_, settings_);
    EXPECT_TRUE(keep.Decode(damaged));
    keep.KeepBadParts();
    keep.Finish();
    std::string kept = ReadFile(dir_.File("d.bin"));
    EXPECT_EQ(kept.size(), data.size());
    EXPECT_FALSE(kept == data);
}

TEST_F(AttachmentDecoderTest, UnopenableOutputIsReportedAndNothingRecognised) {
    entry_.dir = dir_.path() + "/missing/";
    AttachmentDecoder dec(entry_, settings_);
    EXPECT_FALSE(dec.Decode(EncodeYencPost("abc", "n.bin", 1)[0]));
    EXPECT_FALSE(dec.recognised());
    EXPECT_EQ(dec.errors(), 1);
    EXPECT_EQ(dec.output_error().rfind(dir_.path() + "/missing/n.bin: ", 0), 0u)
        << dec.output_error();
    dec.Finish();
}

}  // namespace
}  // namespace qs
