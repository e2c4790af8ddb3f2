#include "ui/tree_options_ctrl.h"

#include <wx/dcmemory.h>
#include <wx/image.h>
#include <wx/imaglist.h>
#include <wx/renderer.h>
#include <wx/spinctrl.h>
#include <wx/textctrl.h>

#include <cstring>

#include "ui/art.h"

namespace qs::ui {

namespace {

constexpr int kToggleSize = 16;
constexpr int kImageHeading = kImageRadioOn + 1;
// Rows without a picture of their own get an empty one, so their text lines up.
constexpr int kImageBlank = kImageHeading + 1;

wxBitmap Transparent() {
    wxImage ground(kToggleSize, kToggleSize);
    ground.InitAlpha();
    std::memset(ground.GetAlpha(), 0, kToggleSize * kToggleSize);
    return wxBitmap(ground, 32);
}

wxBitmap DrawToggle(wxWindow* window, bool radio, bool checked) {
    wxBitmap bitmap = Transparent();
    {
        wxMemoryDC dc(bitmap);
        const wxRect rect(0, 0, kToggleSize, kToggleSize);
        const int flags = checked ? static_cast<int>(wxCONTROL_CHECKED) : 0;
        if (radio)
            wxRendererNative::Get().DrawRadioBitmap(window, dc, rect, flags);
        else
            wxRendererNative::Get().DrawCheckBox(window, dc, rect, flags);
    }
    return bitmap;
}

// The headings' icon: the toolbar's Options picture at row size.
wxBitmap HeadingIcon() {
    wxImage image = ToolBitmap(ToolImage::Options).ConvertToImage();
    image.Rescale(kToggleSize, kToggleSize, wxIMAGE_QUALITY_HIGH);
    return wxBitmap(image);
}

// The whole text as an integer from kNumberMin to kNumberMax.
bool ParseNumber(const wxString& text, int& out) {
    const std::string digits = text.Strip(wxString::both).utf8_string();
    if (digits.empty() || digits.size() > 9)
        return false;
    long value = 0;
    for (char c : digits) {
        if (c < '0' || c > '9')
            return false;
        value = value * 10 + (c - '0');
    }
    out = static_cast<int>(value);
    return true;
}

}  // namespace

std::unique_ptr<wxImageList> ToggleImageList(wxWindow* window) {
    auto images = std::make_unique<wxImageList>(kToggleSize, kToggleSize, true, 5);
    images->Add(DrawToggle(window, false, false));
    images->Add(DrawToggle(window, false, true));
    images->Add(DrawToggle(window, true, false));
    images->Add(DrawToggle(window, true, true));
    return images;
}

class CTreeOptionsCtrl::ItemData : public wxTreeItemData {
  public:
    Kind kind = Kind::Heading;
    wxString caption;
    bool checked = false;
    wxString number;  // as typed
    bool spin = false;
};

CTreeOptionsCtrl::CTreeOptionsCtrl(wxWindow* parent, wxWindowID id)
    : wxTreeCtrl(
          parent, id, wxDefaultPosition, wxDefaultSize,
          wxTR_HAS_BUTTONS | wxTR_HIDE_ROOT | wxTR_LINES_AT_ROOT | wxTR_SINGLE | wxBORDER_THEME) {
    images_ = ToggleImageList(this);
    images_->Add(HeadingIcon());
    images_->Add(Transparent());
    SetImageList(images_.get());
    AddRoot("");
    Bind(wxEVT_LEFT_DOWN, &CTreeOptionsCtrl::OnLeftDown, this);
    Bind(wxEVT_LEFT_DCLICK, &CTreeOptionsCtrl::OnLeftDown, this);
    Bind(wxEVT_KEY_DOWN, &CTreeOptionsCtrl::OnKeyDown, this);
    Bind(wxEVT_TREE_SEL_CHANGED, &CTreeOptionsCtrl::OnSelectionChanged, this);
    Bind(wxEVT_TREE_ITEM_ACTIVATED, &CTreeOptionsCtrl::OnActivated, this);
    // A scrolled or folded tree would leave the editor over another row.
    for (const wxEventTypeTag<wxScrollWinEvent>& type :
         {wxEVT_SCROLLWIN_TOP, wxEVT_SCROLLWIN_BOTTOM, wxEVT_SCROLLWIN_LINEUP,
          wxEVT_SCROLLWIN_LINEDOWN, wxEVT_SCROLLWIN_PAGEUP, wxEVT_SCROLLWIN_PAGEDOWN,
          wxEVT_SCROLLWIN_THUMBTRACK})
        Bind(type, [this](wxScrollWinEvent& event) {
            EndEdit();
            event.Skip();
        });
    Bind(wxEVT_MOUSEWHEEL, [this](wxMouseEvent& event) {
        EndEdit();
        event.Skip();
    });
    Bind(wxEVT_TREE_ITEM_COLLAPSING, [this](wxTreeEvent& event) {
        EndEdit();
        event.Skip();
    });
}

CTreeOptionsCtrl::~CTreeOptionsCtrl() {
    SetImageList(nullptr);
}

CTreeOptionsCtrl::ItemData* CTreeOptionsCtrl::Data(const wxTreeItemId& item) const {
    return item.IsOk() ? static_cast<ItemData*>(GetItemData(item)) : nullptr;
}

wxTreeItemId CTreeOptionsCtrl::Append(const wxTreeItemId& parent, Kind kind,
                                      const wxString& caption) {
    auto* data = new ItemData;
    data->kind = kind;
    data->caption = caption;
    return AppendItem(parent, caption, -1, -1, data);
}

wxTreeItemId CTreeOptionsCtrl::AddHeading(const wxString& caption) {
    wxTreeItemId item = Append(GetRootItem(), Kind::Heading, caption);
    SetItemImage(item, kImageHeading);
    SetItemBold(item);
    return item;
}

wxTreeItemId CTreeOptionsCtrl::AddCheck(const wxTreeItemId& parent, const wxString& caption,
                                        bool checked) {
    wxTreeItemId item = Append(parent, Kind::Check, caption);
    Data(item)->checked = checked;
    ShowState(item);
    return item;
}

wxTreeItemId CTreeOptionsCtrl::AddRadioGroup(const wxTreeItemId& parent, const wxString& caption) {
    wxTreeItemId item = Append(parent, Kind::RadioGroup, caption);
    SetItemImage(item, kImageBlank);
    return item;
}

wxTreeItemId CTreeOptionsCtrl::AddRadio(const wxTreeItemId& group, const wxString& caption,
                                        bool selected) {
    wxTreeItemId item = Append(group, Kind::Radio, caption);
    ShowState(item);
    if (selected)
        SetChecked(item, true);
    return item;
}

wxTreeItemId CTreeOptionsCtrl::AddNumber(const wxTreeItemId& parent, const wxString& caption,
                                         int value, bool spin) {
    wxTreeItemId item = Append(parent, Kind::Number, caption);
    ItemData* data = Data(item);
    data->spin = spin;
    data->number = wxString::Format("%d", value);
    SetItemText(item, NumberLabel(*data));
    SetItemImage(item, kImageBlank);
    return item;
}

void CTreeOptionsCtrl::ExpandHeadings() {
    wxTreeItemIdValue cookie;
    wxTreeItemId first;
    for (wxTreeItemId heading = GetFirstChild(GetRootItem(), cookie); heading.IsOk();
         heading = GetNextChild(GetRootItem(), cookie)) {
        if (!first.IsOk())
            first = heading;
        Expand(heading);
        wxTreeItemIdValue inner;
        for (wxTreeItemId item = GetFirstChild(heading, inner); item.IsOk();
             item = GetNextChild(heading, inner))
            if (KindOf(item) == Kind::RadioGroup)
                Expand(item);
    }
    if (first.IsOk()) {
        SelectItem(first);
        EnsureVisible(first);
    }
}

CTreeOptionsCtrl::Kind CTreeOptionsCtrl::KindOf(const wxTreeItemId& item) const {
    const ItemData* data = Data(item);
    return data ? data->kind : Kind::Heading;
}

bool CTreeOptionsCtrl::IsChecked(const wxTreeItemId& item) const {
    const ItemData* data = Data(item);
    return data && data->checked;
}

void CTreeOptionsCtrl::ShowState(const wxTreeItemId& item) {
    const ItemData* data = Data(item);
    if (!data)
        return;
    if (data->kind == Kind::Check)
        SetItemImage(item, data->checked ? kImageChecked : kImageUnchecked);
    else if (data->kind == Kind::Radio)
        SetItemImage(item, data->checked ? kImageRadioOn : kImageRadioOff);
}

void CTreeOptionsCtrl::SetChecked(const wxTreeItemId& item, bool checked) {
    ItemData* data = Data(item);
    if (!data)
        return;
    if (data->kind == Kind::Check) {
        data->checked = checked;
        ShowState(item);
    } else if (data->kind == Kind::Radio && checked) {
        const wxTreeItemId group = GetItemParent(item);
        wxTreeItemIdValue cookie;
        for (wxTreeItemId sibling = GetFirstChild(group, cookie); sibling.IsOk();
             sibling = GetNextChild(group, cookie)) {
            if (ItemData* other = Data(sibling); other && other->kind == Kind::Radio) {
                other->checked = sibling == item;
                ShowState(sibling);
            }
        }
    }
}

int CTreeOptionsCtrl::SelectedRadio(const wxTreeItemId& group) const {
    wxTreeItemIdValue cookie;
    int index = 0;
    for (wxTreeItemId item = GetFirstChild(group, cookie); item.IsOk();
         item = GetNextChild(group, cookie), ++index)
        if (IsChecked(item))
            return index;
    return -1;
}

wxString CTreeOptionsCtrl::NumberLabel(const ItemData& data) const {
    return data.caption + ": " + data.number;
}

wxString CTreeOptionsCtrl::NumberText(const wxTreeItemId& item) const {
    if (item == editing_ && editor_) {
        if (auto* spin = dynamic_cast<wxSpinCtrl*>(editor_))
            return wxString::Format("%d", spin->GetValue());
        return static_cast<wxTextCtrl*>(editor_)->GetValue();
    }
    const ItemData* data = Data(item);
    return data ? data->number : wxString();
}

void CTreeOptionsCtrl::SetNumberText(const wxTreeItemId& item, const wxString& text) {
    ItemData* data = Data(item);
    if (!data || data->kind != Kind::Number)
        return;
    if (item == editing_)
        EndEdit();
    data->number = text;
    SetItemText(item, NumberLabel(*data));
}

bool CTreeOptionsCtrl::GetNumber(const wxTreeItemId& item, int& out) const {
    const ItemData* data = Data(item);
    return data && data->kind == Kind::Number && ParseNumber(NumberText(item), out);
}

void CTreeOptionsCtrl::ClickItem(const wxTreeItemId& item) {
    ItemData* data = Data(item);
    if (!data)
        return;
    switch (data->kind) {
        case Kind::Check:
            SetChecked(item, !data->checked);
            if (on_check_changed)
                on_check_changed(item, data->checked);
            break;
        case Kind::Radio:
            SetChecked(item, true);
            break;
        case Kind::Number:
            BeginEdit(item);
            break;
        case Kind::Heading:
        case Kind::RadioGroup:
            break;
    }
}

void CTreeOptionsCtrl::BeginEdit(const wxTreeItemId& item) {
    ItemData* data = Data(item);
    if (!data || data->kind != Kind::Number || item == editing_)
        return;
    EndEdit();
    EnsureVisible(item);
    wxRect row;
    if (!GetBoundingRect(item, row, true))
        return;
    // The editor covers the value, right of "label: ".
    const int x = row.x + GetTextExtent(data->caption + ": ").x;
    // GTK's spin control needs its own width for the two buttons beside the digits.
    const int width = data->spin ? -1 : FromDIP(110);
    if (data->spin) {
        int value = 0;
        ParseNumber(data->number, value);
        editor_ = new wxSpinCtrl(this, wxID_ANY, wxString::Format("%d", value), wxPoint(x, row.y),
                                 wxSize(width, -1), wxSP_ARROW_KEYS | wxTE_PROCESS_ENTER,
                                 kNumberMin, kNumberMax, value);
        editor_->Bind(wxEVT_TEXT_ENTER,
                      [this](wxCommandEvent&) { CallAfter([this] { EndEdit(); }); });
    } else {
        editor_ = new wxTextCtrl(this, wxID_ANY, data->number, wxPoint(x, row.y), wxSize(width, -1),
                                 wxTE_PROCESS_ENTER);
        editor_->Bind(wxEVT_TEXT_ENTER,
                      [this](wxCommandEvent&) { CallAfter([this] { EndEdit(); }); });
    }
    // Centred on the row, since the editor is taller than a row.
    const int height = editor_->GetSize().y;
    editor_->Move(x, row.y + (row.height - height) / 2);
    editor_->Bind(wxEVT_KEY_DOWN, [this](wxKeyEvent& event) {
        if (event.GetKeyCode() == WXK_ESCAPE)
            CallAfter([this] { EndEdit(); });
        else
            event.Skip();
    });
    editor_->Bind(wxEVT_KILL_FOCUS, [this](wxFocusEvent& event) {
        event.Skip();
        CallAfter([this] { EndEdit(); });
    });
    editing_ = item;
    editor_->SetFocus();
}

void CTreeOptionsCtrl::EndEdit() {
    if (!editor_ || ending_edit_)
        return;
    ending_edit_ = true;
    const wxString text = NumberText(editing_);
    if (ItemData* data = Data(editing_)) {
        data->number = text;
        SetItemText(editing_, NumberLabel(*data));
    }
    wxWindow* editor = editor_;
    editor_ = nullptr;
    editing_ = wxTreeItemId();
    editor->Hide();
    editor->Destroy();
    ending_edit_ = false;
}

bool CTreeOptionsCtrl::Validate() {
    EndEdit();
    // Depth-first over every item, in display order.
    std::function<bool(const wxTreeItemId&)> walk = [&](const wxTreeItemId& parent) {
        wxTreeItemIdValue cookie;
        for (wxTreeItemId item = GetFirstChild(parent, cookie); item.IsOk();
             item = GetNextChild(parent, cookie)) {
            int value = 0;
            if (KindOf(item) == Kind::Number && !GetNumber(item, value)) {
                SelectItem(item);
                EnsureVisible(item);
                return false;
            }
            if (!walk(item))
                return false;
        }
        return true;
    };
    return walk(GetRootItem());
}

void CTreeOptionsCtrl::OnLeftDown(wxMouseEvent& event) {
    event.Skip();
    int flags = 0;
    const wxTreeItemId item = HitTest(event.GetPosition(), flags);
    if (!item.IsOk() || !(flags & (wxTREE_HITTEST_ONITEMICON | wxTREE_HITTEST_ONITEMLABEL)))
        return;
    const Kind kind = KindOf(item);
    if (kind == Kind::Check || kind == Kind::Radio)
        ClickItem(item);
}

void CTreeOptionsCtrl::OnKeyDown(wxKeyEvent& event) {
    const wxTreeItemId item = GetSelection();
    if (event.GetKeyCode() == WXK_SPACE && item.IsOk()) {
        ClickItem(item);
        return;
    }
    event.Skip();
}

void CTreeOptionsCtrl::OnSelectionChanged(wxTreeEvent& event) {
    event.Skip();
    if (editing_.IsOk() && event.GetItem() != editing_)
        EndEdit();
    if (KindOf(event.GetItem()) == Kind::Number && IsShownOnScreen())
        CallAfter([this, item = event.GetItem()] {
            if (GetSelection() == item)
                BeginEdit(item);
        });
}

void CTreeOptionsCtrl::OnActivated(wxTreeEvent& event) {
    if (KindOf(event.GetItem()) == Kind::Number)
        BeginEdit(event.GetItem());
    else
        event.Skip();
}

}  // namespace qs::ui
