// Makes the README's screenshots (scripts/make-screenshots.sh runs it; `make test` skips it):
// the main window with a scanned group, the Queue tab during a download, the Find/Filter
// dialog, the parts window, reading and replying, every options page and every wizard page,
// each taken from the X display with ImageMagick's import.
#include <gtest/gtest.h>
#include <wx/app.h>
#include <wx/bookctrl.h>
#include <wx/checkbox.h>
#include <wx/spinctrl.h>
#include <wx/textctrl.h>
#include <wx/utils.h>

#include <chrono>
#include <cstdlib>
#include <functional>
#include <string>

#include "app/settings.h"
#include "support/generated_corpus.h"
#include "support/news_server.h"
#include "support/temp_dir.h"
#include "ui/command_ids.h"
#include "ui/event_pump.h"
#include "ui/find_filter_dialog.h"
#include "ui/groups_view.h"
#include "ui/main_frame.h"
#include "ui/options_dialog.h"
#include "ui/options_page_groups.h"
#include "ui/options_page_servers.h"
#include "ui/parts_dialog.h"
#include "ui/post_dialog.h"
#include "ui/quillstream_view.h"
#include "ui/read_dialog.h"
#include "ui/screenshot.h"
#include "ui/speed_bar.h"
#include "ui/wizard.h"
#include "ui/wizard_pages.h"

