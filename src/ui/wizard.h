#pragma once

#include <wx/wizard.h>

#include <array>
#include <functional>
#include <string>
#include <vector>

#include "app/host.h"
#include "app/settings.h"

class wxButton;

namespace qs {
class Engine;
}

namespace qs::ui {

class CWizard2;
class CWizard3;
class CWizard4;
class CWizard5;

// The first-run wizard: welcome, find a news server, read its group list, pick groups,
// choose the download directory, finish. Finish hands the servers, groups and BaseDir to
// the engine; Cancel changes nothing.
class CQuillstreamWizard : public wxWizard {
  public:
    static constexpr int kPageCount = 6;
    using MessageFunction = std::function<void(const std::string& text, Host::Icon icon)>;
    using CandidateFunction = std::function<std::vector<std::string>(const std::string& typed)>;

    CQuillstreamWizard(wxWindow* parent, Engine& engine);
    ~CQuillstreamWizard() override;
    // Runs it modally from the first page; true when finished.
    bool Run();
    wxWizardPage* first_page() const { return first_; }

    Engine& engine() { return engine_; }
    wxWizardPageSimple* page(int index) const { return pages_.at(index); }
    CWizard2* server_page() const;
    CWizard3* list_page() const;
    CWizard4* select_page() const;
    CWizard5* directory_page() const;

    // Moves to page `index` (0 to 5) without the current page's leave checks (no server
    // detection, no directory check): for screenshots and tests. The page's own set-up on
    // showing still runs.
    void ShowPageAt(int index);
    // True while ShowPageAt moves: pages skip what they do on leaving.
    bool moving_without_checks() const { return moving_without_checks_; }
    // Back and Next (Finish on the last page) as a click presses them; false when the button
    // is disabled.
    bool PressBack();
    bool PressNext();
    wxButton* back_button() const { return m_btnPrev; }
    wxButton* next_button() const { return m_btnNext; }

    // The servers the Newsserver page found, in the order found.
    std::vector<ServerEntry>& servers() { return servers_; }
    // The groups ticked on Select Newsgroups, collected when that page is left.
    void CollectSelection();
    const std::vector<GroupListEntry>& selection() const { return selection_; }
    // What Finish does: the enabled servers become the wizard's (the old ones stay when it
    // found none, so a wizard run without a server never leaves fewer than before), the
    // disabled ones stay, the groups become the selection (keeping the directory and scan
    // time of groups subscribed already), BaseDir the chosen directory, and every group
    // gets its directory below it, created without asking.
    void ApplyFinish();

    // Message boxes go through this function (tests record them instead: a modal box would
    // wait for a click that never comes).
    void ShowMessage(const std::string& text, Host::Icon icon);
    void set_message_function(MessageFunction show) { show_message_ = std::move(show); }
    // The port server detection tries: 0 for the standard one (119, or 563 over TLS); tests
    // use their own server's.
    int probe_port() const { return probe_port_; }
    void set_probe_port(int port) { probe_port_ = port; }
    // The host names detection tries for the typed host (the engine's candidates; tests
    // replace them, since a test machine's gateway names nothing to find).
    std::vector<std::string> Candidates(const std::string& typed) const;
    void set_candidate_function(CandidateFunction candidates) {
        candidates_ = std::move(candidates);
    }

  private:
    void OnPageChanged(wxWizardEvent& event);
    void OnFinished(wxWizardEvent& event);
    void OnCancel(wxWizardEvent& event);
    bool Press(wxButton* button);

    Engine& engine_;
    wxWizardPage* first_ = nullptr;
    std::array<wxWizardPageSimple*, kPageCount> pages_{};
    std::vector<ServerEntry> servers_;
    std::vector<GroupListEntry> selection_;
    bool selection_collected_ = false;
    bool moving_without_checks_ = false;
    int probe_port_ = 0;
    MessageFunction show_message_;
    CandidateFunction candidates_;
};

}  // namespace qs::ui
