#include "ui/post_dialog.h"

#include <wx/app.h>
#include <wx/button.h>
#include <wx/msgdlg.h>
#include <wx/sizer.h>
#include <wx/stattext.h>
#include <wx/textctrl.h>

#include <atomic>
#include <thread>
#include <utility>

#include "engine/engine.h"
#include "ui/gui_host.h"

namespace qs::ui {
namespace {

std::atomic<int> jobs_running{0};

}  // namespace

wxString ToControlText(const std::string& text) {
    wxString shown = wxString::FromUTF8(text);
    shown.Replace("\r\n", "\n");
    return shown;
}

MessageSink MessageBoxSink(wxWindow* parent) {
    return [parent](const std::string& text, Host::Icon icon) {
        wxMessageBox(wxString::FromUTF8(text), "Quillstream", MessageBoxStyle(icon), parent);
    };
}

wxSizer* ArticleWindowLayout(wxTextCtrl* text, wxStaticText* status, wxButton* action,
                             wxButton* close) {
    auto* bottom = new wxBoxSizer(wxHORIZONTAL);
    bottom->Add(status, 1, wxALIGN_CENTER_VERTICAL | wxRIGHT, 8);
    bottom->Add(action, 0, wxRIGHT, 4);
    bottom->Add(close, 0);
    auto* sizer = new wxBoxSizer(wxVERTICAL);
    sizer->Add(text, 1, wxEXPAND | wxALL, 6);
    sizer->Add(bottom, 0, wxEXPAND | wxLEFT | wxRIGHT | wxBOTTOM, 6);
    return sizer;
}

void RunArticleJob(std::function<std::function<void()>()> work) {
    ++jobs_running;
    std::thread([work = std::move(work)] {
        std::function<void()> done = work();
        // Counted down before the hand-over: once the app is gone nothing else runs it.
        if (wxTheApp)
            wxTheApp->CallAfter(std::move(done));
        --jobs_running;
    }).detach();
}

int ArticleJobsRunning() {
    return jobs_running.load();
}

CPostDialog::CPostDialog(wxWindow* parent, Engine& engine, const PostRequest& request,
                         MessageSink messages)
    : wxDialog(parent, wxID_ANY, "Post Message", wxDefaultPosition, wxSize(640, 480),
               wxDEFAULT_DIALOG_STYLE | wxRESIZE_BORDER),
      engine_(engine),
      messages_(messages ? std::move(messages) : MessageBoxSink(this)) {
    text_ = new wxTextCtrl(this, wxID_ANY, ToControlText(Engine::ComposeArticle(request)),
                           wxDefaultPosition, wxDefaultSize, wxTE_MULTILINE | wxTE_DONTWRAP);
    status_ = new wxStaticText(this, wxID_ANY, "Ready.");
    post_ = new wxButton(this, wxID_OK, "Post!");
    auto* close = new wxButton(this, wxID_CANCEL, "Close");

    SetSizer(ArticleWindowLayout(text_, status_, post_, close));

    post_->Bind(wxEVT_BUTTON, [this](wxCommandEvent&) { Post(); });
    close->Bind(wxEVT_BUTTON, [this](wxCommandEvent&) { Close(); });
    // Modeless: closing destroys the window; a post still running finds it gone.
    Bind(wxEVT_CLOSE_WINDOW, [this](wxCloseEvent&) { Destroy(); });
}

CPostDialog::~CPostDialog() {
    link_->alive = false;
}

std::string CPostDialog::status() const {
    return status_->GetLabel().utf8_string();
}

void CPostDialog::SetStatus(const std::string& status) {
    status_->SetLabel(wxString::FromUTF8(status));
}

void CPostDialog::SetBusy(bool busy) {
    busy_ = busy;
    post_->Enable(!busy);
}

void CPostDialog::Post() {
    if (busy_)
        return;
    SetBusy(true);
    SetStatus("Posting...");
    // The text as it stands now, taken on this thread.
    std::string article = text_->GetValue().utf8_string();
    Engine* engine = &engine_;
    RunArticleJob([engine, article = std::move(article), link = link_, this] {
        CommandResult result = engine->PostArticleText(article);
        return std::function<void()>([result, link, this] {
            if (link->alive)
                Posted(result.message);
        });
    });
}

void CPostDialog::Posted(const std::string& message) {
    // Accepted or refused, the server's line is shown the same way.
    if (!message.empty())
        messages_(message, Host::Icon::Stop);
    SetBusy(false);
}

}  // namespace qs::ui
