#pragma once

// One caller's view of the groups database (the server's list of groups): its search
// text, order and row cache, as HeaderView is for a newsgroup's attachments.

#include <cstdint>
#include <map>
#include <memory>
#include <string>

#include "db/header_db.h"
#include "db/records.h"

namespace qs {

class GroupListView {
  public:
    // A null database gives a view with no rows.
    explicit GroupListView(std::shared_ptr<HeaderDatabase> db);
    const std::shared_ptr<HeaderDatabase>& db() const { return db_; }

    // The groups whose name holds every blank-separated word of `text` (any case); "" shows
    // all.
    void SetFilter(const std::string& text);
    // "name", "first", "last", "amount", "downloaddir", optionally + " desc". False (kept)
    // for another text.
    [[nodiscard]] bool SetOrder(const std::string& text);
    const std::string& filter() const { return query_.filter; }
    const std::string& order() const { return query_.order; }

    int64_t CountRows();
    // The cache hint of a virtual list.
    bool FillRowCache(int64_t first, int64_t count);
    // One row, from the cache while the database has not changed since, else read now.
    bool GroupAt(int64_t row, Group& out);
    void Invalidate();

  private:
    std::shared_ptr<HeaderDatabase> db_;
    ViewQuery query_;
    std::map<int64_t, Group> rows_;
    uint64_t rows_version_ = 0;
};

}  // namespace qs
