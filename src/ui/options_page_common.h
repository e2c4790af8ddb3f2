#pragma once

#include <wx/panel.h>

#include <functional>
#include <string>
#include <vector>

#include "app/host.h"
#include "app/settings.h"

namespace qs {
class Engine;
}

namespace qs::ui {

// What the options pages share: the engine, the copy being edited and the ways they talk
// to the user, which tests replace (a modal box would hang them).
struct OptionsContext {
    Engine& engine;
    Settings& edited;
    // A message box.
    std::function<void(const std::string& text, Host::Icon icon)> tell;
    // The folder chooser: the chosen folder, or "" when cancelled.
    std::function<std::string(const std::string& title, const std::string& start)> choose_folder;
    // The server list as the News Servers page holds it now (the Groups page reads from it).
    std::function<std::vector<ServerEntry>()> edited_servers;
};

// One page of the options dialog. Built from the copy being edited; the dialog asks it
// before the page is left or OK is done, and then has it write its values back.
class COptionsPage : public wxPanel {
  public:
    COptionsPage(wxWindow* parent, OptionsContext& context) : wxPanel(parent), context_(context) {}
    // The page is about to be left (another tab, or OK): false keeps it, after telling why.
    virtual bool CanLeave() { return true; }
    // OK: the page's values into `settings`.
    virtual void Store(Settings& settings) = 0;
    // The page came to the front.
    virtual void OnShown() {}

  protected:
    OptionsContext& context_;
};

}  // namespace qs::ui