namespace qs::ui {
namespace {

using namespace std::chrono_literals;

void Settle() {
    PumpFor(700ms);
}

TEST(Screenshots, DISABLED_MainWindowQueueFindAndParts) {
    const char* out = std::getenv("QS_SCREENSHOT_DIR");
    ASSERT_NE(out, nullptr) << "set QS_SCREENSHOT_DIR";
    const std::string dir = out;

    test::CorpusOptions options;
    options.seed = 7;
    options.big_megabytes = 24;
    options.big_file_megabytes = 8;
    auto corpus = std::make_shared<test::GeneratedCorpus>(options);
    test::NewsServer server;
    server.SetCorpus(corpus);
    test::TempDir home;
    Settings s;
    s.servers.push_back({server.host(), "", "", 0, server.port()});
    s.groups.push_back({"alt.binaries.test", home.File("downloads/test") + "/", 0});
    s.groups.push_back({"alt.binaries.big", home.File("downloads/big") + "/", 0});
    s.AutoCreateDirs = 1;
    s.ShowTips = 0;
    s.ViewColumn = {420, 190, 80, 60, 50, 190};
    ASSERT_TRUE(SaveSettings(s, home.File("Quillstream.ini")));

    auto* frame = new CMainFrame(StartupContext{home.path(), home.File("Quillstream.ini"), ""});
    ASSERT_TRUE(frame->ok());
    frame->host().SetQuiet(true, false);
    frame->SetSize(0, 0, 1180, 820);
    frame->Show();
    Settle();

    CQuillstreamView* list = frame->list_view();
    ASSERT_TRUE(frame->groups_view()->SelectGroup("alt.binaries.test"));
    frame->RunCommand(ID_SCAN);
    ASSERT_TRUE(
        PumpUntil([&] { return !frame->engine().Busy() && list->GetItemCount() > 0; }, 30s));
    list->SortByColumn(5);
    list->SetItemState(2, wxLIST_STATE_SELECTED, wxLIST_STATE_SELECTED);
    Shoot(frame, dir, "main-window");

    // A text post read, and the reply to it.
    std::string text_id;
    for (long row = 0; row < list->GetItemCount() && text_id.empty(); ++row) {
        Attachment a;
        if (list->view()->AttachmentAt(row, a) && a.parts == 1 &&
            a.filename.rfind("Request", 0) == 0)
            text_id = a.Id;
    }
    ASSERT_FALSE(text_id.empty());
    CReadDialog* reader = frame->OpenReadDialog("alt.binaries.test", text_id);
    ASSERT_TRUE(PumpUntil([&] { return reader->status() == "Ready..."; }, 20s));
    reader->SetSize(60, 80, 720, 480);
    Shoot(reader, dir, "read-message");
    CPostDialog* reply = reader->PostReply();
    ASSERT_NE(reply, nullptr);
    reply->SetSize(120, 120, 720, 480);
    Shoot(reply, dir, "post-reply");
    reply->Destroy();
    reader->Hide();

    // The parts window of a multi-part file.
    for (long row = 0; row < list->GetItemCount(); ++row) {
        if (list->GetItemText(row, 4) != "1") {
            list->SetItemState(2, 0, wxLIST_STATE_SELECTED);
            list->SetItemState(row, wxLIST_STATE_SELECTED, wxLIST_STATE_SELECTED);
            break;
        }
    }
    ASSERT_TRUE(list->ShowProperties());
    CPartsDialog* parts = list->parts_dialog();
    parts->SetSize(60, 120, 640, 300);
    Shoot(parts, dir, "parts-window");
    parts->Hide();

    auto* find = new CFindFilterDialog(frame, *list);
    find->Move(200, 200);
    find->Show();
    Shoot(find, dir, "find-filter");
    find->Destroy();

    // The Queue tab while the big group downloads from a slow server.
    ASSERT_TRUE(frame->groups_view()->SelectGroup("alt.binaries.big"));
    frame->RunCommand(ID_SCAN);
    ASSERT_TRUE(
        PumpUntil([&] { return !frame->engine().Busy() && list->GetItemCount() > 0; }, 30s));
    // A speed limit keeps the download going long enough to be seen.
    Settings limited = *frame->engine().settings();
    limited.SpeedUse = 1;
    limited.SpeedVal = 400;
    frame->engine().ApplySettings(limited);
    frame->speed_bar()->max_speed_box()->SetValue(true);
    frame->speed_bar()->speed_box()->SetValue(400);
    list->SelectAllRows();
    frame->RunCommand(ID_GRAB);
    frame->RunCommand(ID_VIEW_QUEUE);
    PumpUntil([&] { return frame->engine().Status().speed > 0; }, 20s);
    PumpFor(13s);  // a part or two arrives on each thread
    Shoot(frame, dir, "queue-downloading");

    frame->engine().StopAll();
    server.SetReplyDelay(0ms);
    ASSERT_TRUE(PumpUntil([&] { return !frame->engine().Busy(); }, 20s));

    // Each page of the options dialog, the group list read from the server.
    auto* dialog = new COptionsDialog(frame, frame->engine(), 0);
    dialog->SetMessageSink([](const std::string&, Host::Icon) {});
    dialog->Move(40, 40);
    dialog->Show();
    // A second server over TLS, selected (the dialog is not applied).
    COptionsPage1* servers = dialog->servers_page();
    servers->host_box()->SetValue("secure.example.com");
    servers->SetTls(true);
    servers->Add();
    const char* const option_pages[] = {"options-servers", "options-groups", "options-user",
                                        "options-filters", "options-advanced"};
    for (int page = 0; page < 5; ++page) {
        dialog->GetBookCtrl()->SetSelection(static_cast<size_t>(page));
        if (page == 1) {
            dialog->groups_page()->Retrieve();
            PumpUntil([&] { return !dialog->groups_page()->fetching(); }, 20s);
        }
        Shoot(dialog, dir, option_pages[page]);
    }
    dialog->Destroy();

    // Each page of the first-run wizard.
    auto* wizard = new CQuillstreamWizard(frame, frame->engine());
    wizard->set_message_function([](const std::string&, Host::Icon) {});
    wizard->ShowPageAt(0);
    wizard->Move(40, 40);
    wizard->Show();
    wizard->server_page()->host_box()->SetValue("secure.example.com");
    wizard->server_page()->tls_box()->SetValue(true);
    for (int page = 0; page < CQuillstreamWizard::kPageCount; ++page) {
        wizard->ShowPageAt(page);
        Shoot(wizard, dir, "wizard-" + std::to_string(page + 1));
    }
    wizard->Destroy();
    frame->set_confirm_close(false);
    frame->Close(true);
    Settle();
}

}  // namespace
}  // namespace qs::ui
