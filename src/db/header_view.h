#pragma once

// One caller's view of a header database: its filter, order, hide-incomplete switch and row
// cache. Each window or command owns its own; one thread at a time uses a view, while
// workers write to the database beneath it.

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <unordered_map>
#include <vector>

#include "db/header_db.h"

namespace qs {

class HeaderView {
  public:
    static constexpr size_t kRowCacheLimit = 20000;

    // A null database gives a view with no rows.
    explicit HeaderView(std::shared_ptr<HeaderDatabase> db);
    const std::shared_ptr<HeaderDatabase>& db() const { return db_; }

    void SetFilter(const std::string& text);  // stored lower-cased
    // Refused (false, order kept) unless HeaderDatabase::AcceptOrder; kept in canonical form.
    [[nodiscard]] bool SetOrder(const std::string& text);
    void SetHideIncomplete(bool hide);
    const std::string& filter() const { return query_.filter; }
    const std::string& order() const { return query_.order; }
    bool hide_incomplete() const { return query_.hide_incomplete; }
    const ViewQuery& query() const { return query_; }

    // How many rows the view shows now (-1 when the query fails); leaves the row cache alone.
    int64_t CountRows();
    // The cache hint of a virtual list: reads rows first .. first+count-1 unless all of them
    // are cached and the database has not changed since.
    bool FillRowCache(int64_t first, int64_t count);
    // One row: from the cache while the database has not changed since it was read, else
    // read now. False past the end.
    bool AttachmentAt(int64_t row, Attachment& out);
    // Forgets the cached rows (after the caller changed the database or was told it changed).
    void Invalidate() { rows_.clear(); }

  private:
    // Drops the cached rows when the database changed since they were read; the version
    // the rows about to be read will be valid for.
    uint64_t CurrentVersion();
    void Keep(int64_t first, std::vector<Attachment>& rows);

    std::shared_ptr<HeaderDatabase> db_;
    ViewQuery query_;
    std::unordered_map<int64_t, Attachment> rows_;
    uint64_t rows_version_ = 0;  // data_version when every cached row was read
};

}  // namespace qs
