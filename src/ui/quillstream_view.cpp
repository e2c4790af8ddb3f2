#include "ui/quillstream_view.h"

#include <wx/imaglist.h>
#include <wx/toplevel.h>
#include <wx/utils.h>
#include <wx/wupdlock.h>

#include <algorithm>

#include "app/debug_log.h"
#include "engine/engine.h"
#include "ui/art.h"
#include "ui/command_ids.h"
#include "ui/find_matcher.h"
#include "ui/list_text.h"
#include "ui/parts_dialog.h"
#include "ui/view_host.h"

namespace qs::ui {
namespace {

constexpr int kColumns = 6;
struct ViewColumnSpec {
    const char* caption;
    const char* order_key;
    wxListColumnFormat align;
    int width;                // the stock width (Settings::ViewColumn's default)
    const char* widest_text;  // the widest text of a column of fixed form
};
constexpr ViewColumnSpec kViewColumns[kColumns] = {
    {"Header", "filename", wxLIST_FORMAT_LEFT, 450, nullptr},
    {"From", "email", wxLIST_FORMAT_LEFT, 200, nullptr},
    {"Size", "bytes", wxLIST_FORMAT_RIGHT, 70, "8888.88 MB"},
    {"Lines", "lines", wxLIST_FORMAT_RIGHT, 70, nullptr},
    {"Parts", "parts", wxLIST_FORMAT_RIGHT, 50, nullptr},
    {"Date", "date", wxLIST_FORMAT_RIGHT, 150, "Wed May 30 20:08:08 2000"},
};

// The Queue and Log tabs add a column: why an entry failed, or what became of its set.
constexpr const char* kResultCaption = "Result";
constexpr int kResultWidth = 320;

constexpr int kStateImages = 9;
// The generic list draws its header images from the rows' image list, so the two sort
// arrows follow the eight state images there.
constexpr int kFirstArrowImage = kStateImages;
// Clicks this close to the left edge land on the state icon and do not count as clicks
// on the row.
constexpr int kIconMargin = 16;
// Rows a find reads in one query while it walks the list.
constexpr int64_t kWalkChunk = 512;

wxBitmap CenteredOn(const wxBitmap& picture, int width, int height) {
    wxImage source = picture.ConvertToImage();
    if (!source.HasAlpha())
        source.InitAlpha();
    wxImage image(width, height);
    image.InitAlpha();
    unsigned char* alpha = image.GetAlpha();
    std::fill(alpha, alpha + width * height, 0);
    const int left = (width - source.GetWidth()) / 2;
    const int top = (height - source.GetHeight()) / 2;
    for (int y = 0; y < source.GetHeight(); ++y) {
        for (int x = 0; x < source.GetWidth(); ++x) {
            const int tx = left + x;
            const int ty = top + y;
            if (tx < 0 || ty < 0 || tx >= width || ty >= height)
                continue;
            image.SetRGB(tx, ty, source.GetRed(x, y), source.GetGreen(x, y), source.GetBlue(x, y));
            image.SetAlpha(tx, ty, source.GetAlpha(x, y));
        }
    }
    return wxBitmap(image);
}

// The state images with the sort arrows after them, all 16x16.
std::unique_ptr<wxImageList> RowAndHeaderImages(wxImageList& states, wxImageList& arrows) {
    int width = 16;
    int height = 16;
    states.GetSize(0, width, height);
    auto list = std::make_unique<wxImageList>(width, height, true, kStateImages + 2);
    for (int i = 0; i < states.GetImageCount(); ++i)
        list->Add(states.GetBitmap(i));
    for (int i = states.GetImageCount(); i < kStateImages; ++i)
        list->Add(CenteredOn(wxBitmap(1, 1, 32), width, height));
    for (int i = 0; i < arrows.GetImageCount() && i < 2; ++i)
        list->Add(CenteredOn(arrows.GetBitmap(i), width, height));
    return list;
}

}  // namespace

CQuillstreamView::CQuillstreamView(wxWindow* parent, Engine& engine, ViewHost& host)
    : wxListCtrl(parent, wxID_ANY, wxDefaultPosition, wxDefaultSize,
                 wxLC_REPORT | wxLC_VIRTUAL |
                     (engine.settings()->ShowGridLines ? wxLC_HRULES | wxLC_VRULES : 0)),
      engine_(engine),
      host_(host) {
    std::shared_ptr<const Settings> settings = engine_.settings();
    sort_direction_ = settings->SortDirection ? 1 : 0;
    for (int c = 0; c < kColumns; ++c) {
        const size_t i = static_cast<size_t>(c);
        int width =
            i < settings->ViewColumn.size() ? settings->ViewColumn[i] : kViewColumns[c].width;
        // The stock widths were measured for a smaller font than GTK's: the columns of fixed
        // form grow to fit their text until the user sets a width of their own.
        if (width == kViewColumns[c].width && kViewColumns[c].widest_text)
            width = std::max(width, GetTextExtent(kViewColumns[c].widest_text).x + FromDIP(16));
        AppendColumn(kViewColumns[c].caption, kViewColumns[c].align, width);
    }
    std::unique_ptr<wxImageList> states = StateImageList();
    arrow_images_ = SortArrowImageList();
    state_images_ = RowAndHeaderImages(*states, *arrow_images_);
    SetImageList(state_images_.get(), wxIMAGE_LIST_SMALL);
    new_row_attr_.SetTextColour(wxColour(0, 0, 255));

    Bind(wxEVT_LIST_CACHE_HINT, &CQuillstreamView::OnCacheHint, this);
    Bind(wxEVT_LIST_ITEM_SELECTED, &CQuillstreamView::OnSelectionChanged, this);
    Bind(wxEVT_LIST_ITEM_DESELECTED, &CQuillstreamView::OnSelectionChanged, this);
    Bind(wxEVT_LIST_ITEM_ACTIVATED, &CQuillstreamView::OnActivated, this);
    Bind(wxEVT_LIST_ITEM_RIGHT_CLICK, &CQuillstreamView::OnRightClick, this);
    Bind(wxEVT_LIST_COL_CLICK, &CQuillstreamView::OnColumnClick, this);
    Bind(wxEVT_LIST_BEGIN_DRAG, &CQuillstreamView::OnBeginDrag, this);
    wxWindow* rows = RowsWindow();
    rows->Bind(wxEVT_LEFT_DOWN, &CQuillstreamView::OnLeftDown, this);
    rows->Bind(wxEVT_LEFT_DCLICK, &CQuillstreamView::OnLeftDown, this);
    rows->Bind(wxEVT_MOTION, &CQuillstreamView::OnMouseMove, this);
    rows->Bind(wxEVT_LEFT_UP, &CQuillstreamView::OnMouseUp, this);
    rows->Bind(wxEVT_MOUSE_CAPTURE_LOST, &CQuillstreamView::OnCaptureLost, this);
    rows->Bind(wxEVT_KEY_DOWN, &CQuillstreamView::OnKeyDown, this);

    wxWindow* frame = wxGetTopLevelParent(this);
    parts_ = new CPartsDialog(frame ? frame : this);
    SetItemCount(0);
}

CQuillstreamView::~CQuillstreamView() {
    // The list does not own the image list; it must not draw with it once it is gone.
    SetImageList(nullptr, wxIMAGE_LIST_SMALL);
}

wxWindow* CQuillstreamView::RowsWindow() const {
    // The GTK port uses the generic list, whose rows are a child window of their own: the
    // mouse events of the rows arrive there.
    // Its class is private, so it is found among the children by its address.
    for (wxWindow* child : GetChildren())
        if (static_cast<const void*>(child) == static_cast<const void*>(m_mainWin))
            return child;
    return const_cast<CQuillstreamView*>(this);
}

// --- Source and tabs ---

std::string CQuillstreamView::source_name() const {
    switch (tab_) {
        case kTabQueue:
            return "queue";
        case kTabLog:
            return "log";
        default:
            return view_ ? group_ : std::string();
    }
}

void CQuillstreamView::ShowGroup(const std::string& group) {
    wxBusyCursor wait;
    if (tab_ != kTabList)
        top_rows_[static_cast<size_t>(tab_)] = GetTopItem();
    group_ = group;
    group_view_.reset();
    std::unique_ptr<HeaderView> view = group.empty() ? nullptr : engine_.OpenView(group);
    if (view) {
        view->SetFilter(filter_text_);
        const std::string order = std::string("filename") + (sort_direction_ ? " desc" : "");
        if (!view->SetOrder(order))
            LogLine("Order refused: %s\n", order.c_str());
    }
    sort_column_ = 0;
    tab_ = kTabList;
    top_rows_[kTabList].reset();
    SetSource(std::move(view));
    ClearSelection();
    if (GetItemCount() > 0)
        EnsureVisible(0);
    host_.OnTabShown(kTabList);
    Refresh();
}

void CQuillstreamView::SelectTab(int tab) {
    if (tab < kTabList || tab > kTabLog)
        return;
    if (GetItemCount() > 0)
        top_rows_[static_cast<size_t>(tab_)] = GetTopItem();
    std::unique_ptr<HeaderView> view;
    if (tab_ == kTabList)
        group_view_ = std::move(view_);
    if (tab == kTabList)
        view = std::move(group_view_);
    else
        view = engine_.OpenView(tab == kTabQueue ? "queue" : "log");
    tab_ = tab;
    SetSource(std::move(view));
    ClearSelection();
    RestoreTopRow(tab);
    host_.OnTabShown(tab);
    Refresh();
}

void CQuillstreamView::SyncResultColumn() {
    const bool wanted = tab_ != kTabList;
    if (wanted && GetColumnCount() == kColumns)
        AppendColumn(kResultCaption, wxLIST_FORMAT_LEFT, FromDIP(kResultWidth));
    else if (!wanted && GetColumnCount() > kColumns)
        DeleteColumn(kColumns);
}

void CQuillstreamView::SetSource(std::unique_ptr<HeaderView> view) {
    SyncResultColumn();
    view_ = std::move(view);
    if (view_)
        view_->Invalidate();
    walk_first_ = walk_last_ = -1;
    find_position_ = 0;
    ApplyHeaderArrows();
    SetItemCount(SourceRowCount());
    // The generic list lays its rows out when idle; scrolling right after a new count needs
    // them laid out now.
    Update();
}

void CQuillstreamView::RestoreTopRow(int tab) {
    const long count = GetItemCount();
    if (count == 0)
        return;
    const std::optional<long>& top = top_rows_[static_cast<size_t>(tab)];
    if (!top || *top < 0 || *top >= count) {
        EnsureVisible(0);
        return;
    }
    // Showing the row, then the last row of a page that starts with it, leaves it at (or
    // near, at the end of the list) the top.
    EnsureVisible(*top);
    EnsureVisible(std::min(count - 1, *top + std::max(1, GetCountPerPage()) - 1));
}

void CQuillstreamView::ApplyHeaderArrows() {
    // Arrows only where a header click sorts: a group on the List tab.
    const bool arrows = tab_ == kTabList && view_ != nullptr;
    for (int c = 0; c < GetColumnCount(); ++c) {
        wxListItem column;
        column.SetMask(wxLIST_MASK_IMAGE);
        column.SetImage(arrows && c == sort_column_ ? kFirstArrowImage + sort_direction_ : -1);
        SetColumn(c, column);
    }
}

long CQuillstreamView::SourceRowCount() const {
    if (!view_)
        return 0;
    const int64_t count = view_->CountRows();
    return count > 0 ? static_cast<long>(count) : 0;
}

void CQuillstreamView::SyncRowCount() {
    const long count = SourceRowCount();
    if (count != GetItemCount())
        SetItemCount(count);
}

void CQuillstreamView::Reload() {
    // The options may have changed whether incomplete attachments show.
    const bool hide_incomplete = engine_.settings()->ShowIncomplete == 0;
    HeaderView* group_view = tab_ == kTabList ? view_.get() : group_view_.get();
    if (group_view)
        group_view->SetHideIncomplete(hide_incomplete);
    if (view_)
        view_->Invalidate();
    walk_first_ = walk_last_ = -1;
    SyncRowCount();
    SelectionChanged(-1);
    Refresh();
}

void CQuillstreamView::SetFilterText(const std::string& text) {
    filter_text_ = text;
    if (tab_ == kTabList && view_) {
        view_->SetFilter(text);
        SyncRowCount();
        Refresh();
    } else if (group_view_) {
        group_view_->SetFilter(text);
    }
}

void CQuillstreamView::SetGridLines(bool on) {
    SetSingleStyle(wxLC_HRULES | wxLC_VRULES, on);
    Refresh();
}

// --- Rows ---

bool CQuillstreamView::RowAt(long item, Attachment& out) const {
    return view_ && item >= 0 && view_->AttachmentAt(item, out);
}

wxString CQuillstreamView::OnGetItemText(long item, long column) const {
    Attachment a;
    if (!RowAt(item, a))
        return wxString();
    switch (column) {
        case 0:
            return wxString::FromUTF8(DisplayUtf8(a.filename));
        case 1:
            return wxString::FromUTF8(DisplayUtf8(a.email));
        case 2:
            return SizeText(static_cast<uint64_t>(a.bytes));
        case 3:
            return std::to_string(a.lines);
        case 4:
            return std::to_string(a.parts);
        case 5:
            return TimeText(a.date);
        case 6:
            return wxString::FromUTF8(ResultText(a.reason, a.state == StateHeld));
        default:
            return wxString();
    }
}

int CQuillstreamView::OnGetItemImage(long item) const {
    Attachment a;
    if (!RowAt(item, a) || a.state < 1 || a.state > kStateImages)
        return -1;
    return a.state - 1;
}

wxItemAttr* CQuillstreamView::OnGetItemAttr(long item) const {
    Attachment a;
    if (RowAt(item, a) && a.isnew)
        return &new_row_attr_;
    return nullptr;
}

void CQuillstreamView::OnCacheHint(wxListEvent& event) {
    // The hint comes from inside the list's paint, which goes on drawing the rows it chose:
    // a count that shrank under it (a worker emptied the source) trips the list's checks,
    // so the count is fixed right after the paint instead.
    if (SourceRowCount() != GetItemCount() && !sync_pending_) {
        sync_pending_ = true;
        CallAfter([this] {
            sync_pending_ = false;
            SyncRowCount();
            Refresh();
        });
    }
    const long first = event.GetCacheFrom();
    const long last = event.GetCacheTo();
    if (view_ && first >= 0 && last >= first)
        view_->FillRowCache(first, last - first + 1);
}

bool CQuillstreamView::WalkRowAt(int64_t row, int step, Attachment& out) {
    if (!view_ || row < 0)
        return false;
    if (row < walk_first_ || row > walk_last_) {
        walk_first_ = step < 0 ? std::max<int64_t>(0, row - kWalkChunk + 1) : row;
        walk_last_ = walk_first_ + kWalkChunk - 1;
        view_->FillRowCache(walk_first_, kWalkChunk);
    }
    return view_->AttachmentAt(row, out);
}

// --- Selection ---

std::vector<int64_t> CQuillstreamView::SelectedRows() const {
    std::vector<int64_t> rows;
    for (long row = GetNextItem(-1, wxLIST_NEXT_ALL, wxLIST_STATE_SELECTED); row != -1;
         row = GetNextItem(row, wxLIST_NEXT_ALL, wxLIST_STATE_SELECTED))
        rows.push_back(row);
    return rows;
}

std::vector<Attachment> CQuillstreamView::SelectedAttachments() {
    std::vector<Attachment> out;
    for (int64_t row : SelectedRows()) {
        Attachment a;
        if (view_ && view_->AttachmentAt(row, a))
            out.push_back(std::move(a));
    }
    return out;
}

void CQuillstreamView::SelectRow(long row) {
    if (row >= 0 && row < GetItemCount())
        SetItemState(row, wxLIST_STATE_SELECTED, wxLIST_STATE_SELECTED);
}

void CQuillstreamView::SelectAllRows() {
    if (GetItemCount() == 0)
        return;
    bulk_ = true;
    SetItemState(-1, wxLIST_STATE_SELECTED, wxLIST_STATE_SELECTED);
    bulk_ = false;
    SelectionChanged(-1);
}

void CQuillstreamView::ClearSelection() {
    bulk_ = true;
    if (GetItemCount() > 0)
        SetItemState(-1, 0, wxLIST_STATE_SELECTED);
    bulk_ = false;
    SelectionChanged(-1);
}

void CQuillstreamView::SelectionChanged(long selected) {
    host_.OnSelectionCount(GetSelectedItemCount());
    if (selected < 0 || !parts_ || !parts_->IsShown())
        return;
    Attachment a;
    if (RowAt(selected, a))
        ShowPartsOf(std::move(a));
}

void CQuillstreamView::OnSelectionChanged(wxListEvent& event) {
    event.Skip();
    if (bulk_)
        return;
    SelectionChanged(event.GetEventType() == wxEVT_LIST_ITEM_SELECTED ? event.GetIndex() : -1);
}

// --- Sort ---

void CQuillstreamView::SortByColumn(int column) {
    if (tab_ != kTabList || !view_ || column < 0 || column >= kColumns)
        return;
    sort_direction_ = sort_direction_ ? 0 : 1;
    wxBusyCursor wait;
    const std::vector<int64_t> selected = SelectedRows();
    const std::string order =
        std::string(kViewColumns[column].order_key) + (sort_direction_ ? " desc" : "");
    if (!view_->SetOrder(order))
        LogLine("Order refused: %s\n", order.c_str());
    view_->Invalidate();
    walk_first_ = walk_last_ = -1;
    SyncRowCount();
    const long count = GetItemCount();
    {
        wxWindowUpdateLocker frozen(this);
        bulk_ = true;
        if (count > 0)
            SetItemState(-1, 0, wxLIST_STATE_SELECTED);
        // The order turned round: each selected row is now at its mirror position.
        for (int64_t row : selected)
            SelectRow(static_cast<long>(count - 1 - row));
        bulk_ = false;
    }
    SelectionChanged(-1);
    sort_column_ = column;
    ApplyHeaderArrows();
    Refresh();
}

void CQuillstreamView::OnColumnClick(wxListEvent& event) {
    SortByColumn(event.GetColumn());
}

// --- Find/filter ---

FindOutcome CQuillstreamView::RunFind(const FindRequest& request) {
    FindOutcome outcome;
    if (!view_)
        return outcome;
    wxBusyCursor wait;
    last_find_.text = request.text;
    const int direction = request.down ? 1 : -1;
    if (find_position_ >= 0 && find_position_ < GetItemCount() &&
        GetItemState(static_cast<long>(find_position_), wxLIST_STATE_SELECTED))
        find_position_ += direction;
    ClearSelection();
    last_find_.action = request.action;
    last_find_.regular_expression = request.regular_expression;

    const bool whole_list = request.action != 0;
    const int step = whole_list ? 1 : direction;
    int64_t row = whole_list ? 0 : find_position_;
    const FindMatcher matcher(request.text, request.whole_word, request.match_case,
                              request.regular_expression);
    if (!matcher.ok()) {
        outcome.regex_error = true;
        outcome.message = "Regular expression:" + matcher.error() + "\n";
        return outcome;
    }

    const int64_t count = GetItemCount();
    std::vector<std::string> doomed;  // ids the action removes from the source
    {
        wxWindowUpdateLocker frozen(this);
        bulk_ = true;
        for (; row >= 0 && row < count; row += step) {
            Attachment a;
            if (!WalkRowAt(row, step, a))
                continue;  // removed by a worker meanwhile: drawn empty, never matched
            const bool match = matcher.Matches(a.filename, a.email);
            if (match) {
                outcome.found = true;
                if (request.action == 0 || request.action == 1) {
                    EnsureVisible(static_cast<long>(row));
                    SelectRow(static_cast<long>(row));
                    find_position_ = row;
                    if (request.action == 0)
                        break;
                } else if (request.action == 2) {
                    doomed.push_back(a.Id);
                }
            } else if (request.action == 3) {
                LogLine("Removeat: %d\n",
                        static_cast<int>(row - static_cast<int64_t>(doomed.size())));
                doomed.push_back(a.Id);
            }
        }
        bulk_ = false;
    }
    if (request.action == 0 && outcome.found) {
        SelectionChanged(static_cast<long>(find_position_));
        Refresh();
        return outcome;
    }
    if (!doomed.empty()) {
        // One removal for the whole walk: the rows after a removed one move up by one,
        // which is where the walk would have gone on anyway.
        CommandResult removed = engine_.RemoveFromList(source_name(), doomed);
        if (!removed.ok)
            LogLine("Find/filter removal failed: %s\n", removed.message.c_str());
        view_->Invalidate();
        walk_first_ = walk_last_ = -1;
        SyncRowCount();
        row -= static_cast<int64_t>(doomed.size());
    }
    const int64_t now = GetItemCount();
    if (row >= now)
        find_position_ = 0;
    if (row <= 0)
        find_position_ = std::max<int64_t>(0, now - 1);
    SelectionChanged(-1);
    if (!outcome.found)
        outcome.message = "Not found!";
    Refresh();
    return outcome;
}

// --- Parts window ---

void CQuillstreamView::ShowPartsOf(Attachment attachment) {
    if (!parts_ || !view_)
        return;
    if (!view_->db() || !view_->db()->LoadParts(attachment))
        attachment.partlist.clear();  // shown without parts rather than not at all
    parts_->ShowAttachment(attachment);
}

bool CQuillstreamView::ShowProperties() {
    const long row = GetNextItem(-1, wxLIST_NEXT_ALL, wxLIST_STATE_SELECTED);
    Attachment a;
    if (row < 0 || !RowAt(row, a) || !parts_)
        return false;
    ShowPartsOf(std::move(a));
    parts_->Show();
    parts_->Raise();
    return true;
}

// --- Mouse ---

void CQuillstreamView::OnLeftDown(wxMouseEvent& event) {
    event.Skip();
    last_click_x_ = event.GetPosition().x;
    int flags = 0;
    const long row = HitTest(event.GetPosition(), flags);
    if (row != wxNOT_FOUND && last_click_x_ >= kIconMargin)
        find_position_ = row;
}

void CQuillstreamView::OnKeyDown(wxKeyEvent& event) {
    event.Skip();
    last_click_x_ = -1;
}

void CQuillstreamView::OnActivated(wxListEvent& event) {
    if (last_click_x_ >= 0 && last_click_x_ < kIconMargin)
        return;
    Attachment a;
    if (!RowAt(event.GetIndex(), a))
        return;
    if (wxWindow* frame = wxGetTopLevelParent(this)) {
        wxCommandEvent command(wxEVT_MENU, a.parts == 1 ? ID_READ_MESSAGE : ID_GRAB);
        wxPostEvent(frame, command);
    }
}

void CQuillstreamView::OnRightClick(wxListEvent& event) {
    (void)event;
    host_.PopupItemMenu(wxGetMousePosition());
}

// --- Queue reordering ---

void CQuillstreamView::MoveSelectedQueueRows(int64_t delta) {
    if (tab_ != kTabQueue || !view_ || delta == 0)
        return;
    const std::vector<int64_t> rows = SelectedRows();
    if (rows.empty())
        return;
    std::vector<int64_t> moved_to;
    CommandResult moved = engine_.MoveQueueRows(rows, delta, &moved_to);
    if (!moved.ok)
        LogLine("Queue reordering failed: %s\n", moved.message.c_str());
    view_->Invalidate();
    walk_first_ = walk_last_ = -1;
    SyncRowCount();
    wxWindowUpdateLocker frozen(this);
    bulk_ = true;
    SetItemState(-1, 0, wxLIST_STATE_SELECTED);
    for (size_t i = 0; i < rows.size() && i < moved_to.size(); ++i) {
        const long row = static_cast<long>(moved_to[i]);
        if (moved_to[i] != rows[i] && row < GetItemCount())
            EnsureVisible(row);
        SelectRow(row);
    }
    bulk_ = false;
    SelectionChanged(-1);
    Refresh();
}

void CQuillstreamView::OnBeginDrag(wxListEvent& event) {
    if (tab_ != kTabQueue || !view_ || event.GetIndex() < 0)
        return;
    dragging_ = true;
    drag_row_ = event.GetIndex();
    wxWindow* rows = RowsWindow();
    if (!rows->HasCapture())
        rows->CaptureMouse();
}

void CQuillstreamView::OnMouseMove(wxMouseEvent& event) {
    if (!dragging_) {
        event.Skip();
        return;
    }
    const wxPoint at = event.GetPosition();
    int flags = 0;
    long row = HitTest(at, flags);
    if (row == wxNOT_FOUND) {
        // Off the rows: below the list scrolls on by a page, above it by one row.
        const wxSize size = RowsWindow()->GetClientSize();
        if (at.y >= size.y)
            row = GetTopItem() + GetCountPerPage();
        else if (at.y < 0)
            row = GetTopItem() - 1;
        else
            return;
    }
    if (row == drag_row_)
        return;
    {
        wxWindowUpdateLocker frozen(this);
        MoveSelectedQueueRows(row - drag_row_);
    }
    drag_row_ = row;
}

void CQuillstreamView::OnMouseUp(wxMouseEvent& event) {
    if (!dragging_) {
        event.Skip();
        return;
    }
    // Taken here: the list would otherwise reduce the selection to the row released on.
    dragging_ = false;
    drag_row_ = -1;
    wxWindow* rows = RowsWindow();
    if (rows->HasCapture())
        rows->ReleaseMouse();
}

void CQuillstreamView::OnCaptureLost(wxMouseCaptureLostEvent& event) {
    (void)event;
    dragging_ = false;
    drag_row_ = -1;
}

void CQuillstreamView::SaveColumnWidths(Settings& settings) const {
    settings.ViewColumn.resize(kColumns);
    for (int c = 0; c < kColumns && c < GetColumnCount(); ++c)
        settings.ViewColumn[static_cast<size_t>(c)] = GetColumnWidth(c);
    settings.SortDirection = sort_direction_;
}

}  // namespace qs::ui
