#include "postprocess/unpacker.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>

#include "postprocess/set_fixtures.h"
#include "postprocess/set_names.h"
#include "support/temp_dir.h"

namespace qs {
namespace {

namespace fs = std::filesystem;
using test::ReadFile;
using test::WriteFile;
using Verdict = UnpackResult::Verdict;

class Unpack : public ::testing::Test {
  protected:
    void SetUp() override {
        fs::create_directories(dir_.File("src/sub"));
        first_ = test::RandomBytes(300 * 1024, 3);
        second_ = test::RandomBytes(70 * 1024, 4);
        WriteFile(dir_.File("src/first.bin"), first_);
        WriteFile(dir_.File("src/sub/second.bin"), second_);
    }

    void Make(const std::vector<std::string>& argv) {
        std::string output;
        ASSERT_TRUE(test::RunTool(dir_.File("src"), argv, &output)) << output;
    }

    // The archive's volumes, in the order their names give.
    std::vector<std::string> Volumes(const std::string& prefix) const {
        std::vector<std::string> volumes;
        for (const auto& entry : fs::directory_iterator(dir_.File("src"))) {
            if (entry.path().filename().string().starts_with(prefix))
                volumes.push_back(entry.path().string());
        }
        std::sort(volumes.begin(), volumes.end(), [](const std::string& a, const std::string& b) {
            return ClassifySetFile(fs::path(a).filename().string()).volume <
                   ClassifySetFile(fs::path(b).filename().string()).volume;
        });
        return volumes;
    }

    void ExpectOriginals(const UnpackResult& result) {
        ASSERT_EQ(result.verdict, Verdict::unpacked) << result.reason;
        EXPECT_EQ(result.files, 2);
        EXPECT_TRUE(ReadFile(dir_.File("out/first.bin")) == first_);
        EXPECT_TRUE(ReadFile(dir_.File("out/sub/second.bin")) == second_);
    }

    std::string MakeZip(const std::string& name, std::vector<test::ZipEntry> entries) {
        entries.insert(entries.begin(), {"fine.txt", "fine"});
        WriteFile(dir_.File(name), test::StoredZip(entries));
        return dir_.File(name);
    }

    std::vector<std::string> FilesUnder(const std::string& dir) const {
        std::vector<std::string> names;
        for (const auto& entry : fs::recursive_directory_iterator(dir))
            names.push_back(fs::relative(entry.path(), dir).string());
        std::sort(names.begin(), names.end());
        return names;
    }

