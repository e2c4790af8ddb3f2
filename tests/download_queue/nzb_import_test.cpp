#include "download/nzb_import.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include "download_fixture.h"

namespace qs::test {
namespace {

const char* const kTwoFiles = R"xml(<?xml version="1.0" encoding="iso-8859-1" ?>
<nzb xmlns="http://www.newzbin.com/DTD/2003/nzb">
 <file poster="Anna &lt;anna@example.com&gt;" date="1702353543" subject="first.rar (1/2)">
  <groups><group>alt.binaries.test</group></groups>
  <segments>
   <segment bytes="1000" number="1">first.1@test</segment>
   <segment bytes="500" number="2">first.2@test</segment>
  </segments>
 </file>
 <file poster="Bert" subject="second.rar (1/1)">
  <segments><segment bytes="10" number="1">second.1@test</segment></segments>
 </file>
 <file poster="Carla" subject="third.rar (1/1)">
  <groups><group>alt.binaries.test</group></groups>
  <segments><segment bytes="10" number="1">third.1@test</segment></segments>
 </file>
</nzb>
)xml";

class NzbImport : public DownloadFixture {
  protected:
    NzbImportResult Import(const std::string& name, const std::string& content) {
        std::string path = dir_.File(name);
        WriteFile(path, content);
        return ImportNzbFile(path, queue_.get(), settings_, host_);
    }
    static std::string OneFile(const std::string& group, const std::string& segments) {
        return "<nzb><file poster=\"P\" subject=\"s (1/1)\"><groups><group>" + group +
               "</group></groups><segments>" + segments + "</segments></file></nzb>";
    }
};

TEST_F(NzbImport, ExtensionIsTestedWithoutCaseAndOtherFilesAreRefused) {
    std::string one =
        OneFile("alt.binaries.test", "<segment bytes=\"5\" number=\"1\">a@b</segment>");
    NzbImportResult upper = Import("a.NZB", one);
    EXPECT_EQ(upper.files, 1);
    EXPECT_FALSE(upper.error);
    EXPECT_TRUE(host_.Messages().empty());

    NzbImportResult xml = Import("a.xml", one);
    EXPECT_EQ(xml.files, 0);
    EXPECT_TRUE(xml.error);
    EXPECT_EQ(host_.Messages(), std::vector<std::string>{"Error reading NZB file."});
    EXPECT_EQ(Count(*queue_db_), 1);

    // A root other than "nzb" imports nothing, silently; broken XML is an error.
    EXPECT_FALSE(Import("other.nzb", "<notnzb><file/></notnzb>").error);
    EXPECT_TRUE(Import("broken.nzb", "<nzb><file").error);
    EXPECT_TRUE(ImportNzbFile(dir_.File("absent.nzb"), queue_.get(), settings_, host_).error);
    EXPECT_EQ(Count(*queue_db_), 1);
}

TEST_F(NzbImport, BaseNameLosesEveryExtensionAndNamesTheDirectory) {
    EXPECT_EQ(NzbBaseName("/in/x.nzb.part2.nzb"), "x.part2");
    EXPECT_EQ(NzbBaseName("/in/show.NZB"), "show");
    EXPECT_EQ(NzbBaseName("/in/...nzb"), "__");  // never the parent directory

    Import("x.nzb.part2.nzb",
           OneFile("alt.binaries.test", "<segment bytes=\"5\" number=\"1\">a@b</segment>"));
    auto rows = Rows(*queue_db_);
    ASSERT_EQ(rows.size(), 1u);
    EXPECT_EQ(rows[0].dir, settings_.BaseDir + "/alt.binaries.test/x.part2/");
    struct stat st;
    EXPECT_EQ(::stat(rows[0].dir.c_str(), &st), 0);  // created (AutoCreateDirs)
}

TEST_F(NzbImport, FilesAreQueuedUntilOneLacksItsGroupAndTheMessageComesOnce) {
    NzbImportResult r = Import("show.nzb", kTwoFiles);
    EXPECT_EQ(r.files, 1);
    EXPECT_TRUE(r.error);
    EXPECT_EQ(host_.Messages(), std::vector<std::string>{"Error reading NZB file."});
    auto rows = Rows(*queue_db_);
    ASSERT_EQ(rows.size(), 1u);
    const Attachment& a = rows[0];
    EXPECT_EQ(a.Id, "first.rar (1/2)");
    EXPECT_EQ(a.filename, a.Id);
    EXPECT_EQ(a.email, "Anna <anna@example.com>");
    EXPECT_EQ(a.date, 1702353543);
    EXPECT_EQ(a.state, StateQueued);
    EXPECT_EQ(a.parts, 2);
    EXPECT_EQ(a.bytes, 1500);
    EXPECT_EQ(a.newsgroup, "alt.binaries.test");
    Attachment loaded = a;
    ASSERT_TRUE(queue_db_->LoadParts(loaded));
    ASSERT_EQ(loaded.partlist.size(), 2u);
    EXPECT_EQ(loaded.partlist[0].MessageId, "<first.1@test>");
    EXPECT_EQ(loaded.partlist[1].partnum, 2);
    EXPECT_EQ(loaded.partlist[1].bytes, 500);
    EXPECT_EQ(loaded.partlist[0].ArticleId, 0);
}

TEST_F(NzbImport, EmptySegmentEndsThatFilesPartsButLaterFilesComeIn) {
    std::string nzb =
        "<nzb><file subject=\"a (1/3)\"><groups><group>g.x</group></groups><segments>"
        "<segment number=\"1\">a1@x</segment><segment number=\"2\"></segment>"
        "<segment number=\"3\">a3@x</segment></segments></file>"
        "<file subject=\"b (1/1)\"><groups><group>g.x</group></groups><segments>"
        "<segment number=\"1\" bytes=\"0\">b1@x</segment><segment number=\"1\" "
        "bytes=\"0\">b1dup@x</segment></segments></file></nzb>";
    NzbImportResult r = Import("e.nzb", nzb);
    EXPECT_TRUE(r.error);
    EXPECT_EQ(r.files, 2);
    auto rows = Rows(*queue_db_);
    ASSERT_EQ(rows.size(), 2u);
    EXPECT_EQ(rows[0].parts, 1);  // the segments before the empty one
    EXPECT_EQ(rows[1].parts, 2);  // duplicate numbers and zero bytes as they come
    EXPECT_EQ(rows[1].bytes, 0);
}

// What a hostile NZB file holds: two files under one subject stay two entries with their
// own parts; a file whose only segment is refused queues nothing; sizes that would overflow
// their sum saturate; a file over the size limit is refused with its own message.
TEST_F(NzbImport, DuplicateSubjectsRefusedSegmentsAndHugeSizesAreHandled) {
    std::string nzb =
        "<nzb><file subject=\"s (1/1)\"><groups><group>g.x</group></groups><segments>"
        "<segment number=\"1\" bytes=\"9223372036854775807\">one@x</segment>"
        "<segment number=\"2\" bytes=\"9223372036854775807\">two@x</segment></segments></file>"
        "<file subject=\"s (1/1)\"><groups><group>g.x</group></groups><segments>"
        "<segment number=\"1\" bytes=\"5\">other@x</segment></segments></file>"
        "<file subject=\"bad (1/1)\"><groups><group>g.x</group></groups><segments>"
        "<segment number=\"1\">bad id@x</segment></segments></file></nzb>";
    NzbImportResult r = Import("d.nzb", nzb);
    EXPECT_TRUE(r.error);  // the refused segment
    EXPECT_EQ(r.files, 2);
    auto rows = Rows(*queue_db_);
    ASSERT_EQ(rows.size(), 2u);
    EXPECT_EQ(rows[0].Id, "s (1/1)");
    EXPECT_EQ(rows[0].bytes, INT64_MAX);
    EXPECT_EQ(rows[1].Id, "s (1/1) [2]");
    EXPECT_EQ(rows[1].filename, "s (1/1)");
    Attachment second = rows[1];
    ASSERT_TRUE(queue_db_->LoadParts(second));
    ASSERT_EQ(second.partlist.size(), 1u);
    EXPECT_EQ(second.partlist[0].MessageId, "<other@x>");

    std::string big(kMaxNzbBytes + 1, ' ');
    NzbImportResult too_large = Import("big.nzb", "<nzb>" + big + "</nzb>");
    EXPECT_TRUE(too_large.error);
    EXPECT_EQ(host_.Messages().back(), "NZB file too large.");
}

// A subject that itself ends in " [2]" does not take the parts of a later file whose
// repeated subject would be numbered so; a segment listed twice is one part, counted once.
TEST_F(NzbImport, NumberedSubjectsStayApartAndRepeatedSegmentsCountOnce) {
    auto file = [](const std::string& subject, const std::string& segments) {
        return "<file subject=\"" + subject + "\"><groups><group>g.x</group></groups><segments>" +
               segments + "</segments></file>";
    };
    NzbImportResult r =
        Import("n.nzb", "<nzb>" + file("s [2]", "<segment number=\"1\">a@x</segment>") +
                            file("s", "<segment number=\"1\">b@x</segment>") +
                            file("s",
                                 "<segment number=\"1\" bytes=\"5\">c@x</segment>"
                                 "<segment number=\"1\" bytes=\"5\">c@x</segment>") +
                            "</nzb>");
    EXPECT_FALSE(r.error);
    EXPECT_EQ(r.files, 3);
    auto rows = Rows(*queue_db_);
    ASSERT_EQ(rows.size(), 3u);
    EXPECT_EQ(rows[0].Id, "s [2]");
    EXPECT_EQ(rows[1].Id, "s");
    EXPECT_EQ(rows[2].Id, "s [3]");
    for (Attachment& row : rows) {
        ASSERT_TRUE(queue_db_->LoadParts(row));
        EXPECT_EQ(row.partlist.size(), 1u) << row.Id;
        EXPECT_EQ(row.partcount, 1) << row.Id;
    }
    EXPECT_EQ(rows[2].bytes, 5);
}

TEST_F(NzbImport, ImportingTwiceMergesIntoTheSameEntries) {
    std::string one =
        OneFile("alt.binaries.test", "<segment bytes=\"5\" number=\"1\">a@b</segment>");
    Import("twice.nzb", one);
    Import("twice.nzb", one);
    EXPECT_EQ(Count(*queue_db_), 1);
    Attachment a = Rows(*queue_db_).at(0);
    ASSERT_TRUE(queue_db_->LoadParts(a));
    EXPECT_EQ(a.partlist.size(), 1u);
}

TEST_F(NzbImport, HostileNamesStayInsideTheDownloadDirectoryAndOutOfCommands) {
    Import("../../evil.nzb",  // the base name is the last component only
           OneFile("../../../etc", "<segment number=\"1\">a@b</segment>"));
    auto rows = Rows(*queue_db_);
    ASSERT_EQ(rows.size(), 1u);
    const std::string base = settings_.BaseDir + "/";
    EXPECT_EQ(rows[0].dir.rfind(base, 0), 0u) << rows[0].dir;
    EXPECT_EQ(rows[0].dir.find("/../"), std::string::npos) << rows[0].dir;
    EXPECT_EQ(rows[0].dir, base + ".._.._.._etc/evil/");

    // A group or message-id that would split a command line is refused.
    EXPECT_TRUE(
        Import("cr.nzb", OneFile("alt.x&#13;&#10;QUIT", "<segment number=\"1\">c@d</segment>"))
            .error);
    EXPECT_TRUE(
        Import("id.nzb", OneFile("alt.x", "<segment number=\"1\">c@d&#13;&#10;QUIT</segment>"))
            .error);
    for (Attachment row : Rows(*queue_db_)) {
        EXPECT_EQ(row.newsgroup.find('\n'), std::string::npos);
        ASSERT_TRUE(queue_db_->LoadParts(row));
        for (const MessageVars& part : row.partlist)
            EXPECT_EQ(part.MessageId.find('\n'), std::string::npos);
    }
}

}  // namespace
}  // namespace qs::test
