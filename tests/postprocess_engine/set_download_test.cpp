#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <map>
#include <set>
#include <thread>

#include "download/download_queue.h"
#include "engine/engine_fixture.h"
#include "postprocess/set_fixtures.h"
#include "support/yenc_poster.h"

namespace qs {
namespace {

namespace fs = std::filesystem;
using ::testing::HasSubstr;
using ::testing::StartsWith;

constexpr char kGroup[] = "alt.binaries.sets";

// A set as a poster makes it: Movie.mkv (400 KB) in 100 KB 7z volumes, a par2 index and
// recovery volumes of 1, 2, 4 and 1 blocks of 16 KB, every file posted in 32 KB yEnc
// parts (two blocks each).
class PostedSet : public EngineTest {
  protected:
    void SetUp() override {
        original_ = test::RandomBytes(400 * 1024, 7);
        test::WriteFile(source_.File("Movie.mkv"), original_);
        Run({"7z", "a", "-v100k", "-mx=0", "Movie.7z", "Movie.mkv"});
        fs::remove(source_.File("Movie.mkv"));
        std::vector<std::string> create = {"par2", "c", "-q", "-s16384", "-c8", "--", "Movie.par2"};
        for (const std::string& name : SourceFiles())
            create.push_back(name);
        Run(create);
        for (const std::string& name : SourceFiles())
            ids_[name] = test::PostYencFile(*server_.memory_corpus(), kGroup, name,
                                            test::ReadFile(source_.File(name)), 32 * 1024);
        ASSERT_EQ(ids_.size(), 10u);  // 5 volumes, the index, 4 recovery volumes
    }

    std::vector<std::string> SourceFiles() const {
        std::vector<std::string> names;
        for (const auto& entry : fs::directory_iterator(source_.path()))
            names.push_back(entry.path().filename().string());
        std::sort(names.begin(), names.end());
        return names;
    }

    void Run(const std::vector<std::string>& argv) {
        std::string output;
        ASSERT_TRUE(test::RunTool(source_.path(), argv, &output)) << output;
    }

    // The server has no such article: the part is lost on every try.
    void Lose(const std::string& file, int part) {
        server_.SetReply("BODY " + ids_.at(file).at(static_cast<size_t>(part - 1)),
                         test::Reply::Line("430 No such article"));
    }

    // Grabs the group with settings that would throw a damaged file away: a file of a set
    // must be kept all the same.
    std::unique_ptr<Engine> GrabTheSet() {
        Configure(server_, {kGroup}, [](Settings& s) {
            s.ConnectionRetries = 0;
            s.SkipMissing = 0;
            s.DeleteIncomplete = 1;
        });
        auto engine = OpenEngine();
        ScanToEnd(*engine, kGroup);
        EXPECT_EQ(engine->Grab(kGroup, "", false).count, 10);
        engine->WaitForWorkers();
        return engine;
    }

    // The files whose articles were asked for.
    std::set<std::string> FilesFetched() const {
        std::set<std::string> fetched;
        for (const std::string& command : server_.commands())
            for (const auto& [name, ids] : ids_)
                if (command.rfind("BODY ", 0) == 0 &&
                    std::find(ids.begin(), ids.end(), command.substr(5)) != ids.end())
                    fetched.insert(name);
        return fetched;
    }

    // The set as an NZB file lists it.
    std::string Nzb() const {
        std::string nzb = "<?xml version=\"1.0\"?>\n<nzb>\n";
        for (const auto& [name, ids] : ids_) {
            nzb += "<file poster=\"p\" date=\"1700000000\" subject=\"&quot;" + name +
                   "&quot; yEnc (1/" + std::to_string(ids.size()) + ")\">\n<groups><group>" +
                   kGroup + "</group></groups>\n<segments>\n";
            for (size_t i = 0; i < ids.size(); ++i)
                nzb += "<segment bytes=\"32768\" number=\"" + std::to_string(i + 1) + "\">" +
                       ids[i].substr(1, ids[i].size() - 2) + "</segment>\n";
            nzb += "</segments>\n</file>\n";
        }
        return nzb + "</nzb>\n";
    }

