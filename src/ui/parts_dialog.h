#pragma once

#include <wx/frame.h>

#include "db/records.h"

class wxListCtrl;
class wxListEvent;

namespace qs::ui {

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

  private:
    void OnClose(wxCloseEvent& event);
    void OnRightClick(wxListEvent& event);

    wxListCtrl* list_ = nullptr;
    Attachment attachment_;
};

}  // namespace qs::ui
