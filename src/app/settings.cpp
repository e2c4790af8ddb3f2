#include "app/settings.h"

#include <algorithm>
#include <cstdlib>
#include <string_view>

#include "app/debug_log.h"

namespace qs {

namespace {

constexpr std::string_view kPasswordHexMarker = "%QSHEX%";

std::string Numbered(const char* prefix, size_t i, const char* suffix = "") {
    return prefix + std::to_string(i) + suffix;
}

void WriteServer(IniFile& ini, size_t i, const ServerEntry& s, bool disabled) {
    ini.SetString("Newsservers", Numbered("Server", i), s.host);
    ini.SetString("Newsservers", Numbered("Server", i, "UserName"), s.user);
    ini.SetString("Newsservers", Numbered("Server", i, "PassWord"),
                  EncodePasswordValue(s.password));
    if (disabled)
        ini.SetInt("Newsservers", Numbered("Server", i, "Disabled"), 1);
    ini.SetInt("Newsservers", Numbered("Server", i, "Port"), s.port);
    ini.SetInt("Newsservers", Numbered("Server", i, "SSL"), s.ssl);
    ini.SetInt("Newsservers", Numbered("Server", i, "Verify"), s.verify);
    ini.SetInt("Newsservers", Numbered("Server", i, "Compress"), s.compress);
}

// The integer keys of [Advanced] from ShowIncomplete to SortDirection, in file order.
// BaseDir is the one string among them and is written at its place by the caller.
struct IntKey {
    const char* name;
    int Settings::*member;
};
constexpr IntKey kAdvancedBeforeBaseDir[] = {
    {"ShowIncomplete", &Settings::ShowIncomplete},
    {"FilenameIsSubject", &Settings::FilenameIsSubject},
    {"ShowGridLines", &Settings::ShowGridLines},
    {"AutoScanOnly", &Settings::AutoScanOnly},
    {"DeleteIncomplete", &Settings::DeleteIncomplete},
    {"RenameExisting", &Settings::RenameExisting},
};
constexpr IntKey kAdvancedAfterBaseDir[] = {
    {"SocketTimeout", &Settings::SocketTimeout},
    {"SocketsGracefully", &Settings::SocketsGracefully},
    {"ConnectionRetries", &Settings::ConnectionRetries},
    {"MaxHeaders", &Settings::MaxHeaders},
    {"UseRegExpFilter", &Settings::UseRegExpFilter},
    {"AutoCreateDirs", &Settings::AutoCreateDirs},
    {"NoAutoSubdir", &Settings::NoAutoSubdir},
    {"ClearLogOnExit", &Settings::ClearLogOnExit},
    {"UseFirstServer", &Settings::UseFirstServer},
    {"CancelledBackInQueue", &Settings::CancelledBackInQueue},
    {"SetGroup", &Settings::SetGroup},
    {"UseArticleId", &Settings::UseArticleId},
    {"SkipMissing", &Settings::SkipMissing},
    {"SingleInstance", &Settings::SingleInstance},
    {"ShowTips", &Settings::ShowTips},
    {"TipFilePos", &Settings::TipFilePos},
    {"UseLog", &Settings::UseLog},
    {"DownloadCounter", &Settings::DownloadCounter},
    {"LastSort", &Settings::LastSort},
    {"SortDirection", &Settings::SortDirection},
};
constexpr IntKey kToolbars[] = {
    {"Toolbar", &Settings::Toolbar},     {"Statusbar", &Settings::Statusbar},
    {"Speedbar", &Settings::Speedbar},   {"Threadbar", &Settings::Threadbar},
    {"Groupsbar", &Settings::Groupsbar},
};
constexpr IntKey kAdvancedTail[] = {
    {"FindExpired", &Settings::FindExpired},
    {"RetentionDays", &Settings::RetentionDays},
    {"MultiGroupTolerance", &Settings::MultiGroupTolerance},
    {"PostProcess", &Settings::PostProcess},
    {"DeleteAfterUnpack", &Settings::DeleteAfterUnpack},
    {"PipelineDepth", &Settings::PipelineDepth},
    {"ScanChunks", &Settings::ScanChunks},
};

template <size_t N>
void WriteInts(IniFile& ini, const char* section, const Settings& s, const IntKey (&keys)[N]) {
    for (const auto& k : keys)
        ini.SetInt(section, k.name, s.*k.member);
}

template <size_t N>
void ReadInts(const IniFile& ini, const char* section, Settings& s, const IntKey (&keys)[N]) {
    for (const auto& k : keys)
        s.*k.member = ini.GetInt(section, k.name, s.*k.member);
}

bool StorableAsIs(std::string_view value) {
    if (value.empty())
        return true;
    for (char c : value) {
        if (c == '\0' || c == '\n' || c == '\r')
            return false;
    }
    auto blank = [](char c) { return c == ' ' || c == '\t'; };
    if (blank(value.front()) || blank(value.back()))
        return false;  // lost to trimming
    if (value.starts_with(kPasswordHexMarker))
        return false;
    return true;
}

int HexDigit(char c) {
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    return -1;
}

}  // namespace

IniFile SettingsToIni(const Settings& s) {
    IniFile ini;
    for (size_t i = 0; i < s.groups.size(); ++i) {
        const auto& g = s.groups[i];
        ini.SetString("Groups", Numbered("Group", i), g.name);
        ini.SetString("Groups", Numbered("GroupDir", i), g.downloaddir);
        ini.SetString("Groups", Numbered("GroupLastScanned", i), std::to_string(g.lastscanned));
    }
    size_t n = 0;
    for (const auto& server : s.servers)
        WriteServer(ini, n++, server, false);
    for (const auto& server : s.disabled_servers)
        WriteServer(ini, n++, server, true);

    for (int i = 0; i < kThreadSlots; ++i)
        ini.SetInt("UseThreads", Numbered("Thread", i), s.Thread[i]);
    ini.SetString("UserInfo", "Name", s.UserName);
    ini.SetInt("Filter", "Use", s.FilterUse);
    ini.SetString("Filter", "Words", s.FilterWords);
    ini.SetInt("Filter", "Include", s.FilterInclude);

    WriteInts(ini, "Advanced", s, kAdvancedBeforeBaseDir);
    ini.SetString("Advanced", "BaseDir", s.BaseDir);
    WriteInts(ini, "Advanced", s, kAdvancedAfterBaseDir);
    ini.SetInt("Speed", "Use", s.SpeedUse);
    ini.SetInt("Speed", "Val", s.SpeedVal);
    WriteInts(ini, "Toolbars", s, kToolbars);
    WriteInts(ini, "Advanced", s, kAdvancedTail);
    ini.SetString("Advanced", "PowerOffCommand", s.PowerOffCommand);

    if (s.Placement)
        ini.SetString("Window", "Placement", EncodeBytes(*s.Placement));
    for (size_t i = 0; i < s.ViewColumn.size(); ++i)
        ini.SetInt("Window", Numbered("ViewColumn", i), s.ViewColumn[i]);
    for (size_t i = 0; i < s.GroupsColumn.size(); ++i)
        ini.SetInt("Window", Numbered("GroupsColumn", i), s.GroupsColumn[i]);
    ini.SetInt("Window", "GroupsHeight", s.GroupsHeight);
    return ini;
}

Settings SettingsFromIni(const IniFile& ini) {
    Settings s;
    for (size_t i = 0;; ++i) {
        GroupListEntry g;
        g.name = ini.GetString("Groups", Numbered("Group", i));
        if (g.name.empty())
            break;
        g.downloaddir = ini.GetString("Groups", Numbered("GroupDir", i));
        // Scan times are seconds since 1970; read them wider than the other integers.
        g.lastscanned = std::strtoll(
            ini.GetString("Groups", Numbered("GroupLastScanned", i), "0").c_str(), nullptr, 10);
        s.groups.push_back(std::move(g));
    }
    for (size_t i = 0;; ++i) {
        ServerEntry e;
        e.host = ini.GetString("Newsservers", Numbered("Server", i));
        if (e.host.empty())
            break;
        e.user = ini.GetString("Newsservers", Numbered("Server", i, "UserName"));
        e.password =
            DecodePasswordValue(ini.GetString("Newsservers", Numbered("Server", i, "PassWord")));
        e.disabled = ini.GetInt("Newsservers", Numbered("Server", i, "Disabled"), 0);
        e.port = ini.GetInt("Newsservers", Numbered("Server", i, "Port"), 119);
        e.ssl = ini.GetInt("Newsservers", Numbered("Server", i, "SSL"), 0) != 0 ? 1 : 0;
        e.verify = std::clamp(ini.GetInt("Newsservers", Numbered("Server", i, "Verify"), 2), 0, 2);
        e.compress = ini.GetInt("Newsservers", Numbered("Server", i, "Compress"), 1) != 0 ? 1 : 0;
        (e.disabled ? s.disabled_servers : s.servers).push_back(std::move(e));
    }
    s.SpeedVal = ini.GetInt("Speed", "Val", s.SpeedVal);
    s.SpeedUse = ini.GetInt("Speed", "Use", s.SpeedUse);
    s.UserName = ini.GetString("UserInfo", "Name");
    for (int i = 0; i < kThreadSlots; ++i)
        s.Thread[i] = ini.GetInt("UseThreads", Numbered("Thread", i), 1);
    s.DownloadCounter = ini.GetInt("Advanced", "DownloadCounter", s.DownloadCounter);
    s.FilterUse = ini.GetInt("Filter", "Use", s.FilterUse);
    s.FilterWords = ini.GetString("Filter", "Words");
    s.FilterInclude = ini.GetInt("Filter", "Include", s.FilterInclude);
    ReadInts(ini, "Advanced", s, kAdvancedBeforeBaseDir);
    s.BaseDir = ini.GetString("Advanced", "BaseDir");
    ReadInts(ini, "Advanced", s, kAdvancedAfterBaseDir);
    ReadInts(ini, "Toolbars", s, kToolbars);
    ReadInts(ini, "Advanced", s, kAdvancedTail);
    s.PowerOffCommand = ini.GetString("Advanced", "PowerOffCommand", s.PowerOffCommand);
    for (size_t i = 0; i < s.ViewColumn.size(); ++i)
        s.ViewColumn[i] = ini.GetInt("Window", Numbered("ViewColumn", i), s.ViewColumn[i]);
    for (size_t i = 0; i < s.GroupsColumn.size(); ++i)
        s.GroupsColumn[i] = ini.GetInt("Window", Numbered("GroupsColumn", i), s.GroupsColumn[i]);
    s.GroupsHeight = ini.GetInt("Window", "GroupsHeight", s.GroupsHeight);

    std::vector<uint8_t> placement = DecodeBytes(ini.GetString("Window", "Placement"));
    if (placement.size() == kPlacementSize)
        s.Placement = std::move(placement);
    return s;
}

Settings LoadSettings(const std::string& path) {
    return SettingsFromIni(IniFile::Load(path));
}

bool SaveSettings(const Settings& settings, const std::string& path) {
    bool ok = SettingsToIni(settings).Save(path);
    LogLine("Options saved.\n");
    return ok;
}

std::string ScramblePassword(const std::string& password) {
    std::string out = password;
    for (char& c : out)
        c = static_cast<char>(static_cast<unsigned char>(c) + 64);
    return out;
}

std::string UnscramblePassword(const std::string& scrambled) {
    std::string out = scrambled;
    for (char& c : out)
        c = static_cast<char>(static_cast<unsigned char>(c) - 64);
    return out;
}

std::string EncodePasswordValue(const std::string& password) {
    std::string scrambled = ScramblePassword(password);
    if (StorableAsIs(scrambled))
        return scrambled;
    static constexpr char kHex[] = "0123456789ABCDEF";
    std::string out(kPasswordHexMarker);
    for (unsigned char c : scrambled) {
        out += kHex[c >> 4];
        out += kHex[c & 15];
    }
    return out;
}

std::string DecodePasswordValue(const std::string& stored) {
    std::string_view view(stored);
    if (view.starts_with(kPasswordHexMarker)) {
        std::string_view hex = view.substr(kPasswordHexMarker.size());
        std::string bytes;
        bool valid = hex.size() % 2 == 0;
        for (size_t i = 0; valid && i < hex.size(); i += 2) {
            int hi = HexDigit(hex[i]), lo = HexDigit(hex[i + 1]);
            valid = hi >= 0 && lo >= 0;
            bytes += static_cast<char>(hi * 16 + lo);
        }
        if (valid)
            return UnscramblePassword(bytes);
    }
    return UnscramblePassword(stored);
}

std::string EncodeBytes(const std::vector<uint8_t>& bytes) {
    std::string out;
    out.reserve(bytes.size() * 2);
    for (uint8_t b : bytes) {
        out += static_cast<char>('A' + (b & 15));
        out += static_cast<char>('A' + (b >> 4));
    }
    return out;
}

std::vector<uint8_t> DecodeBytes(const std::string& text) {
    if (text.size() % 2 != 0)
        return {};
    std::vector<uint8_t> out;
    out.reserve(text.size() / 2);
    for (size_t i = 0; i < text.size(); i += 2) {
        int lo = text[i] - 'A', hi = text[i + 1] - 'A';
        if (lo < 0 || lo > 15 || hi < 0 || hi > 15)
            return {};
        out.push_back(static_cast<uint8_t>(hi * 16 + lo));
    }
    return out;
}

}  // namespace qs
