#pragma once

#include <wx/dialog.h>

#include <functional>
#include <memory>
#include <string>

#include "app/host.h"
#include "articles/article_types.h"

class wxButton;
class wxSizer;
class wxStaticText;
class wxTextCtrl;

namespace qs {
class Engine;
}

namespace qs::ui {

// How a window tells the user something; tests replace the message box with a recorder.
using MessageSink = std::function<void(const std::string& text, Host::Icon icon)>;
// A message box with the icon.
MessageSink MessageBoxSink(wxWindow* parent);

// The tie between an article window and its background work: cut when the window goes, so
// that work finishing later drops its result instead of touching a destroyed window. Read
// and written on the user-interface thread only.
struct WindowLink {
    bool alive = true;
};

// An article's CR LF text as a text control holds it (LF line ends).
wxString ToControlText(const std::string& text);
// The article windows' layout: the text above a row of the status text and two buttons.
wxSizer* ArticleWindowLayout(wxTextCtrl* text, wxStaticText* status, wxButton* action,
                             wxButton* close);

// Runs `work` on a thread of its own; the function it returns then runs on the
// user-interface thread. The thread ends by itself: nothing waits for it.
void RunArticleJob(std::function<std::function<void()>()> work);
// Article jobs whose thread has not ended yet.
int ArticleJobsRunning();

// "Post Message": the whole article, headers included, as one editable text built from the
// request; "Post!" sends the text as it stands and stays open for another attempt.
class CPostDialog : public wxDialog {
  public:
    CPostDialog(wxWindow* parent, Engine& engine, const PostRequest& request,
                MessageSink messages = {});
    ~CPostDialog() override;

    // "Post!": posts the text on a background thread; ignored while a post runs.
    void Post();
    bool busy() const { return busy_; }
    std::string status() const;
    wxTextCtrl* article_text() { return text_; }
    wxButton* post_button() { return post_; }

  private:
    void SetBusy(bool busy);
    void SetStatus(const std::string& status);
    void Posted(const std::string& message);

    Engine& engine_;
    MessageSink messages_;
    std::shared_ptr<WindowLink> link_ = std::make_shared<WindowLink>();
    wxTextCtrl* text_ = nullptr;
    wxStaticText* status_ = nullptr;
    wxButton* post_ = nullptr;
    bool busy_ = false;
};

}  // namespace qs::ui
