#pragma once

#include <wx/frame.h>

#include "db/records.h"

class wxListCtrl;
class wxListEvent;

namespace qs::ui {

class CReadDialog;

// "Properties": the parts of one attachment (part, message-id, bytes, lines, article
// number), one row each in stored order. Created hidden with its list; its close box
// hides it.
class CPartsDialog : public wxFrame {
  public:
    explicit CPartsDialog(wxWindow* parent);
    // Shows the attachment (its partlist loaded).
    void ShowAttachment(const Attachment& attachment);
    const Attachment& attachment() const { return attachment_; }
    wxListCtrl* list() { return list_; }
    // "Read Message" on a part row: the main window's reading window shows that article.
    CReadDialog* ReadPart(long row);

  private:
    void OnClose(wxCloseEvent& event);
    void OnRightClick(wxListEvent& event);

    wxListCtrl* list_ = nullptr;
    Attachment attachment_;
    long menu_part_ = -1;  // the row the menu was opened on
};

}  // namespace qs::ui
