#pragma once

#include <string>
#include <string_view>

#include "app/host.h"
#include "app/settings.h"
#include "download/download_queue.h"

namespace qs {

// Larger NZB files are refused ("NZB file too large") rather than loaded into memory: the
// parsed document takes about fifteen times the file's size, and 32 MiB of NZB already
// describe terabytes of posts.
inline constexpr long long kMaxNzbBytes = 32LL * 1024 * 1024;

struct NzbImportResult {
    int files = 0;       // files stored into the queue
    bool error = false;  // something could not be read ("Error reading NZB file." was shown)
};

// The directory name an NZB file gives its files: the path without any occurrence of its
// last four characters (".nzb" in whatever case it is written), after the last "/", made a
// single safe path component.
std::string NzbBaseName(std::string_view path);

// Imports an NZB file into the queue: every "file" element becomes a queued entry whose
// parts are its segments, downloaded into the group's directory below a directory named
// after the NZB file. The content is untrusted: names become single path components, and
// group names and message-ids that would break a command line are refused. Files read
// before an error stay queued; one "Error reading NZB file." message reports any error.
NzbImportResult ImportNzbFile(const std::string& path, DownloadQueue* queue,
                              const Settings& settings, Host& host);

}  // namespace qs
