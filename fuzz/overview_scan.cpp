// Overview lines as a scan takes them: the header filter, the field split, subject and date
// parsing and the merge into a scratch header database. Input: a first line choosing the
// filter ("<mode byte><words or expression>"), then overview lines.
//
// Invariants: every stored part names a stored attachment (by Id and part key); an
// attachment's partcount is the number of its stored parts, which are all different
// articles, and its state follows from partcount and parts as the merge rule says; no field
// holds a tab or a line end; the name is the subject's start.

#include <sqlite3.h>

#include <memory>
#include <set>
#include <string>
#include <string_view>
#include <vector>

#include "app/host.h"
#include "db/header_db.h"
#include "fuzz_support.h"
#include "scan/date_parser.h"
#include "scan/header_filter.h"
#include "scan/overview_line.h"
#include "scan/subject_parser.h"

namespace {

using namespace qs;
using fuzz::Count;

struct Scratch {
    SilentHost host;
    Group group;
    sqlite3* check = nullptr;  // a second connection that looks at what was stored

    Scratch() {
        group.name = "alt.binaries.fuzz";
        group.downloaddir = fuzz::ScratchRoot() + "dl/";
        DbEnv env{fuzz::ScratchRoot(), &host};
        if (!OpenHeaderDatabase(group, env))
            fuzz::Broken("the scratch database does not open", __FILE__, __LINE__);
        check = fuzz::OpenForChecking(group.db->path());
    }
};

void CheckStored(sqlite3* db, HeaderDatabase& store) {
    // Runs of parts whose key names no stored attachment.
    QS_FUZZ_CHECK(Count(db,
                        "SELECT count(*) FROM MessageVars m WHERE NOT EXISTS (SELECT 1 FROM "
                        "Attachment a WHERE a.partkey=m.partkey)") == 0);
    // Attachments whose partcount disagrees with their stored parts, or that hold one
    // article twice.
    std::vector<Attachment> rows;
    QS_FUZZ_CHECK(store.StoredRows(0, -1, rows));
    for (Attachment& a : rows) {
        QS_FUZZ_CHECK(store.LoadParts(a));
        QS_FUZZ_CHECK(a.partlist.size() == static_cast<size_t>(a.partcount));
        std::set<std::string> ids;
        for (const MessageVars& part : a.partlist)
            QS_FUZZ_CHECK(ids.insert(part.MessageId).second);
    }
    // Two attachments with one Id, or one part key.
    QS_FUZZ_CHECK(Count(db, "SELECT count(*) - count(DISTINCT Id) FROM Attachment") == 0);
    QS_FUZZ_CHECK(Count(db, "SELECT count(*) - count(DISTINCT partkey) FROM Attachment") == 0);
    // A scanned attachment is complete when it has every announced part; a first part of a
    // counter other than "/1" ("(1/0)" too) leaves it incomplete until a second one comes.
    QS_FUZZ_CHECK(Count(db,
                        "SELECT count(*) FROM Attachment WHERE state != CASE WHEN parts=1 THEN 1 "
                        "WHEN partcount<parts OR partcount=1 THEN 2 ELSE 1 END") == 0);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static Scratch scratch;
    std::string_view input = fuzz::AsText(data, size);

    const size_t first_end = input.find('\n');
    std::string_view spec = input.substr(0, first_end);
    input = first_end == std::string_view::npos ? std::string_view() : input.substr(first_end + 1);
    HeaderFilter::Options options;
    if (!spec.empty()) {
        const auto mode = static_cast<unsigned char>(spec.front());
        options.on = mode & 1;
        options.exclude = mode & 2;
        options.regex = mode & 4;
        options.text = std::string(spec.substr(1));
    }
    HeaderFilter filter;
    filter.Prepare(options, scratch.host);
    for (const std::string& word : filter.words())
        QS_FUZZ_CHECK(word.find(',') == std::string::npos);

    QS_FUZZ_CHECK(scratch.group.db->Empty());
    // Stored as a scan stores them: the accepted lines in one batch, many parts a statement.
    std::vector<OverviewRecord> records;
    {
        DbBatch batch(scratch.group.db);
        while (!input.empty()) {
            const size_t end = input.find('\n');
            std::string_view line = input.substr(0, end);
            input = end == std::string_view::npos ? std::string_view() : input.substr(end + 1);
            if (!IsOverviewDataLine(line))
                continue;
            const OverviewFields fields = SplitOverviewLine(line);
            for (std::string_view f :
                 {fields.number, fields.subject, fields.from, fields.date, fields.message_id,
                  fields.references, fields.bytes, fields.lines}) {
                QS_FUZZ_CHECK(f.find('\t') == std::string_view::npos);
                QS_FUZZ_CHECK(f.find('\n') == std::string_view::npos);
            }
            if (!filter.Accepts(fields.subject, fields.from))
                continue;
            ParseOverviewFields(fields, records.emplace_back());
            const SubjectCounter counter = ParseSubjectCounter(fields.subject);
            QS_FUZZ_CHECK(fields.subject.substr(0, counter.name.size()) == counter.name);
        }
        std::vector<ScannedArticle> articles;
        for (const OverviewRecord& record : records)
            if (!ToScannedArticle(record, articles.emplace_back()))
                articles.pop_back();
        QS_FUZZ_CHECK(scratch.group.db->StoreScanned(articles, scratch.group.downloaddir,
                                                     scratch.group.name));
    }
    scratch.group.db->Flush();
    CheckStored(scratch.check, *scratch.group.db);
    // The recount of the sizes, which the next opening of the file runs, does not fail on
    // whatever sizes the lines claimed.
    const uint64_t failures = scratch.group.db->failures();
    QS_FUZZ_CHECK(scratch.group.db->TotalKilobytes() >= 0);
    QS_FUZZ_CHECK(scratch.group.db->failures() == failures);
    return 0;
}