    test::TempDir dir_;
    std::string first_, second_;
};

TEST_F(Unpack, MultiVolume7zAndSplitZipGiveTheOriginalBytes) {
    Make({"7z", "a", "-v100k", "-mx=1", "set.7z", "first.bin", "sub"});
    ASSERT_GT(Volumes("set.7z.").size(), 3u);
    ExpectOriginals(UnpackArchive(Volumes("set.7z."), dir_.File("out")));

    fs::remove_all(dir_.File("out"));
    Make({"zip", "-q", "-r", "-s", "100k", "split.zip", "first.bin", "sub"});
    const std::vector<std::string> volumes = Volumes("split.z");  // .z01, .z02 ..., then .zip
    ASSERT_GT(volumes.size(), 2u);
    ASSERT_TRUE(volumes.back().ends_with(".zip"));
    ExpectOriginals(UnpackArchive(volumes, dir_.File("out")));
}

TEST_F(Unpack, NamesLeavingTheTargetUnpackNothing) {
    const std::string absolute = "/tmp/qs-absolute-" + std::to_string(::getpid()) + ".txt";
    const test::ZipEntry entries[] = {
        {"../escaped.txt", "x"},      {absolute, "x"},
        {"a/../../escaped.txt", "x"}, {"link", "../outside", true},
        {"deep/link", "/etc", true},  {"deep/link", "../../outside", true},
    };
    int index = 0;
    for (const test::ZipEntry& entry : entries) {
        SCOPED_TRACE(entry.name + " " + entry.data);
        const std::string zip = MakeZip("bad" + std::to_string(index++) + ".zip", {entry});
        const UnpackResult result = UnpackArchive({zip}, dir_.File("target/out"));
        EXPECT_EQ(result.verdict, Verdict::failed);
        EXPECT_EQ(result.files, 0);
        EXPECT_FALSE(result.reason.empty());
        EXPECT_EQ(FilesUnder(dir_.File("target")), (std::vector<std::string>{"out"}));
        EXPECT_FALSE(fs::exists(absolute));
    }

    // A link that stays inside is kept; a name in UTF-8 is kept whatever the locale.
    const std::string zip =
        MakeZip("good.zip", {{"d/link", "../fine.txt", true}, {"Caf\u00e9 \u65e5\u672c.txt", "x"}});
    const UnpackResult result = UnpackArchive({zip}, dir_.File("good"));
    ASSERT_EQ(result.verdict, Verdict::unpacked) << result.reason;
    EXPECT_EQ(result.files, 2);
    EXPECT_EQ(ReadFile(dir_.File("good/d/link")), "fine");
    EXPECT_TRUE(fs::is_symlink(dir_.File("good/d/link")));
    EXPECT_EQ(ReadFile(dir_.File("good/Caf\u00e9 \u65e5\u672c.txt")), "x");
}

TEST_F(Unpack, TooLittleFreeSpaceWritesNothing) {
    // A sparse 10 TiB file: tar stores only its map, libarchive reports its full size.
    std::error_code error;
    fs::resize_file(dir_.File("src/sub/second.bin"), 10ull << 40, error);
    if (error)
        GTEST_SKIP() << "no sparse 10 TiB file here: " << error.message();
    Make({"tar", "-S", "-cf", "huge.tar", "first.bin", "sub"});
    fs::remove(dir_.File("src/sub/second.bin"));

    const UnpackResult result = UnpackArchive({dir_.File("src/huge.tar")}, dir_.File("out"));
    EXPECT_EQ(result.verdict, Verdict::failed);
    EXPECT_NE(result.reason.find("not enough free space"), std::string::npos) << result.reason;
    EXPECT_TRUE(FilesUnder(dir_.File("out")).empty());
}

TEST_F(Unpack, PasswordProtectedArchiveIsEncryptedAndADamagedOneIsNot) {
    Make({"7z", "a", "-pSECRET", "-mhe=off", "locked.7z", "first.bin"});
    UnpackResult result = UnpackArchive({dir_.File("src/locked.7z")}, dir_.File("out"));
    EXPECT_EQ(result.verdict, Verdict::encrypted) << result.reason;

    Make({"7z", "a", "-pSECRET", "-mhe=on", "hidden.7z", "first.bin"});
    result = UnpackArchive({dir_.File("src/hidden.7z")}, dir_.File("out"));
    EXPECT_EQ(result.verdict, Verdict::encrypted) << result.reason;

    Make({"zip", "-q", "-P", "SECRET", "locked.zip", "first.bin"});
    result = UnpackArchive({dir_.File("src/locked.zip")}, dir_.File("out"));
    EXPECT_EQ(result.verdict, Verdict::encrypted) << result.reason;
    EXPECT_TRUE(FilesUnder(dir_.File("out")).empty());

    Make({"7z", "a", "-mx=1", "plain.7z", "first.bin", "sub"});
    std::string bytes = ReadFile(dir_.File("src/plain.7z"));
    WriteFile(dir_.File("src/cut.7z"), bytes.substr(0, bytes.size() / 2));
    result = UnpackArchive({dir_.File("src/cut.7z")}, dir_.File("cut"));
    EXPECT_EQ(result.verdict, Verdict::failed);
    EXPECT_FALSE(result.reason.empty());

    result = UnpackArchive({dir_.File("src/first.bin")}, dir_.File("cut"));
    EXPECT_EQ(result.verdict, Verdict::failed);
}

}  // namespace
}  // namespace qs
