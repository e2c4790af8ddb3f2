#include "postprocess/par2_repair.h"

#include <gtest/gtest.h>

#include <filesystem>

#include "postprocess/set_fixtures.h"
#include "support/temp_dir.h"

namespace qs {
namespace {

using test::ReadFile;
using test::WriteFile;
constexpr size_t kBlock = 4096;

// Two data files protected by 20 recovery blocks of 4 KiB in two volumes.
class Par2Set : public ::testing::Test {
  protected:
    void SetUp() override {
        first_ = test::RandomBytes(100 * kBlock + 123, 1);
        second_ = test::RandomBytes(30 * kBlock, 2);
        WriteFile(dir_.File(name_ + ".bin"), first_);
        WriteFile(dir_.File(name_ + "2.bin"), second_);
        std::string output;
        ASSERT_TRUE(
            test::RunTool(dir_.path(),
                          {"par2", "c", "-q", "-s" + std::to_string(kBlock), "-c20", "-n2", "--",
                           "./" + name_ + ".par2", "./" + name_ + ".bin", "./" + name_ + "2.bin"},
                          &output))
            << output;
    }

    std::string Index() const { return dir_.File(name_ + ".par2"); }
    std::string First() const { return dir_.File(name_ + ".bin"); }

    test::TempDir dir_;
    // A leading "-" would be an option if a name reached par2 unguarded.
    std::string name_ = "-set";
    std::string first_, second_;
};

TEST_F(Par2Set, WholeSetVerifies) {
    std::vector<double> progress;
    Par2Options options;
    options.on_progress = [&](const Par2Progress& p) { progress.push_back(p.percent); };
    const Par2Verification result = VerifyPar2Set(Index(), dir_.path(), options);
    EXPECT_EQ(result.verdict, Par2Verification::Verdict::complete) << result.reason;
    EXPECT_EQ(result.blocks_available, 20);
    ASSERT_FALSE(progress.empty());
    EXPECT_GT(progress.back(), 50.0);
}

TEST_F(Par2Set, TwoLostBlocksAreRepairedToTheOriginalBytes) {
    test::PunchZeros(First(), 10 * kBlock, kBlock);
    test::PunchZeros(First(), 70 * kBlock + 100, 50);

    const Par2Verification verification = VerifyPar2Set(Index(), dir_.path());
    EXPECT_EQ(verification.verdict, Par2Verification::Verdict::repairable) << verification.reason;
    EXPECT_EQ(verification.blocks_needed, 2);
    EXPECT_EQ(verification.blocks_available, 20);

    const Par2Repair repair = RepairPar2Set(Index(), dir_.path());
    ASSERT_EQ(repair.verdict, Par2Repair::Verdict::repaired) << repair.reason;
    EXPECT_EQ(repair.blocks, 2);
    EXPECT_TRUE(ReadFile(First()) == first_);
    EXPECT_FALSE(std::filesystem::exists(First() + ".1"));  // par2's copy of the damaged file
    EXPECT_EQ(RepairPar2Set(Index(), dir_.path()).verdict, Par2Repair::Verdict::not_needed);
}

TEST_F(Par2Set, DamageBeyondTheRecoveryBlocksFailsAndKeepsTheFiles) {
    test::PunchZeros(First(), 0, 25 * kBlock);
    const std::string damaged = ReadFile(First());

    const Par2Verification verification = VerifyPar2Set(Index(), dir_.path());
    EXPECT_EQ(verification.verdict, Par2Verification::Verdict::not_repairable);
    EXPECT_EQ(verification.blocks_needed, 5);
    EXPECT_NE(verification.reason.find("5 more recovery blocks"), std::string::npos)
        << verification.reason;

    const Par2Repair repair = RepairPar2Set(Index(), dir_.path());
    EXPECT_EQ(repair.verdict, Par2Repair::Verdict::failed);
    EXPECT_NE(repair.reason.find("not repairable"), std::string::npos) << repair.reason;
    EXPECT_TRUE(ReadFile(First()) == damaged);
    EXPECT_TRUE(ReadFile(dir_.File(name_ + "2.bin")) == second_);
}

TEST_F(Par2Set, MissingProgramOrIndexIsAClearError) {
    Par2Options options;
    options.program = "/nonexistent/par2";
    Par2Verification result = VerifyPar2Set(Index(), dir_.path(), options);
    EXPECT_EQ(result.verdict, Par2Verification::Verdict::error);
    EXPECT_NE(result.reason.find("par2 is not installed"), std::string::npos) << result.reason;

    WriteFile(dir_.File("junk.par2"), "not a par2 file");
    result = VerifyPar2Set(dir_.File("junk.par2"), dir_.path());
    EXPECT_EQ(result.verdict, Par2Verification::Verdict::error);
    EXPECT_NE(result.reason.find("damaged or incomplete"), std::string::npos) << result.reason;
}

}  // namespace
}  // namespace qs
