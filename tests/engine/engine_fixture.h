#pragma once

// The engine suites' fixture: a fresh home per test, engines opened over it, and a
// listener and host that keep what they were told.

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <functional>
#include <memory>
#include <mutex>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "engine/engine.h"
#include "support/generated_corpus.h"
#include "support/news_server.h"
#include "support/temp_dir.h"

namespace qs {

// Every event in the order it came, as text, plus the filed entries and scan reports.
class RecordingListener : public EventListener {
  public:
    void OnEntryFiled(const FiledEntry& entry) override {
        std::lock_guard lock(mutex_);
        order_.push_back("filed " + entry.filename);
        filed_.push_back(entry);
    }
    void OnScanEnded(const ScanReport& report) override {
        std::lock_guard lock(mutex_);
        order_.push_back("scanned " + report.group);
        scans_.push_back(report);
    }
    void OnSetProcessed(const ProcessedSet& set) override {
        std::lock_guard lock(mutex_);
        order_.push_back("set " + set.name + ": " + set.outcome);
        sets_.push_back(set);
    }
    std::vector<ProcessedSet> sets() const {
        std::lock_guard lock(mutex_);
        return sets_;
    }
    void OnGroupListChanged() override {
        std::lock_guard lock(mutex_);
        order_.push_back("groups");
    }
    void OnRowsChanged(const std::string& database, const std::vector<std::string>& ids) override {
        std::lock_guard lock(mutex_);
        for (const std::string& id : ids)
            changed_rows_.push_back(database + " " + id);
    }
    // "database Id" for each row an OnRowsChanged named.
    std::vector<std::string> changed_rows() const {
        std::lock_guard lock(mutex_);
        return changed_rows_;
    }
    std::vector<std::string> order() const {
        std::lock_guard lock(mutex_);
        return order_;
    }
    std::vector<FiledEntry> filed() const {
        std::lock_guard lock(mutex_);
        return filed_;
    }
    std::vector<ScanReport> scans() const {
        std::lock_guard lock(mutex_);
        return scans_;
    }

  private:
    mutable std::mutex mutex_;
    std::vector<std::string> order_;
    std::vector<FiledEntry> filed_;
    std::vector<ScanReport> scans_;
    std::vector<ProcessedSet> sets_;
    std::vector<std::string> changed_rows_;
};

// Answers every question yes and keeps the files it was asked to open and the messages it
// was to show.
class OpeningHost : public SilentHost {
  public:
    OpeningHost() : SilentHost(true) {}
    void ShowMessage(const std::string& text, Icon icon) override {
        std::lock_guard lock(mutex_);
        messages_.push_back({text, icon});
    }
    std::vector<std::pair<std::string, Icon>> messages() const {
        std::lock_guard lock(mutex_);
        return messages_;
    }
    void OpenFile(const std::string& path) override {
        std::lock_guard lock(mutex_);
        opened_.insert(std::filesystem::path(path).filename().string());
    }
    std::set<std::string> opened() const {
        std::lock_guard lock(mutex_);
        return opened_;
    }

  private:
    mutable std::mutex mutex_;
    std::set<std::string> opened_;
    std::vector<std::pair<std::string, Icon>> messages_;
};

class EngineTest : public ::testing::Test {
  protected:
    std::unique_ptr<Engine> OpenEngine() {
        auto engine = std::make_unique<Engine>(
            StartupContext{home_.path(), home_.File("Quillstream.ini"), ""}, host_);
        EXPECT_TRUE(engine->Open());
        engine->ShortenPausesForTests();
        engine->SetListener(&events_);
        return engine;
    }

    // Settings with the server and the groups, each downloading into a folder of its name.
    void Configure(const test::NewsServer& server, const std::vector<std::string>& groups,
                   const std::function<void(Settings&)>& more = {}) {
        Settings s;
        s.servers.push_back({server.host(), "", "", 0, server.port()});
        for (const std::string& g : groups)
            s.groups.push_back({g, home_.File(g) + "/", 0});
        s.SocketTimeout = 10;
        s.AutoCreateDirs = 1;
        if (more)
            more(s);
        ASSERT_TRUE(SaveSettings(s, home_.File("Quillstream.ini")));
    }

    // Every binary file of alt.binaries.test arrived whole in its folder.
    void ExpectBinariesDownloaded(const test::GeneratedCorpus& corpus) {
        for (size_t i = 0; i < corpus.files().size(); ++i) {
            const test::CorpusFile& f = corpus.files()[i];
            if (f.group == "alt.binaries.test" && f.encoding != test::CorpusEncoding::Text) {
                EXPECT_EQ(test::ReadFile(home_.File("alt.binaries.test/" + f.name)),
                          corpus.FileData(i))
                    << f.name;
            }
        }
    }

    // Scans the group on the free slots and waits until the scan has ended.
    static void ScanToEnd(Engine& engine, const std::string& group) {
        ASSERT_GT(engine.StartScan(group).count, 0);
        engine.WaitForWorkers();
    }

    static std::vector<Attachment> Rows(Engine& engine, const std::string& name) {
        std::unique_ptr<HeaderView> view = engine.OpenView(name);
        std::vector<Attachment> rows;
        Attachment a;
        for (int64_t row = 0; view && view->AttachmentAt(row, a); ++row)
            rows.push_back(a);
        return rows;
    }

    static int StateOf(Engine& engine, const std::string& id) {
        for (const Attachment& a : Rows(engine, "queue"))
            if (a.Id == id)
                return a.state;
        return -1;
    }

    static std::vector<std::string> Filenames(Engine& engine, const std::string& name) {
        std::vector<std::string> out;
        for (const Attachment& a : Rows(engine, name))
            out.push_back(a.filename);
        return out;
    }

    static int GroupState(Engine& engine, const std::string& group, const std::string& filename) {
        for (const Attachment& a : Rows(engine, group))
            if (a.filename == filename)
                return a.state;
        return -1;
    }

    test::TempDir home_;
    OpeningHost host_;
    RecordingListener events_;
};

// BODY commands the server has heard.
inline int BodyCommands(const test::NewsServer& server) {
    int n = 0;
    for (const std::string& c : server.commands())
        n += c.rfind("BODY", 0) == 0;
    return n;
}

// Waits until the server has heard a command starting with `verb` (the count of commands
// before it changes with what the client asks first, CAPABILITIES among them).
inline bool WaitForVerb(const test::NewsServer& server, const std::string& verb,
                        std::chrono::milliseconds bound) {
    const auto end = std::chrono::steady_clock::now() + bound;
    for (size_t seen = 1; std::chrono::steady_clock::now() < end; ++seen) {
        for (const std::string& c : server.commands())
            if (c.rfind(verb, 0) == 0)
                return true;
        server.WaitForCommands(seen, std::chrono::milliseconds(50));
    }
    return false;
}

// A one-part yEnc post of "abc" under the given file name.
inline test::MemoryCorpus::Article SmallYencPost(const std::string& name) {
    test::MemoryCorpus::Article a;
    a.subject = name + " yEnc";
    a.body = "=ybegin line=128 size=3 name=" + name + "\n\x8b\x8c\x8d\n=yend size=3\n";
    return a;
}

}  // namespace qs
