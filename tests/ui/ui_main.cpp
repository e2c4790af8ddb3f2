// Runs the GUI tests inside an initialised wxWidgets application. Debian's wxWidgets has
// asserts on: a failed assert fails the test instead of opening a dialog that would hang it.
#include <gtest/gtest.h>
#include <wx/app.h>
#include <wx/init.h>

namespace {
void FailOnAssert(const wxString& file, int line, const wxString& func, const wxString& cond,
                  const wxString& msg) {
    ADD_FAILURE() << "wxWidgets assert at " << file << ":" << line << " in " << func << ": " << cond
                  << " " << msg;
}
}  // namespace

int main(int argc, char** argv) {
    testing::InitGoogleTest(&argc, argv);
    wxSetAssertHandler(FailOnAssert);
    wxApp::SetInstance(new wxApp());
    if (!wxEntryStart(argc, argv)) {
        fprintf(stderr, "cannot start wxWidgets (no display?)\n");
        return 1;
    }
    int result = RUN_ALL_TESTS();
    wxEntryCleanup();
    return result;
}
