#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "app/ini_file.h"

namespace qs {

// One configured news server.
struct ServerEntry {
    std::string host;
    std::string user;      // empty: no authentication
    std::string password;  // in clear while in memory
    int disabled = 0;
    int port = 119;
    int ssl = 0;       // 1: NNTP over TLS
    int verify = 2;    // the server's certificate: 2 chain and host name, 1 chain only, 0 none
    int compress = 1;  // 1: "COMPRESS DEFLATE" when the server offers it
};

inline constexpr int kPlainNntpPort = 119;
inline constexpr int kTlsNntpPort = 563;

// The three fields of a subscribed group that the settings file keeps.
struct GroupListEntry {
    std::string name;
    std::string downloaddir;
    int64_t lastscanned = 0;
};

inline constexpr int kThreadSlots = 6;

// Every persistent option. Members carry the names of their keys.
struct Settings {
    std::vector<GroupListEntry> groups;
    std::vector<ServerEntry> servers;           // the enabled server list
    std::vector<ServerEntry> disabled_servers;  // the disabled server list

    int Thread[kThreadSlots] = {1, 1, 1, 1, 1, 1};
    std::string UserName;  // [UserInfo] Name
    int FilterUse = 0;
    std::string FilterWords;
    int FilterInclude = 0;

    int ShowIncomplete = 1;
    int FilenameIsSubject = 0;
    int ShowGridLines = 0;
    int AutoScanOnly = 0;
    int DeleteIncomplete = 0;
    int RenameExisting = 0;
    std::string BaseDir;
    int SocketTimeout = 120;
    int SocketsGracefully = 1;
    int ConnectionRetries = 4;
    int MaxHeaders = 0;
    int UseRegExpFilter = 0;
    int AutoCreateDirs = 0;
    int NoAutoSubdir = 0;
    int ClearLogOnExit = 0;
    int UseFirstServer = 0;
    int CancelledBackInQueue = 0;
    int SetGroup = 0;
    int UseArticleId = 0;
    int SkipMissing = 1;
    int SingleInstance = 1;
    int ShowTips = 1;
    int TipFilePos = 0;
    int UseLog = 0;
    int DownloadCounter = 1;
    int LastSort = 0;
    int SortDirection = 1;

    int SpeedUse = 0;
    int SpeedVal = 50;

    int Toolbar = 1;
    int Statusbar = 1;
    int Speedbar = 1;
    int Threadbar = 1;
    int Groupsbar = 1;

    int FindExpired = 1;
    int RetentionDays = 14;
    int MultiGroupTolerance = 70;
    // After a set's last file: 0 nothing, 1 par2 verify and repair, 2 and unpack.
    int PostProcess = 2;
    int DeleteAfterUnpack = 0;  // the archive volumes and par2 files, once unpacked
    // BODY commands a download keeps in flight on its connection (1: one at a time).
    int PipelineDepth = 4;
    // A server's scan over more than 100,000 articles is read as this many chunks at once
    // by the free slots (1: one XOVER from the resume point).
    int ScanChunks = 4;
    // Run through /bin/sh -c when "Shutdown when finished" is on and the work has ended.
    std::string PowerOffCommand = "systemctl poweroff";

    std::optional<std::vector<uint8_t>> Placement;  // 44-byte window placement record
    std::vector<int> ViewColumn = {450, 200, 70, 70, 50, 150};
    std::vector<int> GroupsColumn = {200, 250, 200};
    int GroupsHeight = 100;
};

inline constexpr size_t kPlacementSize = 44;

// The settings as the file holds them, keys in the order a save writes them.
IniFile SettingsToIni(const Settings& settings);
Settings SettingsFromIni(const IniFile& ini);

// Reads the file at `path`; a missing file gives every default.
Settings LoadSettings(const std::string& path);
// Rewrites the whole file (keys the program does not know are gone); false on failure.
bool SaveSettings(const Settings& settings, const std::string& path);

// Byte-wise +64 / -64, modulo 256.
std::string ScramblePassword(const std::string& password);
std::string UnscramblePassword(const std::string& scrambled);

// The text stored for a password: the scrambled bytes when a line can hold them,
// otherwise a marked hex form, so every byte round-trips. Plain scrambled values
// written by older versions read back unchanged.
std::string EncodePasswordValue(const std::string& password);
std::string DecodePasswordValue(const std::string& stored);

// Two capital letters per byte: 'A' + low nibble, then 'A' + high nibble.
std::string EncodeBytes(const std::vector<uint8_t>& bytes);
// Empty result for text of odd length or with letters outside 'A'..'P'.
std::vector<uint8_t> DecodeBytes(const std::string& text);

}  // namespace qs
