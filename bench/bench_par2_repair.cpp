// par2 verify and repair of a finished set: a 500 MB set (ten 50 MB volumes) with 5% of its
// blocks lost, through VerifyPar2Set + RepairPar2Set and RepairPar2Set alone (par2 run at the
// lowest priority, its output parsed) against a plain `par2 repair` of the same set. Making
// the set takes about a minute. QS_BENCH_PAR2_MB sets the size.

#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <random>
#include <string>
#include <vector>

#include "postprocess/par2_repair.h"

extern char** environ;

namespace {

namespace fs = std::filesystem;

constexpr int kVolumes = 10;
constexpr size_t kBlock = 512 * 1024;
constexpr int kRecoveryPercent = 8;  // enough for the 5% lost
constexpr int kLostPercent = 5;

// Runs a program without a shell and waits for it; its exit status, or -1.
int Spawn(const std::string& dir, std::vector<std::string> argv) {
    std::vector<char*> args;
    for (std::string& arg : argv)
        args.push_back(arg.data());
    args.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addchdir_np(&actions, dir.c_str());
    posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, "/dev/null", O_WRONLY, 0);
    pid_t pid;
    const int error = posix_spawnp(&pid, args[0], &actions, nullptr, args.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    int status = 0;
    if (error != 0 || waitpid(pid, &status, 0) < 0)
        return -1;
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

class Par2Set {
  public:
    Par2Set() {
        const char* mb = std::getenv("QS_BENCH_PAR2_MB");
        const size_t total = static_cast<size_t>(mb ? std::atoi(mb) : 500) << 20;
        volume_size_ = total / kVolumes / kBlock * kBlock;
        dir_ = (fs::temp_directory_path() / "qs_bench_par2").string();
        fs::remove_all(dir_);
        fs::create_directories(dir_);
        std::mt19937_64 random(7);
        std::vector<std::string> create = {"par2",
                                           "c",
                                           "-q",
                                           "-q",
                                           "-s" + std::to_string(kBlock),
                                           "-r" + std::to_string(kRecoveryPercent),
                                           "--",
                                           "set.par2"};
        for (int v = 0; v < kVolumes; ++v) {
            const std::string name = "set.part" + std::to_string(v + 10) + ".rar";
            std::vector<uint64_t> words(volume_size_ / 8);
            for (uint64_t& word : words)
                word = random();
            std::ofstream(dir_ + "/" + name, std::ios::binary)
                .write(reinterpret_cast<const char*>(words.data()),
                       static_cast<std::streamsize>(volume_size_));
            volumes_.push_back(name);
            create.push_back(name);
        }
        ok_ = Spawn(dir_, create) == 0;
    }
    ~Par2Set() { fs::remove_all(dir_); }

    // Zeroes kLostPercent of the blocks, spread over every volume, as lost articles leave them.
    void Damage() const {
        const size_t blocks_per_volume = volume_size_ / kBlock;
        const size_t lost = blocks_per_volume * kVolumes * kLostPercent / 100;
        const std::string zeros(kBlock, '\0');
        for (size_t i = 0; i < lost; ++i) {
            std::fstream file(dir_ + "/" + volumes_[i % kVolumes],
                              std::ios::in | std::ios::out | std::ios::binary);
            file.seekp(
                static_cast<std::streamoff>((i / kVolumes * 3 % blocks_per_volume) * kBlock));
            file.write(zeros.data(), static_cast<std::streamsize>(zeros.size()));
        }
    }

    // par2 keeps damaged originals as "name.1".
    void RemoveBackups() const {
        for (const std::string& name : volumes_)
            fs::remove(dir_ + "/" + name + ".1");
    }

    bool ok() const { return ok_; }
    const std::string& dir() const { return dir_; }
    std::string index() const { return dir_ + "/set.par2"; }
    size_t bytes() const { return volume_size_ * kVolumes; }

  private:
    std::string dir_;
    size_t volume_size_ = 0;
    std::vector<std::string> volumes_;
    bool ok_ = false;
};

Par2Set& Set() {
    static Par2Set set;
    return set;
}

// Damages the set, then times one repair of it; the repair says what went wrong, or "".
template <typename RepairRun>
void TimeRepairs(benchmark::State& state, RepairRun repair_run) {
    Par2Set& set = Set();
    if (!set.ok()) {
        state.SkipWithError("par2 create failed");
        return;
    }
    for (auto _ : state) {
        state.PauseTiming();
        set.Damage();
        state.ResumeTiming();
        const std::string error = repair_run(set);
        state.PauseTiming();
        set.RemoveBackups();
        state.ResumeTiming();
        if (!error.empty()) {
            state.SkipWithError(error.c_str());
            return;
        }
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * set.bytes()));
}

// The flow of a set whose recovery volumes are held back: verify (how many blocks are
// needed), then repair. Both run par2 at the lowest priority.
void BM_VerifyAndRepair(benchmark::State& state) {
    TimeRepairs(state, [](const Par2Set& set) -> std::string {
        const auto verification = qs::VerifyPar2Set(set.index(), set.dir());
        if (verification.verdict != qs::Par2Verification::Verdict::repairable)
            return "verify: " + verification.reason;
        const auto repair = qs::RepairPar2Set(set.index(), set.dir());
        return repair.verdict == qs::Par2Repair::Verdict::repaired ? ""
                                                                   : "repair: " + repair.reason;
    });
}

// A set with every file present: one repair run, as PostProcessSet does.
void BM_Repair(benchmark::State& state) {
    TimeRepairs(state, [](const Par2Set& set) -> std::string {
        const auto repair = qs::RepairPar2Set(set.index(), set.dir());
        return repair.verdict == qs::Par2Repair::Verdict::repaired ? ""
                                                                   : "repair: " + repair.reason;
    });
}

// par2 at normal priority, its output thrown away.
void BM_PlainPar2Repair(benchmark::State& state) {
    TimeRepairs(state, [](const Par2Set& set) -> std::string {
        return Spawn(set.dir(), {"par2", "r", "-q", "--", "set.par2"}) == 0 ? ""
                                                                            : "par2 repair failed";
    });
}

BENCHMARK(BM_VerifyAndRepair)->Unit(benchmark::kSecond)->UseRealTime()->Iterations(1);
BENCHMARK(BM_Repair)->Unit(benchmark::kSecond)->UseRealTime()->Iterations(1);
BENCHMARK(BM_PlainPar2Repair)->Unit(benchmark::kSecond)->UseRealTime()->Iterations(1);

}  // namespace

BENCHMARK_MAIN();
