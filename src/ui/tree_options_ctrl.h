#pragma once

#include <wx/treectrl.h>

#include <functional>
#include <memory>
#include <string>

class wxImageList;

namespace qs::ui {

// Check box and radio button pictures drawn by the native renderer, on a transparent ground,
// for rows that carry their state as an image: index 0 unchecked box, 1 checked box, 2 radio
// button off, 3 radio button on.
enum ToggleImage { kImageUnchecked = 0, kImageChecked, kImageRadioOff, kImageRadioOn };
std::unique_ptr<wxImageList> ToggleImageList(wxWindow* window);

// A tree of options: headings with an icon, and under them check boxes, radio buttons
// (the children of a radio group item) and numbers shown as "label: value". A click on a
// check box flips it, a click on a radio button selects it and clears its siblings; a
// number is edited in place (a text box, or a spin control) when it is selected or
// activated, and kept as typed until Validate.
class CTreeOptionsCtrl : public wxTreeCtrl {
  public:
    enum class Kind { Heading, Check, RadioGroup, Radio, Number };
    static constexpr int kNumberMin = 0;
    static constexpr int kNumberMax = 999999999;

    explicit CTreeOptionsCtrl(wxWindow* parent, wxWindowID id = wxID_ANY);
    ~CTreeOptionsCtrl() override;

    wxTreeItemId AddHeading(const wxString& caption);
    wxTreeItemId AddCheck(const wxTreeItemId& parent, const wxString& caption, bool checked);
    wxTreeItemId AddRadioGroup(const wxTreeItemId& parent, const wxString& caption);
    wxTreeItemId AddRadio(const wxTreeItemId& group, const wxString& caption, bool selected);
    // `spin`: edited with spin buttons.
    wxTreeItemId AddNumber(const wxTreeItemId& parent, const wxString& caption, int value,
                           bool spin = false);
    // Every heading (and radio group) expanded, the first heading selected.
    void ExpandHeadings();

    Kind KindOf(const wxTreeItemId& item) const;
    bool IsChecked(const wxTreeItemId& item) const;
    // Sets a check box (no change notice) or selects a radio button.
    void SetChecked(const wxTreeItemId& item, bool checked);
    // The index of the selected radio button of a group; -1 when none is.
    int SelectedRadio(const wxTreeItemId& group) const;
    // The number as an integer in range; false (out untouched) for any other text.
    bool GetNumber(const wxTreeItemId& item, int& out) const;
    wxString NumberText(const wxTreeItemId& item) const;
    void SetNumberText(const wxTreeItemId& item, const wxString& text);

    // What a click does on the item: flips a check box, selects a radio button, starts
    // editing a number.
    void ClickItem(const wxTreeItemId& item);
    // The in-place editor over a number item.
    void BeginEdit(const wxTreeItemId& item);
    // Takes the editor's text into its item and removes it.
    void EndEdit();
    wxWindow* editor() const { return editor_; }
    // Ends editing, then finds the first number that is not an integer in range; selects
    // it and returns false when there is one.
    bool Validate();

    // Told after the user changed a check box (the page links dependent items).
    std::function<void(const wxTreeItemId& item, bool checked)> on_check_changed;

  private:
    class ItemData;
    ItemData* Data(const wxTreeItemId& item) const;
    wxTreeItemId Append(const wxTreeItemId& parent, Kind kind, const wxString& caption);
    void ShowState(const wxTreeItemId& item);
    wxString NumberLabel(const ItemData& data) const;
    void OnLeftDown(wxMouseEvent& event);
    void OnKeyDown(wxKeyEvent& event);
    void OnSelectionChanged(wxTreeEvent& event);
    void OnActivated(wxTreeEvent& event);

    std::unique_ptr<wxImageList> images_;
    wxWindow* editor_ = nullptr;
    wxTreeItemId editing_;
    bool ending_edit_ = false;
};

}  // namespace qs::ui
