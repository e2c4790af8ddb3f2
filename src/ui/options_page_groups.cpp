#include "ui/options_page_groups.h"

#include <wx/button.h>
#include <wx/sizer.h>
#include <wx/stattext.h>
#include <wx/textctrl.h>
#include <wx/utils.h>

#include <chrono>

#include "engine/engine.h"
#include "ui/group_picker.h"

namespace qs::ui {

namespace {

constexpr int kPollMillis = 200;
constexpr std::chrono::milliseconds kReaderEndBound{2000};

}  // namespace

COptionsPage2::COptionsPage2(wxWindow* parent, OptionsContext& context)
    : COptionsPage(parent, context), working_(context.edited.groups), timer_(this) {
    const int gap = FromDIP(6);

    retrieve_ = new wxButton(this, wxID_ANY, "Retrieve from Newsserver");
    count_ = new wxStaticText(this, wxID_ANY, "", wxDefaultPosition, wxSize(FromDIP(160), -1));
    manual_ = new wxTextCtrl(this, wxID_ANY);
    auto* add = new wxButton(this, wxID_ANY, "Add");
    search_ = new wxTextCtrl(this, wxID_ANY);
    picker_ = new CGroupPicker(this, context.engine);
    picker_->SetMinSize(FromDIP(wxSize(710, 240)));
    dir_ = new wxTextCtrl(this, wxID_ANY);
    auto* browse = new wxButton(this, wxID_ANY, "Browse...");

    auto* fetch = new wxBoxSizer(wxHORIZONTAL);
    fetch->Add(retrieve_, 0, wxALIGN_CENTER_VERTICAL | wxRIGHT, gap * 2);
    fetch->Add(new wxStaticText(this, wxID_ANY, "Count:"), 0, wxALIGN_CENTER_VERTICAL | wxRIGHT,
               gap);
    fetch->Add(count_, 1, wxALIGN_CENTER_VERTICAL);

    auto* find = new wxFlexGridSizer(5, gap, gap);
    find->AddGrowableCol(1, 1);
    find->AddGrowableCol(4, 1);
    find->Add(new wxStaticText(this, wxID_ANY, "Manual:"), 0, wxALIGN_CENTER_VERTICAL);
    find->Add(manual_, 1, wxEXPAND);
    find->Add(add, 0, wxRIGHT, gap * 2);
    find->Add(new wxStaticText(this, wxID_ANY, "Search:"), 0, wxALIGN_CENTER_VERTICAL);
    find->Add(search_, 1, wxEXPAND);

    auto* dir = new wxBoxSizer(wxHORIZONTAL);
    dir->Add(new wxStaticText(this, wxID_ANY, "Download Dir:"), 0,
             wxALIGN_CENTER_VERTICAL | wxRIGHT, gap);
    dir->Add(dir_, 1, wxALIGN_CENTER_VERTICAL | wxRIGHT, gap);
    dir->Add(browse, 0, wxALIGN_CENTER_VERTICAL);

    auto* page = new wxBoxSizer(wxVERTICAL);
    page->Add(fetch, 0, wxEXPAND | wxALL, gap * 2);
    page->Add(find, 0, wxEXPAND | wxLEFT | wxRIGHT | wxBOTTOM, gap * 2);
    page->Add(picker_, 1, wxEXPAND | wxLEFT | wxRIGHT | wxBOTTOM, gap * 2);
    page->Add(dir, 0, wxEXPAND | wxLEFT | wxRIGHT | wxBOTTOM, gap * 2);
    SetSizer(page);

    retrieve_->Bind(wxEVT_BUTTON, [this](wxCommandEvent&) { Retrieve(); });
    add->Bind(wxEVT_BUTTON, [this](wxCommandEvent&) { AddManual(); });
    browse->Bind(wxEVT_BUTTON, [this](wxCommandEvent&) { Browse(); });
    search_->Bind(wxEVT_TEXT, [this](wxCommandEvent&) {
        picker_->SetSearch(search_->GetValue().utf8_string());
    });
    dir_->Bind(wxEVT_TEXT, [this](wxCommandEvent&) { OnDirEdited(); });
    picker_->on_selected = [this](const Group& group) {
        dir_->ChangeValue(wxString::FromUTF8(group.downloaddir));
    };
    Bind(wxEVT_TIMER, [this](wxTimerEvent&) { PollFetch(); });
}

COptionsPage2::~COptionsPage2() {
    timer_.Stop();
}

void COptionsPage2::OnShown() {
    if (loaded_)
        return;
    loaded_ = true;
    wxBusyCursor wait;
    context_.engine.MarkSubscribed(working_);
    picker_->Reload();
}

void COptionsPage2::Retrieve() {
    const CommandResult result =
        context_.engine.StartGroupListFetch(context_.edited_servers(), working_);
    if (!result.ok) {
        if (!result.message.empty())
            context_.tell(result.message, Host::Icon::Stop);
        return;
    }
    retrieve_->Disable();
    picker_->SetItemCount(0);
    timer_.Start(kPollMillis);
    PollFetch();
}

void COptionsPage2::PollFetch() {
    const Engine::GroupListFetch fetch = context_.engine.group_list_fetch();
    count_->SetLabel(wxString::FromUTF8(fetch.status));
    if (fetch.running)
        return;
    timer_.Stop();
    retrieve_->Enable();
    picker_->Reload();
}

void COptionsPage2::AddManual() {
    const std::string name = manual_->GetValue().utf8_string();
    if (name.empty())
        return;
    Group group;
    group.name = name;
    group.first = 0;
    group.last = 0;
    group.state = 1;
    group.downloaddir = context_.engine.startup().home_dir;
    context_.engine.StoreGroupRecord(group);
    picker_->Reload();
}

void COptionsPage2::Browse() {
    const std::string chosen =
        context_.choose_folder("Choose Folder for Default", dir_->GetValue().utf8_string());
    if (!chosen.empty())
        dir_->SetValue(wxString::FromUTF8(chosen));  // stored by the box's own handler
}

void COptionsPage2::OnDirEdited() {
    if (!picker_->SetSelectedDownloadDir(dir_->GetValue().utf8_string()))
        context_.tell("Please select a group first.", Host::Icon::Stop);
}

void COptionsPage2::Store(Settings& settings) {
    timer_.Stop();
    if (!loaded_)
        return;  // never shown: the groups stay as they were
    context_.engine.StopGroupListFetch(kReaderEndBound);
    if (picker_->GetItemCount() > 0)
        picker_->SetItemState(-1, 0, wxLIST_STATE_SELECTED);
    settings.groups = context_.engine.MarkedGroups();
}

}  // namespace qs::ui
