#include "ui/gui_host.h"

#include <wx/app.h>
#include <wx/msgdlg.h>
#include <wx/thread.h>
#include <wx/utils.h>
#include <wx/window.h>

#include <chrono>
#include <future>

#include "app/debug_log.h"

namespace qs::ui {

long MessageBoxStyle(Host::Icon icon) {
    switch (icon) {
        case Host::Icon::Stop:
            return wxOK | wxICON_ERROR;
        case Host::Icon::Exclamation:
            return wxOK | wxICON_EXCLAMATION;
        case Host::Icon::Plain:
            break;
    }
    return wxOK | wxICON_INFORMATION;
}

// Runs `work` on the user-interface thread: at once when already there. Queued through the
// window, so that work still pending when the window goes is dropped with it.
void GuiHost::OnUiThread(std::function<void()> work) {
    if (wxThread::IsMain())
        work();
    else if (window_)
        window_->CallAfter(std::move(work));
}

void GuiHost::SetViewCallbacks(std::function<void()> refresh,
                               std::function<void(const std::string&)> show_group) {
    refresh_ = std::move(refresh);
    show_group_ = std::move(show_group);
}

void GuiHost::SetQuiet(bool quiet, bool answer) {
    std::lock_guard lock(mutex_);
    quiet_ = quiet;
    quiet_answer_ = answer;
}

bool GuiHost::quiet() const {
    std::lock_guard lock(mutex_);
    return quiet_;
}

std::vector<std::pair<std::string, Host::Icon>> GuiHost::TakeMessages() {
    std::lock_guard lock(mutex_);
    return std::exchange(messages_, {});
}

void GuiHost::Record(const std::string& text, Icon icon) {
    std::lock_guard lock(mutex_);
    messages_.emplace_back(text, icon);
}

void GuiHost::ShowMessage(const std::string& text, Icon icon) {
    LogLine("Message: %s\n", text.c_str());
    Record(text, icon);
    if (quiet())
        return;
    OnUiThread([this, text, icon] {
        wxMessageBox(wxString::FromUTF8(text), "Quillstream", MessageBoxStyle(icon), window_);
    });
}

bool GuiHost::AskYesNo(const std::string& question) {
    {
        std::lock_guard lock(mutex_);
        messages_.emplace_back(question, Icon::Plain);
        if (quiet_)
            return quiet_answer_;
    }
    auto ask = [this, question] {
        return wxMessageBox(wxString::FromUTF8(question), "Quillstream", wxYES_NO | wxICON_QUESTION,
                            window_) == wxYES;
    };
    if (wxThread::IsMain() || !window_)
        return window_ && ask();
    auto answer = std::make_shared<std::promise<bool>>();
    std::future<bool> result = answer->get_future();
    window_->CallAfter([answer, ask] { answer->set_value(ask()); });
    // A window closing meanwhile answers No, so that a worker never outwaits it.
    while (result.wait_for(std::chrono::milliseconds(100)) != std::future_status::ready) {
        if (quiet())
            return false;
    }
    return result.get();
}

bool GuiHost::Confirm(const std::string& question) {
    {
        std::lock_guard lock(mutex_);
        messages_.emplace_back(question, Icon::Plain);
        if (quiet_)
            return quiet_answer_;
    }
    return wxMessageBox(wxString::FromUTF8(question), "Quillstream",
                        wxOK | wxCANCEL | wxICON_QUESTION, window_) == wxOK;
}

void GuiHost::Refresh() {
    OnUiThread([this] {
        if (refresh_)
            refresh_();
    });
}

void GuiHost::OpenFile(const std::string& path) {
    if (quiet())
        return;
    OnUiThread([path] { wxLaunchDefaultApplication(wxString::FromUTF8(path)); });
}

void GuiHost::ShowGroup(const std::string& group) {
    OnUiThread([this, group] {
        if (show_group_)
            show_group_(group);
    });
}

}  // namespace qs::ui
