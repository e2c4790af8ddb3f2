#include "postprocess/set_post_processor.h"

#include <gtest/gtest.h>

#include <filesystem>

#include "postprocess/set_fixtures.h"
#include "support/temp_dir.h"

namespace qs {
namespace {

namespace fs = std::filesystem;
using test::ReadFile;
using Kind = PostProcessOutcome::Kind;

// A posted set as it lands in the download directory: 7z volumes and par2 files over them.
class FinishedSet : public ::testing::Test {
  protected:
    void SetUp() override {
        original_ = test::RandomBytes(400 * 1024, 5);
        test::WriteFile(dir_.File("Movie.mkv"), original_);
        Run({"7z", "a", "-v100k", "-mx=0", "Movie.7z", "Movie.mkv"});
        fs::remove(dir_.File("Movie.mkv"));
        for (const auto& entry : fs::directory_iterator(dir_.path()))
            volumes_.push_back(entry.path().filename().string());
        std::vector<std::string> create = {"par2", "c", "-q", "-s16384", "-c8", "--", "Movie.par2"};
        create.insert(create.end(), volumes_.begin(), volumes_.end());
        Run(create);
        for (const auto& entry : fs::directory_iterator(dir_.path()))
            files_.push_back(entry.path().filename().string());
    }

    void Run(const std::vector<std::string>& argv) {
        std::string output;
        ASSERT_TRUE(test::RunTool(dir_.path(), argv, &output)) << output;
    }

    test::TempDir dir_;
    std::string original_;
    std::vector<std::string> volumes_;  // Movie.7z.001 ...
    std::vector<std::string> files_;    // and the par2 files
};

TEST_F(FinishedSet, LostBlocksAreRepairedThenTheArchiveUnpackedAndTheSetDeleted) {
    test::PunchZeros(dir_.File("Movie.7z.002"), 5000, 20000);  // two 16 KiB blocks
    const PostProcessOutcome outcome =
        PostProcessSet(dir_.path(), files_, {PostProcessMode::repair_and_unpack, true});
    ASSERT_EQ(outcome.kind, Kind::unpacked) << outcome.Describe();
    EXPECT_EQ(outcome.Describe(), "repaired (2 blocks), unpacked (1 file)");
    EXPECT_TRUE(ReadFile(dir_.File("Movie.mkv")) == original_);
    for (const std::string& name : files_)
        EXPECT_FALSE(fs::exists(dir_.File(name))) << name;
}

TEST_F(FinishedSet, UnrepairableSetIsNeitherUnpackedNorDeleted) {
    test::PunchZeros(dir_.File("Movie.7z.001"), 0, 100 * 1024);  // 13 blocks, 8 to recover them
    test::PunchZeros(dir_.File("Movie.7z.002"), 0, 100 * 1024);
    const PostProcessOutcome outcome =
        PostProcessSet(dir_.path(), files_, {PostProcessMode::repair_and_unpack, true});
    EXPECT_EQ(outcome.kind, Kind::failed);
    EXPECT_TRUE(outcome.damaged);
    EXPECT_EQ(outcome.Describe().rfind("failed: not repairable", 0), 0u) << outcome.Describe();
    EXPECT_FALSE(fs::exists(dir_.File("Movie.mkv")));
    for (const std::string& name : files_)
        EXPECT_TRUE(fs::exists(dir_.File(name))) << name;
}

TEST_F(FinishedSet, VerifyOnlyLeavesTheArchivePacked) {
    const PostProcessOutcome outcome =
        PostProcessSet(dir_.path(), files_, {PostProcessMode::verify_and_repair, true});
    EXPECT_EQ(outcome.Describe(), "verified");
    EXPECT_FALSE(fs::exists(dir_.File("Movie.mkv")));
    EXPECT_TRUE(fs::exists(dir_.File("Movie.7z.001")));
}

}  // namespace
}  // namespace qs
