#include "nntp/worker_state.h"

namespace qs {

void StatusText::Set(std::string text) {
    Listener listener;
    {
        std::lock_guard lock(mutex_);
        text_ = std::move(text);
        listener = listener_;
    }
    if (listener)
        listener(Get());
}

std::string StatusText::Get() const {
    std::lock_guard lock(mutex_);
    return text_;
}

void StatusText::SetListener(Listener listener) {
    std::lock_guard lock(mutex_);
    listener_ = std::move(listener);
}

void ThreadSlot::AttachConnection(NntpSocket* connection) {
    std::lock_guard lock(connection_mutex_);
    connection_ = connection;
    if (connection)
        connection->set_slot(this);
}

void ThreadSlot::DetachConnection(NntpSocket* connection) {
    std::lock_guard lock(connection_mutex_);
    if (connection_ == connection)
        connection_ = nullptr;
}

bool ThreadSlot::has_connection() const {
    std::lock_guard lock(connection_mutex_);
    return connection_ != nullptr;
}

void ThreadSlot::ShutdownConnection() {
    std::lock_guard lock(connection_mutex_);
    if (connection_)
        connection_->Shutdown();
}

WorkerState::WorkerState(Settings& settings, Host* host) : settings_(settings), host_(host) {
    ApplySettings();
}

int64_t WorkerState::NowMillis() {
    using namespace std::chrono;
    return duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count();
}

void WorkerState::ThrottleIfOverLimit(int slot_index) {
    const int limit = speed_limit_kbps.load();
    if (limit <= 0)
        return;
    int64_t elapsed = NowMillis() - interval_start_ms.load();
    if (elapsed <= 0)
        elapsed = 1;
    int64_t bytes = 0;
    for (const ThreadSlot& s : slots_)
        bytes += s.received_bytes.load(std::memory_order_relaxed);
    const int64_t rate = bytes / elapsed;  // bytes per millisecond, about KB/s
    if ((rate + smoothed_speed.load()) / 2 > limit && downloading())
        SleepUnlessStopped(slot_index, std::chrono::milliseconds(50));
}

void WorkerState::ApplySettings() {
    for (int i = 0; i < kThreadSlots; ++i)
        slots_[static_cast<size_t>(i)].enabled.store(settings_.Thread[i] != 0);
    socket_options_.timeout_seconds.store(settings_.SocketTimeout);
    socket_options_.gracefully.store(settings_.SocketsGracefully != 0);
    speed_limit_kbps.store(settings_.SpeedUse ? settings_.SpeedVal : 0);
}

void WorkerState::Wake() {
    // Taking the lock orders the flag change before any waiter's next check.
    { std::lock_guard lock(wait_mutex_); }
    wait_cv_.notify_all();
}

void WorkerState::SetDownloading(bool on) {
    downloading_.store(on);
    Wake();
}

void WorkerState::SetPaused(bool on) {
    paused_.store(on);
    Wake();
}

bool WorkerState::ShouldContinue(int slot_index) {
    ThreadSlot& s = slot(slot_index);
    return downloading_.load() && s.enabled.load() && !s.stop_requested.load();
}

bool WorkerState::WaitWhilePaused(int slot_index) {
    ThreadSlot& s = slot(slot_index);
    std::unique_lock lock(wait_mutex_);
    wait_cv_.wait(
        lock, [&] { return !paused_.load() || !downloading_.load() || s.stop_requested.load(); });
    return downloading_.load() && !s.stop_requested.load();
}

bool WorkerState::SleepUnlessStopped(int slot_index, std::chrono::milliseconds duration) {
    ThreadSlot& s = slot(slot_index);
    std::unique_lock lock(wait_mutex_);
    return !wait_cv_.wait_for(lock, duration,
                              [&] { return !downloading_.load() || s.stop_requested.load(); });
}

void WorkerState::RequestStop(int slot_index) {
    ThreadSlot& s = slot(slot_index);
    s.stop_requested.store(true);
    s.ShutdownConnection();
    Wake();
}

void WorkerState::StopAll() {
    downloading_.store(false);
    for (ThreadSlot& s : slots_)
        s.ShutdownConnection();
    Wake();
}

}  // namespace qs
