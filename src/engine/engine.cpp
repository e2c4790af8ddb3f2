#include "engine/engine.h"

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <map>
#include <mutex>
#include <optional>
#include <set>
#include <thread>

#include "app/debug_log.h"
#include "app/default_gateways.h"
#include "app/file_lock.h"
#include "app/home_dir.h"
#include "app/output_files.h"
#include "app/text_util.h"
#include "app/thread_priority.h"
#include "articles/article_session.h"
#include "articles/article_text.h"
#include "db/header_db.h"
#include "download/download_queue.h"
#include "download/download_worker.h"
#include "download/nzb_import.h"
#include "engine/event_hub.h"
#include "engine/group_list_reader.h"
#include "engine/shutdown_watcher.h"
#include "nntp/ipv4_addresses.h"
#include "nntp/server_probe.h"
#include "nntp/worker_state.h"
#include "scan/scan_task.h"

namespace qs {

namespace {

std::vector<std::string> Hosts(const Settings& settings) {
    std::vector<std::string> hosts;
    for (const ServerEntry& s : settings.servers)
        hosts.push_back(s.host);
    return hosts;
}

// The small text file that names the queue's owning process; a failure only costs the
// pid in a message.
void WriteTextFile(const std::string& path, const std::string& text) {
    std::ofstream out(path, std::ios::trunc);
    out << text;
}

std::string ReadTextFile(const std::string& path) {
    std::ifstream in(path);
    std::string text;
    std::getline(in, text);
    return text;
}

bool ValidGroupName(const std::string& name) {
    return !name.empty() && name.find_first_of(" \t\r\n/\\") == std::string::npos && name[0] != '.';
}

}  // namespace

class Engine::Impl {
  public:
    Impl(StartupContext startup, Host& host)
        : startup_(std::move(startup)),
          host_(host),
          workers_(nullptr, &host),
          shutdown_watcher_([this] { return Busy(); }, [this] { PowerOffIfAsked(); }) {}

    ~Impl() {
        reader_.RequestStop();
        if (reader_thread_.joinable())
            reader_thread_.join();
        // First, so that the workers ending below never count as the work finishing.
        shutdown_watcher_.Stop();
        StopAll();
        if (autograb_.joinable())
            autograb_.join();
        workers_.JoinAll();
    }

    // --- Opening ---

    bool Fail(bool settings, std::string message) {
        open_error_ = {settings, message};
        host_.ShowMessage(message, Host::Icon::Stop);
        return false;
    }

    bool Open() {
        // The threads a worker starts at normal priority are started from here.
        KeepNormalPriorityHere();
        // A settings file that exists but cannot be read is an error, never an empty
        // configuration that the next save would write over.
        struct stat st;
        if (::stat(startup_.settings_path.c_str(), &st) == 0) {
            if (S_ISDIR(st.st_mode))
                return Fail(true,
                            "cannot read " + startup_.settings_path + ": " + std::strerror(EISDIR));
            std::ifstream probe(startup_.settings_path);
            if (!probe.is_open())
                return Fail(true,
                            "cannot read " + startup_.settings_path + ": " + std::strerror(errno));
        }
        workers_.SetSettings(
            std::make_shared<const Settings>(LoadSettings(startup_.settings_path)));
        workers_.SetStatusListener(
            [this](int slot, const std::string& text) { events_.OnSlotStatus(slot, text); });
        db_env_.data_dir = JoinPath(startup_.home_dir, "data");
        db_env_.host = &host_;
        if (!MakeDirectories(db_env_.data_dir, 0700))
            return Fail(false, "Cannot create the data directory " + db_env_.data_dir);
        std::shared_ptr<HeaderDatabase> queue_db = HeaderDatabase::Open(db_env_, "queue");
        std::shared_ptr<HeaderDatabase> log_db = HeaderDatabase::Open(db_env_, "log");
        if (!queue_db || !log_db) {
            open_error_ = {false, "cannot open the databases in " + db_env_.data_dir};
            return false;
        }
        queue_ = std::make_unique<DownloadQueue>(queue_db, log_db, &events_);
        queue_->SetGroupDatabases([this](const std::string& name) { return GroupDatabase(name); });
        // Recovery volumes wait for a verify of their set only when sets are post-processed.
        queue_->SetHoldRecovery([this] { return settings()->PostProcess != 0; });
        downloads_ = std::make_unique<DownloadShared>(workers_, *queue_);
        downloads_->group_database = [this](const std::string& name) {
            return GroupDatabase(name);
        };
        downloads_->run_scan_entry = [this](const std::string& group, int slot) {
            std::shared_ptr<ScanJob> job = PrepareScan(group, settings()->AutoCreateDirs == 0);
            if (!job)
                return false;
            job->AddWorker();
            job->Seal();
            Scanproc(workers_, slot, *job);
            return true;
        };
        downloads_->import_nzb = [this](const std::string& path) { ImportNzb(path); };
        // Entries a killed run left marked downloading are queued again, but only by the
        // one engine that owns the queue: another process on the same home may be
        // downloading them.
        if (queue_owner_.TryLock(JoinPath(startup_.home_dir, "queue.lock"))) {
            WriteTextFile(JoinPath(startup_.home_dir, "queue.owner"),
                          std::to_string(::getpid()) + "\n");
            queue_->RequeueInterrupted();
        }
        return true;
    }

    // Only the engine that owns the home's queue downloads: two processes taking entries
    // from one queue would fetch the same files and write them at once.
    std::optional<CommandResult> RefuseUnlessQueueOwner() const {
        if (queue_owner_.held())
            return std::nullopt;
        const std::string owner = ReadTextFile(JoinPath(startup_.home_dir, "queue.owner"));
        return CommandResult::Failed("Another Quillstream process" +
                                     (owner.empty() ? std::string() : " (pid " + owner + ")") +
                                     " is using the queue of " + startup_.home_dir +
                                     "; downloads run there");
    }

    // --- Settings ---

    std::shared_ptr<const Settings> settings() const { return workers_.settings(); }

