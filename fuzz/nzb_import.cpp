// NZB files imported into a scratch queue. Input: the NZB file's bytes.
//
// Invariants: every file the import counts is one queue entry, queued, with as many stored
// parts as its partcount says, each naming it; message-ids are "<...>" without blanks or
// control characters and group names without them; the entries' directories lie below the
// download directory (group, then the NZB's name) and nothing is created anywhere else.

#include <sqlite3.h>

#include <filesystem>
#include <fstream>
#include <memory>
#include <string>

#include "app/host.h"
#include "app/settings.h"
#include "db/header_db.h"
#include "download/download_queue.h"
#include "download/nzb_import.h"
#include "fuzz_support.h"

namespace {

using namespace qs;
using fuzz::Count;
namespace fs = std::filesystem;

struct Scratch {
    SilentHost host;
    std::string data = fuzz::ScratchRoot() + "data/";
    std::string dl = fuzz::ScratchRoot() + "dl";
    std::string nzb = fuzz::ScratchRoot() + "in/posted.nzb";
    std::shared_ptr<HeaderDatabase> queue_db;
    std::shared_ptr<HeaderDatabase> log_db;
    std::unique_ptr<DownloadQueue> queue;
    Settings settings;
    sqlite3* check = nullptr;

    Scratch() {
        fs::create_directories(data);
        fs::create_directories(fuzz::ScratchRoot() + "in");
        DbEnv env{data, &host};
        queue_db = HeaderDatabase::Open(env, "queue");
        log_db = HeaderDatabase::Open(env, "log");
        if (!queue_db || !log_db)
            fuzz::Broken("the scratch queue does not open", __FILE__, __LINE__);
        queue = std::make_unique<DownloadQueue>(queue_db, log_db, nullptr);
        settings.BaseDir = dl;
        settings.AutoCreateDirs = 1;
        check = fuzz::OpenForChecking(queue_db->path());
    }
};

bool IsCommandWord(std::string_view text) {
    if (text.empty())
        return false;
    for (unsigned char c : text)
        if (c <= 0x20 || c == 0x7f)
            return false;
    return true;
}

void CheckTree(const Scratch& s) {
    std::error_code ec;
    for (const auto& entry : fs::directory_iterator(fuzz::ScratchRoot(), ec)) {
        const std::string name = entry.path().filename();
        QS_FUZZ_CHECK(name == "data" || name == "dl" || name == "in");
    }
    QS_FUZZ_CHECK(fuzz::CountEntries(fuzz::ScratchRoot() + "in") == 1);
    for (auto it = fs::recursive_directory_iterator(s.dl, ec); !ec && it != fs::end(it);
         it.increment(ec)) {
        QS_FUZZ_CHECK(it->is_directory(ec) && !it->is_symlink(ec));
        QS_FUZZ_CHECK(it.depth() <= 1);
        if (it.depth() == 1)
            QS_FUZZ_CHECK(it->path().filename() == "posted");
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static Scratch s;
    QS_FUZZ_CHECK(s.queue_db->Empty());
    std::error_code ec;
    fs::remove_all(s.dl, ec);
    {
        std::ofstream out(s.nzb, std::ios::binary | std::ios::trunc);
        out.write(reinterpret_cast<const char*>(data), static_cast<std::streamsize>(size));
    }

    const NzbImportResult result = ImportNzbFile(s.nzb, s.queue.get(), s.settings, s.host);
    s.queue_db->Flush();

    std::vector<Attachment> rows;
    QS_FUZZ_CHECK(s.queue_db->StoredRows(0, -1, rows));
    QS_FUZZ_CHECK(static_cast<int64_t>(rows.size()) == result.files);
    for (Attachment& row : rows) {
        QS_FUZZ_CHECK(row.state == StateQueued);
        QS_FUZZ_CHECK(IsCommandWord(row.newsgroup));
        QS_FUZZ_CHECK(row.dir.compare(0, s.dl.size() + 1, s.dl + "/") == 0);
        QS_FUZZ_CHECK(row.dir.size() > s.dl.size() + 1 && row.dir.back() == '/');
        QS_FUZZ_CHECK(row.dir.ends_with("/posted/"));
        QS_FUZZ_CHECK(row.dir.find("/../") == std::string::npos);
        QS_FUZZ_CHECK(s.queue_db->LoadParts(row));
        QS_FUZZ_CHECK(static_cast<int>(row.partlist.size()) == row.partcount);
        QS_FUZZ_CHECK(row.partcount > 0);
        for (const MessageVars& part : row.partlist) {
            QS_FUZZ_CHECK(part.attachment == row.Id);
            QS_FUZZ_CHECK(part.MessageId.size() > 2 && part.MessageId.front() == '<' &&
                          part.MessageId.back() == '>');
            QS_FUZZ_CHECK(IsCommandWord(part.MessageId));
            QS_FUZZ_CHECK(part.bytes >= 0 && part.partnum >= 0);
        }
    }
    QS_FUZZ_CHECK(Count(s.check,
                        "SELECT count(*) FROM MessageVars m WHERE NOT EXISTS (SELECT 1 FROM "
                        "Attachment a WHERE a.partkey=m.partkey)") == 0);
    CheckTree(s);
    return 0;
}
