#include "app/output_files.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <filesystem>
#include <vector>

#include "support/temp_dir.h"

namespace qs {
namespace {

using test::TempDir;
using test::WriteFile;

// Records the questions and messages, answers with a fixed value.
class RecordingHost : public Host {
  public:
    explicit RecordingHost(bool answer) : answer_(answer) {}
    void ShowMessage(const std::string& text, Icon) override { messages.push_back(text); }
    bool AskYesNo(const std::string& question) override {
        questions.push_back(question);
        return answer_;
    }
    void Refresh() override { ++refreshes; }

    std::vector<std::string> questions;
    std::vector<std::string> messages;
    int refreshes = 0;

  private:
    bool answer_;
};

bool IsDir(const std::string& path) {
    return std::filesystem::is_directory(path);
}

TEST(MakeOutputPath, QuotesAndReservedCharactersAreReplaced) {
    Settings s;
    EXPECT_EQ(MakeOutputPath("subj", "\"a:b\"", "/d/", s), "/d/a_b");
    EXPECT_EQ(MakeOutputPath("subj", "photo.jpg\"", "/d/", s), "/d/photo.jpg");
    EXPECT_EQ(MakeOutputPath("subj", "a*b<c>d?e\\f|g", "/d/", s), "/d/a_b_c_d_e_f_g");
    EXPECT_EQ(MakeOutputPath("subj", "a b.bin", "/d/", s), "/d/a b.bin");
    EXPECT_EQ(MakeOutputPath("subj", "-rf", "/d/", s), "/d/-rf");
    // A directory given without its slash still gets one.
    EXPECT_EQ(MakeOutputPath("subj", "x", "/d", s), "/d/x");

    s.FilenameIsSubject = 1;
    EXPECT_EQ(MakeOutputPath("what/is this? (1/2)", "x.bin", "/d/", s), "/d/what_is this_ (1_2)");
}

TEST(MakeOutputPath, UntrustedNamesStayInsideTheDirectory) {
    Settings s;
    const std::string dir = "/d/";
    for (std::string_view name : std::initializer_list<std::string_view>{
             "..", ".", "", "\"\"", "../../etc/passwd", "/abs/path", "a\nb",
             std::string_view("a\0b", 3), "..\\x", "\x7f"}) {
        std::string path = MakeOutputPath("s", name, dir, s);
        ASSERT_EQ(path.compare(0, dir.size(), dir), 0) << path;
        std::string file = path.substr(dir.size());
        EXPECT_FALSE(file.empty()) << name;
        EXPECT_NE(file, ".");
        EXPECT_NE(file, "..");
        EXPECT_EQ(file.find('/'), std::string::npos) << file;
        for (unsigned char c : file)
            EXPECT_TRUE(c >= 0x20 && c != 0x7f) << file;
    }
    EXPECT_EQ(MakeOutputPath("s", "..", dir, s), "/d/__");
    EXPECT_EQ(MakeOutputPath("s", "../../etc/passwd", dir, s), "/d/.._.._etc_passwd");
}

TEST(MakeOutputPath, LongNamesAreCutKeepingTheExtension) {
    Settings s;
    std::string path = MakeOutputPath("s", std::string(400, 'x') + ".part01.rar", "/d/", s);
    std::string file = path.substr(3);
    EXPECT_EQ(file.size(), kMaxFileNameBytes);
    EXPECT_EQ(file.substr(file.size() - 4), ".rar");

    // A multi-byte character at the cut is dropped whole, never split.
    std::string utf8;
    for (int i = 0; i < 200; ++i)
        utf8 += "\xc3\xa9";  // é
    std::string cut = FitFileName(utf8 + ".jpg");
    EXPECT_LE(cut.size(), kMaxFileNameBytes);
    EXPECT_EQ(cut.substr(cut.size() - 4), ".jpg");
    EXPECT_EQ((cut.size() - 4) % 2, 0u);

    // A huge "extension" is not kept at the cost of the whole name.
    EXPECT_EQ(FitFileName("a." + std::string(300, 'b')).size(), kMaxFileNameBytes);
    EXPECT_EQ(FitFileName("short.txt"), "short.txt");
}

TEST(SmartRename, NumbersTheNameUntilItIsFree) {
    TempDir dir;
    std::string base = dir.path() + "/";
    Settings s;
    s.RenameExisting = 1;
    EXPECT_EQ(MakeOutputPath("s", "file.rar", base, s), base + "file.rar");
    WriteFile(base + "file.rar", "x");
    WriteFile(base + "file_1.rar", "x");
    WriteFile(base + "file_2.rar", "x");
    EXPECT_EQ(MakeOutputPath("s", "file.rar", base, s), base + "file_3.rar");

    WriteFile(base + "file_7.rar", "x");
    std::string p = base + "file_7.rar";
    SmartRename(p);
    EXPECT_EQ(p, base + "file_8.rar");

    WriteFile(base + "file_a.rar", "x");
    p = base + "file_a.rar";
    SmartRename(p);
    EXPECT_EQ(p, base + "file_3.rar");  // file_a -> file_1, taken -> file_2, taken -> file_3

    // Without RenameExisting the existing file's path is returned (it is overwritten).
    s.RenameExisting = 0;
    EXPECT_EQ(MakeOutputPath("s", "file.rar", base, s), base + "file.rar");
}

TEST(SmartRename, LooksOnlyAtTheFileName) {
    TempDir dir;
    std::string sub = dir.path() + "/my_dir.v2/";
    ASSERT_TRUE(CreateDirectoryTree(sub));
    WriteFile(sub + "README", "x");
    std::string p = sub + "README";
    SmartRename(p);
    EXPECT_EQ(p, sub + "README_1");
    WriteFile(sub + "README_1", "x");
    p = sub + "README";
    SmartRename(p);
    EXPECT_EQ(p, sub + "README_2");

    WriteFile(sub + ".hidden", "x");
    p = sub + ".hidden";
    SmartRename(p);
    EXPECT_EQ(p, sub + ".hidden_1");

    // An underscore in the extension is not taken for the number's separator.
    WriteFile(sub + "a.tar_gz", "x");
    p = sub + "a.tar_gz";
    SmartRename(p);
    EXPECT_EQ(p, sub + "a_1.tar_gz");

    // A directory of the same name counts as taken too.
    ASSERT_TRUE(CreateDirectoryTree(sub + "x.d"));
    p = sub + "x.d";
    SmartRename(p);
    EXPECT_EQ(p, sub + "x_1.d");
}

TEST(SmartRename, RenamedLongNameStaysWithinTheLimit) {
    TempDir dir;
    std::string name = FitFileName(std::string(300, 'n') + ".bin");
    ASSERT_EQ(name.size(), kMaxFileNameBytes);
    WriteFile(dir.File(name), "x");
    std::string p = dir.File(name);
    SmartRename(p);
    std::string file = p.substr(dir.path().size() + 1);
    EXPECT_EQ(file.size(), kMaxFileNameBytes);
    EXPECT_EQ(file.substr(file.size() - 6), "_1.bin");
    WriteFile(p, "x");  // the name is really usable
    EXPECT_TRUE(std::filesystem::exists(p));
}

TEST(Directories, CreateDirectoryTreeMakesEveryLevel) {
    TempDir dir;
    EXPECT_TRUE(CreateDirectoryTree(dir.path() + "/a/b/c/"));
    EXPECT_TRUE(IsDir(dir.path() + "/a/b/c"));
    EXPECT_TRUE(CreateDirectoryTree(dir.path() + "/a//b/d"));
    EXPECT_TRUE(IsDir(dir.path() + "/a/b/d"));
    WriteFile(dir.File("file"), "x");
    EXPECT_FALSE(CreateDirectoryTree(dir.path() + "/file/sub"));
    EXPECT_FALSE(CreateDirectoryTree(""));
}

TEST(Directories, EnsureDirectoryAsksUnlessAutoCreate) {
    TempDir dir;
    Settings s;
    std::string target = dir.path() + "//news//alt.test";

    RecordingHost no(false);
    EXPECT_FALSE(EnsureDirectory(target, s, no));
    ASSERT_EQ(no.questions.size(), 1u);
    EXPECT_EQ(no.questions[0],
              "Directory does not exist:\n" + dir.path() + "/news/alt.test/\nCreate it?");
    EXPECT_FALSE(IsDir(dir.path() + "/news"));

    RecordingHost yes(true);
    EXPECT_TRUE(EnsureDirectory(target, s, yes));
    EXPECT_TRUE(IsDir(dir.path() + "/news/alt.test"));
    EXPECT_TRUE(EnsureDirectory(target, s, yes));  // exists: no second question
    EXPECT_EQ(yes.questions.size(), 1u);

    s.AutoCreateDirs = 1;
    RecordingHost silent(false);
    EXPECT_TRUE(EnsureDirectory(dir.path() + "/auto/x/", s, silent));
    EXPECT_TRUE(silent.questions.empty());

    WriteFile(dir.File("blocker"), "x");
    EXPECT_FALSE(EnsureDirectory(dir.path() + "/blocker/x/", s, silent));
    EXPECT_EQ(silent.messages, std::vector<std::string>{"Failed!"});
}

TEST(Directories, DownloadDirForAndApplyBaseDir) {
    TempDir dir;
    Settings s;
    s.BaseDir = dir.path() + "//";
    s.groups.push_back({"alt.binaries.a", "/own/dir/", 0});
    EXPECT_EQ(DownloadDirFor("alt.binaries.a", s), "/own/dir/");
    EXPECT_EQ(DownloadDirFor("ALT.binaries.a", s), dir.path() + "/ALT.binaries.a/");
    // A group name from an NZB file cannot climb out of the base directory.
    EXPECT_EQ(DownloadDirFor("..", s), dir.path() + "/__/");
    EXPECT_EQ(DownloadDirFor("a/../../b", s), dir.path() + "/a_.._.._b/");
    s.NoAutoSubdir = 1;
    EXPECT_EQ(DownloadDirFor("alt.other", s), dir.path() + "/");

    s.NoAutoSubdir = 0;
    s.AutoCreateDirs = 1;
    s.groups.push_back({"alt.binaries.b", "", 0});
    RecordingHost host(false);
    ApplyBaseDir(dir.path() + "/base//", s, host);
    EXPECT_EQ(s.groups[0].downloaddir, dir.path() + "/base/alt.binaries.a/");
    EXPECT_EQ(s.groups[1].downloaddir, dir.path() + "/base/alt.binaries.b/");
    EXPECT_TRUE(IsDir(s.groups[0].downloaddir));
    EXPECT_TRUE(IsDir(s.groups[1].downloaddir));
    EXPECT_EQ(host.refreshes, 1);

    s.NoAutoSubdir = 1;
    ApplyBaseDir(dir.path() + "/flat", s, host);
    EXPECT_EQ(s.groups[0].downloaddir, dir.path() + "/flat/");
    EXPECT_EQ(s.groups[1].downloaddir, dir.path() + "/flat/");
}

}  // namespace
}  // namespace qs
