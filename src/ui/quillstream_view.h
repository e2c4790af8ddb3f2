#pragma once

#include <wx/listctrl.h>

#include <array>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "app/settings.h"
#include "db/header_view.h"
#include "db/records.h"

class wxImageList;

namespace qs {
class Engine;
}

namespace qs::ui {

class ViewHost;
class CPartsDialog;

// What the find/filter dialog asks for (its "&Find Next").
struct FindRequest {
    std::string text;
    bool whole_word = false;
    bool match_case = false;
    bool regular_expression = false;
    bool down = true;
    int action = 0;  // 0 find next, 1 select all, 2 remove all, 3 keep all matching
};

// What a find did: found something, or the message to show ("Not found!", or
// "Regular expression:<error>\n" when the expression does not compile).
struct FindOutcome {
    bool found = false;
    bool regex_error = false;
    std::string message;
};

// The attachment list: a virtual report list over a HeaderView of the current group's
// database (tab List), the queue (tab Queue) or the log (tab Log). Rows are read through
// the view's cache hint; several rows can be selected. Sorting by a header click, the
// remembered top row of each tab, dragging queue rows, find/filter and the parts window
// live here.
class CQuillstreamView : public wxListCtrl {
  public:
    CQuillstreamView(wxWindow* parent, Engine& engine, ViewHost& host);
    ~CQuillstreamView() override;

    // A group row was selected: its database becomes the source of the List tab, the List
    // tab is shown and the selection cleared ("" for no group).
    void ShowGroup(const std::string& group);
    // Switch source: shows tab kTabList, kTabQueue or kTabLog, restoring its top row.
    void SelectTab(int tab);
    int tab() const { return tab_; }
    // The group the List tab shows ("" none).
    const std::string& current_group() const { return group_; }
    // The database name the list shows: the group, "queue" or "log"; "" for none.
    std::string source_name() const;
    // The view the list reads through; null when there is no source.
    HeaderView* view() { return view_.get(); }

    // Selected rows in ascending order, and their attachments as the view has them.
    std::vector<int64_t> SelectedRows() const;
    std::vector<Attachment> SelectedAttachments();
    void SelectAllRows();
    void ClearSelection();

    // The row count follows the source's count when they differ, without scrolling (the
    // one-second timer and every cache hint).
    void SyncRowCount();
    // Forgets the cached rows, fixes the row count and redraws (after a command or an
    // event changed the source, or the options changed whether incomplete rows show).
    void Reload();
    // The filter box: the group source's filter (the queue and the log ignore it).
    void SetFilterText(const std::string& text);
    void SetGridLines(bool on);

    // Sort by column c as a header click does (nothing on the Queue and Log tabs).
    void SortByColumn(int column);
    int sort_column() const { return sort_column_; }
    int sort_direction() const { return sort_direction_; }

    // The find/filter action; the dialog shows the outcome's message.
    FindOutcome RunFind(const FindRequest& request);
    // The remembered find state a new dialog starts with.
    const FindRequest& last_find() const { return last_find_; }
    int64_t find_position() const { return find_position_; }

    // Properties: the parts window for the selected row (false, nothing shown, when none).
    bool ShowProperties();
    CPartsDialog* parts_dialog() { return parts_; }

    // Queue reordering (what a drag does): moves the selected queue rows by `delta` rows,
    // keeping them selected; rows that would leave the list stop the move.
    void MoveSelectedQueueRows(int64_t delta);

    // The column widths into settings.ViewColumn, and the sort direction into
    // settings.SortDirection (it is shared by every group and kept across runs).
    void SaveColumnWidths(Settings& settings) const;

  private:
    wxString OnGetItemText(long item, long column) const override;
    int OnGetItemImage(long item) const override;
    wxItemAttr* OnGetItemAttr(long item) const override;
    bool RowAt(long item, Attachment& out) const;
    void SetSource(std::unique_ptr<HeaderView> view);
    // The Result column shows on the Queue and Log tabs only.
    void SyncResultColumn();
    void ApplyHeaderArrows();
    // The source's row count; 0 with no source or when it cannot be counted.
    long SourceRowCount() const;
    // A row for a long walk (find): reads the rows ahead in `step`'s direction in one go.
    bool WalkRowAt(int64_t row, int step, Attachment& out);
    void SelectRow(long row);
    // Reports the selection count, and moves the parts window to `selected` when shown.
    void SelectionChanged(long selected);
    void ShowPartsOf(Attachment attachment);
    // Shows the stored top row of `tab`, or row 0.
    void RestoreTopRow(int tab);
    wxWindow* RowsWindow() const;
    void OnKeyDown(wxKeyEvent& event);
    void OnCaptureLost(wxMouseCaptureLostEvent& event);

    void OnCacheHint(wxListEvent& event);
    void OnSelectionChanged(wxListEvent& event);
    void OnActivated(wxListEvent& event);
    void OnRightClick(wxListEvent& event);
    void OnColumnClick(wxListEvent& event);
    void OnBeginDrag(wxListEvent& event);
    void OnMouseMove(wxMouseEvent& event);
    void OnMouseUp(wxMouseEvent& event);
    void OnLeftDown(wxMouseEvent& event);

    Engine& engine_;
    ViewHost& host_;
    std::string group_;
    int tab_ = 0;
    std::unique_ptr<HeaderView> view_;
    std::unique_ptr<HeaderView> group_view_;  // kept while another tab shows
    std::array<std::optional<long>, 3> top_rows_;
    int sort_column_ = 0;
    int sort_direction_ = 1;
    int64_t find_position_ = 0;
    FindRequest last_find_;
    bool dragging_ = false;
    long drag_row_ = -1;
    std::unique_ptr<wxImageList> state_images_;
    std::unique_ptr<wxImageList> arrow_images_;
    mutable wxItemAttr new_row_attr_;
    CPartsDialog* parts_ = nullptr;
    std::string filter_text_;  // the filter box; every group source gets it
    bool bulk_ = false;        // a bulk action runs: selection events are reported once
    int last_click_x_ = -1;    // x of the latest click on the rows; -1 after a key
    int64_t walk_first_ = -1;  // the rows WalkRowAt read last
    int64_t walk_last_ = -1;
    bool sync_pending_ = false;  // a cache hint found the count changed
};

}  // namespace qs::ui
