#include "engine/engine.h"

#include <algorithm>
#include <chrono>
#include <optional>

#include "app/debug_log.h"
#include "app/home_dir.h"
#include "app/output_files.h"

namespace qs {

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

    downloads_ = std::make_unique<DownloadShared>(workers_, *scans_, queue_, log_);
    downloads_->group_database =
        [this](const std::string& name) -> std::shared_ptr<HeaderDatabase> {
        Group* group = FindGroup(name);
        return group ? GroupDatabase(*group) : nullptr;
    };
    downloads_->scan_target = [this](const std::string& name) -> std::optional<ScanTarget> {
        Group* group = FindGroup(name);
        if (!group)
            return std::nullopt;
        ScanTarget target;
        target.db = GroupDatabase(*group);
        target.group = *group;
        target.start_article = target.db ? target.db->HighestArticleId() : 0;
        // A scan queued by an earlier run finds an empty server work list.
        std::lock_guard lock(workers_.queue_mutex());
        if (scans_->servers.empty()) {
            for (size_t i = 0; i < settings_.servers.size(); ++i)
                scans_->servers.push_back(static_cast<int>(i));
        }
        return target;
    };
    downloads_->import_nzb = [this](const std::string& path) { ImportNzb(path); };
    // Entries a killed run left marked downloading are queued again, but only by the one
    // engine that owns the queue: another process on the same home may be downloading them.
    if (queue_owner_.TryLock(JoinPath(startup_.home_dir, "queue.lock")))
        RequeueInterrupted(*queue_);
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
    std::lock_guard lock(groups_mutex_);
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

int Engine::EnqueueAttachments(const std::string& name, const std::string& filter,
                               bool open_after) {
    Group* group = FindGroup(name);
    if (!group)
        return -1;
    std::shared_ptr<HeaderDatabase> db = GroupDatabase(*group);
    if (!db || !queue_)
        return 0;
    // The view's own filter is what the user sees; it comes back once the rows are read.
    const std::string shown_filter = db->filter();
    db->SetFilter(filter);
    std::vector<Attachment> rows;
    const int64_t count = db->CountRows();
    for (int64_t row = 0; row < count; ++row) {
        if (row % 500 == 0)
            db->FillRowCache(row, std::min<int64_t>(500, count - row));
        Attachment a;
        if (!db->AttachmentAt(row, a))
            break;
        rows.push_back(std::move(a));
    }
    db->SetFilter(shown_filter);
    int queued = 0;
    {
        DbBatch queue_batch(queue_);
        for (Attachment& a : rows) {
            if (open_after)
                downloads_->AddOpenAfter(a.Id);
            if (a.state == StateQueued || a.state == StateDownloading)
                continue;
            a.state = StateQueued;
            db->LoadParts(a);
            if (a.dir.empty())
                a.dir = group->downloaddir.empty() ? DownloadDirFor(a.newsgroup, settings_)
                                                   : group->downloaddir;
            if (a.newsgroup.empty())
                a.newsgroup = group->name;
            queue_->StoreAttachment(nullptr, a);
            if (open_after) {
                queue_->Flush();
                queue_->MoveRowToTop(queue_->CountRows() - 1);
            }
            db->SetAttachmentState(a);
            ++queued;
        }
    }
    queue_->Flush();
    host_.Refresh();
    return queued;
}

void Engine::Autograb(bool scan_only, const std::function<void()>& wait_for_workers,
                      const std::function<void(const std::string&, bool)>& group_done) {
    const int auto_create = settings_.AutoCreateDirs;
    settings_.AutoCreateDirs = 1;
    workers_.SetDownloading(true);
    std::vector<std::string> names;
    for (const auto& g : groups_)
        names.push_back(g->name);
    for (const std::string& name : names) {
        for (int i = 0; i < kThreadSlots; ++i)
            workers_.slot(i).stop_requested.store(false);
        host_.ShowGroup(name);
        scans_->servers_scanned.store(0);
        scans_->servers_failed.store(0);
        // Each group's scan ends before the next starts: workers still busy with one group
        // would otherwise take the servers queued for the next and scan their own again.
        StartScan(name);
        wait_for_workers();
        if (group_done)
            group_done(name, scans_->servers_scanned.load() > 0);
        if (!workers_.downloading())
            break;
        if (!scan_only && EnqueueAttachments(name, "", false) > 0) {
            host_.Refresh();
            StartDownloads();
            wait_for_workers();
        }
        if (!workers_.downloading())
            break;
    }
    settings_.AutoCreateDirs = auto_create;
}

int Engine::StartDownloads() {
    if (!downloads_)
        return 0;
    downloads_->start_requested.store(false);
    return StartDownloadWorkers(*downloads_);
}

NzbImportResult Engine::ImportNzb(const std::string& path) {
    NzbImportResult result = ImportNzbFile(path, queue_.get(), settings_, host_);
    host_.Refresh();
    return result;
}

void Engine::SetSlotEnabled(int slot, bool enabled) {
    if (slot < 0 || slot >= kThreadSlots)
        return;
    settings_.Thread[slot] = enabled ? 1 : 0;
    workers_.slot(slot).enabled.store(enabled);
    if (enabled && downloads_ && WorkersAlive() && workers_.downloading())
        StartDownloadWorker(*downloads_, slot);
}

void Engine::PauseTasks() {
    bool pause = !workers_.paused();
    workers_.SetPaused(pause);
    if (pause) {
        for (int i = 0; i < kThreadSlots; ++i) {
            if (workers_.slot(i).busy.load())
                workers_.slot(i).status.Set("Paused...");
        }
    }
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
    int64_t now = WorkerState::NowMillis();
    int64_t elapsed = now - workers_.interval_start_ms.exchange(now);
    if (elapsed <= 0)
        elapsed = 1;
    int speed = static_cast<int>(bytes / elapsed);  // bytes per millisecond, about KB/s
    workers_.smoothed_speed.store((workers_.smoothed_speed.load() + speed) / 2);
    if (downloads_ && downloads_->start_requested.exchange(false) && workers_.downloading())
        StartDownloadWorkers(*downloads_);
    return bytes;
}

bool Engine::SaveSettings() {
    settings_.groups.clear();
    for (const auto& g : groups_)
        settings_.groups.push_back({g->name, g->downloaddir, g->lastscanned});
    return qs::SaveSettings(settings_, startup_.settings_path);
}

}  // namespace qs
