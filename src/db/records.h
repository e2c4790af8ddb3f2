#pragma once

// The rows of the header databases: one article (MessageVars), one posted file made of
// articles (Attachment) and one newsgroup (Group). Field names are the stored column names.

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace qs {

// Attachment states. 0 is a freshly built record; 7 is never stored.
inline constexpr int StateComplete = 1;     // every announced part present, or a single part
inline constexpr int StateIncomplete = 2;   // partcount < parts
inline constexpr int StateQueued = 3;       // in the download queue
inline constexpr int StateDownloading = 4;  // a worker is downloading it
inline constexpr int StateDone = 5;         // downloaded (or read)
inline constexpr int StateFailed = 6;       // download failed or was stopped
inline constexpr int StateScanJob = 8;      // queue entry that scans a group
// A queue entry held back: a par2 recovery volume of a set whose index may show that it is
// not needed. No worker takes it until it is released (queued again) or dropped. Stored
// like any other state; a version that does not know it leaves the entry alone.
inline constexpr int StateHeld = 9;

// One article: one part of an attachment.
struct MessageVars {
    std::string MessageId;   // as the overview gives it, angle brackets included
    std::string attachment;  // Id of the attachment this article belongs to
    int64_t ArticleId = 0;   // article number on the server it was scanned from
    int64_t lines = 0;       // overview line count
    int64_t bytes = 0;       // overview byte count
    int partnum = 1;         // part number; 1 when the subject has no part counter

    bool operator==(const MessageVars&) const = default;
};

// One posted file, possibly spread over many articles.
struct Attachment {
    int state = 0;          // one of the State* values (0 for a fresh record)
    std::string email;      // the poster, the overview's From field unchanged
    int parts = 1;          // parts the counter announces; 1 without a counter
    int partcount = 0;      // MessageVars rows stored for it
    int64_t bytes = 0;      // total bytes of the parts present
    int64_t lines = 0;      // total lines of the parts present
    int64_t date = 0;       // posting time of the first part, seconds since 1970 UTC; 0 unknown
    std::string Id;         // Message-ID of the only article when parts is 1, else filename
    std::string filename;   // subject without part counter; for a scan entry the group name
    std::string dir;        // download directory (the group's downloaddir at scan time)
    std::string newsgroup;  // group it was scanned from; for a scan entry the group to scan
    int isnew = 0;          // 1 when the latest scan of its group added a part
    std::string reason;     // why a filed entry failed or is damaged; empty otherwise

    // Not stored: display flags of the attachment list, and the parts carried along when
    // an attachment moves between databases (queue, log, group).
    int flags[3] = {0, 0, 0};
    std::vector<MessageVars> partlist;
};

class HeaderDatabase;  // db/header_db.h

// One newsgroup. A Group object also names the header database opened under its name
// (see db/header_db.h); copying a Group copies the stored fields but never the open
// database: a copy opens its own when it is used.
class Group {
  public:
    std::string downloaddir;  // where this group's attachments are downloaded
    std::string name;         // the group's name as the server lists it
    int64_t first = 0;        // lowest article number of the LIST reply
    int64_t amount = 0;       // last - first
    int64_t last = 0;         // highest article number of the LIST reply
    int state = 0;            // 1 subscribed, 0 not (groups database)
    int64_t lastscanned = 0;  // start of the latest scan, seconds since 1970 UTC; 0 emptied

    // The open header database, null while closed. Managed by db/header_db.h.
    std::shared_ptr<HeaderDatabase> db;

    Group() = default;
    virtual ~Group() = default;
    Group(const Group& o) { CopyStored(o); }
    Group& operator=(const Group& o) {
        if (this != &o) {
            db.reset();  // closes an open database first
            CopyStored(o);
        }
        return *this;
    }
    Group(Group&&) = default;
    Group& operator=(Group&&) = default;

  private:
    void CopyStored(const Group& o) {
        downloaddir = o.downloaddir;
        name = o.name;
        first = o.first;
        amount = o.amount;
        last = o.last;
        state = o.state;
        lastscanned = o.lastscanned;
    }
};

}  // namespace qs
