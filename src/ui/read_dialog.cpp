#include "ui/read_dialog.h"

#include <wx/app.h>
#include <wx/button.h>
#include <wx/panel.h>
#include <wx/sizer.h>
#include <wx/stattext.h>
#include <wx/textctrl.h>

#include <utility>

#include "engine/engine.h"

namespace qs::ui {

CReadDialog::CReadDialog(wxWindow* parent, Engine& engine,
                         std::function<std::string()> current_group, MessageSink messages)
    : wxFrame(parent, wxID_ANY, "Read Message", wxDefaultPosition, wxSize(640, 480),
              wxDEFAULT_FRAME_STYLE | wxFRAME_FLOAT_ON_PARENT),
      engine_(engine),
      current_group_(std::move(current_group)),
      messages_(messages ? std::move(messages) : MessageBoxSink(this)) {
    auto* panel = new wxPanel(this);
    text_ = new wxTextCtrl(panel, wxID_ANY, wxEmptyString, wxDefaultPosition, wxDefaultSize,
                           wxTE_MULTILINE | wxTE_READONLY | wxTE_DONTWRAP);
    status_ = new wxStaticText(panel, wxID_ANY, "Ready.");
    auto* reply = new wxButton(panel, wxID_ANY, "Post Reply");
    auto* close = new wxButton(panel, wxID_CANCEL, "Close");

    panel->SetSizer(ArticleWindowLayout(text_, status_, reply, close));

    reply->Bind(wxEVT_BUTTON, [this](wxCommandEvent&) { PostReply(); });
    close->Bind(wxEVT_BUTTON, [this](wxCommandEvent&) { Close(); });
    Bind(wxEVT_CLOSE_WINDOW, &CReadDialog::OnClose, this);
}

CReadDialog::~CReadDialog() {
    link_->alive = false;
}

void CReadDialog::OnClose(wxCloseEvent& event) {
    // Reused for the next read: the close box only hides it.
    if (event.CanVeto()) {
        event.Veto();
        Hide();
        return;
    }
    event.Skip();
}

std::string CReadDialog::status() const {
    return status_->GetLabel().utf8_string();
}

void CReadDialog::Read(const std::string& group, const std::string& message_id) {
    Show();
    Raise();
    const int number = ++read_number_;
    status_text_ = "Ready.";
    article_text_.clear();
    UpdateReadDialog();

    Engine* engine = &engine_;
    std::shared_ptr<WindowLink> link = link_;
    // Reports reach the window on its own thread, and only while it and this read last.
    auto report = [link, number, this](std::string status, std::string text, bool with_text) {
        wxTheApp->CallAfter([=, this] {
            if (!link->alive || number != read_number_)
                return;
            status_text_ = status;
            if (with_text)
                article_text_ = text;
            UpdateReadDialog();
        });
    };
    RunArticleJob([engine, group, message_id, report] {
        ArticleRead read = engine->ReadArticle(
            group, message_id, [&](const std::string& status) { report(status, {}, false); });
        // The final report carries the text with the last status.
        report(read.status, read.text, true);
        return std::function<void()>([] {});
    });
}

void CReadDialog::UpdateReadDialog() {
    status_->SetLabel(wxString::FromUTF8(status_text_));
    text_->ChangeValue(ToControlText(article_text_));
}

CPostDialog* CReadDialog::PostReply() {
    const std::string group = current_group_ ? current_group_() : std::string();
    if (group.empty()) {
        messages_("Please select a newsgroup first", Host::Icon::Stop);
        return nullptr;
    }
    PostRequest request = Engine::FollowUpOf(article_text_, engine_.settings()->UserName);
    request.group = group;
    auto* post = new CPostDialog(GetParent() ? GetParent() : this, engine_, request, messages_);
    post->Show();
    return post;
}

}  // namespace qs::ui
