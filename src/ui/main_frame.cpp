#include "ui/main_frame.h"

#include <wx/sizer.h>
#include <wx/stattext.h>

#include "app/debug_log.h"

namespace qs::ui {

CMainFrame::CMainFrame(const StartupContext& startup, Settings settings)
    : wxFrame(nullptr, wxID_ANY, "Quillstream", wxDefaultPosition, wxSize(900, 600)),
      startup_(startup),
      settings_(std::move(settings)) {
    CreateStatusBar();
    SetStatusText("Ready...");
    auto* sizer = new wxBoxSizer(wxVERTICAL);
    sizer->Add(new wxStaticText(this, wxID_ANY, "Quillstream"), 0, wxALL, 10);
    SetSizer(sizer);
    Bind(wxEVT_CLOSE_WINDOW, &CMainFrame::OnClose, this);
}

void CMainFrame::OpenNzbFile(const std::string& path) {
    if (path.empty())
        return;  // a later instance started without a file
    LogLine("NZB file handed over: %s\n", path.c_str());
}

void CMainFrame::OnClose(wxCloseEvent& event) {
    SaveSettings(settings_, startup_.settings_path);
    event.Skip();
}

}  // namespace qs::ui
