#pragma once

#include <wx/frame.h>

#include <functional>
#include <memory>
#include <string>

#include "ui/post_dialog.h"

class wxButton;
class wxStaticText;
class wxTextCtrl;

namespace qs::ui {

// "Read Message": one article, headers and body, as the server sends it, read with ARTICLE
// on a background thread. One window serves every read; its close box hides it. "Post
// Reply" starts a follow-up of the shown article in the current group.
class CReadDialog : public wxFrame {
  public:
    // `current_group` names the group selected in the main window ("" when none).
    CReadDialog(wxWindow* parent, Engine& engine, std::function<std::string()> current_group,
                MessageSink messages = {});
    ~CReadDialog() override;

    // Shows the window, empties it and reads the article (GROUP `group` first when the
    // settings ask for it). A read started earlier is forgotten.
    void Read(const std::string& group, const std::string& message_id);
    // The status line and the article text from the last report of the read.
    void UpdateReadDialog();
    // "Post Reply": the follow-up of the shown text, in a new posting window (null, after
    // "Please select a newsgroup first", when no group is selected).
    CPostDialog* PostReply();

    std::string status() const;
    const std::string& article() const { return article_text_; }
    wxTextCtrl* article_text() { return text_; }

  private:
    void OnClose(wxCloseEvent& event);

    Engine& engine_;
    std::function<std::string()> current_group_;
    MessageSink messages_;
    std::shared_ptr<WindowLink> link_ = std::make_shared<WindowLink>();
    wxTextCtrl* text_ = nullptr;
    wxStaticText* status_ = nullptr;
    std::string status_text_ = "Ready.";
    std::string article_text_;
    int read_number_ = 0;  // the read whose reports are shown
};

}  // namespace qs::ui
