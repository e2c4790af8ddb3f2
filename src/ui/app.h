#pragma once

#include <wx/app.h>
#include <wx/weakref.h>
#include <memory>

#include "app/single_instance.h"
#include "app/startup.h"

namespace qs::ui {

class CMainFrame;

class QuillstreamApp : public wxApp {
  public:
    bool OnInit() override;
    int OnExit() override;

  private:
    StartupContext startup_;
    std::unique_ptr<InstanceChecker> instance_;
    wxWeakRef<CMainFrame> frame_;  // gone once the window is destroyed
};

}  // namespace qs::ui
