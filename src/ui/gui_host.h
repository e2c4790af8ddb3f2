#pragma once

#include <functional>
#include <mutex>
#include <string>
#include <utility>
#include <vector>

#include "app/host.h"

class wxWindow;

namespace qs::ui {

// The message box style for a host's icon.
long MessageBoxStyle(Host::Icon icon);

// The engine's host in the GUI: messages and questions from any thread are shown on the
// user-interface thread (a worker's question waits for the answer). In quiet mode, for
// tests, messages are recorded instead of shown and questions get the quiet answer.
class GuiHost : public Host {
  public:
    void SetWindow(wxWindow* window) { window_ = window; }
    void ShowMessage(const std::string& text, Icon icon) override;
    bool AskYesNo(const std::string& question) override;
    void Refresh() override;
    void OpenFile(const std::string& path) override;
    void ShowGroup(const std::string& group) override;
    // An OK / Cancel question on the user-interface thread; true for OK.
    bool Confirm(const std::string& question);

    // Called by the frame for Refresh and ShowGroup (on its thread).
    void SetViewCallbacks(std::function<void()> refresh,
                          std::function<void(const std::string&)> show_group);

    void SetQuiet(bool quiet, bool answer = false);
    bool quiet() const;
    std::vector<std::pair<std::string, Icon>> TakeMessages();

  private:
    void OnUiThread(std::function<void()> work);
    void Record(const std::string& text, Icon icon);

    wxWindow* window_ = nullptr;
    std::function<void()> refresh_;
    std::function<void(const std::string&)> show_group_;
    mutable std::mutex mutex_;
    bool quiet_ = false;
    bool quiet_answer_ = false;
    std::vector<std::pair<std::string, Icon>> messages_;
};

}  // namespace qs::ui
