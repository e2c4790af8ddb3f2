#include "ui/parts_dialog.h"

#include <wx/listctrl.h>
#include <wx/menu.h>
#include <wx/sizer.h>

#include <string>

#include "ui/command_ids.h"
#include "ui/list_text.h"
#include "ui/main_frame.h"

namespace qs::ui {
namespace {

struct PartColumn {
    const char* caption;
    int width;
};
constexpr PartColumn kPartColumns[] = {
    {"Part", 50}, {"Id", 300}, {"Bytes", 70}, {"Lines", 70}, {"Article Nr", 70}};

// One row per part of the shown attachment, read from it when drawn: an attachment of
// thousands of parts shows at once.
class PartsList : public wxListCtrl {
  public:
    PartsList(wxWindow* parent, const Attachment& shown)
        : wxListCtrl(parent, wxID_ANY, wxDefaultPosition, wxDefaultSize,
                     wxLC_REPORT | wxLC_VIRTUAL),
          shown_(shown) {
        for (const PartColumn& column : kPartColumns)
            AppendColumn(column.caption, wxLIST_FORMAT_RIGHT, column.width);
    }

  private:
    wxString OnGetItemText(long item, long column) const override {
        if (item < 0 || static_cast<size_t>(item) >= shown_.partlist.size())
            return wxString();
        const MessageVars& part = shown_.partlist[static_cast<size_t>(item)];
        switch (column) {
            case 0:
                return std::to_string(part.partnum);
            case 1:
                return wxString::FromUTF8(DisplayUtf8(part.MessageId));
            case 2:
                return std::to_string(part.bytes);
            case 3:
                return std::to_string(part.lines);
            case 4:
                return std::to_string(part.ArticleId);
            default:
                return wxString();
        }
    }

    const Attachment& shown_;
};

}  // namespace

CPartsDialog::CPartsDialog(wxWindow* parent)
    : wxFrame(parent, wxID_ANY, "Properties", wxDefaultPosition, wxSize(600, 300),
              wxDEFAULT_FRAME_STYLE | wxFRAME_FLOAT_ON_PARENT) {
    list_ = new PartsList(this, attachment_);
    auto* sizer = new wxBoxSizer(wxVERTICAL);
    sizer->Add(list_, 1, wxEXPAND);
    SetSizer(sizer);
    Bind(wxEVT_CLOSE_WINDOW, &CPartsDialog::OnClose, this);
    list_->Bind(wxEVT_LIST_ITEM_RIGHT_CLICK, &CPartsDialog::OnRightClick, this);
    Bind(
        wxEVT_MENU, [this](wxCommandEvent&) { ReadPart(menu_part_); }, ID_PART_READ_MESSAGE);
}

void CPartsDialog::ShowAttachment(const Attachment& attachment) {
    attachment_ = attachment;
    list_->SetItemCount(static_cast<long>(attachment_.partlist.size()));
    list_->Refresh();
}

void CPartsDialog::OnClose(wxCloseEvent& event) {
    // Lives as long as the frame: the close box only hides it.
    if (event.CanVeto()) {
        event.Veto();
        Hide();
        return;
    }
    event.Skip();
}

void CPartsDialog::OnRightClick(wxListEvent& event) {
    if (event.GetIndex() < 0)
        return;
    menu_part_ = event.GetIndex();
    wxMenu menu;
    menu.Append(ID_PART_READ_MESSAGE, "&Read Message\tCtrl+V");
    PopupMenu(&menu);
}

CReadDialog* CPartsDialog::ReadPart(long row) {
    if (row < 0 || static_cast<size_t>(row) >= attachment_.partlist.size())
        return nullptr;
    auto* frame = dynamic_cast<CMainFrame*>(wxGetTopLevelParent(GetParent()));
    if (!frame)
        return nullptr;
    // Only this part's article: the attachment's state stays as it is.
    return frame->OpenReadDialog(attachment_.newsgroup,
                                 attachment_.partlist[static_cast<size_t>(row)].MessageId);
}

}  // namespace qs::ui
