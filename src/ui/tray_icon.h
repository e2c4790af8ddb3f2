#pragma once

#include <wx/taskbar.h>

#include <memory>

namespace qs::ui {

class CMainFrame;

// The tray icon ("Quillstream") with its menu: Show (the default, also a left click) and
// Exit. Only where the desktop has a tray.
class QuillstreamTrayIcon : public wxTaskBarIcon {
  public:
    // Null when the desktop offers no tray.
    static std::unique_ptr<QuillstreamTrayIcon> Create(CMainFrame& frame);
    explicit QuillstreamTrayIcon(CMainFrame& frame);

  private:
    wxMenu* CreatePopupMenu() override;
    void ShowFrame();

    CMainFrame& frame_;
};

}  // namespace qs::ui