    // Applies a change to a copy of the snapshot, swaps it in and saves the file.
    template <typename Change>
    CommandResult UpdateSettings(Change change) {
        bool groups_changed = false;
        CommandResult result;
        {
            std::lock_guard lock(settings_mutex_);
            Settings next = *workers_.settings();
            result = change(next);
            if (!result.ok)
                return result;
            result = Commit(std::move(next), result, groups_changed);
        }
        // Told with no lock held: the listener may call back.
        if (groups_changed)
            events_.OnGroupListChanged();
        return result;
    }

    CommandResult Commit(Settings next, CommandResult result, bool& groups_changed) {
        groups_changed = [&] {
            const auto& before = workers_.settings()->groups;
            if (before.size() != next.groups.size())
                return true;
            for (size_t i = 0; i < before.size(); ++i)
                if (before[i].name != next.groups[i].name ||
                    before[i].downloaddir != next.groups[i].downloaddir)
                    return true;
            return false;
        }();
        workers_.SetSettings(std::make_shared<const Settings>(next));
        if (!SaveSettings(next, startup_.settings_path))
            return CommandResult::Failed("Cannot write the settings file " +
                                         startup_.settings_path);
        return result;
    }

    CommandResult ApplySettings(Settings settings) {
        return UpdateSettings([&](Settings& next) {
            next = std::move(settings);
            return CommandResult::Done();
        });
    }

    // --- Groups ---

    bool IsSubscribed(const std::string& name) const {
        std::shared_ptr<const Settings> s = settings();
        return std::any_of(s->groups.begin(), s->groups.end(),
                           [&](const GroupListEntry& g) { return g.name == name; });
    }

    std::shared_ptr<HeaderDatabase> GroupDatabase(const std::string& name) {
        if (!IsSubscribed(name))
            return nullptr;
        std::lock_guard lock(groups_mutex_);
        std::shared_ptr<HeaderDatabase>& db = group_dbs_[name];
        if (!db) {
            Group group;
            group.name = name;
            if (OpenHeaderDatabase(group, db_env_))
                db = group.db;
        }
        return db;
    }

    void ForgetGroupDatabase(const std::string& name) {
        std::lock_guard lock(groups_mutex_);
        group_dbs_.erase(name);
    }

    std::shared_ptr<HeaderDatabase> Database(const std::string& name) {
        if (name == "queue")
            return queue_->queue_db();
        if (name == "log")
            return queue_->log_db();
        return GroupDatabase(name);
    }

    std::unique_ptr<HeaderView> OpenView(const std::string& name) {
        std::shared_ptr<HeaderDatabase> db = Database(name);
        if (!db)
            return nullptr;
        auto view = std::make_unique<HeaderView>(db);
        std::shared_ptr<const Settings> s = settings();
        if (db->kind() == DbKind::Newsgroup) {
            if (!view->SetOrder(s->SortDirection ? "filename desc" : "filename"))
                LogLine("Default order refused\n");
            view->SetHideIncomplete(s->ShowIncomplete == 0);
        }
        return view;
    }

    // --- Scans ---

    // Prepares the scan of a subscribed group: stamps its scan time, ensures its download
    // directory, clears its new marks. Null when it is not subscribed or has no database.
    std::shared_ptr<ScanJob> PrepareScan(const std::string& name, bool ask_first) {
        std::shared_ptr<HeaderDatabase> db = GroupDatabase(name);
        if (!db)
            return nullptr;
        ScanTarget target;
        const int64_t now = static_cast<int64_t>(std::time(nullptr));
        UpdateSettings([&](Settings& s) {
            for (GroupListEntry& g : s.groups) {
                if (g.name == name) {
                    g.lastscanned = now;
                    target.group.name = g.name;
                    target.group.downloaddir = g.downloaddir;
                    target.group.lastscanned = now;
                    target.group.state = 1;
                }
            }
            return CommandResult::Done();
        });
        target.db = db;
        target.start_article = db->HighestArticleId();
        EnsureDirectory(target.group.downloaddir, ask_first, host_);
        if (!db->ClearNewFlags())
            LogLine("Could not clear the new marks of %s\n", name.c_str());
        events_.OnRowsChanged(name, {});
        return std::make_shared<ScanJob>(std::move(target), Hosts(*settings()), &events_);
    }

    CommandResult StartScan(const std::string& name, bool ask_first) {
        if (!IsSubscribed(name))
            return CommandResult::Failed("not subscribed to " + name);
        if (settings()->servers.empty())
            return CommandResult::Failed("No newsservers selected, go to Options->News Servers!");
        std::shared_ptr<ScanJob> job = PrepareScan(name, ask_first);
        if (!job)
            return CommandResult::Failed("Cannot open the header database of " + name);
        workers_.SetDownloading(true);
        bool any_enabled = false;
        for (int i = 0; i < kThreadSlots; ++i)
            any_enabled = any_enabled || workers_.slot(i).enabled.load();
        if (!any_enabled)
            host_.ShowMessage("No threads enabled.", Host::Icon::Stop);
        StartSpeedInterval();
        int started = 0;
        for (int i = 0; i < kThreadSlots; ++i) {
            if (!workers_.slot(i).enabled.load() || workers_.slot(i).busy.load())
                continue;
            job->AddWorker();
            if (workers_.Launch(i, [this, job, i] { Scanproc(workers_, i, *job); }))
                ++started;
            else
                job->Leave();
        }
        if (started > 0) {
            job->Seal();
            return CommandResult::Done(started);
        }
        if (!queue_->AddScanEntry(name))
            return CommandResult::Failed("The queue refused the scan of " + name);
        return CommandResult::Done(0, "No thread slot is free: the scan waits in the queue");
    }

    // --- Queue ---

    CommandResult EnqueueView(const std::string& group, HeaderView& view, bool open_after) {
        std::shared_ptr<const Settings> s = settings();
        std::string dir = DownloadDirFor(group, *s);
        int queued = queue_->EnqueueView(view, group, dir, open_after);
        if (queued < 0)
            return CommandResult::Failed("A database refused a write while queueing " + group);
        return CommandResult::Done(queued);
    }

