#pragma once

#include <array>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

#include "app/host.h"
#include "app/settings.h"
#include "nntp/nntp_socket.h"

namespace qs {

// A status line that a worker writes and the front end reads. An optional listener hears
// every change on the writing thread (the front end uses it to schedule a repaint).
class StatusText {
  public:
    using Listener = std::function<void(const std::string&)>;

    void Set(std::string text);
    std::string Get() const;
    void SetListener(Listener listener);

  private:
    mutable std::mutex mutex_;
    std::string text_;
    Listener listener_;
};

// One of the six worker positions. Flags and counters are atomics because the front end
// reads and sets them while the slot's worker runs.
class ThreadSlot {
  public:
    std::atomic<bool> enabled{true};
    std::atomic<int64_t> received_bytes{0};  // bytes since the last timer tick
    std::atomic<int> server_index{0};        // into the enabled server list
    std::atomic<bool> busy{false};           // a worker runs on this slot
    StatusText status;

    // The progress bar: a range and a position.
    std::atomic<int> progress_range{100};
    std::atomic<int> progress{0};
    void ResetProgress(int range) {
        progress_range.store(range);
        progress.store(0);
    }
    void StepProgress() { progress.fetch_add(1); }

    // A stop of this slot's current task was asked for (the slot's stop button, or Stop).
    // Set by WorkerState::RequestStop, cleared by WorkerState::TakeStopRequest and by a
    // worker's launch; workers only read it.
    bool stop_requested() const { return stop_requested_.load(); }

    // The connection field. The worker registers its connection; the connection's handle
    // (SlotConnection) clears the field before the socket goes, so a stop never reaches a
    // destroyed object.
    void AttachConnection(NntpSocket* connection);
    void DetachConnection(NntpSocket* connection);
    bool has_connection() const;
    // Wakes the connection's blocked receive (shutdown(2)); the worker closes it.
    void ShutdownConnection();

  private:
    friend class WorkerState;
    std::atomic<bool> stop_requested_{false};
    std::thread worker_;  // started, joined only by WorkerState's pool functions
    mutable std::mutex connection_mutex_;
    NntpSocket* connection_ = nullptr;
};

// Deletes a slot's connection, taking it out of the slot's connection field first.
struct SlotConnectionRelease {
    ThreadSlot* slot = nullptr;
    void operator()(NntpSocket* connection) const;
};
// A worker's connection: registered in its slot for as long as it lives.
using SlotConnection = std::unique_ptr<NntpSocket, SlotConnectionRelease>;

// What every worker reaches: the settings snapshot, the six slots and their threads, the
// downloading and paused flags, the queue lock and the host for messages. The engine owns
// it; workers get a reference.
//
// Settings are an immutable snapshot: a worker takes settings() when it starts an
// operation (a part, a scan pass) and keeps that copy; SetSettings swaps in a new one for
// the next operation, so an options dialog never races a running worker.
class WorkerState {
  public:
    WorkerState(std::shared_ptr<const Settings> settings, Host* host);
    ~WorkerState();
    WorkerState(const WorkerState&) = delete;
    WorkerState& operator=(const WorkerState&) = delete;

    std::shared_ptr<const Settings> settings() const;
    // Swaps the snapshot; the slots' enabled flags follow its Thread switches.
    void SetSettings(std::shared_ptr<const Settings> settings);
    Host* host() const { return host_; }
    ThreadSlot& slot(int index) { return slots_.at(static_cast<size_t>(index)); }
    const ThreadSlot& slot(int index) const { return slots_.at(static_cast<size_t>(index)); }

    // Hears every slot's status text (on the writing thread); null for none. Set before
    // workers start.
    using StatusListener = std::function<void(int slot, const std::string& text)>;
    void SetStatusListener(StatusListener listener);

    bool downloading() const { return downloading_.load(); }
    void SetDownloading(bool on);
    bool paused() const { return paused_.load(); }
    void SetPaused(bool on);

    // Blocks while paused; returns at once when the work is stopped (downloading cleared, or
    // the slot's stop requested). Returns true when the work may go on.
    bool WaitWhilePaused(int slot);
    // Sleeps, but wakes early when the work of the slot is stopped. True when it slept fully.
    bool SleepUnlessStopped(int slot, std::chrono::milliseconds duration);
    // True while the slot should keep working: downloading, enabled and not asked to stop.
    bool ShouldContinue(int slot);

    // --- The worker pool: the only place that starts, joins and stops workers. ---

    // Starts `body` on the slot's own thread at the lowest priority, unless a worker runs
    // there. Clears the slot's stop request first; `busy` is true until the body returns.
    // Controlling thread only.
    bool Launch(int slot, std::function<void()> body);
    // True while any slot has a live worker.
    bool AnyAlive() const;
    // Waits up to `bound` for every worker to end and joins those that did; true when none
    // is left alive.
    bool WaitIdle(std::chrono::milliseconds bound);
    // Joins every worker, however long that takes.
    void JoinAll();
    // The stop button of one slot: asks its current task to stop and wakes its connection.
    void RequestStop(int slot);
    // Stop and closing: clears the downloading flag, asks every slot to stop and wakes
    // every slot's connection.
    void StopAll();
    // A worker at the end of a task: true (and the request cleared) when the slot was asked
    // to stop it, so the next task starts afresh.
    bool TakeStopRequest(int slot);

    // Held while a worker takes a server from a scan's work list.
    std::mutex& queue_mutex() { return queue_mutex_; }

    // The figures the one-second timer keeps.
    std::atomic<int64_t> interval_start_ms{0};
    std::atomic<int> smoothed_speed{0};

    // Milliseconds of a steady clock, the unit of interval_start_ms.
    static int64_t NowMillis();
    // Starts a new speed interval now (a scan or download start, and every timer tick).
    void StartInterval() { interval_start_ms.store(NowMillis()); }
    // The speed limit over all slots (KB/s, 0: none): while the average of the interval's
    // rate and the smoothed speed is above it, the calling worker sleeps, 50 ms at a time.
    void ThrottleIfOverLimit(int slot, int limit_kbps);

  private:
    void Wake();

    mutable std::mutex settings_mutex_;
    std::shared_ptr<const Settings> settings_;
    Host* host_;
    std::array<ThreadSlot, kThreadSlots> slots_;
    std::atomic<bool> downloading_{false};
    std::atomic<bool> paused_{false};
    std::mutex wait_mutex_;
    std::condition_variable wait_cv_;
    std::condition_variable idle_cv_;  // with wait_mutex_: a worker ended
    std::mutex pool_mutex_;            // the slots' thread objects: launched and joined under it
    std::mutex queue_mutex_;
};

// The socket options of a settings snapshot: time-out and whether Close says QUIT.
SocketOptions SocketOptionsFrom(const Settings& settings);

}  // namespace qs
