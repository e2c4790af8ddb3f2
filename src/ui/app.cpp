#include "ui/app.h"

#include <wx/msgdlg.h>

#include <string>

#include "app/debug_log.h"
#include "app/settings.h"
#include "ui/main_frame.h"

namespace qs::ui {

namespace {
// quillstream [--home DIR] [NZBFILE]
void ParseArguments(int argc, wxChar** argv, std::string& home, std::string& file) {
    for (int i = 1; i < argc; ++i) {
        std::string arg = wxString(argv[i]).utf8_string();
        if (arg == "--home" && i + 1 < argc) {
            home = wxString(argv[++i]).utf8_string();
        } else if (arg.rfind("--home=", 0) == 0) {
            home = arg.substr(7);
        } else if (file.empty() && !arg.empty() && arg[0] != '-') {
            file = arg;
        }
    }
}
}  // namespace

bool QuillstreamApp::OnInit() {
    std::string home, file;
    ParseArguments(argc, argv, home, file);
    const std::string program = argc > 0 ? wxString(argv[0]).utf8_string() : std::string();
    startup_ = BeginApplication(home, program.c_str(), file);
    SetAppName("Quillstream");
    wxInitAllImageHandlers();

    const Settings settings = LoadSettings(startup_.settings_path);
    instance_ = std::make_unique<InstanceChecker>(startup_.home_dir);
    instance_->TakeStartupLock();
    if (instance_->PreviousInstanceRunning() && settings.SingleInstance) {
        instance_->SendToPreviousInstance(1, startup_.command_line_file);
        instance_->Release();
        return false;
    }

    auto* frame = new CMainFrame(startup_);
    frame_ = frame;
    if (!frame->ok()) {
        // The engine said why (settings unreadable, data directory refused).
        frame->set_confirm_close(false);
        frame->Destroy();
        instance_->Release();
        return false;
    }
    frame->ApplyPlacement();
    frame->Show();
    LogLine("Main window shown\n");
    frame->Refresh();
    LogLine("Main window updated\n");
    frame->SetTitle("Quillstream");
    LogLine("Main window caption set\n");

    if (!startup_.command_line_file.empty()) {
        LogLine("File on commandline: %s\n", startup_.command_line_file.c_str());
        frame->OpenNzbFile(startup_.command_line_file);
    }
    LogLine("Commandline parsed.\n");

    instance_->Register([this](int kind, const std::string& text) {
        if (kind != 1)
            return;
        CallAfter([this, text] {
            if (frame_) {
                frame_->Show();
                frame_->Raise();
                frame_->OpenNzbFile(text);
            }
        });
    });
    // A fresh home: the wizard finds a server first, then the tips.
    const bool no_server = frame->engine().settings()->servers.empty();
    const bool tips = frame->engine().settings()->ShowTips && !getenv("QUILLSTREAM_NO_TIPS");
    frame->CallAfter([frame, no_server, tips] {
        if (no_server)
            frame->RunWizard();
        if (tips)
            frame->ShowTips();
    });
    frame->SetFocus();
    frame->SendSizeEvent();
    instance_->Release();
    return true;
}

int QuillstreamApp::OnExit() {
    instance_.reset();  // stops the listener before the application goes away
    DebugLog::Instance().Close();
    return wxApp::OnExit();
}

}  // namespace qs::ui
