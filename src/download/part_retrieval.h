#pragma once

#include <memory>
#include <string>

#include "db/records.h"
#include "download/decoder.h"
#include "download/download_queue.h"
#include "nntp/nntp_socket.h"

namespace qs {

// How a fetch of one part ended.
enum class FetchResult {
    Good,         // the body up to its closing "." line (or the work was stopped)
    Failed,       // not good: fetch it again, from the next server
    Unreachable,  // no server could be connected to (or the work was stopped meanwhile)
};

// One BODY exchange for `part` on the slot's connection, connecting first when there is
// none (and selecting the entry's group on a fresh connection with SetGroup). `lines`
// receives the body lines, line ends as LineList describes; lines longer than a reply
// buffer are read whole. A body cut short by the connection keeps the lines read but is
// not good.
FetchResult FetchPart(DownloadShared& shared, int slot, const Attachment& entry,
                      const MessageVars& part, std::unique_ptr<NntpSocket>& connection,
                      LineList& lines);

// What DownloadAttachment reports.
struct DownloadResult {
    bool success = false;
    bool unreachable = false;  // gave up because no server could be connected to
    std::string output_path;   // the file the decoder wrote, empty when none
    int parts_missing = 0;     // parts given up under SkipMissing: the file has holes
};

// Fetches every part of the entry in order, retrying a failed part (or a yEnc part that
// fails its check) on the next server within ConnectionRetries rounds over the servers,
// decodes them with the decoder that recognises the first part, and opens or imports the
// result for Grab And Open. The connection is kept across calls unless a failure or the
// server order closes it.
DownloadResult DownloadAttachment(DownloadShared& shared, int slot, const Attachment& entry,
                                  std::unique_ptr<NntpSocket>& connection);

}  // namespace qs