    // Downloaded or failed entries of the log queued again, those whose file name holds
    // `filter` (any case). Scan requests in the log are not queued again.
    CommandResult EnqueueFromLog(const std::string& filter, bool open_after) {
        std::shared_ptr<HeaderDatabase> log = queue_->log_db();
        std::vector<Attachment> rows;
        if (!log->StoredRows(0, -1, rows))
            return CommandResult::Failed("Cannot read the log " + log->path());
        const std::string needle = ToLower(filter);
        std::erase_if(rows, [&](const Attachment& a) {
            return a.state == StateScanJob || ToLower(a.filename).find(needle) == std::string::npos;
        });
        int queued = queue_->EnqueueRows(std::move(rows), *log, "log", "", open_after);
        if (queued < 0)
            return CommandResult::Failed("A database refused a write while queueing the log");
        return CommandResult::Done(queued);
    }

    CommandResult Enqueue(const std::string& group, const std::string& filter, bool open_after) {
        if (group == "log")
            return EnqueueFromLog(filter, open_after);
        if (!IsSubscribed(group))
            return CommandResult::Failed("not subscribed to " + group);
        std::unique_ptr<HeaderView> view = OpenView(group);
        if (!view)
            return CommandResult::Failed("Cannot open the header database of " + group);
        view->SetFilter(filter);
        return EnqueueView(group, *view, open_after);
    }

    int StartDownloadWorkers() {
        workers_.SetDownloading(true);
        StartSpeedInterval();
        int started = 0;
        for (int i = 0; i < kThreadSlots; ++i)
            started += StartDownloadWorker(i) ? 1 : 0;
        return started;
    }

    bool StartDownloadWorker(int slot) {
        if (!workers_.slot(slot).enabled.load() || workers_.slot(slot).busy.load())
            return false;
        return workers_.Launch(slot, [this, slot] { DownloadWorker(*downloads_, slot); });
    }

    CommandResult StartDownloads() {
        if (settings()->servers.empty())
            return CommandResult::Failed("No newsservers selected, go to Options->News Servers!");
        if (auto refused = RefuseUnlessQueueOwner())
            return *refused;
        downloads_->start_requested.store(false);
        int started = StartDownloadWorkers();
        if (started > 0 || Busy()) {
            work_stopped_.store(false);
            shutdown_watcher_.Start();
        }
        if (started == 0 && !workers_.AnyAlive())
            return CommandResult::Done(0, "No thread slot is enabled");
        return CommandResult::Done(started);
    }

    CommandResult ImportNzb(const std::string& path) {
        NzbImportResult result = ImportNzbFile(path, queue_.get(), *settings(), host_);
        if (result.error)
            return {false, "Error reading NZB file.", result.files};
        return CommandResult::Done(result.files);
    }

    // --- Autograb ---

    CommandResult StartAutograb(bool scan_only) {
        if (autograb_running_.load() || workers_.AnyAlive())
            return CommandResult::Failed("Workers are still running");
        if (settings()->servers.empty())
            return CommandResult::Failed("No newsservers selected, go to Options->News Servers!");
        if (!scan_only) {
            if (auto refused = RefuseUnlessQueueOwner())
                return *refused;
        }
        if (autograb_.joinable())
            autograb_.join();
        autograb_running_.store(true);
        workers_.SetDownloading(true);
        autograb_ = std::thread([this, scan_only] {
            RunAutograb(scan_only);
            autograb_running_.store(false);
        });
        work_stopped_.store(false);
        shutdown_watcher_.Start();
        return CommandResult::Done();
    }

    void WaitForSlots() {
        while (!workers_.WaitIdle(std::chrono::milliseconds(200))) {
        }
    }

    void RunAutograb(bool scan_only) {
        std::vector<std::string> names;
        for (const GroupListEntry& g : settings()->groups)
            names.push_back(g.name);
        for (const std::string& name : names) {
            if (!workers_.downloading())
                break;
            host_.ShowGroup(name);
            // Each group's scan ends before the next starts: workers still busy with one
            // group would otherwise take the servers of the next.
            StartScan(name, false);
            WaitForSlots();
            if (!workers_.downloading())
                break;
            if (!scan_only) {
                CommandResult queued = Enqueue(name, "", false);
                if (!queued.ok)
                    LogLine("Autograb: %s\n", queued.message.c_str());
                // Whatever waits in the queue is downloaded, not only this group's finds.
                if (queue_->Count() > 0) {
                    StartDownloadWorkers();
                    WaitForSlots();
                }
            }
        }
    }

    // --- The server's list of groups ---

    std::shared_ptr<HeaderDatabase> GroupsDatabase() {
        std::lock_guard lock(groups_mutex_);
        if (!groups_db_)
            groups_db_ = HeaderDatabase::Open(db_env_, "groups");
        return groups_db_;
    }

    void GroupRowsChanged() { events_.OnRowsChanged("groups", {}); }

    CommandResult MarkSubscribed(const std::vector<GroupListEntry>& groups) {
        std::shared_ptr<HeaderDatabase> db = GroupsDatabase();
        if (!db)
            return CommandResult::Failed("Cannot open the groups database");
        int stored = 0;
        bool ok = true;
        {
            DbBatch batch(db);
            // The marks become exactly these groups: one unsubscribed since the last dialog
            // must not come back ticked.
            ok = db->ClearSubscribedMarks();
            for (const GroupListEntry& g : groups) {
                if (!ok)
                    break;
                if (g.name.empty())
                    continue;
                // A listed group keeps its article numbers.
                Group record;
                if (!db->FindGroup(g.name, record))
                    record = Group();
                record.name = g.name;
                record.downloaddir = g.downloaddir;
                record.lastscanned = g.lastscanned;
                record.state = 1;
                if (!db->StoreGroup(record)) {
                    ok = false;
                    break;
                }
                ++stored;
            }
        }
        GroupRowsChanged();
        if (!ok)
            return CommandResult::Failed("Cannot store the groups: " + db->last_error());
        return CommandResult::Done(stored);
    }

