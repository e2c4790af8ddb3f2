#pragma once

#include <array>
#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "app/events.h"
#include "app/host.h"
#include "app/settings.h"
#include "app/startup.h"
#include "articles/article_types.h"
#include "db/group_list_view.h"
#include "db/header_view.h"
#include "db/records.h"

namespace qs {

// What a command reports to the front end.
struct CommandResult {
    bool ok = true;
    std::string message;  // what to tell the user; empty when there is nothing to say
    int count = 0;        // how many things it touched: rows queued, workers started, ...

    static CommandResult Done(int count = 0, std::string message = {}) {
        return {true, std::move(message), count};
    }
    static CommandResult Failed(std::string message) { return {false, std::move(message), 0}; }
};

// One thread slot as the front end shows it.
struct SlotStatus {
    bool enabled = true;
    bool alive = false;  // a worker runs on it
    std::string status;
    int progress_range = 100;
    int progress = 0;
    int64_t bytes = 0;  // received since the last tick
};

// The picture a front end polls once a second (Engine::Tick).
struct EngineStatus {
    std::array<SlotStatus, kThreadSlots> slots;
    bool paused = false;
    bool downloading = false;
    bool busy = false;           // a worker or Autograb runs
    int speed = 0;               // the smoothed speed shown as KB/s (bytes per millisecond)
    int64_t received_total = 0;  // bytes received since the engine started
    int64_t tasks = 0;           // queue entries, downloads and scans alike
    int64_t queued_kb = 0;       // their size
    int eta_minutes = 0;         // smoothed; 0 while the speed is 0

    // The status bar's texts: "Speed: 12 KB/s", "MB: 3" (received) and
    // "2 Tasks / 3072 MB / 1:05 ETA" (the queue, hours and minutes left).
    std::string SpeedText() const;
    std::string ReceivedText() const;
    std::string QueueText() const;
};

// The one door of the core for every front end: the user's commands, the status snapshot,
// the settings snapshot and the events. Each front end owns one engine over a home
// directory: settings, server lists, the six slots and their workers, the subscribed
// groups with their header databases, and the queue and log.
//
// Commands may be called from the front end's thread; events come through the one
// listener, on the threads app/events.h names.
class Engine {
  public:
    Engine(StartupContext startup, Host& host);
    ~Engine();
    Engine(const Engine&) = delete;
    Engine& operator=(const Engine&) = delete;

    // Loads the settings and opens the queue and log databases. False (with a message
    // through the host) when the settings file exists but cannot be read, or the data
    // directory or a database cannot be opened; open_error() says which and why.
    bool Open();
    struct OpenError {
        bool settings = false;  // the settings file could not be read
        std::string message;
    };
    const OpenError& open_error() const;
    // The listener of every event; null for none. Set before work starts.
    void SetListener(EventListener* listener);

    const StartupContext& startup() const;
    Host& host();

    // --- Settings ---

    // The current snapshot; never changes under the caller.
    std::shared_ptr<const Settings> settings() const;
    // Makes `settings` the snapshot workers take from their next operation on, and saves
    // the file.
    CommandResult ApplySettings(Settings settings);

    // --- The group list ---

    CommandResult Subscribe(const std::string& group, const std::string& dir);
    CommandResult Unsubscribe(const std::string& group);
    bool IsSubscribed(const std::string& group) const;
    // Empties the group's header database; the next scan starts afresh.
    CommandResult ResetGroup(const std::string& group);

    // --- The servers ---

    // Added to the enabled list, or to the disabled one when entry.disabled is set.
    CommandResult AddServer(ServerEntry entry);
    // Removes every entry of the host from both lists.
    CommandResult RemoveServer(const std::string& host);
    // Moves the host's entry in the enabled list by `delta` places (-1 up, +1 down).
    CommandResult MoveServer(const std::string& host, int delta);
    // Moves the host's entries between the enabled and the disabled list.
    CommandResult EnableServer(const std::string& host, bool enabled);

    // --- Views ---

    // A view of "queue", "log" or a subscribed group, set up with the user's defaults
    // (order, incomplete rows shown or not); null when there is no such database. The
    // caller owns it.
    std::unique_ptr<HeaderView> OpenView(const std::string& name);

    // --- Work ---

