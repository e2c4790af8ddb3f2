#pragma once

#include <wx/control.h>

#include <string>
#include <vector>

namespace qs::ui {

// The List / Queue / Log strip in the status bar: folder tabs drawn by hand. A click on a
// tab other than the current one selects it and sends a wxEVT_MENU event with
// ID_VIEW_LIST + tab to the parent frame.
class CFolderTabCtrl : public wxControl {
  public:
    // `tabs`: the captions split at "\n" ("  List  \n Queue \n Log ").
    CFolderTabCtrl(wxWindow* parent, const std::string& tabs);
    void SelectTab(int tab);  // no event
    int selected() const { return selected_; }
    int tab_count() const { return static_cast<int>(captions_.size()); }
    // The width the strip needs for its tabs.
    int StripWidth() const;
    // The strip is worked with the mouse; the keyboard has Ctrl+L.
    bool AcceptsFocus() const override { return false; }

  private:
    wxSize DoGetBestSize() const override;
    void OnPaint(wxPaintEvent& event);
    void OnLeftDown(wxMouseEvent& event);
    int TabAt(int x) const;
    // Each tab's right edge at the top; neighbours overlap by Slant().
    std::vector<int> TabEdges() const;
    int Slant() const;
    wxFont CaptionFont(bool selected) const;

    std::vector<std::string> captions_;  // trimmed
    int selected_ = 0;
};

}  // namespace qs::ui
