#include "ui/main_frame.h"

#include <gtest/gtest.h>
#include <wx/app.h>
#include <wx/utils.h>

#include "app/settings.h"
#include "support/temp_dir.h"

namespace qs::ui {
namespace {

void Pump() {
    for (int i = 0; i < 20; ++i) {
        wxTheApp->ProcessPendingEvents();
        wxYield();
        wxMilliSleep(5);
    }
}

TEST(MainFrame, OpensShowsAndSavesSettingsOnClose) {
    test::TempDir home;
    StartupContext startup{home.path(), home.File("Quillstream.ini"), ""};
    Settings settings;
    settings.SocketTimeout = 42;
    auto* frame = new CMainFrame(startup, settings);
    frame->Show();
    Pump();
    EXPECT_TRUE(frame->IsShown());
    EXPECT_EQ(frame->GetTitle(), "Quillstream");
    frame->Close(true);
    Pump();
    EXPECT_EQ(LoadSettings(startup.settings_path).SocketTimeout, 42);
}

}  // namespace
}  // namespace qs::ui
