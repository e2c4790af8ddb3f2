#pragma once

#include <string>

namespace qs {

// How workers talk to the user without knowing the front end. The GUI marshals these to its
// thread (and waits for the answer of a question); the CLI prints to stderr and answers
// questions from --yes. Every method may be called from any thread.
class Host {
  public:
    enum class Icon { Plain, Exclamation, Stop };

    virtual ~Host() = default;
    // A message box: "stop" for refusals and errors, "exclamation" for warnings.
    virtual void ShowMessage(const std::string& text, Icon icon) = 0;
    // A yes/no question; true for Yes.
    virtual bool AskYesNo(const std::string& question) = 0;
    // A "refresh" notice: the views should re-read what they show.
    virtual void Refresh() = 0;
    // Opens a finished download with the desktop's default application (Grab And Open).
    // Front ends without a desktop leave it undone.
    virtual void OpenFile(const std::string& path) { (void)path; }
    // Autograb moves on to this subscribed group: the views show it.
    virtual void ShowGroup(const std::string& group) { (void)group; }
};

// A host that shows nothing and answers every question with a fixed answer; for tests and
// for code that runs without a user.
class SilentHost : public Host {
  public:
    explicit SilentHost(bool answer = false) : answer_(answer) {}
    void ShowMessage(const std::string&, Icon) override {}
    bool AskYesNo(const std::string&) override { return answer_; }
    void Refresh() override {}

  private:
    bool answer_;
};

}  // namespace qs
