#pragma once

#include <wx/frame.h>

#include "app/settings.h"
#include "app/startup.h"

namespace qs::ui {

// The main window. For now it owns the settings and saves them when it closes.
class CMainFrame : public wxFrame {
  public:
    CMainFrame(const StartupContext& startup, Settings settings);

    // A file handed over by a later instance (kind 1) or named on the command line.
    void OpenNzbFile(const std::string& path);

    const Settings& settings() const { return settings_; }

  private:
    void OnClose(wxCloseEvent& event);

    StartupContext startup_;
    Settings settings_;
};

}  // namespace qs::ui
