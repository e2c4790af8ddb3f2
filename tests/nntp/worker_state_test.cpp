#include "nntp/worker_state.h"

#include <gtest/gtest.h>

#include <thread>

namespace qs {
namespace {

using namespace std::chrono_literals;

TEST(WorkerState, TakesTheValuesWorkersReadFromTheSettings) {
    Settings settings;
    settings.Thread[4] = 0;
    settings.SocketTimeout = 7;
    settings.SocketsGracefully = 0;
    settings.SpeedUse = 1;
    settings.SpeedVal = 300;
    WorkerState state(settings, nullptr);
    EXPECT_TRUE(state.slot(0).enabled);
    EXPECT_FALSE(state.slot(4).enabled);
    EXPECT_EQ(state.socket_options().timeout_seconds.load(), 7);
    EXPECT_FALSE(state.socket_options().gracefully.load());
    EXPECT_EQ(state.speed_limit_kbps.load(), 300);
    settings.SpeedUse = 0;
    state.ApplySettings();
    EXPECT_EQ(state.speed_limit_kbps.load(), 0);
    EXPECT_THROW(state.slot(kThreadSlots), std::out_of_range);
}

TEST(WorkerState, PauseHoldsWorkersUntilResumedOrStopped) {
    Settings settings;
    WorkerState state(settings, nullptr);
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
    Settings settings;
    WorkerState state(settings, nullptr);
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
    Settings settings;
    WorkerState state(settings, nullptr);
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
