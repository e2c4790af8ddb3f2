#include "scan/scan_chunks.h"

#include <algorithm>

namespace qs {

std::vector<ArticleRange> SplitScanRange(int64_t start, int64_t last, int chunks) {
    chunks = std::clamp(chunks, 1, kMaxScanChunks);
    if (chunks == 1 || last - start <= kChunkedScanMinimum)
        return {};
    const int64_t span = last - start + 1;
    std::vector<ArticleRange> out;
    int64_t first = start;
    for (int i = 0; i < chunks; ++i) {
        // The remainder is spread over the first chunks, one number each.
        int64_t size = span / chunks + (i < span % chunks ? 1 : 0);
        out.push_back({first, first + size - 1});
        first += size;
    }
    return out;
}

std::vector<ArticleRange> UnreadBelow(const std::vector<ArticleRange>& chunks, int64_t start) {
    std::vector<ArticleRange> out;
    for (const ArticleRange& chunk : chunks) {
        if (chunk.first >= start || chunk.first > chunk.last)
            continue;
        out.push_back({chunk.first, std::min(chunk.last, start - 1)});
    }
    return out;
}

std::string ScanChunkServer(const ServerEntry& server) {
    return server.host + ":" + std::to_string(server.port);
}

}  // namespace qs