    CommandResult StoreGroupRecord(const Group& group) {
        if (group.name.empty())
            return CommandResult::Failed("A group needs a name");
        std::shared_ptr<HeaderDatabase> db = GroupsDatabase();
        if (!db)
            return CommandResult::Failed("Cannot open the groups database");
        bool ok = db->StoreGroup(group);
        GroupRowsChanged();
        if (!ok)
            return CommandResult::Failed("Cannot store " + group.name + ": " + db->last_error());
        return CommandResult::Done(1);
    }

    // A ticked group without a directory of its own keeps the one it has while subscribed,
    // else gets the one BaseDir gives it; the scan time is the settings' (scans stamp it
    // there, not in this database).
    std::vector<GroupListEntry> MarkedGroups() {
        std::vector<GroupListEntry> out;
        std::shared_ptr<HeaderDatabase> db = GroupsDatabase();
        std::vector<Group> marked;
        if (!db || !db->SubscribedGroups(marked))
            return out;
        std::shared_ptr<const Settings> s = settings();
        for (const Group& g : marked) {
            GroupListEntry entry{g.name, g.downloaddir, g.lastscanned};
            auto current = std::find_if(s->groups.begin(), s->groups.end(),
                                        [&](const GroupListEntry& e) { return e.name == g.name; });
            if (current != s->groups.end()) {
                entry.lastscanned = current->lastscanned;
                if (entry.downloaddir.empty())
                    entry.downloaddir = current->downloaddir;
            }
            if (entry.downloaddir.empty())
                entry.downloaddir = DownloadDirFor(g.name, *s);
            out.push_back(std::move(entry));
        }
        return out;
    }

    std::optional<CommandResult> RefuseGroupListFetch() {
        if (reader_.running())
            return CommandResult::Failed("The list of groups is being read already");
        if (Busy())
            return CommandResult::Failed("Please stop all running tasks before changing options");
        return std::nullopt;
    }

    GroupListReader::Request GroupListRequest(std::vector<ServerEntry> servers,
                                              std::vector<GroupListEntry> keep) {
        std::erase_if(servers, [](const ServerEntry& e) { return e.disabled != 0; });
        GroupListReader::Request request;
        request.servers = std::move(servers);
        request.settings = settings();
        request.db = GroupsDatabase();
        request.keep = std::move(keep);
        request.host = &host_;
        request.rows_changed = [this] { GroupRowsChanged(); };
        return request;
    }

    CommandResult StartGroupListFetch(std::vector<ServerEntry> servers,
                                      std::vector<GroupListEntry> keep) {
        std::lock_guard lock(reader_mutex_);
        if (auto refused = RefuseGroupListFetch())
            return *refused;
        if (reader_thread_.joinable())
            reader_thread_.join();
        GroupListReader::Request request = GroupListRequest(std::move(servers), std::move(keep));
        if (!request.db)
            return CommandResult::Failed("Cannot open the groups database");
        reader_.MarkStarting();
        reader_thread_ =
            std::thread([this, request = std::move(request)] { reader_.Run(request); });
        return CommandResult::Done();
    }

    void StopGroupListReader(std::chrono::milliseconds bound) {
        std::lock_guard lock(reader_mutex_);
        reader_.RequestStop();
        const auto start = std::chrono::steady_clock::now();
        while (reader_.running()) {
            if (std::chrono::steady_clock::now() - start >= bound)
                return;
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        }
        if (reader_thread_.joinable())
            reader_thread_.join();
    }

    // Runs on the caller's thread; the lock is let go first, so a stop from another
    // thread still reaches it.
    CommandResult FetchGroupList() {
        GroupListReader::Request request;
        {
            std::lock_guard lock(reader_mutex_);
            if (auto refused = RefuseGroupListFetch())
                return *refused;
            if (reader_thread_.joinable())
                reader_thread_.join();
            std::shared_ptr<const Settings> s = settings();
            request = GroupListRequest(s->servers, s->groups);
            if (!request.db)
                return CommandResult::Failed("Cannot open the groups database");
            reader_.MarkStarting();
        }
        return reader_.Run(request);
    }

    CommandResult CheckDuplicateServers(const std::vector<ServerEntry>& servers) {
        std::map<std::string, std::string> owners;  // address -> the host that gave it first
        std::vector<std::string> addresses;
        for (const ServerEntry& server : servers) {
            if (!ResolveIPv4(server.host, addresses))
                return CommandResult::Failed(
                    "An error occured while getting the IP address for:\n" + server.host +
                    "\nPlease remove this server.");
            for (const std::string& address : addresses) {
                auto [it, added] = owners.emplace(address, server.host);
                if (!added)
                    return CommandResult::Failed("Duplicate servers:\n" + server.host + " <=> " +
                                                 it->second + "\nPlease remove one.");
                LogLine("address: %s\n", address.c_str());
            }
        }
        return CommandResult::Done(static_cast<int>(servers.size()), "Servers OK, no duplicates.");
    }

    // The directories are worked out (and created, or asked about) on a copy first, so
    // no question is asked while the settings are locked.
    CommandResult AssignAutoDownloadDirs(bool create_without_asking) {
        Settings assigned = *settings();
        if (assigned.BaseDir.empty())
            return CommandResult::Done(0);
        if (create_without_asking)
            assigned.AutoCreateDirs = 1;
        ApplyBaseDir(assigned.BaseDir, assigned, host_);
        return UpdateSettings([&](Settings& next) {
            int changed = 0;
            for (GroupListEntry& g : next.groups) {
                for (const GroupListEntry& a : assigned.groups) {
                    if (a.name == g.name) {
                        g.downloaddir = a.downloaddir;
                        ++changed;
                        break;
                    }
                }
            }
            return CommandResult::Done(changed);
        });
    }

