#include "db/header_view.h"

#include <utility>
#include <vector>

#include "app/text_util.h"

namespace qs {

HeaderView::HeaderView(std::shared_ptr<HeaderDatabase> db) : db_(std::move(db)) {}

void HeaderView::SetFilter(const std::string& text) {
    std::string lowered = ToLower(text);
    if (lowered == query_.filter)
        return;
    query_.filter = std::move(lowered);
    Invalidate();
}

bool HeaderView::SetOrder(const std::string& text) {
    std::string canonical;
    if (!HeaderDatabase::AcceptOrder(text, canonical))
        return false;
    if (canonical != query_.order) {
        query_.order = std::move(canonical);
        Invalidate();
    }
    return true;
}

void HeaderView::SetHideIncomplete(bool hide) {
    if (hide == query_.hide_incomplete)
        return;
    query_.hide_incomplete = hide;
    Invalidate();
}

int64_t HeaderView::CountRows() {
    return db_ ? db_->CountView(query_) : 0;
}

// The version is taken before the rows are read: a write that lands meanwhile moves it
// past the one kept, so the next use reads again.
uint64_t HeaderView::CurrentVersion() {
    uint64_t version = db_->data_version();
    if (version != rows_version_) {
        rows_.clear();
        rows_version_ = version;
    }
    return version;
}

void HeaderView::Keep(int64_t first, std::vector<Attachment>& rows) {
    if (rows_.size() + rows.size() > kRowCacheLimit)
        rows_.clear();
    for (size_t k = 0; k < rows.size(); ++k)
        rows_[first + static_cast<int64_t>(k)] = std::move(rows[k]);
}

bool HeaderView::FillRowCache(int64_t first, int64_t count) {
    if (!db_ || first < 0 || count <= 0)
        return false;
    CurrentVersion();
    bool all_cached = true;
    for (int64_t r = first; r < first + count && all_cached; ++r)
        all_cached = rows_.count(r) > 0;
    if (all_cached)
        return true;
    std::vector<Attachment> rows;
    if (!db_->ReadView(query_, first, count, rows))
        return false;
    Keep(first, rows);
    return true;
}

bool HeaderView::AttachmentAt(int64_t row, Attachment& out) {
    if (!db_ || row < 0)
        return false;
    CurrentVersion();
    auto it = rows_.find(row);
    if (it != rows_.end()) {
        out = it->second;
        return true;
    }
    std::vector<Attachment> rows;
    if (!db_->ReadView(query_, row, 1, rows) || rows.empty())
        return false;
    out = rows[0];
    Keep(row, rows);
    return true;
}

}  // namespace qs
