#include "db/group_list_view.h"

#include <utility>

#include "app/text_util.h"

namespace qs {

namespace {
// Past this many cached rows the cache starts afresh (a list scrolled end to end).
constexpr size_t kGroupRowCacheLimit = 20000;
}  // namespace

GroupListView::GroupListView(std::shared_ptr<HeaderDatabase> db) : db_(std::move(db)) {}

void GroupListView::SetFilter(const std::string& text) {
    std::string lowered = ToLower(text);
    if (lowered == query_.filter)
        return;
    query_.filter = std::move(lowered);
    Invalidate();
}

bool GroupListView::SetOrder(const std::string& text) {
    std::string canonical;
    if (!HeaderDatabase::AcceptOrder(text, canonical))
        return false;
    // Only the group columns: an attachment order would silently mean "by name" here.
    std::string column = canonical.substr(0, canonical.find(' '));
    if (!column.empty() && column != "name" && column != "first" && column != "last" &&
        column != "amount" && column != "downloaddir")
        return false;
    if (canonical != query_.order) {
        query_.order = std::move(canonical);
        Invalidate();
    }
    return true;
}

int64_t GroupListView::CountRows() {
    if (!db_)
        return 0;
    int64_t n = db_->CountView(query_);
    return n < 0 ? 0 : n;
}

bool GroupListView::FillRowCache(int64_t first, int64_t count) {
    if (!db_ || first < 0 || count <= 0)
        return false;
    // The version is taken before the rows are read: a write landing meanwhile moves it
    // past the one kept, so the next use reads again.
    uint64_t version = db_->data_version();
    if (version != rows_version_) {
        rows_.clear();
        rows_version_ = version;
    }
    bool all_cached = true;
    for (int64_t r = first; r < first + count && all_cached; ++r)
        all_cached = rows_.count(r) > 0;
    if (all_cached)
        return true;
    if (rows_.size() + static_cast<size_t>(count) > kGroupRowCacheLimit)
        rows_.clear();
    return db_->GroupsPage(query_, first, count, rows_);
}

bool GroupListView::GroupAt(int64_t row, Group& out) {
    if (!db_ || row < 0)
        return false;
    if (!FillRowCache(row, 1))
        return false;
    auto it = rows_.find(row);
    if (it == rows_.end())
        return false;
    out = it->second;
    return true;
}

void GroupListView::Invalidate() {
    rows_.clear();
    rows_version_ = 0;
}

}  // namespace qs
