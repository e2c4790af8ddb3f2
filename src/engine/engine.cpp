#include "engine/engine.h"

#include <chrono>

#include "app/debug_log.h"
#include "app/home_dir.h"

namespace qs {

namespace {
int64_t NowMillis() {
    using namespace std::chrono;
    return duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count();
}
}  // namespace

Engine::Engine(StartupContext startup, Host& host)
    : startup_(std::move(startup)), host_(host), workers_(settings_, &host_) {}

Engine::~Engine() {
    Stop();
    WaitForWorkers();
}

bool Engine::Open() {
    settings_ = LoadSettings(startup_.settings_path);
    workers_.ApplySettings();
    db_env_.data_dir = JoinPath(startup_.home_dir, "data");
    db_env_.host = &host_;
    db_env_.settings = &settings_;
    if (!MakeDirectories(db_env_.data_dir, 0700)) {
        host_.ShowMessage("Cannot create the data directory " + db_env_.data_dir, Host::Icon::Stop);
        return false;
    }
    queue_ = HeaderDatabase::Open(db_env_, "queue");
    log_ = HeaderDatabase::Open(db_env_, "log");
    if (!queue_ || !log_)
        return false;
    scans_ = std::make_unique<ScanShared>(workers_, queue_);
    LoadGroups();
    return true;
}

void Engine::LoadGroups() {
    groups_.clear();
    for (const auto& entry : settings_.groups) {
        auto group = std::make_unique<Group>();
        group->name = entry.name;
        group->downloaddir = entry.downloaddir;
        group->lastscanned = entry.lastscanned;
        group->state = 1;
        groups_.push_back(std::move(group));
    }
}

Group* Engine::FindGroup(const std::string& name) {
    for (auto& g : groups_) {
        if (g->name == name)
            return g.get();
    }
    return nullptr;
}

std::shared_ptr<HeaderDatabase> Engine::GroupDatabase(Group& group) {
    if (!group.db)
        OpenHeaderDatabase(group, db_env_);
    return group.db;
}

std::shared_ptr<HeaderDatabase> Engine::ViewDatabase(const std::string& name) {
    if (name == "queue")
        return queue_;
    if (name == "log")
        return log_;
    Group* group = FindGroup(name);
    return group ? GroupDatabase(*group) : nullptr;
}

int Engine::StartScan(const std::string& name) {
    Group* group = FindGroup(name);
    if (!group)
        return -1;
    std::shared_ptr<HeaderDatabase> db = GroupDatabase(*group);
    if (!db)
        return 0;
    return qs::StartScan(*scans_, *group, db);
}

bool Engine::WorkersAlive() {
    for (int i = 0; i < kThreadSlots; ++i) {
        if (workers_.slot(i).busy.load())
            return true;
    }
    return false;
}

void Engine::WaitForWorkers() {
    for (int i = 0; i < kThreadSlots; ++i) {
        ThreadSlot& slot = workers_.slot(i);
        if (slot.worker.joinable())
            slot.worker.join();
    }
}

void Engine::Stop() {
    workers_.StopAll();
}

int64_t Engine::Tick() {
    int64_t bytes = 0;
    for (int i = 0; i < kThreadSlots; ++i)
        bytes += workers_.slot(i).received_bytes.exchange(0);
    int64_t now = NowMillis();
    int64_t elapsed = now - workers_.interval_start_ms.exchange(now);
    if (elapsed <= 0)
        elapsed = 1;
    int speed = static_cast<int>(bytes / elapsed);  // bytes per millisecond, about KB/s
    workers_.smoothed_speed.store((workers_.smoothed_speed.load() + speed) / 2);
    return bytes;
}

bool Engine::SaveSettings() {
    settings_.groups.clear();
    for (const auto& g : groups_)
        settings_.groups.push_back({g->name, g->downloaddir, g->lastscanned});
    return qs::SaveSettings(settings_, startup_.settings_path);
}

}  // namespace qs