    std::vector<std::string> ServerCandidates(const std::string& typed_host) const {
        return ServerCandidatesFrom(typed_host,
                                    gateway_names_ ? gateway_names_() : DefaultGatewayNames());
    }

    // --- Status ---

    EngineStatus Status() const {
        EngineStatus status;
        for (int i = 0; i < kThreadSlots; ++i) {
            const ThreadSlot& slot = workers_.slot(i);
            SlotStatus& out = status.slots[static_cast<size_t>(i)];
            out.enabled = slot.enabled.load();
            out.alive = slot.busy.load();
            out.status = slot.status.Get();
            out.progress_range = slot.progress_range.load();
            out.progress = slot.progress.load();
            out.bytes = slot.received_bytes.load();
        }
        status.paused = workers_.paused();
        status.downloading = workers_.downloading();
        status.busy = Busy();
        status.speed = workers_.smoothed_speed.load();
        status.received_total = received_total_.load();
        status.tasks = queue_ ? queue_->Count() : 0;
        status.queued_kb = queue_ ? queue_->kb_total() : 0;
        status.eta_minutes = eta_minutes_.load();
        return status;
    }

    EngineStatus Tick() {
        int64_t bytes = 0;
        for (int i = 0; i < kThreadSlots; ++i)
            bytes += workers_.slot(i).received_bytes.exchange(0);
        received_total_.fetch_add(bytes);
        int64_t now = clock_();
        int64_t elapsed = now - workers_.interval_start_ms.exchange(now);
        if (elapsed > 0) {
            int speed = static_cast<int>(bytes / elapsed);  // bytes per millisecond, about KB/s
            workers_.smoothed_speed.store((workers_.smoothed_speed.load() + speed) / 2);
        }
        if (!Busy())
            workers_.smoothed_speed.store(0);
        const int speed = workers_.smoothed_speed.load();
        const int64_t kb = queue_ ? queue_->kb_total() : 0;
        eta_minutes_.store(speed > 0 ? static_cast<int>((kb / speed / 60 + eta_minutes_.load()) / 2)
                                     : 0);
        if (downloads_ && downloads_->start_requested.exchange(false) && workers_.downloading())
            StartDownloadWorkers();
        return Status();
    }

    bool Busy() const { return workers_.AnyAlive() || autograb_running_.load(); }

    // A scan or download start begins a new interval of the speed figures.
    void StartSpeedInterval() { workers_.interval_start_ms.store(clock_()); }

    // The watcher saw every worker and Autograb end.
    void PowerOffIfAsked() {
        if (!shutdown_when_finished_.load())
            return;
        if (work_stopped_.load()) {
            // Stopped by the user, or by a full disk: that is not finished.
            LogLine("Tasks were stopped: not powering off\n");
            return;
        }
        LogLine("All tasks finished: powering off\n");
        RunPowerOffCommand(settings()->PowerOffCommand);
    }

    bool WaitIdle(std::chrono::milliseconds bound) {
        const auto end = std::chrono::steady_clock::now() + bound;
        while (autograb_running_.load()) {
            if (std::chrono::steady_clock::now() >= end)
                return false;
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        }
        if (autograb_.joinable())
            autograb_.join();
        auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
            end - std::chrono::steady_clock::now());
        return workers_.WaitIdle(std::max(left, std::chrono::milliseconds(0)));
    }

    // Pausing shows "Paused..." on every busy slot; resuming gives each slot back the text
    // it showed, unless its worker has written a newer one meanwhile.
    void TogglePause() {
        std::lock_guard lock(pause_mutex_);
        const bool pause = !workers_.paused();
        workers_.SetPaused(pause);
        for (int i = 0; i < kThreadSlots; ++i) {
            ThreadSlot& slot = workers_.slot(i);
            std::string& saved = paused_texts_[static_cast<size_t>(i)];
            if (pause && slot.busy.load()) {
                saved = slot.status.Get();
                slot.status.Set("Paused...");
            } else if (!pause && slot.status.Get() == "Paused...") {
                slot.status.Set(saved);
            }
        }
    }

    // Stop: un-pauses first, so that the next task does not start paused, then every
    // worker ends its task at its next check; nothing is waited for.
    void StopAll() {
        StopArticleWork();
        work_stopped_.store(true);
        if (workers_.paused())
            TogglePause();
        workers_.StopAll();
        workers_.smoothed_speed.store(0);
    }

    // A worker state of its own for one read or post: the engine's slots stay untouched,
    // but it starts at slot 1's server and hands the index back, and a stop reaches it.
    template <typename Work>
    auto WithArticleConnection(Work work) {
        WorkerState state(settings(), &host_);
        state.SetDownloading(true);
        state.slot(0).enabled.store(true);
        state.slot(0).server_index.store(workers_.slot(0).server_index.load());
        {
            std::lock_guard lock(article_mutex_);
            article_states_.insert(&state);
        }
        auto result = work(state);
        {
            std::lock_guard lock(article_mutex_);
            article_states_.erase(&state);
        }
        workers_.slot(0).server_index.store(state.slot(0).server_index.load());
        return result;
    }

    void StopArticleWork() {
        std::lock_guard lock(article_mutex_);
        for (WorkerState* state : article_states_)
            state->StopAll();
    }

    StartupContext startup_;
    Host& host_;
    EventHub events_;
    WorkerState workers_;
    DbEnv db_env_;
    std::unique_ptr<DownloadQueue> queue_;
    std::unique_ptr<DownloadShared> downloads_;
    std::mutex settings_mutex_;  // one settings change at a time
    std::mutex groups_mutex_;    // opening group databases from several workers
    std::map<std::string, std::shared_ptr<HeaderDatabase>> group_dbs_;
    FileLock queue_owner_;  // held by the engine that may requeue interrupted entries
    std::thread autograb_;
    std::atomic<bool> autograb_running_{false};
    std::atomic<int64_t> received_total_{0};
    std::atomic<int> eta_minutes_{0};
    std::atomic<bool> shutdown_when_finished_{false};
    std::function<int64_t()> clock_ = &WorkerState::NowMillis;
    // Last: it calls into the members above until it is stopped.
    std::atomic<bool> work_stopped_{false};  // Stop came after the last start
    ShutdownWatcher shutdown_watcher_;
    Engine::OpenError open_error_;
    std::mutex pause_mutex_;
    std::array<std::string, kThreadSlots> paused_texts_;
    std::shared_ptr<HeaderDatabase> groups_db_;  // with groups_mutex_
    std::mutex reader_mutex_;                    // starts, stops and joins of the reader
    GroupListReader reader_;
    std::thread reader_thread_;
    std::function<std::vector<std::string>()> gateway_names_;  // null: the system's
    ProbePauses probe_pauses_;
    std::mutex article_mutex_;  // article_states_
    std::set<WorkerState*> article_states_;
};

