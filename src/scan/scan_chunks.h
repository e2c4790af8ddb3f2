#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "app/settings.h"
#include "db/header_db.h"

namespace qs {

// Below this many article numbers a server's overview is read as one XOVER.
inline constexpr int64_t kChunkedScanMinimum = 100000;
inline constexpr int kMaxScanChunks = 16;

// The chunks `start` .. `last` is read in with ScanChunks `chunks`: none when one XOVER
// from the resume point does (chunks of 1, or a range of at most kChunkedScanMinimum).
std::vector<ArticleRange> SplitScanRange(int64_t start, int64_t last, int chunks);

// What is left of chunks an earlier scan did not finish, cut to the numbers below `start`
// (a scan from `start` reads the rest anyway).
std::vector<ArticleRange> UnreadBelow(const std::vector<ArticleRange>& chunks, int64_t start);

// How a server's chunks are named in the header database.
std::string ScanChunkServer(const ServerEntry& server);

}  // namespace qs
