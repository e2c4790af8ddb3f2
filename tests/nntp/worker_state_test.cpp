#include "nntp/worker_state.h"

#include <gtest/gtest.h>

#include <atomic>
#include <memory>
#include <thread>

namespace qs {
namespace {

using namespace std::chrono_literals;

TEST(WorkerState, SettingsAreASnapshotThatTheSlotsFollow) {
    Settings settings;
    settings.Thread[4] = 0;
    settings.SocketTimeout = 7;
    settings.SocketsGracefully = 0;
    WorkerState state(std::make_shared<const Settings>(settings), nullptr);
    EXPECT_TRUE(state.slot(0).enabled);
    EXPECT_FALSE(state.slot(4).enabled);
    SocketOptions options = SocketOptionsFrom(*state.settings());
    EXPECT_EQ(options.timeout_seconds, 7);
    EXPECT_FALSE(options.gracefully);

    // A worker's snapshot stays as it was while new settings are swapped in.
    std::shared_ptr<const Settings> held = state.settings();
    settings.Thread[0] = 0;
    settings.Thread[4] = 1;
    settings.SocketTimeout = 30;
    state.SetSettings(std::make_shared<const Settings>(settings));
    EXPECT_EQ(held->SocketTimeout, 7);
    EXPECT_EQ(state.settings()->SocketTimeout, 30);
    EXPECT_FALSE(state.slot(0).enabled);
    EXPECT_TRUE(state.slot(4).enabled);
    EXPECT_THROW(state.slot(kThreadSlots), std::out_of_range);

    // No snapshot at all is the defaults.
    WorkerState defaults(nullptr, nullptr);
    EXPECT_EQ(defaults.settings()->SocketTimeout, Settings().SocketTimeout);
}

TEST(WorkerState, PoolRunsOneWorkerPerSlotAndClearsAnOldStopRequest) {
    WorkerState state(std::make_shared<const Settings>(), nullptr);
    state.SetDownloading(true);
    state.RequestStop(2);  // asked of an earlier task
    std::atomic<bool> saw_stop{true};
    std::atomic<bool> release{false};
    ASSERT_TRUE(state.Launch(2, [&] {
        saw_stop = state.slot(2).stop_requested();
        while (!release)
            std::this_thread::sleep_for(1ms);
    }));
    EXPECT_TRUE(state.slot(2).busy);
    EXPECT_TRUE(state.AnyAlive());
    EXPECT_FALSE(state.Launch(2, [] {}));  // one worker per slot
    EXPECT_FALSE(state.WaitIdle(20ms));

    // A stop of the slot reaches the running task once and is taken by it.
    state.RequestStop(2);
    EXPECT_TRUE(state.slot(2).stop_requested());
    EXPECT_FALSE(state.ShouldContinue(2));
    EXPECT_TRUE(state.ShouldContinue(3));
    EXPECT_TRUE(state.TakeStopRequest(2));
    EXPECT_FALSE(state.TakeStopRequest(2));
    release = true;
    EXPECT_TRUE(state.WaitIdle(60s));
    EXPECT_FALSE(saw_stop);
    EXPECT_FALSE(state.slot(2).busy);
    EXPECT_FALSE(state.AnyAlive());

    // The slot takes a new worker once the last one ended.
    std::atomic<int> runs{0};
    ASSERT_TRUE(state.Launch(2, [&] { ++runs; }));
    state.JoinAll();
    EXPECT_EQ(runs.load(), 1);
}

TEST(WorkerState, PauseHoldsWorkersUntilResumedOrStopped) {
    WorkerState state(std::make_shared<const Settings>(), nullptr);
    state.SetDownloading(true);
    EXPECT_TRUE(state.WaitWhilePaused(0));  // not paused: at once

    state.SetPaused(true);
    std::atomic<int> passed{0};
    std::vector<std::thread> workers;
    std::atomic<bool> results[2] = {false, false};
    for (int i = 0; i < 2; ++i) {
        workers.emplace_back([&, i] {
            results[i] = state.WaitWhilePaused(i);
            passed.fetch_add(1);
        });
    }
    std::this_thread::sleep_for(50ms);
    EXPECT_EQ(passed.load(), 0);
    state.RequestStop(1);  // only slot 1 leaves, told to stop
    workers[1].join();
    EXPECT_FALSE(results[1]);
    EXPECT_EQ(passed.load(), 1);
    state.SetPaused(false);
    workers[0].join();
    EXPECT_TRUE(results[0]);

    state.SetPaused(true);
    std::thread held([&] { results[0] = state.WaitWhilePaused(0); });
    state.StopAll();
    held.join();
    EXPECT_FALSE(results[0]);
}

TEST(WorkerState, SleepEndsEarlyWhenTheWorkStops) {
    WorkerState state(std::make_shared<const Settings>(), nullptr);
    state.SetDownloading(true);
    EXPECT_TRUE(state.SleepUnlessStopped(0, 10ms));
    std::thread stopper([&] {
        std::this_thread::sleep_for(20ms);
        state.SetDownloading(false);
    });
    EXPECT_FALSE(state.SleepUnlessStopped(0, 60s));
    stopper.join();
}

TEST(WorkerState, SlotValuesAreSharedSafelyBetweenThreads) {
    WorkerState state(std::make_shared<const Settings>(), nullptr);
    ThreadSlot& slot = state.slot(5);
    std::vector<std::string> heard;
    slot.status.SetListener([&](const std::string& text) { heard.push_back(text); });
    std::thread worker([&] {
        for (int i = 0; i < 1000; ++i) {
            slot.received_bytes.fetch_add(10);
            slot.StepProgress();
            slot.status.Set("Part " + std::to_string(i));
        }
    });
    int64_t seen = 0;
    for (int i = 0; i < 100; ++i) {
        seen = std::max(seen, slot.received_bytes.exchange(0) + seen);
        std::string text = slot.status.Get();
        EXPECT_TRUE(text.empty() || text.rfind("Part ", 0) == 0);
    }
    worker.join();
    EXPECT_EQ(slot.progress.load(), 1000);
    EXPECT_EQ(heard.size(), 1000u);
    EXPECT_EQ(heard.back(), "Part 999");
}

}  // namespace
}  // namespace qs
