#include "nntp/worker_state.h"

#include "app/thread_priority.h"

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

void SlotConnectionRelease::operator()(NntpSocket* connection) const {
    if (slot)
        slot->DetachConnection(connection);
    delete connection;
}

SocketOptions SocketOptionsFrom(const Settings& settings) {
    SocketOptions options;
    options.timeout_seconds = settings.SocketTimeout;
    options.gracefully = settings.SocketsGracefully != 0;
    return options;
}

WorkerState::WorkerState(std::shared_ptr<const Settings> settings, Host* host) : host_(host) {
    SetSettings(settings ? std::move(settings) : std::make_shared<const Settings>());
}

WorkerState::~WorkerState() {
    StopAll();
    JoinAll();
}

std::shared_ptr<const Settings> WorkerState::settings() const {
    std::lock_guard lock(settings_mutex_);
    return settings_;
}

void WorkerState::SetSettings(std::shared_ptr<const Settings> settings) {
    for (int i = 0; i < kThreadSlots; ++i)
        slots_[static_cast<size_t>(i)].enabled.store(settings->Thread[i] != 0);
    std::lock_guard lock(settings_mutex_);
    settings_ = std::move(settings);
}

void WorkerState::SetStatusListener(StatusListener listener) {
    for (int i = 0; i < kThreadSlots; ++i) {
        StatusText::Listener forward;
        if (listener)
            forward = [listener, i](const std::string& text) { listener(i, text); };
        slots_[static_cast<size_t>(i)].status.SetListener(std::move(forward));
    }
}

int64_t WorkerState::NowMillis() {
    using namespace std::chrono;
    return duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count();
}

void WorkerState::ThrottleIfOverLimit(int slot_index, int limit_kbps) {
    if (limit_kbps <= 0)
        return;
    // Callers come once per line or once per receive (up to 256 KiB), so the sleep lasts
    // until the rate is back under the limit rather than a fixed time per call.
    for (;;) {
        int64_t elapsed = NowMillis() - interval_start_ms.load();
        if (elapsed <= 0)
            elapsed = 1;
        int64_t bytes = 0;
        for (const ThreadSlot& s : slots_)
            bytes += s.received_bytes.load(std::memory_order_relaxed);
        const int64_t rate = bytes / elapsed;  // bytes per millisecond, about KB/s
        if ((rate + smoothed_speed.load()) / 2 <= limit_kbps || !downloading())
            return;
        SleepUnlessStopped(slot_index, std::chrono::milliseconds(50));
    }
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
    return downloading_.load() && s.enabled.load() && !s.stop_requested();
}

bool WorkerState::WaitWhilePaused(int slot_index) {
    ThreadSlot& s = slot(slot_index);
    std::unique_lock lock(wait_mutex_);
    wait_cv_.wait(lock,
                  [&] { return !paused_.load() || !downloading_.load() || s.stop_requested(); });
    return downloading_.load() && !s.stop_requested();
}

bool WorkerState::SleepUnlessStopped(int slot_index, std::chrono::milliseconds duration) {
    ThreadSlot& s = slot(slot_index);
    std::unique_lock lock(wait_mutex_);
    return !wait_cv_.wait_for(lock, duration,
                              [&] { return !downloading_.load() || s.stop_requested(); });
}

bool WorkerState::Launch(int slot_index, std::function<void()> body) {
    ThreadSlot& s = slot(slot_index);
    std::lock_guard pool(pool_mutex_);
    if (s.busy.load())
        return false;
    if (s.worker_.joinable())
        s.worker_.join();  // a finished worker of an earlier task
    s.stop_requested_.store(false);
    s.busy.store(true);
    s.worker_ = std::thread([this, &s, body = std::move(body)] {
        LowerThreadPriority();
        body();
        {
            std::lock_guard lock(wait_mutex_);
            s.busy.store(false);
        }
        idle_cv_.notify_all();
    });
    return true;
}

bool WorkerState::AnyAlive() const {
    for (const ThreadSlot& s : slots_) {
        if (s.busy.load())
            return true;
    }
    return false;
}

bool WorkerState::WaitIdle(std::chrono::milliseconds bound) {
    {
        std::unique_lock lock(wait_mutex_);
        idle_cv_.wait_for(lock, bound, [&] { return !AnyAlive(); });
    }
    std::lock_guard pool(pool_mutex_);
    for (ThreadSlot& s : slots_) {
        if (!s.busy.load() && s.worker_.joinable())
            s.worker_.join();
    }
    return !AnyAlive();
}

void WorkerState::JoinAll() {
    std::lock_guard pool(pool_mutex_);
    for (ThreadSlot& s : slots_) {
        if (s.worker_.joinable())
            s.worker_.join();
    }
}

void WorkerState::RequestStop(int slot_index) {
    ThreadSlot& s = slot(slot_index);
    s.stop_requested_.store(true);
    s.ShutdownConnection();
    Wake();
}

void WorkerState::StopAll() {
    downloading_.store(false);
    for (ThreadSlot& s : slots_) {
        s.stop_requested_.store(true);
        s.ShutdownConnection();
    }
    Wake();
}

bool WorkerState::TakeStopRequest(int slot_index) {
    return slot(slot_index).stop_requested_.exchange(false);
}

}  // namespace qs