    // Scans the group on every enabled free slot, or queues the scan when none is free.
    // count: workers started.
    CommandResult StartScan(const std::string& group);
    // Queues every row of the group's view (with `filter` when not empty) not queued yet;
    // with open_after each is opened once downloaded. count: entries queued. `group` may be
    // "log": its entries are queued again.
    CommandResult Enqueue(const std::string& group, const std::string& filter, bool open_after);
    // Queues the given rows of the caller's view of a group (the selected rows).
    CommandResult EnqueueRows(const std::string& group, HeaderView& view,
                              const std::vector<int64_t>& rows, bool open_after);
    // Starts a download worker on every enabled free slot. count: workers started.
    CommandResult StartDownloads();
    // Enqueue, then StartDownloads (Grab; Grab And Open with open_after).
    CommandResult Grab(const std::string& group, const std::string& filter, bool open_after);
    // Autograb All: scans every subscribed group in turn and, unless scan_only, queues and
    // downloads what each scan found before going on. Runs on its own thread; the caller
    // goes on at once and hears of it through events (and Busy()). Download directories
    // are created without asking.
    CommandResult StartAutograb(bool scan_only);
    // Imports an NZB file into the queue (no download starts). count: files queued.
    CommandResult ImportNzb(const std::string& path);

    // Pause and resume: workers wait at their next safe point.
    void TogglePause();
    // Stop: every worker ends its task at the next safe point; Autograb ends too.
    void StopAll();
    // The stop button of one slot: its current task ends.
    void StopSlot(int slot);
    // The slot toggle: enabling a slot while downloads run starts one on it at once.
    CommandResult SetSlotEnabled(int slot, bool enabled);
    // Shutdown when finished: once the downloads started by Grab, StartDownloads or
    // Autograb have all ended, the machine is powered off (the PowerOffCommand setting).
    // Destroying the engine never powers off.
    void SetShutdownWhenFinished(bool on);
    bool shutdown_when_finished() const;

    CommandResult RemoveFromQueue(const std::vector<std::string>& ids);
    CommandResult RemoveFromList(const std::string& group, const std::vector<std::string>& ids);
    // Marks the row with this Id of a group's database, "queue" or "log" done (state 5),
    // as after reading its article. Fails when the database or the row is unknown.
    CommandResult MarkAttachmentDone(const std::string& database, const std::string& id);
    CommandResult MoveToTop(const std::vector<std::string>& ids);
    // Drags the queue's rows (positions in its stored order, as a view of "queue" shows
    // them) by `delta` places. Moving up they go from the first to the last, moving down
    // from the last to the first, each by swaps with its neighbour; a row whose target falls
    // outside the queue stops the move for it and every row after it. moved_to gets each
    // row's new position in the order of `rows`. count: rows moved.
    CommandResult MoveQueueRows(const std::vector<int64_t>& rows, int64_t delta,
                                std::vector<int64_t>* moved_to = nullptr);
    CommandResult ClearQueue();
    CommandResult ClearLog();

    // --- The server's list of groups (the "groups" database of the options dialog) ---

    // A view of the groups database for a list window: filter, order and row cache of its
    // own. Null when the database cannot be opened.
    std::unique_ptr<GroupListView> OpenGroupList();
    // Makes these groups the marked ones (a dialog's working group array): every other
    // mark is cleared, and groups the list does not hold yet are added.
    CommandResult MarkSubscribed(const std::vector<GroupListEntry>& groups);
    // Stores one record as a page edited it (its subscribed mark is `state`, 1 or 0, and its
    // download directory).
    CommandResult StoreGroupRecord(const Group& group);
    // Every record with the subscribed mark, in name order, as group list entries.
    std::vector<GroupListEntry> MarkedGroups();

    // Reads the server's group list with LIST on a thread of its own, from the first entry of
    // `servers` that is not disabled (the list being edited, not the saved one): the
    // database is emptied once the server has answered, each line stored as it comes, and
    // `keep` is marked subscribed again at the end. Refused while a reader or a worker
    // runs. Its progress: group_list_fetch(), running from this call on. Its failures go to
    // the host's ShowMessage (stop icon, on the reader's thread) and to the progress's
    // error; this call fails only when refused. OnRowsChanged("groups") comes on the
    // reader's thread when the database is emptied, about every 250 ms while lines come,
    // and once more after the reader has ended (running is false by then).
    CommandResult StartGroupListFetch(std::vector<ServerEntry> servers,
                                      std::vector<GroupListEntry> keep);
    // Clears the reader's running flag and waits up to `bound` for it to end.
    void StopGroupListFetch(std::chrono::milliseconds bound);
    struct GroupListFetch {
        bool running = false;
        bool finished = false;  // the last reader read the list to its end
        int64_t stored = 0;     // records stored by the current or last reader
        std::string status;     // "Connecting...", the count, or "" after a failure
        std::string error;      // the message shown for the last failure ("Can't connect...")
    };
    GroupListFetch group_list_fetch() const;
    // The CLI's `groups fetch`: the same with the enabled servers, waiting for the end.
    // count: groups stored.
    CommandResult FetchGroupList();

