#pragma once

#include <wx/treebase.h>

#include <vector>

#include "ui/options_page_common.h"

class wxTextCtrl;

namespace qs::ui {

class CTreeOptionsCtrl;

// "Advanced": the base download directory and the tree of switches and numbers.
class COptionsPage5 : public COptionsPage {
  public:
    COptionsPage5(wxWindow* parent, OptionsContext& context);
    // Refused while a number is not an integer from 0 to 999999999.
    bool CanLeave() override;
    void Store(Settings& settings) override;

    void Browse();
    CTreeOptionsCtrl* tree() { return tree_; }
    wxTextCtrl* base_dir_box() { return base_dir_; }
    // The item of the tree's entry with this caption (tests and the linked pair).
    wxTreeItemId ItemOf(const wxString& caption) const;

  private:
    void OnCheckChanged(const wxTreeItemId& item, bool checked);

    CTreeOptionsCtrl* tree_ = nullptr;
    wxTextCtrl* base_dir_ = nullptr;
    std::vector<wxTreeItemId> items_;  // one per line of the tree, in display order
    wxTreeItemId set_group_;
    wxTreeItemId use_article_id_;
};

}  // namespace qs::ui