// ---------------------------------------------------------------------------------------

std::string EngineStatus::SpeedText() const {
    return "Speed: " + std::to_string(speed) + " KB/s";
}

std::string EngineStatus::ReceivedText() const {
    return "MB: " + std::to_string(received_total >> 20);
}

std::string EngineStatus::QueueText() const {
    char minutes[8];
    std::snprintf(minutes, sizeof minutes, "%.2d", eta_minutes % 60);
    return std::to_string(tasks) + " Tasks / " + std::to_string(queued_kb >> 10) + " MB / " +
           std::to_string(eta_minutes / 60) + ":" + minutes + " ETA";
}

Engine::Engine(StartupContext startup, Host& host)
    : impl_(std::make_unique<Impl>(std::move(startup), host)) {}

Engine::~Engine() = default;

bool Engine::Open() {
    return impl_->Open();
}

void Engine::SetListener(EventListener* listener) {
    impl_->events_.SetListener(listener);
}

const Engine::OpenError& Engine::open_error() const {
    return impl_->open_error_;
}

const StartupContext& Engine::startup() const {
    return impl_->startup_;
}

Host& Engine::host() {
    return impl_->host_;
}

std::shared_ptr<const Settings> Engine::settings() const {
    return impl_->settings();
}

CommandResult Engine::ApplySettings(Settings settings) {
    return impl_->ApplySettings(std::move(settings));
}

CommandResult Engine::Subscribe(const std::string& group, const std::string& dir) {
    if (!ValidGroupName(group))
        return CommandResult::Failed("invalid group name '" + group + "'");
    return impl_->UpdateSettings([&](Settings& s) {
        auto it = std::find_if(s.groups.begin(), s.groups.end(),
                               [&](const GroupListEntry& g) { return g.name == group; });
        if (it != s.groups.end()) {
            if (dir.empty())
                return CommandResult::Done(0, "Already subscribed to " + group);
            it->downloaddir = dir;
            return CommandResult::Done(1);
        }
        s.groups.push_back({group, dir.empty() ? DownloadDirFor(group, s) : dir, 0});
        return CommandResult::Done(1);
    });
}

CommandResult Engine::Unsubscribe(const std::string& group) {
    if (!impl_->IsSubscribed(group))
        return CommandResult::Failed("not subscribed to " + group);
    if (impl_->Busy())
        return CommandResult::Failed("Cannot remove " + group + " while workers are running");
    // The group's headers go with it, as Remove Group empties them.
    if (std::filesystem::exists(HeaderDatabase::PathFor(impl_->db_env_.data_dir, group))) {
        std::shared_ptr<HeaderDatabase> db = impl_->GroupDatabase(group);
        if (!db || !db->Empty())
            return CommandResult::Failed("Cannot empty the header database of " + group);
        impl_->ForgetGroupDatabase(group);
    }
    return impl_->UpdateSettings([&](Settings& s) {
        if (std::erase_if(s.groups, [&](const GroupListEntry& g) { return g.name == group; }) == 0)
            return CommandResult::Failed("not subscribed to " + group);
        return CommandResult::Done(1);
    });
}

bool Engine::IsSubscribed(const std::string& group) const {
    return impl_->IsSubscribed(group);
}

CommandResult Engine::ResetGroup(const std::string& group) {
    std::shared_ptr<HeaderDatabase> db = impl_->GroupDatabase(group);
    if (!db)
        return CommandResult::Failed("not subscribed to " + group);
    if (!db->Empty())
        return CommandResult::Failed("Cannot empty the header database " + db->path());
    impl_->events_.OnRowsChanged(group, {});
    return impl_->UpdateSettings([&](Settings& s) {
        for (GroupListEntry& g : s.groups)
            if (g.name == group)
                g.lastscanned = 0;
        return CommandResult::Done();
    });
}

CommandResult Engine::AddServer(ServerEntry entry) {
    if (entry.host.empty() || entry.host.find_first_of(" \t\r\n") != std::string::npos)
        return CommandResult::Failed("invalid host name '" + entry.host + "'");
    if (entry.port < 1 || entry.port > 65535)
        return CommandResult::Failed("port must be between 1 and 65535");
    return impl_->UpdateSettings([&](Settings& s) {
        auto same = [&](const ServerEntry& e) {
            return e.host == entry.host && e.port == entry.port;
        };
        if (std::any_of(s.servers.begin(), s.servers.end(), same) ||
            std::any_of(s.disabled_servers.begin(), s.disabled_servers.end(), same))
            return CommandResult::Failed("server " + entry.host + ":" + std::to_string(entry.port) +
                                         " is already configured");
        entry.disabled = entry.disabled ? 1 : 0;
        (entry.disabled ? s.disabled_servers : s.servers).push_back(entry);
        return CommandResult::Done(1);
    });
}

CommandResult Engine::RemoveServer(const std::string& host) {
    return impl_->UpdateSettings([&](Settings& s) {
        auto matches = [&](const ServerEntry& e) { return e.host == host; };
        size_t gone =
            std::erase_if(s.servers, matches) + std::erase_if(s.disabled_servers, matches);
        if (gone == 0)
            return CommandResult::Failed("no server " + host + " is configured");
        return CommandResult::Done(static_cast<int>(gone));
    });
}

