#pragma once

#include <deque>
#include <string>

#include "app/events.h"
#include "db/records.h"
#include "download/decoder.h"
#include "download/download_worker.h"
#include "nntp/server_rotation.h"

namespace qs {

// The most BODY commands a connection has in flight.
inline constexpr int kMaxPipelineDepth = 16;
// The setting PipelineDepth, within 1 and kMaxPipelineDepth.
int PipelineDepthOf(const Settings& settings);

// The parts of one entry whose BODY commands went out on the slot's connection and whose
// replies have not been read yet, oldest first, and the next part to send.
struct BodyPipeline {
    std::deque<int> in_flight;
    int next_to_send = 0;
};

// One BODY exchange for part `index` of the entry on the slot's connection, connecting
// first when there is none (and selecting the entry's group on a fresh connection with
// SetGroup). Up to PipelineDepth commands are kept in flight: this part's and those of the
// parts after it, whose replies the next calls read in order. `body` receives the body as
// PartBody describes. Written means the body arrived up to its closing line; a body cut
// short keeps what was read and is ConnectionLost. `reply` gets the server's reply line when it
// refused. A caller that drops the connection leaves `pipeline` to the next call, which starts it
// again from `index`.
PartOutcome FetchPart(DownloadShared& shared, int slot, ServerRotation& rotation,
                      const Attachment& entry, int index, SlotConnection& connection,
                      BodyPipeline& pipeline, PartBody& body, std::string& reply);

// What DownloadAttachment reports.
struct EntryResult {
    EntryOutcome outcome = EntryOutcome::Failed;
    std::string reason;       // why it is not Done
    std::string output_path;  // the file the decoder wrote, empty when none
    int parts_missing = 0;    // parts given up under SkipMissing: the file has holes
    int parts_damaged = 0;    // parts that failed their check, kept as they came
};

// Fetches every part of the entry in order, retrying a failed part (or a yEnc part that
// fails its check) on the next server within the rotation's part retries, decodes them
// with the decoder that recognises the first part, and opens or imports the result for
// Grab And Open. The connection is kept across calls unless a failure or the server order
// closes it.
EntryResult DownloadAttachment(DownloadShared& shared, int slot, const Attachment& entry,
                               SlotConnection& connection);

}  // namespace qs
