#include "ui/tray_icon.h"

#include <wx/menu.h>

#include "ui/art.h"
#include "ui/command_ids.h"
#include "ui/main_frame.h"

namespace qs::ui {

std::unique_ptr<QuillstreamTrayIcon> QuillstreamTrayIcon::Create(CMainFrame& frame) {
    if (!wxTaskBarIcon::IsAvailable())
        return nullptr;
    auto icon = std::make_unique<QuillstreamTrayIcon>(frame);
    if (!icon->SetIcon(AppIcon(32), "Quillstream"))
        return nullptr;
    return icon;
}

QuillstreamTrayIcon::QuillstreamTrayIcon(CMainFrame& frame) : frame_(frame) {
    Bind(wxEVT_TASKBAR_LEFT_UP, [this](wxTaskBarIconEvent&) { ShowFrame(); });
    Bind(
        wxEVT_MENU, [this](wxCommandEvent&) { ShowFrame(); }, ID_TRAY_SHOW);
    Bind(
        wxEVT_MENU, [this](wxCommandEvent&) { frame_.Close(); }, ID_EXIT);
}

wxMenu* QuillstreamTrayIcon::CreatePopupMenu() {
    auto* menu = new wxMenu;
    menu->Append(ID_TRAY_SHOW, "Show");
    menu->AppendSeparator();
    menu->Append(ID_EXIT, "E&xit");
    return menu;
}

void QuillstreamTrayIcon::ShowFrame() {
    if (frame_.IsIconized())
        frame_.Iconize(false);
    frame_.Show();
    frame_.Raise();
}

}  // namespace qs::ui
