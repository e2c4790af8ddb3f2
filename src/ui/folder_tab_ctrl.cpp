#include "ui/folder_tab_ctrl.h"

#include <wx/dcbuffer.h>
#include <wx/dcgraph.h>
#include <wx/settings.h>
#include <wx/toplevel.h>

#include <algorithm>

#include "ui/command_ids.h"

namespace qs::ui {
namespace {

constexpr int kTextMargin = 5;  // between a caption and the slanted sides

std::vector<std::string> SplitCaptions(const std::string& tabs) {
    std::vector<std::string> captions;
    std::string::size_type start = 0;
    while (true) {
        const auto end = tabs.find('\n', start);
        std::string caption = tabs.substr(start, end == std::string::npos ? end : end - start);
        const auto first = caption.find_first_not_of(' ');
        const auto last = caption.find_last_not_of(' ');
        captions.push_back(first == std::string::npos ? ""
                                                      : caption.substr(first, last - first + 1));
        if (end == std::string::npos)
            break;
        start = end + 1;
    }
    return captions;
}

}  // namespace

CFolderTabCtrl::CFolderTabCtrl(wxWindow* parent, const std::string& tabs)
    : wxControl(parent, wxID_ANY, wxDefaultPosition, wxDefaultSize, wxBORDER_NONE),
      captions_(SplitCaptions(tabs)) {
    SetBackgroundStyle(wxBG_STYLE_PAINT);
    Bind(wxEVT_PAINT, &CFolderTabCtrl::OnPaint, this);
    Bind(wxEVT_LEFT_DOWN, &CFolderTabCtrl::OnLeftDown, this);
    Bind(wxEVT_LEFT_DCLICK, &CFolderTabCtrl::OnLeftDown, this);
    SetInitialSize(DoGetBestSize());
}

void CFolderTabCtrl::SelectTab(int tab) {
    if (tab < 0 || tab >= tab_count() || tab == selected_)
        return;
    selected_ = tab;
    Refresh();
}

wxFont CFolderTabCtrl::CaptionFont(bool selected) const {
    wxFont font = GetFont();
    if (!font.IsOk())
        font = wxSystemSettings::GetFont(wxSYS_DEFAULT_GUI_FONT);
    if (selected)
        font.MakeBold();
    return font;
}

int CFolderTabCtrl::Slant() const {
    const wxFont font = CaptionFont(false);
    int height = 0;
    GetTextExtent("Ag", nullptr, &height, nullptr, nullptr, &font);
    return std::max(4, height / 2);
}

std::vector<int> CFolderTabCtrl::TabEdges() const {
    // Widths from the bold font, so selecting a tab never moves its neighbours.
    const wxFont bold = CaptionFont(true);
    const int slant = Slant();
    std::vector<int> edges;
    int left = 0;
    for (const std::string& caption : captions_) {
        int text_width = 0;
        GetTextExtent(wxString::FromUTF8(caption), &text_width, nullptr, nullptr, nullptr, &bold);
        const int right = left + 2 * (slant + kTextMargin) + text_width;
        edges.push_back(right);
        left = right - slant;
    }
    return edges;
}

int CFolderTabCtrl::StripWidth() const {
    const std::vector<int> edges = TabEdges();
    return edges.empty() ? 0 : edges.back() + 1;
}

wxSize CFolderTabCtrl::DoGetBestSize() const {
    int text_height = 0;
    const wxFont bold = CaptionFont(true);
    GetTextExtent("Ag", nullptr, &text_height, nullptr, nullptr, &bold);
    return {StripWidth(), text_height + 6};
}

int CFolderTabCtrl::TabAt(int x) const {
    if (x < 0)
        return -1;
    const std::vector<int> edges = TabEdges();
    const int slant = Slant();
    // Where two tabs overlap, the middle of the overlap divides them.
    for (int tab = 0; tab < tab_count(); ++tab) {
        const bool last = tab + 1 == tab_count();
        if (x < (last ? edges[tab] + 1 : edges[tab] - slant / 2))
            return tab;
    }
    return -1;
}

void CFolderTabCtrl::OnLeftDown(wxMouseEvent& event) {
    const int tab = TabAt(event.GetX());
    if (tab < 0 || tab == selected_)
        return;
    SelectTab(tab);
    wxWindow* frame = wxGetTopLevelParent(this);
    if (frame == nullptr)
        return;
    wxCommandEvent command(wxEVT_MENU, ID_VIEW_LIST + tab);
    command.SetEventObject(this);
    wxPostEvent(frame->GetEventHandler(), command);
}

void CFolderTabCtrl::OnPaint(wxPaintEvent&) {
    wxAutoBufferedPaintDC paint_dc(this);
    wxGCDC dc(paint_dc);
    const wxSize size = GetClientSize();
    const wxColour background =
        GetParent() != nullptr ? GetParent()->GetBackgroundColour() : GetBackgroundColour();
    dc.SetBackground(wxBrush(background));
    dc.Clear();
    if (captions_.empty())
        return;

    const std::vector<int> edges = TabEdges();
    const int slant = Slant();
    const int bottom = size.y - 1;
    const wxColour outline(0x80, 0x80, 0x80);
    const wxColour shade = background.ChangeLightness(88);

    const auto draw_tab = [&](int tab) {
        const bool selected = tab == selected_;
        const int left = tab == 0 ? 0 : edges[tab - 1] - slant;
        const int right = edges[tab];
        const wxPoint corners[] = {
            {left, 0}, {left + slant, bottom}, {right - slant, bottom}, {right, 0}};
        dc.SetPen(wxPen(outline));
        dc.SetBrush(wxBrush(selected ? *wxWHITE : shade));
        dc.DrawPolygon(4, corners);
        if (selected) {
            // Joined to the page above it: no line along its top.
            dc.SetPen(wxPen(*wxWHITE));
            dc.DrawLine(left + 1, 0, right, 0);
        }
        dc.SetFont(CaptionFont(selected));
        dc.SetTextForeground(selected ? *wxBLACK : wxColour(0x40, 0x40, 0x40));
        const wxString caption = wxString::FromUTF8(captions_[tab]);
        wxCoord text_width = 0;
        wxCoord text_height = 0;
        dc.GetTextExtent(caption, &text_width, &text_height);
        dc.DrawText(caption, (left + right - text_width) / 2, (bottom - text_height) / 2 + 1);
    };

    // Right to left, each tab over its right neighbour; the selected one over all.
    dc.SetPen(wxPen(outline));
    dc.DrawLine(0, 0, size.x, 0);
    for (int tab = tab_count() - 1; tab >= 0; --tab) {
        if (tab != selected_)
            draw_tab(tab);
    }
    draw_tab(selected_);
}

}  // namespace qs::ui
