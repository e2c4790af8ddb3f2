#include "ui/group_picker.h"

#include <wx/imaglist.h>

#include <string>

#include "engine/engine.h"
#include "ui/list_text.h"
#include "ui/tree_options_ctrl.h"

namespace qs::ui {

namespace {

struct PickerColumn {
    const char* caption;
    wxListColumnFormat align;
    int width;
    const char* order;
};
constexpr PickerColumn kColumns[] = {
    {"Group", wxLIST_FORMAT_LEFT, 200, "name"},
    {"First", wxLIST_FORMAT_RIGHT, 100, "first"},
    {"Last", wxLIST_FORMAT_RIGHT, 100, "last"},
    {"Count", wxLIST_FORMAT_RIGHT, 100, "amount"},
    {"Download dir", wxLIST_FORMAT_LEFT, 200, "downloaddir"},
};
constexpr int kColumnCount = static_cast<int>(std::size(kColumns));
// A press this close to a row's left edge lands on its check box.
constexpr int kCheckBoxWidth = 17;

std::string Trimmed(const std::string& text) {
    const char* space = " \t\r\n\f\v";
    const size_t begin = text.find_first_not_of(space);
    if (begin == std::string::npos)
        return {};
    return text.substr(begin, text.find_last_not_of(space) - begin + 1);
}

}  // namespace

CGroupPicker::CGroupPicker(wxWindow* parent, Engine& engine)
    : wxListCtrl(parent, wxID_ANY, wxDefaultPosition, wxDefaultSize,
                 wxLC_REPORT | wxLC_VIRTUAL | wxLC_SINGLE_SEL),
      engine_(engine),
      view_(engine.OpenGroupList()) {
    for (const PickerColumn& column : kColumns)
        AppendColumn(column.caption, column.align, FromDIP(column.width));
    images_ = ToggleImageList(this);
    SetImageList(images_.get(), wxIMAGE_LIST_SMALL);
    if (view_)
        (void)view_->SetOrder("name");

    Bind(wxEVT_LIST_CACHE_HINT, &CGroupPicker::OnCacheHint, this);
    Bind(wxEVT_LIST_ITEM_ACTIVATED, &CGroupPicker::OnActivated, this);
    Bind(wxEVT_LIST_ITEM_SELECTED, &CGroupPicker::OnSelected, this);
    Bind(wxEVT_LIST_COL_CLICK, &CGroupPicker::OnColumnClick, this);
    RowsWindow()->Bind(wxEVT_LEFT_DOWN, &CGroupPicker::OnRowsLeftDown, this);
    Reload();
}

CGroupPicker::~CGroupPicker() {
    // The list does not own the image list; it must not draw with it once it is gone.
    SetImageList(nullptr, wxIMAGE_LIST_SMALL);
}

wxWindow* CGroupPicker::RowsWindow() {
    // The GTK port's list draws its rows in a child window of its own, which gets the
    // rows' mouse events. Its class is private: it is found among the children by address.
    for (wxWindow* child : GetChildren())
        if (static_cast<const void*>(child) == static_cast<const void*>(m_mainWin))
            return child;
    return this;
}

void CGroupPicker::Reload() {
    if (view_)
        view_->Invalidate();
    const int64_t rows = view_ ? view_->CountRows() : 0;
    SetItemCount(static_cast<long>(rows));
    Refresh();
}

void CGroupPicker::SetSearch(const std::string& text) {
    const std::string search = Trimmed(text);
    if (search.empty() || !view_)
        return;
    view_->SetFilter(search);
    Reload();
}

void CGroupPicker::SortByColumn(int column) {
    if (column < 0 || column >= kColumnCount || !view_)
        return;
    ascending_ = column == sort_column_ ? !ascending_ : true;
    sort_column_ = column;
    std::string order = kColumns[column].order;
    if (!ascending_)
        order += " desc";
    (void)view_->SetOrder(order);
    Reload();
}

bool CGroupPicker::RowAt(long item, Group& out) const {
    return view_ && item >= 0 && item < GetItemCount() && view_->GroupAt(item, out);
}

void CGroupPicker::ToggleRow(long row) {
    Group group;
    if (!RowAt(row, group))
        return;
    group.state = group.state ? 0 : 1;
    engine_.StoreGroupRecord(group);
    RefreshItem(row);
}

bool CGroupPicker::IsRowChecked(long row) const {
    Group group;
    return RowAt(row, group) && group.state != 0;
}

long CGroupPicker::FindGroupRow(const std::string& name) const {
    Group group;
    for (long row = 0; row < GetItemCount(); ++row)
        if (RowAt(row, group) && group.name == name)
            return row;
    return -1;
}

bool CGroupPicker::SelectedGroup(Group& out) const {
    const long row = GetNextItem(-1, wxLIST_NEXT_ALL, wxLIST_STATE_SELECTED);
    return row >= 0 && RowAt(row, out);
}

bool CGroupPicker::SetSelectedDownloadDir(const std::string& dir) {
    const long row = GetNextItem(-1, wxLIST_NEXT_ALL, wxLIST_STATE_SELECTED);
    Group group;
    if (row < 0 || !RowAt(row, group))
        return false;
    if (group.downloaddir == dir)
        return true;
    group.downloaddir = dir;
    engine_.StoreGroupRecord(group);
    RefreshItem(row);
    return true;
}

wxString CGroupPicker::OnGetItemText(long item, long column) const {
    Group group;
    if (!RowAt(item, group))
        return wxString();
    switch (column) {
        case 0:
            return wxString::FromUTF8(DisplayUtf8(group.name));
        case 1:
            return wxString::Format("%lld", static_cast<long long>(group.first));
        case 2:
            return wxString::Format("%lld", static_cast<long long>(group.last));
        case 3:
            return wxString::Format("%lld", static_cast<long long>(group.amount));
        case 4:
            return wxString::FromUTF8(DisplayUtf8(group.downloaddir));
        default:
            return wxString();
    }
}

int CGroupPicker::OnGetItemImage(long item) const {
    return IsRowChecked(item) ? kImageChecked : kImageUnchecked;
}

void CGroupPicker::OnRowsLeftDown(wxMouseEvent& event) {
    event.Skip();  // the list still selects the row
    clicked_check_ = false;
    int flags = 0;
    const long row = HitTest(event.GetPosition(), flags);
    if (row == wxNOT_FOUND || event.GetPosition().x >= FromDIP(kCheckBoxWidth))
        return;
    clicked_check_ = true;
    ToggleRow(row);
}

void CGroupPicker::OnActivated(wxListEvent& event) {
    // A double click on the check box has flipped it with its first press already.
    if (!clicked_check_)
        ToggleRow(event.GetIndex());
    clicked_check_ = false;
}

void CGroupPicker::OnSelected(wxListEvent& event) {
    Group group;
    if (on_selected && RowAt(event.GetIndex(), group))
        on_selected(group);
}

void CGroupPicker::OnCacheHint(wxListEvent& event) {
    if (view_ && event.GetCacheTo() >= event.GetCacheFrom())
        view_->FillRowCache(event.GetCacheFrom(), event.GetCacheTo() - event.GetCacheFrom() + 1);
}

void CGroupPicker::OnColumnClick(wxListEvent& event) {
    SortByColumn(event.GetColumn());
}

}  // namespace qs::ui
