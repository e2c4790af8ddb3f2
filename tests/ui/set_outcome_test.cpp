// A set through the window: one article of it is lost, the set is repaired from its
// recovery volume, and the Log tab's Result column says so.
#include <gtest/gtest.h>
#include <wx/app.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>

#include "app/settings.h"
#include "postprocess/set_fixtures.h"
#include "support/news_server.h"
#include "support/temp_dir.h"
#include "support/yenc_poster.h"
#include "ui/command_ids.h"
#include "ui/event_pump.h"
#include "ui/groups_view.h"
#include "ui/main_frame.h"
#include "ui/quillstream_view.h"
#include "ui/screenshot.h"

namespace qs::ui {
namespace {

using namespace std::chrono_literals;

constexpr const char* kGroup = "alt.binaries.sets";
constexpr int kResultColumn = 6;

TEST(SetOutcome, TheLogTabShowsARepairedSet) {
    // Data.bin (192 KB) in 64 KB 7z volumes with a par2 index and recovery volumes of 16 KB
    // blocks, every file posted in 32 KB parts; the server has lost the second part of the
    // first volume.
    test::TempDir source, home;
    const std::string original = test::RandomBytes(192 * 1024, 3);
    test::WriteFile(source.File("Data.bin"), original);
    std::string output;
    ASSERT_TRUE(
        test::RunTool(source.path(), {"7z", "a", "-v64k", "-mx=0", "Data.7z", "Data.bin"}, &output))
        << output;
    std::filesystem::remove(source.File("Data.bin"));
    std::vector<std::string> names;
    for (const auto& entry : std::filesystem::directory_iterator(source.path()))
        names.push_back(entry.path().filename().string());
    std::vector<std::string> create = {"par2", "c", "-q", "-s16384", "-c4", "--", "Data.par2"};
    create.insert(create.end(), names.begin(), names.end());
    ASSERT_TRUE(test::RunTool(source.path(), create, &output)) << output;
    names.clear();
    for (const auto& entry : std::filesystem::directory_iterator(source.path()))
        names.push_back(entry.path().filename().string());

    test::NewsServer server;
    for (const std::string& name : names) {
        const auto ids = test::PostYencFile(*server.memory_corpus(), kGroup, name,
                                            test::ReadFile(source.File(name)), 32 * 1024);
        if (name == "Data.7z.001")
            server.SetReply("BODY " + ids.at(1), test::Reply::Line("430 No such article"));
    }

    Settings s;
    s.servers.push_back({server.host(), "", "", 0, server.port()});
    s.groups.push_back({kGroup, home.File("dl") + "/", 0});
    s.AutoCreateDirs = 1;
    s.ShowTips = 0;
    s.ConnectionRetries = 0;
    ASSERT_TRUE(SaveSettings(s, home.File("Quillstream.ini")));
    auto* frame = new CMainFrame(StartupContext{home.path(), home.File("Quillstream.ini"), ""});
    ASSERT_TRUE(frame->ok());
    frame->host().SetQuiet(true, false);
    frame->engine().ShortenPausesForTests();
    frame->Show();
    PumpFor(100ms);

    CQuillstreamView* list = frame->list_view();
    ASSERT_TRUE(frame->groups_view()->SelectGroup(kGroup));
    frame->RunCommand(ID_SCAN);
    ASSERT_TRUE(PumpUntil([&] {
        return !frame->engine().Busy() && list->GetItemCount() == static_cast<long>(names.size());
    }));
    EXPECT_EQ(list->GetColumnCount(), kResultColumn);  // no Result column on the List tab
    // On a slow server the Queue tab shows the recovery volumes held back.
    server.SetReplyDelay(100ms);
    frame->RunCommand(ID_SELECT_ALL);
    frame->RunCommand(ID_GRAB);
    frame->RunCommand(ID_VIEW_QUEUE);
    EXPECT_TRUE(PumpUntil([&] {
        for (long row = 0; row < list->GetItemCount(); ++row)
            if (list->GetItemText(row, kResultColumn) == "Held until a repair needs it")
                return true;
        return false;
    }));
    server.SetReplyDelay(0ms);
    frame->RunCommand(ID_VIEW_LOG);
    EXPECT_EQ(list->GetColumnCount(), kResultColumn + 1);
    wxListItem result;
    result.SetMask(wxLIST_MASK_TEXT);
    ASSERT_TRUE(list->GetColumn(kResultColumn, result));
    EXPECT_EQ(result.GetText(), "Result");
    // The set is done once the first volume's row carries the repair.
    auto data_row = [&]() -> long {
        for (long row = 0; row < list->GetItemCount(); ++row)
            if (list->GetItemText(row, 0).Contains("Data.7z.001"))
                return row;
        return -1;
    };
    ASSERT_TRUE(PumpUntil(
        [&] {
            const long row = data_row();
            return !frame->engine().Busy() && row >= 0 &&
                   list->GetItemText(row, kResultColumn).Contains("set: repaired");
        },
        60s))
        << (data_row() >= 0 ? list->GetItemText(data_row(), kResultColumn).ToStdString()
                            : std::string("no row for Data.7z.001"));
    EXPECT_EQ(test::ReadFile(home.File("dl/Data.bin")), original);
    EXPECT_TRUE(list->GetItemText(data_row(), kResultColumn)
                    .StartsWith("set: repaired (2 blocks), unpacked (1 file); 1 of 2 parts"))
        << list->GetItemText(data_row(), kResultColumn);

    // scripts/make-screenshots.sh takes the Log tab for the README.
    if (const char* dir = std::getenv("QS_SCREENSHOT_DIR")) {
        frame->SetSize(frame->FromDIP(wxSize(1240, 560)));
        list->SetColumnWidth(0, frame->FromDIP(250));
        list->SetColumnWidth(1, frame->FromDIP(110));
        list->SetColumnWidth(kResultColumn, frame->FromDIP(400));
        Shoot(frame, dir, "log-set-repaired");
    }
    frame->RunCommand(ID_VIEW_QUEUE);
    EXPECT_EQ(list->GetItemCount(), 0);  // the volumes the repair did not need are dropped
    frame->RunCommand(ID_VIEW_LIST);
    EXPECT_EQ(list->GetColumnCount(), kResultColumn);
    frame->set_confirm_close(false);
    frame->Close(true);
    PumpFor(100ms);
}

}  // namespace
}  // namespace qs::ui
