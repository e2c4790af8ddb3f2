#include "ui/groups_view.h"

#include <wx/toplevel.h>

#include <algorithm>

#include "engine/engine.h"
#include "ui/command_ids.h"
#include "ui/list_text.h"
#include "ui/view_host.h"

namespace qs::ui {
namespace {

constexpr int kGroupColumns = 3;
const char* const kGroupCaptions[kGroupColumns] = {"Group", "Download dir", "Last scanned"};
constexpr int kDefaultGroupWidths[kGroupColumns] = {200, 250, 200};

}  // namespace

CGroupsView::CGroupsView(wxWindow* parent, Engine& engine, ViewHost& host)
    : wxListCtrl(parent, wxID_ANY, wxDefaultPosition, wxDefaultSize,
                 wxLC_REPORT | wxLC_VIRTUAL | wxLC_SINGLE_SEL),
      engine_(engine),
      host_(host) {
    std::shared_ptr<const Settings> settings = engine_.settings();
    for (int c = 0; c < kGroupColumns; ++c) {
        const size_t i = static_cast<size_t>(c);
        const int width =
            i < settings->GroupsColumn.size() ? settings->GroupsColumn[i] : kDefaultGroupWidths[c];
        AppendColumn(kGroupCaptions[c], wxLIST_FORMAT_LEFT, width);
    }
    Bind(wxEVT_LIST_ITEM_SELECTED, &CGroupsView::OnSelected, this);
    Bind(wxEVT_LIST_ITEM_ACTIVATED, &CGroupsView::OnActivated, this);
    Bind(wxEVT_LIST_ITEM_RIGHT_CLICK, &CGroupsView::OnRightClick, this);
    Reload();
}

void CGroupsView::Reload() {
    const std::string selected = current_group();
    reloading_ = true;  // moving the selection to the group's new row is no new choice
    groups_ = engine_.settings()->groups;
    SetItemCount(static_cast<long>(groups_.size()));
    if (!selected.empty()) {
        auto it = std::find_if(groups_.begin(), groups_.end(),
                               [&](const GroupListEntry& g) { return g.name == selected; });
        if (it == groups_.end()) {
            if (GetItemCount() > 0)
                SetItemState(-1, 0, wxLIST_STATE_SELECTED);
            host_.OnGroupSelected("");  // the shown group is gone
        } else {
            // The selection stays on the group, not on the row number it had.
            const long now = static_cast<long>(it - groups_.begin());
            const long row = GetNextItem(-1, wxLIST_NEXT_ALL, wxLIST_STATE_SELECTED);
            if (row != now) {
                if (row >= 0)
                    SetItemState(row, 0, wxLIST_STATE_SELECTED | wxLIST_STATE_FOCUSED);
                SetItemState(now, wxLIST_STATE_SELECTED | wxLIST_STATE_FOCUSED,
                             wxLIST_STATE_SELECTED | wxLIST_STATE_FOCUSED);
            }
        }
    }
    reloading_ = false;
    Refresh();
}

std::string CGroupsView::current_group() const {
    const long row = GetNextItem(-1, wxLIST_NEXT_ALL, wxLIST_STATE_SELECTED);
    if (row < 0 || static_cast<size_t>(row) >= groups_.size())
        return {};
    return groups_[static_cast<size_t>(row)].name;
}

bool CGroupsView::SelectGroup(const std::string& name) {
    auto it = std::find_if(groups_.begin(), groups_.end(),
                           [&](const GroupListEntry& g) { return g.name == name; });
    if (it == groups_.end())
        return false;
    const long row = static_cast<long>(it - groups_.begin());
    const bool already = GetItemState(row, wxLIST_STATE_SELECTED) != 0;
    SetItemState(row, wxLIST_STATE_SELECTED | wxLIST_STATE_FOCUSED,
                 wxLIST_STATE_SELECTED | wxLIST_STATE_FOCUSED);
    EnsureVisible(row);
    if (already)
        host_.OnGroupSelected(name);  // no selection event comes for a row already selected
    return true;
}

void CGroupsView::SaveColumnWidths(Settings& settings) const {
    settings.GroupsColumn.resize(kGroupColumns);
    for (int c = 0; c < kGroupColumns && c < GetColumnCount(); ++c)
        settings.GroupsColumn[static_cast<size_t>(c)] = GetColumnWidth(c);
}

wxString CGroupsView::OnGetItemText(long item, long column) const {
    // Read from the engine's current snapshot, so a scan's new time shows without a reload.
    std::shared_ptr<const Settings> settings = engine_.settings();
    if (settings->groups.size() != groups_.size()) {
        // Subscribed or unsubscribed behind our back: fix the row count after this paint.
        if (!reload_pending_) {
            reload_pending_ = true;
            auto* self = const_cast<CGroupsView*>(this);
            self->CallAfter([self] {
                self->reload_pending_ = false;
                self->Reload();
            });
        }
        return wxString();
    }
    if (item < 0 || static_cast<size_t>(item) >= settings->groups.size())
        return wxString();
    const GroupListEntry& group = settings->groups[static_cast<size_t>(item)];
    switch (column) {
        case 0:
            return wxString::FromUTF8(DisplayUtf8(group.name));
        case 1:
            return wxString::FromUTF8(DisplayUtf8(group.downloaddir));
        case 2:
            return wxString::FromUTF8(LastScannedText(group.lastscanned));
        default:
            return wxString();
    }
}

void CGroupsView::OnSelected(wxListEvent& event) {
    const long row = event.GetIndex();
    if (!reloading_ && row >= 0 && static_cast<size_t>(row) < groups_.size())
        host_.OnGroupSelected(groups_[static_cast<size_t>(row)].name);
}

void CGroupsView::OnActivated(wxListEvent& event) {
    (void)event;
    if (wxWindow* frame = wxGetTopLevelParent(this)) {
        wxCommandEvent scan(wxEVT_MENU, ID_SCAN);
        wxPostEvent(frame, scan);
    }
}

void CGroupsView::OnRightClick(wxListEvent& event) {
    (void)event;
    host_.PopupGroupMenu(wxGetMousePosition());
}

}  // namespace qs::ui
