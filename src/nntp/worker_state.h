#pragma once

#include <array>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
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
    std::atomic<bool> stop_requested{false};
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

    // The worker thread; started, joined and detached only by the controlling thread.
    std::thread worker;

    // The connection field. The worker registers its connection; the destructor of the
    // connection clears the field, so a stop never reaches a destroyed object.
    void AttachConnection(NntpSocket* connection);
    void DetachConnection(NntpSocket* connection);
    bool has_connection() const;
    // Wakes the connection's blocked receive (shutdown(2)); the worker closes it.
    void ShutdownConnection();

  private:
    mutable std::mutex connection_mutex_;
    NntpSocket* connection_ = nullptr;
};

// What every worker reaches: the settings, the six slots, the downloading and paused flags,
// the queue lock and the host for messages. The controlling thread owns it; workers get a
// reference.
class WorkerState {
  public:
    WorkerState(Settings& settings, Host* host);
    WorkerState(const WorkerState&) = delete;
    WorkerState& operator=(const WorkerState&) = delete;

    Settings& settings() { return settings_; }
    const Settings& settings() const { return settings_; }
    Host* host() const { return host_; }
    ThreadSlot& slot(int index) { return slots_.at(static_cast<size_t>(index)); }
    const SocketOptions& socket_options() const { return socket_options_; }

    // Copies the values workers read while running (slot enabled flags, socket time-out and
    // graceful close, speed limit) from the settings. Call after loading or changing them.
    void ApplySettings();
    void SetSocketsGracefully(bool on) { socket_options_.gracefully.store(on); }

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

    // The stop button of one slot: sets its stop request and wakes its connection.
    void RequestStop(int slot);
    // Stop and closing: clears the downloading flag and wakes every slot's connection.
    void StopAll();

    // Held while a worker takes the head of the queue or a server from the scan work list.
    std::mutex& queue_mutex() { return queue_mutex_; }

    // The speed limit in KB/s (0: none) and the figures the one-second timer keeps.
    std::atomic<int> speed_limit_kbps{0};
    std::atomic<int64_t> interval_start_ms{0};
    std::atomic<int> smoothed_speed{0};

    // Milliseconds of a steady clock, the unit of interval_start_ms.
    static int64_t NowMillis();
    // Starts a new speed interval now (a scan or download start, and every timer tick).
    void StartInterval() { interval_start_ms.store(NowMillis()); }
    // The speed limit over all slots: while the average of the interval's rate and the
    // smoothed speed is above the limit, the calling worker sleeps 50 ms.
    void ThrottleIfOverLimit(int slot);

  private:
    void Wake();

    Settings& settings_;
    Host* host_;
    std::array<ThreadSlot, kThreadSlots> slots_;
    SocketOptions socket_options_;
    std::atomic<bool> downloading_{false};
    std::atomic<bool> paused_{false};
    std::mutex wait_mutex_;
    std::condition_variable wait_cv_;
    std::mutex queue_mutex_;
};

}  // namespace qs
