#include "app/settings.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <fstream>

#include "support/temp_dir.h"

namespace qs {
namespace {

using test::ReadFile;
using test::TempDir;
using test::WriteFile;

// The keys of a saved file in the order they stand, as "Section/Key".
std::vector<std::string> KeyOrder(const std::string& text) {
    std::vector<std::string> keys;
    IniFile ini = IniFile::Parse(text);
    for (const auto& s : ini.sections())
        for (const auto& e : s.entries)
            keys.push_back(s.name + "/" + e.key);
    return keys;
}

TEST(IniFile, ReadsNamesWithoutCaseAndLeadingNumbers) {
    IniFile ini = IniFile::Parse(
        "[advanced]\r\nsockettimeout = 30 seconds\r\nPort=abc\r\nNeg=-12x\r\n[Other]\nKey=v=w\n");
    EXPECT_EQ(ini.GetInt("Advanced", "SocketTimeout", 120), 30);
    EXPECT_EQ(ini.GetInt("ADVANCED", "port", 119), 0);  // present but not a number
    EXPECT_EQ(ini.GetInt("Advanced", "Missing", 119), 119);
    EXPECT_EQ(ini.GetInt("Advanced", "Neg", 0), -12);
    EXPECT_EQ(ini.GetString("other", "KEY"), "v=w");
    EXPECT_EQ(ini.GetString("Other", "Missing"), "");
}

// A cut that ends in blanks drops them, so the value survives a save and a load unchanged.
TEST(IniFile, StringsAreCutAt4095Characters) {
    IniFile ini;
    ini.SetString("S", "K", std::string(5000, 'x'));
    EXPECT_EQ(ini.GetString("S", "K").size(), 4095u);
    const std::string blank_at_cut = std::string(4093, 'x') + " \ty";
    ini.SetString("S", "K", blank_at_cut);
    const std::string read = ini.GetString("S", "K");
    EXPECT_EQ(read, std::string(4093, 'x'));
    ini.SetString("S", "K", read);
    EXPECT_EQ(IniFile::Parse(ini.Serialize()).GetString("S", "K"), read);
}

TEST(IniFile, KeyWrittenIntoExistingSectionGoesToItsEnd) {
    IniFile ini;
    ini.SetInt("A", "One", 1);
    ini.SetInt("B", "Two", 2);
    ini.SetInt("a", "Three", 3);
    EXPECT_EQ(ini.Serialize(), "[A]\nOne=1\nThree=3\n[B]\nTwo=2\n");
}

TEST(Settings, MissingFileGivesDefaults) {
    TempDir dir;
    Settings s = LoadSettings(dir.File("none.ini"));
    EXPECT_TRUE(s.servers.empty());
    EXPECT_TRUE(s.disabled_servers.empty());
    EXPECT_TRUE(s.groups.empty());
    EXPECT_EQ(s.SocketTimeout, 120);
    EXPECT_EQ(s.ConnectionRetries, 4);
    EXPECT_EQ(s.SkipMissing, 1);
    EXPECT_EQ(s.SpeedVal, 50);
    EXPECT_EQ(s.RetentionDays, 14);
    EXPECT_EQ(s.MultiGroupTolerance, 70);
    EXPECT_EQ(s.PostProcess, 2);
    EXPECT_EQ(s.DeleteAfterUnpack, 0);
    EXPECT_EQ(s.PowerOffCommand, "systemctl poweroff");
    EXPECT_EQ(s.ViewColumn, (std::vector<int>{450, 200, 70, 70, 50, 150}));
    EXPECT_EQ(s.GroupsColumn, (std::vector<int>{200, 250, 200}));
    EXPECT_FALSE(s.Placement.has_value());
}

TEST(Settings, SaveWritesTheKeysInTableOrder) {
    TempDir dir;
    Settings s;
    s.groups.push_back({"alt.binaries.test", "/dl/test", 1700000000});
    s.servers.push_back({"news.example.com", "u", "abc", 0, 119});
    ASSERT_TRUE(SaveSettings(s, dir.File("q.ini")));
    std::vector<std::string> keys = KeyOrder(ReadFile(dir.File("q.ini")));
    std::vector<std::string> expected = {
        "Groups/Group0", "Groups/GroupDir0", "Groups/GroupLastScanned0", "Newsservers/Server0",
        "Newsservers/Server0UserName", "Newsservers/Server0PassWord", "Newsservers/Server0Port",
        "Newsservers/Server0SSL", "Newsservers/Server0Verify", "Newsservers/Server0Compress",
        "UseThreads/Thread0", "UseThreads/Thread1", "UseThreads/Thread2", "UseThreads/Thread3",
        "UseThreads/Thread4", "UseThreads/Thread5", "UserInfo/Name", "Filter/Use", "Filter/Words",
        "Filter/Include", "Advanced/ShowIncomplete", "Advanced/FilenameIsSubject",
        "Advanced/ShowGridLines", "Advanced/AutoScanOnly", "Advanced/DeleteIncomplete",
        "Advanced/RenameExisting", "Advanced/BaseDir", "Advanced/SocketTimeout",
        "Advanced/SocketsGracefully", "Advanced/ConnectionRetries", "Advanced/MaxHeaders",
        "Advanced/UseRegExpFilter", "Advanced/AutoCreateDirs", "Advanced/NoAutoSubdir",
        "Advanced/ClearLogOnExit", "Advanced/UseFirstServer", "Advanced/CancelledBackInQueue",
        "Advanced/SetGroup", "Advanced/UseArticleId", "Advanced/SkipMissing",
        "Advanced/SingleInstance", "Advanced/ShowTips", "Advanced/TipFilePos", "Advanced/UseLog",
        "Advanced/DownloadCounter", "Advanced/LastSort", "Advanced/SortDirection",
        // written after the Toolbars keys, but into the existing [Advanced] section
        "Advanced/FindExpired", "Advanced/RetentionDays", "Advanced/MultiGroupTolerance",
        "Advanced/PostProcess", "Advanced/DeleteAfterUnpack", "Advanced/PipelineDepth",
        "Advanced/ScanChunks", "Advanced/PowerOffCommand", "Speed/Use", "Speed/Val",
        "Toolbars/Toolbar", "Toolbars/Statusbar", "Toolbars/Speedbar", "Toolbars/Threadbar",
        "Toolbars/Groupsbar", "Window/ViewColumn0", "Window/ViewColumn1", "Window/ViewColumn2",
        "Window/ViewColumn3", "Window/ViewColumn4", "Window/ViewColumn5", "Window/GroupsColumn0",
        "Window/GroupsColumn1", "Window/GroupsColumn2", "Window/GroupsHeight"};
    EXPECT_EQ(keys, expected);
}

TEST(Settings, ServersAreRenumberedEnabledFirst) {
    TempDir dir;
    IniFile hand = IniFile::Parse(
        "[Newsservers]\nServer0=A\nServer1=B\nServer1Disabled=1\nServer2=C\nServer2Port=563\n");
    Settings s = SettingsFromIni(hand);
    ASSERT_EQ(s.servers.size(), 2u);
    ASSERT_EQ(s.disabled_servers.size(), 1u);
    EXPECT_EQ(s.servers[1].port, 563);
    EXPECT_EQ(s.servers[0].port, 119);
    // A file from before TLS: plain connections, strict checks once TLS is switched on.
    EXPECT_EQ(s.servers[1].ssl, 0);
    EXPECT_EQ(s.servers[1].verify, 2);

    ASSERT_TRUE(SaveSettings(s, dir.File("q.ini")));
    IniFile saved = IniFile::Load(dir.File("q.ini"));
    EXPECT_EQ(saved.GetString("Newsservers", "Server0"), "A");
    EXPECT_EQ(saved.GetString("Newsservers", "Server1"), "C");
    EXPECT_EQ(saved.GetString("Newsservers", "Server2"), "B");
    EXPECT_FALSE(saved.Has("Newsservers", "Server0Disabled"));
    EXPECT_FALSE(saved.Has("Newsservers", "Server1Disabled"));
    EXPECT_EQ(saved.GetInt("Newsservers", "Server2Disabled", 0), 1);
}

TEST(Settings, ListsStopAtTheFirstEmptyName) {
    Settings s = SettingsFromIni(
        IniFile::Parse("[Newsservers]\nServer1=B\n[Groups]\nGroup0=a.b\nGroup2=c.d\n"));
    EXPECT_TRUE(s.servers.empty());
    ASSERT_EQ(s.groups.size(), 1u);
    EXPECT_EQ(s.groups[0].name, "a.b");
}

TEST(Settings, PortNotStartingWithADigitReadsZero) {
    Settings s = SettingsFromIni(IniFile::Parse("[Newsservers]\nServer0=A\nServer0Port=x119\n"));
    ASSERT_EQ(s.servers.size(), 1u);
    EXPECT_EQ(s.servers[0].port, 0);
}

TEST(Settings, KeyAddedByHandIsGoneAfterSave) {
    TempDir dir;
    WriteFile(dir.File("q.ini"), "[Advanced]\nSocketTimeout=30\nMyOwnKey=1\n[Mine]\nX=1\n");
    Settings s = LoadSettings(dir.File("q.ini"));
    EXPECT_EQ(s.SocketTimeout, 30);
    ASSERT_TRUE(SaveSettings(s, dir.File("q.ini")));
    std::string text = ReadFile(dir.File("q.ini"));
    EXPECT_EQ(text.find("MyOwnKey"), std::string::npos);
    EXPECT_EQ(text.find("[Mine]"), std::string::npos);
    EXPECT_NE(text.find("SocketTimeout=30"), std::string::npos);
}

TEST(Settings, SaveReplacesTheFileWholeAndOwnerOnly) {
    TempDir dir;
    const std::string path = dir.File("q.ini");
    WriteFile(path, "[Advanced]\nSocketTimeout=30\n");
    ::chmod(path.c_str(), 0644);
    Settings s = LoadSettings(path);
    s.servers.push_back({"h", "u", "secret", 0, 119});
    ASSERT_TRUE(SaveSettings(s, path));
    struct stat st {};
    ASSERT_EQ(::stat(path.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0600u);
    EXPECT_FALSE(std::ifstream(path + ".tmp").good());  // no leftover temporary file
    EXPECT_EQ(LoadSettings(path).servers[0].password, "secret");

    // A directory that cannot be written leaves the old file as it was.
    EXPECT_FALSE(SaveSettings(s, dir.File("missing/q.ini")));
}

TEST(Settings, RoundTripKeepsEveryValue) {
    Settings s;
    s.groups.push_back({"a.b.c", "/x", 4000000000LL});  // beyond 32 bits
    s.disabled_servers.push_back({"d", "", "", 1, 8119, 1, 0});
    s.Thread[3] = 0;
    s.FilterWords = "foo bar";
    s.BaseDir = "/home/me/dl";
    s.UseFirstServer = 2;
    s.SpeedVal = 300;
    s.Placement = std::vector<uint8_t>(kPlacementSize, 0x3C);
    s.ViewColumn[5] = 99;
    s.PowerOffCommand = "touch '/tmp/a b'";
    Settings r = SettingsFromIni(SettingsToIni(s));
    EXPECT_EQ(r.groups[0].lastscanned, 4000000000LL);
    EXPECT_EQ(r.disabled_servers[0].port, 8119);
    EXPECT_EQ(r.disabled_servers[0].ssl, 1);
    EXPECT_EQ(r.disabled_servers[0].verify, 0);
    EXPECT_EQ(r.Thread[3], 0);
    EXPECT_EQ(r.FilterWords, "foo bar");
    EXPECT_EQ(r.BaseDir, "/home/me/dl");
    EXPECT_EQ(r.UseFirstServer, 2);
    EXPECT_EQ(r.SpeedVal, 300);
    EXPECT_EQ(r.Placement, s.Placement);
    EXPECT_EQ(r.ViewColumn[5], 99);
    EXPECT_EQ(r.PowerOffCommand, s.PowerOffCommand);
}

TEST(Placement, LettersPerNibbleAndOnly44Bytes) {
    EXPECT_EQ(EncodeBytes({0x3C}), "MD");
    EXPECT_EQ(DecodeBytes("MD"), (std::vector<uint8_t>{0x3C}));
    EXPECT_TRUE(DecodeBytes("MDA").empty());
    EXPECT_TRUE(DecodeBytes("ZZ").empty());
    Settings s = SettingsFromIni(IniFile::Parse("[Window]\nPlacement=MDMD\n"));
    EXPECT_FALSE(s.Placement.has_value());  // not 44 bytes: not used
}

TEST(Password, ScrambleAddsSixtyFour) {
    EXPECT_EQ(ScramblePassword("abc"), "\xA1\xA2\xA3");
    EXPECT_EQ(ScramblePassword("0"), "p");
    EXPECT_EQ(UnscramblePassword("\xA1\xA2\xA3"), "abc");
    EXPECT_EQ(UnscramblePassword("p"), "0");
}

TEST(Password, EveryByteRoundTripsThroughTheFile) {
    TempDir dir;
    std::string all;
    for (int b = 0; b < 256; ++b)
        all += static_cast<char>(b);
    const std::vector<std::string> passwords = {
        "abc", all, std::string("\xC0", 1), "\xCA\xCD", "\xE0pad\xE0", "\xC9", ""};
    for (const auto& pw : passwords) {
        Settings s;
        s.servers.push_back({"h", "u", pw, 0, 119});
        ASSERT_TRUE(SaveSettings(s, dir.File("q.ini")));
        Settings r = LoadSettings(dir.File("q.ini"));
        ASSERT_EQ(r.servers.size(), 1u);
        EXPECT_EQ(r.servers[0].password, pw);
    }
    // Plain scrambled values as older files hold them still read.
    EXPECT_EQ(DecodePasswordValue("\xA1\xA2\xA3"), "abc");
    EXPECT_EQ(EncodePasswordValue("abc"), "\xA1\xA2\xA3");
}

}  // namespace
}  // namespace qs