CommandResult Engine::MoveServer(const std::string& host, int delta) {
    return impl_->UpdateSettings([&](Settings& s) {
        auto it = std::find_if(s.servers.begin(), s.servers.end(),
                               [&](const ServerEntry& e) { return e.host == host; });
        if (it == s.servers.end())
            return CommandResult::Failed("no enabled server " + host);
        const int from = static_cast<int>(it - s.servers.begin());
        const int to = std::clamp(from + delta, 0, static_cast<int>(s.servers.size()) - 1);
        ServerEntry moved = *it;
        s.servers.erase(it);
        s.servers.insert(s.servers.begin() + to, moved);
        return CommandResult::Done(from == to ? 0 : 1);
    });
}

CommandResult Engine::EnableServer(const std::string& host, bool enabled) {
    return impl_->UpdateSettings([&](Settings& s) {
        auto& from = enabled ? s.disabled_servers : s.servers;
        auto& to = enabled ? s.servers : s.disabled_servers;
        int moved = 0;
        for (auto it = from.begin(); it != from.end();) {
            if (it->host != host) {
                ++it;
                continue;
            }
            ServerEntry e = *it;
            e.disabled = enabled ? 0 : 1;
            to.push_back(e);
            it = from.erase(it);
            ++moved;
        }
        if (moved == 0)
            return CommandResult::Failed("no " + std::string(enabled ? "disabled" : "enabled") +
                                         " server " + host);
        return CommandResult::Done(moved);
    });
}

std::unique_ptr<HeaderView> Engine::OpenView(const std::string& name) {
    return impl_->OpenView(name);
}

CommandResult Engine::StartScan(const std::string& group) {
    return impl_->StartScan(group, impl_->settings()->AutoCreateDirs == 0);
}

CommandResult Engine::Enqueue(const std::string& group, const std::string& filter,
                              bool open_after) {
    return impl_->Enqueue(group, filter, open_after);
}

CommandResult Engine::EnqueueRows(const std::string& group, HeaderView& view,
                                  const std::vector<int64_t>& rows, bool open_after) {
    if (!impl_->IsSubscribed(group))
        return CommandResult::Failed("not subscribed to " + group);
    std::vector<Attachment> picked;
    for (int64_t row : rows) {
        Attachment a;
        if (view.AttachmentAt(row, a))
            picked.push_back(std::move(a));
    }
    int queued = impl_->queue_->EnqueueRows(std::move(picked), *view.db(), group,
                                            DownloadDirFor(group, *impl_->settings()), open_after);
    view.Invalidate();
    if (queued < 0)
        return CommandResult::Failed("A database refused a write while queueing " + group);
    return CommandResult::Done(queued);
}

CommandResult Engine::StartDownloads() {
    return impl_->StartDownloads();
}

CommandResult Engine::Grab(const std::string& group, const std::string& filter, bool open_after) {
    CommandResult queued = impl_->Enqueue(group, filter, open_after);
    if (!queued.ok)
        return queued;
    CommandResult started = impl_->StartDownloads();
    if (!started.ok)
        return started;
    return CommandResult::Done(queued.count);
}

CommandResult Engine::StartAutograb(bool scan_only) {
    return impl_->StartAutograb(scan_only);
}

CommandResult Engine::ImportNzb(const std::string& path) {
    return impl_->ImportNzb(path);
}

void Engine::TogglePause() {
    impl_->TogglePause();
}

void Engine::StopAll() {
    impl_->StopAll();
}

void Engine::StopSlot(int slot) {
    if (slot >= 0 && slot < kThreadSlots)
        impl_->workers_.RequestStop(slot);
    if (slot == 0)  // reads and posts go through slot 1
        impl_->StopArticleWork();
}

CommandResult Engine::SetSlotEnabled(int slot, bool enabled) {
    if (slot < 0 || slot >= kThreadSlots)
        return CommandResult::Failed("no thread slot " + std::to_string(slot + 1));
    CommandResult result = impl_->UpdateSettings([&](Settings& s) {
        s.Thread[slot] = enabled ? 1 : 0;
        return CommandResult::Done();
    });
    if (enabled && impl_->workers_.AnyAlive() && impl_->workers_.downloading() &&
        !impl_->RefuseUnlessQueueOwner())
        impl_->StartDownloadWorker(slot);
    return result;
}

void Engine::SetShutdownWhenFinished(bool on) {
    LogLine("shutdown: %d\n", on ? 1 : 0);
    impl_->shutdown_when_finished_.store(on);
}

bool Engine::shutdown_when_finished() const {
    return impl_->shutdown_when_finished_.load();
}

CommandResult Engine::RemoveFromQueue(const std::vector<std::string>& ids) {
    return CommandResult::Done(impl_->queue_->Remove(ids));
}

CommandResult Engine::RemoveFromList(const std::string& group,
                                     const std::vector<std::string>& ids) {
    std::shared_ptr<HeaderDatabase> db = impl_->Database(group);
    if (!db)
        return CommandResult::Failed("not subscribed to " + group);
    if (db->kind() == DbKind::Queue)
        return RemoveFromQueue(ids);
    std::vector<Attachment> rows;
    for (const std::string& id : ids) {
        Attachment a;
        a.Id = id;
        rows.push_back(std::move(a));
    }
    if (!db->RemoveAttachments(rows))
        return CommandResult::Failed("Cannot remove rows from " + db->path());
    impl_->events_.OnRowsChanged(group, {});
    return CommandResult::Done(static_cast<int>(rows.size()));
}