    std::string Downloaded(const std::string& name) const {
        return home_.File(std::string(kGroup) + "/" + name);
    }

    std::string LogReason(Engine& engine, const std::string& name) {
        for (const Attachment& a : Rows(engine, "log"))
            if (a.filename.find("\"" + name + "\"") != std::string::npos)
                return a.reason;
        return "(not in the log)";
    }

    test::TempDir source_;
    test::NewsServer server_;
    std::string original_;
    std::map<std::string, std::vector<std::string>> ids_;
};

TEST_F(PostedSet, AWholeSetIsVerifiedAndUnpackedWithoutFetchingItsRecoveryVolumes) {
    auto engine = GrabTheSet();

    EXPECT_TRUE(test::ReadFile(Downloaded("Movie.mkv")) == original_);
    for (const std::string& name : FilesFetched())
        EXPECT_EQ(name.find(".vol"), std::string::npos) << name << " was downloaded";
    EXPECT_EQ(FilesFetched().size(), 6u);
    const std::vector<ProcessedSet> sets = events_.sets();
    ASSERT_EQ(sets.size(), 1u);
    EXPECT_EQ(sets[0].name, "Movie");
    EXPECT_EQ(sets[0].outcome, "unpacked (1 file)");
    EXPECT_FALSE(sets[0].failed);
    EXPECT_EQ(LogReason(*engine, "Movie.7z.001"), "set: unpacked (1 file)");
    // The held volumes left the queue once the set was whole.
    EXPECT_EQ(engine->Status().tasks, 0);
    EXPECT_EQ(Rows(*engine, "log").size(), 6u);
}

TEST_F(PostedSet, TwoLostArticlesAreRepairedFromRecoveryVolumesFetchedForIt) {
    Lose("Movie.7z.002", 2);  // bytes 32 K to 96 K: blocks 2 to 5
    Lose("Movie.7z.002", 3);
    auto engine = GrabTheSet();

    EXPECT_TRUE(test::ReadFile(Downloaded("Movie.mkv")) == original_);
    // Four blocks needed: the one volume that has them, no other.
    const std::set<std::string> fetched = FilesFetched();
    EXPECT_TRUE(fetched.count("Movie.vol3+4.par2"));
    EXPECT_EQ(fetched.size(), 7u);
    const std::vector<ProcessedSet> sets = events_.sets();
    ASSERT_EQ(sets.size(), 1u);
    EXPECT_EQ(sets[0].outcome, "repaired (4 blocks), unpacked (1 file)");
    EXPECT_THAT(LogReason(*engine, "Movie.7z.002"), HasSubstr("2 of 4 parts missing"));
    EXPECT_THAT(LogReason(*engine, "Movie.7z.002"),
                HasSubstr("set: repaired (4 blocks), unpacked (1 file)"));
    EXPECT_TRUE(test::ReadFile(Downloaded("Movie.7z.002")) ==
                test::ReadFile(source_.File("Movie.7z.002")));
    EXPECT_EQ(engine->Status().tasks, 0);
}

TEST_F(PostedSet, DamageBeyondTheRecoveryVolumesFailsAndKeepsEveryFile) {
    for (const char* volume : {"Movie.7z.001", "Movie.7z.002", "Movie.7z.003", "Movie.7z.004"}) {
        Lose(volume, 1);
        Lose(volume, 2);
    }
    auto engine = GrabTheSet();

    const std::vector<ProcessedSet> sets = events_.sets();
    ASSERT_EQ(sets.size(), 1u);
    EXPECT_TRUE(sets[0].failed);
    EXPECT_TRUE(sets[0].damaged);
    EXPECT_THAT(sets[0].outcome, StartsWith("failed: not repairable: "));
    EXPECT_THAT(sets[0].outcome, HasSubstr("8 left to fetch"));
    EXPECT_THAT(LogReason(*engine, "Movie.par2"), HasSubstr(sets[0].outcome));
    EXPECT_FALSE(fs::exists(Downloaded("Movie.mkv")));
    // Nothing fetched that could not help; every file with holes kept at its full size.
    EXPECT_EQ(FilesFetched().size(), 6u);
    for (const char* volume : {"Movie.7z.001", "Movie.7z.004"})
        EXPECT_EQ(fs::file_size(Downloaded(volume)), 100u * 1024) << volume;
    EXPECT_TRUE(fs::exists(Downloaded("Movie.7z.005")));
    EXPECT_TRUE(fs::exists(Downloaded("Movie.par2")));
}

// Imported from an NZB file, the recovery volumes wait in the queue from the start; one lost
// article (two blocks) fetches the one volume that brings two.
TEST_F(PostedSet, AnImportedNzbHoldsTheRecoveryVolumesUntilARepairNeedsThem) {
    Lose("Movie.7z.003", 1);
    Configure(server_, {}, [&](Settings& s) {
        s.ConnectionRetries = 0;
        s.BaseDir = home_.File("downloads");
    });
    test::WriteFile(home_.File("Movie.nzb"), Nzb());
    auto engine = OpenEngine();
    ASSERT_EQ(engine->ImportNzb(home_.File("Movie.nzb")).count, 10);
    int held = 0;
    for (const Attachment& entry : Rows(*engine, "queue"))
        held += entry.state == StateHeld;
    EXPECT_EQ(held, 4);

    ASSERT_TRUE(engine->StartDownloads().ok);
    engine->WaitForWorkers();
    const std::vector<ProcessedSet> sets = events_.sets();
    ASSERT_EQ(sets.size(), 1u);
    EXPECT_EQ(sets[0].outcome, "repaired (2 blocks), unpacked (1 file)");
    EXPECT_TRUE(test::ReadFile(sets[0].dir + "/Movie.mkv") == original_);
    const std::set<std::string> fetched = FilesFetched();
    EXPECT_TRUE(fetched.count("Movie.vol1+2.par2"));
    EXPECT_EQ(fetched.size(), 7u);
    EXPECT_EQ(engine->Status().tasks, 0);
}

// A par2 that never ends: Stop ends it at once, and the held volumes are queued again, so
// the next run fetches them and verifies the set anew.
TEST_F(PostedSet, StopEndsARunningPar2AndQueuesTheHeldVolumesAgain) {
    test::TempDir bin;
    test::WriteFile(bin.File("par2"), "#!/bin/sh\nexec sleep 60\n");
    fs::permissions(bin.File("par2"), fs::perms::owner_all);
    const std::string path = std::getenv("PATH");
    ::setenv("PATH", (bin.path() + ":" + path).c_str(), 1);
    Configure(server_, {kGroup});
    auto engine = OpenEngine();
    ScanToEnd(*engine, kGroup);
    ASSERT_EQ(engine->Grab(kGroup, "", false).count, 10);
    const auto verifying = [&] {
        for (const SlotStatus& slot : engine->Status().slots)
            if (slot.status == "Movie: verifying...")
                return true;
        return false;
    };
    for (int i = 0; i < 500 && !verifying(); ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    ASSERT_TRUE(verifying());

    engine->StopAll();
    EXPECT_TRUE(engine->WaitIdle(std::chrono::seconds(5)));
    ::setenv("PATH", path.c_str(), 1);
    EXPECT_TRUE(events_.sets().empty());
    int queued = 0;
    for (const Attachment& entry : Rows(*engine, "queue"))
        queued += entry.state == StateQueued;
    EXPECT_EQ(queued, 4);
}

}  // namespace
}  // namespace qs
