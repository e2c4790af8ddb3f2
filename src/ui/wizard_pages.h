#pragma once

#include <wx/timer.h>
#include <wx/wizard.h>

#include <array>
#include <string>

#include "app/settings.h"

class wxButton;
class wxCheckBox;
class wxSizer;
class wxStaticText;
class wxTextCtrl;

namespace qs::ui {

class CGroupPicker;
class CQuillstreamWizard;

// A page of the first-run wizard; its title becomes the window's caption while it shows.
class CWizardPage : public wxWizardPageSimple {
  public:
    CWizardPage(CQuillstreamWizard& wizard, const std::string& title);
    const std::string& title() const { return title_; }

  protected:
    // A fixed text of the page, wrapped at the page's width when it has no line breaks.
    wxStaticText* AddText(wxSizer* sizer, const std::string& text, int border = 8);

    CQuillstreamWizard& wizard_;

  private:
    std::string title_;
};

// "Wizard": the welcome.
class CWizard1 : public CWizardPage {
  public:
    explicit CWizard1(CQuillstreamWizard& wizard);
};

// "Newsserver": finds a news server by trying likely host names ("Auto Search!", and again
// on Next, which adds the one found to the wizard's servers).
class CWizard2 : public CWizardPage {
  public:
    explicit CWizard2(CQuillstreamWizard& wizard);
    // Server detection, on this thread: every candidate in turn until one answers like a
    // news server; the status text follows each step. True when one was found (its name
    // is then in the "Newsserver:" box).
    bool Detect();
    bool detected() const { return detected_; }
    const std::string& status() const { return status_text_; }
    wxTextCtrl* host_box() const { return host_; }
    wxTextCtrl* user_box() const { return user_; }
    wxTextCtrl* password_box() const { return password_; }
    wxCheckBox* tls_box() const { return tls_; }
    wxButton* auto_search_button() const { return auto_search_; }

  private:
    // The server as typed on the page (login and TLS), at `host` on the port detection tries.
    ServerEntry TypedEntry(const std::string& host) const;
    void SetStatus(const std::string& text);
    void OnChanging(wxWizardEvent& event);

    wxButton* auto_search_ = nullptr;
    wxStaticText* status_ = nullptr;
    wxTextCtrl* host_ = nullptr;
    wxTextCtrl* user_ = nullptr;
    wxTextCtrl* password_ = nullptr;
    wxCheckBox* tls_ = nullptr;
    std::string status_text_ = "Ready to go...";
    bool detected_ = false;
};

// "Newsgroups List": reads the group list of the wizard's servers into the groups database
// on the engine's reader thread; Back and Next wait while it runs.
class CWizard3 : public CWizardPage {
  public:
    explicit CWizard3(CQuillstreamWizard& wizard);
    ~CWizard3() override;
    // "Scan newsgroups": false (with the engine's message shown) when the reader is refused.
    bool StartScan();
    // One look at the reader (the page's timer does it every 200 ms while it runs).
    void Poll();
    bool scanning() const { return timer_.IsRunning(); }
    const std::string& status() const { return status_text_; }
    wxButton* scan_button() const { return scan_; }

  private:
    void SetStatus(const std::string& text);
    void EnableMoving(bool enable);

    wxButton* scan_ = nullptr;
    wxStaticText* status_ = nullptr;
    std::string status_text_;
    wxTimer timer_;
};

// "Select Newsgroups": genre boxes and keywords choose what the group list shows; the ticks
// in the list are the groups the wizard subscribes to.
class CWizard4 : public CWizardPage {
  public:
    enum Genre { kMusic, kSoftware, kErotica, kMovies, kGames, kGenreCount };
    explicit CWizard4(CQuillstreamWizard& wizard);
    // A click on a genre box: ticks or unticks it and edits the keywords to match.
    void SetGenre(Genre genre, bool checked);
    wxCheckBox* genre_box(Genre genre) const { return genres_[genre]; }
    wxTextCtrl* keywords_box() const { return keywords_; }
    std::string keywords() const;
    CGroupPicker* picker() const { return picker_; }

  private:
    void OnShown(wxWizardEvent& event);
    void OnChanging(wxWizardEvent& event);
    // Shows the keyword text and makes it the list's search.
    void ApplyKeywords(const std::string& text);

    std::array<wxCheckBox*, kGenreCount> genres_{};
    wxTextCtrl* keywords_ = nullptr;
    CGroupPicker* picker_ = nullptr;
};

// "Download directories": the base directory every group gets a subdirectory of.
class CWizard5 : public CWizardPage {
  public:
    explicit CWizard5(CQuillstreamWizard& wizard);
    wxTextCtrl* directory_box() const { return directory_; }
    std::string directory() const;

  private:
    void OnShown(wxWizardEvent& event);
    void OnChanging(wxWizardEvent& event);
    void OnBrowse(wxCommandEvent& event);

    wxTextCtrl* directory_ = nullptr;
};

// "Finish".
class CWizard6 : public CWizardPage {
  public:
    explicit CWizard6(CQuillstreamWizard& wizard);
};

}  // namespace qs::ui