CommandResult Engine::MarkAttachmentDone(const std::string& database, const std::string& id) {
    std::shared_ptr<HeaderDatabase> db = impl_->Database(database);
    if (!db)
        return CommandResult::Failed("not subscribed to " + database);
    // The state update matches no row silently, so the row is looked for first.
    constexpr int64_t kChunk = 4096;
    std::optional<Attachment> found;
    std::vector<Attachment> rows;
    for (int64_t first = 0; !found; first += kChunk) {
        if (!db->StoredRows(first, kChunk, rows))
            return CommandResult::Failed("Cannot read " + db->path());
        for (Attachment& a : rows)
            if (a.Id == id)
                found = std::move(a);
        if (static_cast<int64_t>(rows.size()) < kChunk)
            break;
    }
    if (!found)
        return CommandResult::Failed("no row " + id + " in " + database);
    found->state = StateDone;
    if (!db->SetAttachmentState(*found))
        return CommandResult::Failed("Cannot mark " + id + " done in " + db->path());
    impl_->events_.OnRowsChanged(database, {id});
    return CommandResult::Done(1);
}

CommandResult Engine::MoveToTop(const std::vector<std::string>& ids) {
    if (!impl_->queue_->MoveToTop(ids))
        return CommandResult::Failed("Cannot reorder the queue");
    return CommandResult::Done(static_cast<int>(ids.size()));
}

CommandResult Engine::MoveQueueRows(const std::vector<int64_t>& rows, int64_t delta,
                                    std::vector<int64_t>* moved_to) {
    const int moved = impl_->queue_->MoveRows(rows, delta, moved_to);
    if (moved < 0)
        return CommandResult::Failed("Cannot reorder the queue");
    return CommandResult::Done(moved);
}

CommandResult Engine::ClearQueue() {
    if (!impl_->queue_->Clear())
        return CommandResult::Failed("Cannot empty the queue");
    return CommandResult::Done();
}

CommandResult Engine::ClearLog() {
    if (!impl_->queue_->ClearLog())
        return CommandResult::Failed("Cannot empty the log");
    return CommandResult::Done();
}

EngineStatus Engine::Tick() {
    return impl_->Tick();
}

EngineStatus Engine::Status() const {
    return impl_->Status();
}

bool Engine::Busy() const {
    return impl_->Busy();
}

bool Engine::WaitIdle(std::chrono::milliseconds bound) {
    return impl_->WaitIdle(bound);
}

void Engine::WaitForWorkers() {
    while (!impl_->WaitIdle(std::chrono::milliseconds(1000))) {
    }
}

void Engine::SetClockForTests(std::function<int64_t()> now_ms) {
    impl_->clock_ = std::move(now_ms);
}

void Engine::ShortenPausesForTests() {
    DownloadTimings& t = impl_->downloads_->timings;
    t.retry_pause = t.reply_error_pause = t.failed_entry_pause = std::chrono::milliseconds(1);
    impl_->probe_pauses_ = {std::chrono::milliseconds(1), std::chrono::milliseconds(1)};
}

// --- The server's list of groups ---

std::unique_ptr<GroupListView> Engine::OpenGroupList() {
    std::shared_ptr<HeaderDatabase> db = impl_->GroupsDatabase();
    if (!db)
        return nullptr;
    auto view = std::make_unique<GroupListView>(db);
    if (!view->SetOrder("name"))
        LogLine("Group list order refused\n");
    return view;
}

CommandResult Engine::MarkSubscribed(const std::vector<GroupListEntry>& groups) {
    return impl_->MarkSubscribed(groups);
}

CommandResult Engine::StoreGroupRecord(const Group& group) {
    return impl_->StoreGroupRecord(group);
}

std::vector<GroupListEntry> Engine::MarkedGroups() {
    return impl_->MarkedGroups();
}

CommandResult Engine::StartGroupListFetch(std::vector<ServerEntry> servers,
                                          std::vector<GroupListEntry> keep) {
    return impl_->StartGroupListFetch(std::move(servers), std::move(keep));
}

void Engine::StopGroupListFetch(std::chrono::milliseconds bound) {
    impl_->StopGroupListReader(bound);
}

Engine::GroupListFetch Engine::group_list_fetch() const {
    GroupListReader::Progress p = impl_->reader_.progress();
    return {p.running, p.finished, p.stored, p.status, p.error};
}

CommandResult Engine::FetchGroupList() {
    return impl_->FetchGroupList();
}

CommandResult Engine::CheckDuplicateServers(const std::vector<ServerEntry>& servers) {
    return impl_->CheckDuplicateServers(servers);
}

CommandResult Engine::AssignAutoDownloadDirs(bool create_without_asking) {
    return impl_->AssignAutoDownloadDirs(create_without_asking);
}

std::vector<std::string> Engine::ServerCandidates(const std::string& typed_host) const {
    return impl_->ServerCandidates(typed_host);
}

Engine::ServerProbe Engine::ProbeServer(ServerEntry server,
                                        const std::function<void(const std::string&)>& status) {
    if (server.port <= 0)
        server.port = server.ssl ? kTlsNntpPort : kPlainNntpPort;
    ProbeResult r = ProbeNewsServer(server, SocketOptionsFrom(*impl_->settings()),
                                    impl_->probe_pauses_, status);
    return {r.detected, r.needs_login};
}

void Engine::SetGatewayNamesForTests(std::function<std::vector<std::string>()> names) {
    impl_->gateway_names_ = std::move(names);
}

CommandResult Engine::PostArticle(const PostRequest& request) {
    return PostArticleText(qs::ComposeArticle(request));
}

CommandResult Engine::PostArticleText(const std::string& article_text) {
    PostOutcome outcome = impl_->WithArticleConnection(
        [&](WorkerState& state) { return PostArticleOn(state, 0, article_text, nullptr); });
    return outcome.ok ? CommandResult::Done(1, outcome.message)
                      : CommandResult::Failed(outcome.message);
}

ArticleRead Engine::ReadArticle(const std::string& group, const std::string& message_id,
                                const std::function<void(const std::string& status)>& status) {
    return impl_->WithArticleConnection(
        [&](WorkerState& state) { return ReadArticleOn(state, 0, group, message_id, status); });
}

PostRequest Engine::FollowUpOf(const std::string& article_text, const std::string& from) {
    return qs::FollowUpOf(article_text, from);
}

std::string Engine::ComposeArticle(const PostRequest& request) {
    return qs::ComposeArticle(request);
}

}  // namespace qs
