#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "app/file_lock.h"
#include "app/host.h"
#include "app/settings.h"
#include "app/startup.h"
#include "db/header_db.h"
#include "download/download_queue.h"
#include "download/nzb_import.h"
#include "nntp/worker_state.h"
#include "scan/scan_task.h"

namespace qs {

// The state every worker reaches and the commands a user gives, without a toolkit. Each
// front end owns one engine: settings, server lists, slots and flags (WorkerState), the
// subscribed groups with their header databases, and the queue and log databases.
class Engine {
  public:
    Engine(StartupContext startup, Host& host);
    ~Engine();
    Engine(const Engine&) = delete;
    Engine& operator=(const Engine&) = delete;

    // Loads the settings and opens the queue and log databases. False (with a message
    // through the host) when the data directory or a database cannot be opened.
    bool Open();

    const StartupContext& startup() const { return startup_; }
    Settings& settings() { return settings_; }
    WorkerState& workers() { return workers_; }
    Host& host() { return host_; }
    const DbEnv& db_env() const { return db_env_; }
    const std::shared_ptr<HeaderDatabase>& queue() const { return queue_; }
    const std::shared_ptr<HeaderDatabase>& log() const { return log_; }
    ScanShared& scans() { return *scans_; }
    DownloadShared& downloads() { return *downloads_; }

    // The subscribed group of that exact name, or null.
    Group* FindGroup(const std::string& name);
    // The group's header database, opened on first use; null when it cannot be opened.
    std::shared_ptr<HeaderDatabase> GroupDatabase(Group& group);
    // A database by view name: "queue", "log" or a subscribed group; null when unknown.
    std::shared_ptr<HeaderDatabase> ViewDatabase(const std::string& name);

    // Scan one subscribed group on every enabled free slot (or queue it as a scan entry).
    // Returns the workers started, or -1 when the group is not subscribed.
    int StartScan(const std::string& group);

    // Scans every subscribed group in turn and, unless scan_only, queues and downloads what
    // each scan found before going on. `wait_for_workers` is how the front end waits for
    // the workers of one step (it may show progress and turn Ctrl-C into Stop);
    // `group_done` hears each group's name and whether any of its servers was read.
    // Download directories are created without asking while it runs.
    void Autograb(bool scan_only, const std::function<void()>& wait_for_workers,
                  const std::function<void(const std::string&, bool)>& group_done = {});

    // Queues every attachment of the group's view (with `filter` when not empty) that is
    // not queued or downloading yet, with its parts, and marks it queued in the group's
    // database. With open_after each is also opened once downloaded (and moved to the
    // head of the queue). Returns how many were queued, or -1 when the group is not
    // subscribed.
    int EnqueueAttachments(const std::string& group, const std::string& filter, bool open_after);
    // Starts a download worker on every enabled free slot; returns how many started.
    int StartDownloads();
    // Imports an NZB file into the queue (no download starts).
    NzbImportResult ImportNzb(const std::string& path);
    // The slot toggle: enabling a slot while other workers run starts one on it at once.
    void SetSlotEnabled(int slot, bool enabled);
    // Pause and resume: workers wait at their next safe point.
    void PauseTasks();

    // True while any slot has a live worker.
    bool WorkersAlive();
    // Joins every finished or running worker; returns when none is alive.
    void WaitForWorkers();
    // Stop: clears the downloading flag and wakes every connection.
    void Stop();

    // The one-second timer: sums and clears the slots' byte counters, updates the smoothed
    // speed and starts a new interval; starts workers for entries a worker queued (a
    // downloaded NZB file). Returns the bytes of the interval.
    int64_t Tick();

    // Writes the settings, the groups' directories and scan times included.
    bool SaveSettings();

  private:
    void LoadGroups();

    StartupContext startup_;
    Host& host_;
    Settings settings_;
    WorkerState workers_;
    DbEnv db_env_;
    std::vector<std::unique_ptr<Group>> groups_;
    std::shared_ptr<HeaderDatabase> queue_;
    std::shared_ptr<HeaderDatabase> log_;
    std::unique_ptr<ScanShared> scans_;
    std::unique_ptr<DownloadShared> downloads_;
    std::mutex groups_mutex_;  // opening group databases from several workers
    FileLock queue_owner_;     // held by the engine that may requeue interrupted entries
};

}  // namespace qs