    // Checks the servers for two entries resolving to one IPv4 address: ok with "Servers OK,
    // no duplicates.", else failed with the Part's message naming the pair or the host
    // that does not resolve.
    CommandResult CheckDuplicateServers(const std::vector<ServerEntry>& servers);

    // Points every subscribed group's download directory below BaseDir (and a subdirectory
    // of its name unless NoAutoSubdir), creating missing ones (asking through the host
    // unless AutoCreateDirs or `create_without_asking`), and saves.
    CommandResult AssignAutoDownloadDirs(bool create_without_asking = false);

    // --- Finding a news server (the first-run wizard) ---

    // The host names to try, in order: "news", "nntp", then per default gateway that has a
    // reverse name the typed host (when not empty) and names derived from the gateway's.
    std::vector<std::string> ServerCandidates(const std::string& typed_host) const;
    struct ServerProbe {
        bool detected = false;
        bool needs_login = false;  // "group alt.test" was answered 48x
    };
    // Tries one candidate as the wizard does (its port, or 119 or 563 with TLS when 0, its
    // login and TLS), telling each step's status text ("Please wait. Trying: ...",
    // "Got response: ...") to `status`, with the dialogue's pauses (short ones after
    // ShortenPausesForTests).
    ServerProbe ProbeServer(ServerEntry server,
                            const std::function<void(const std::string&)>& status);

    // --- Articles ---
    // Both run on the calling thread (a front end calls them from a background thread) over
    // a connection of their own that starts at slot 1's current server and leaves that
    // server index where the work ended. Stop and StopAll wake their connection.

    // The text ComposeArticle builds for the request, posted with POST. ok only when the
    // server answered 240; message: the server's reply line, or "Error posting message!:\n"
    // followed by the reply (or the connection's failure).
    CommandResult PostArticle(const PostRequest& request);
    // Posts an article text as the user edited it (headers included), as PostArticle does.
    CommandResult PostArticleText(const std::string& article_text);
    // Reads the article with ARTICLE over the enabled servers in turn (after GROUP `group`
    // when SetGroup is on and `group` is not empty). `status` hears every status text
    // ("Connecting to HOST...", "Reading...", "Ready...", "Error retrieving article...") on
    // the calling thread; it may be null.
    ArticleRead ReadArticle(const std::string& group, const std::string& message_id,
                            const std::function<void(const std::string& status)>& status);
    // The follow-up of an article text as ReadArticle gives it: "Re: " subject, References,
    // the quoted body. Its group is empty: the caller sets the current group.
    static PostRequest FollowUpOf(const std::string& article_text, const std::string& from);
    // The editable text of an article (headers and body, CR LF line ends); pure.
    static std::string ComposeArticle(const PostRequest& request);

    // --- Status ---

    // The one-second timer: takes the slots' byte counters into the speed and the total,
    // starts workers for entries a worker queued (a downloaded NZB file), and returns the
    // picture.
    EngineStatus Tick();
    // The picture without a tick.
    EngineStatus Status() const;
    // True while a worker or Autograb runs.
    bool Busy() const;
    // Waits up to `bound` for every worker and Autograb to end; true when they have.
    bool WaitIdle(std::chrono::milliseconds bound);
    // Waits for every worker and Autograb to end.
    void WaitForWorkers();

    // Pauses after failures (and the server probe's), for tests that run many of them.
    void ShortenPausesForTests();
    // The reverse names of the default gateways ServerCandidates derives names from ("" for
    // a gateway without one), instead of the system's. Set before use.
    void SetGatewayNamesForTests(std::function<std::vector<std::string>()> names);
    // The millisecond clock of the speed figures (a steady clock unless a test sets its
    // own). Set before work starts.
    void SetClockForTests(std::function<int64_t()> now_ms);

  private:
    class Impl;
    std::unique_ptr<Impl> impl_;
};

}  // namespace qs
