#pragma once

#include <string>

#include "download/download_sets.h"
#include "download/download_worker.h"

namespace qs {

// Runs on the worker that filed the last queued entry of a set. With held recovery volumes
// the set is verified first: when blocks are missing, as many volumes as the repair needs
// are queued again and the set finishes once more after they are filed; when even all of
// them would not do, the set fails at once. Otherwise the set is repaired and unpacked as
// the settings say, and the outcome goes to the log and the listener. A stop of the work or
// of the slot ends a running par2.
void FinishSet(DownloadShared& shared, int slot, const SetKey& set, const std::string& name);

}  // namespace qs
