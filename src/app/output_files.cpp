#include "app/output_files.h"

#include "app/home_dir.h"

#include <sys/stat.h>
#include <sys/types.h>

#include <cerrno>
#include <cstdio>

#include "app/debug_log.h"

namespace qs {

namespace {

bool IsReserved(unsigned char c) {
    switch (c) {
        case '"':
        case '*':
        case '/':
        case ':':
        case '<':
        case '>':
        case '?':
        case '\\':
        case '|':
            return true;
        default:
            return c < 0x20 || c == 0x7f;
    }
}

bool PathExists(const std::string& path) {
    struct stat st;
    return ::lstat(path.c_str(), &st) == 0;
}

// True when something other than a regular file (a link, a directory, a device) stands at
// the path; the link itself is looked at, never what it points to.
bool IsNotAPlainFile(const std::string& path) {
    struct stat st;
    return ::lstat(path.c_str(), &st) == 0 && !S_ISREG(st.st_mode);
}

bool IsDirectory(const std::string& path) {
    struct stat st;
    return ::stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

// Largest cut <= `want` that does not split a UTF-8 sequence of `text`.
size_t Utf8Cut(std::string_view text, size_t want) {
    if (want >= text.size())
        return text.size();
    while (want > 0 && (static_cast<unsigned char>(text[want]) & 0xC0) == 0x80)
        --want;
    return want;
}

// The decimal number at the start of `text` as formatted reading takes it (leading blanks,
// an optional sign, at least one digit); saturates instead of overflowing.
bool LeadingNumber(std::string_view text, long long& value) {
    size_t i = 0;
    while (i < text.size() && (text[i] == ' ' || (text[i] >= '\t' && text[i] <= '\r')))
        ++i;
    bool negative = false;
    if (i < text.size() && (text[i] == '+' || text[i] == '-'))
        negative = text[i++] == '-';
    if (i >= text.size() || text[i] < '0' || text[i] > '9')
        return false;
    constexpr long long kCap = 1'000'000'000'000'000LL;
    long long v = 0;
    for (; i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i)
        v = v >= kCap ? kCap : v * 10 + (text[i] - '0');
    value = negative ? -v : v;
    return true;
}

std::string StripTrailingSlashes(std::string_view base) {
    while (!base.empty() && base.back() == '/')
        base.remove_suffix(1);
    return std::string(base);
}

std::string GroupDirectory(const std::string& base, std::string_view group, bool no_subdir) {
    if (no_subdir)
        return base + "/";
    return base + "/" + SanitizeFileName(group) + "/";
}

}  // namespace

std::string FitFileName(std::string_view name, size_t limit) {
    if (name.size() <= limit)
        return std::string(name);
    // Keep a sensible extension; a "name" that is mostly extension is cut as a whole.
    size_t dot = name.rfind('.');
    std::string_view ext;
    if (dot != std::string_view::npos && dot > 0 && name.size() - dot <= 32 &&
        name.size() - dot < limit)
        ext = name.substr(dot);
    std::string_view stem = name.substr(0, name.size() - ext.size());
    size_t cut = Utf8Cut(stem, limit - ext.size());
    std::string out(stem.substr(0, cut));
    out += ext;
    return out;
}

std::string SanitizeFileName(std::string_view name) {
    while (!name.empty() && name.front() == '"')
        name.remove_prefix(1);
    while (!name.empty() && name.back() == '"')
        name.remove_suffix(1);
    std::string out(name);
    bool only_dots = true;
    for (char& c : out) {
        if (IsReserved(static_cast<unsigned char>(c)))
            c = '_';
        if (c != '.')
            only_dots = false;
    }
    if (out.empty())
        return "_";
    if (only_dots)  // "." and ".." would name the directory itself or its parent
        return std::string(out.size(), '_');
    return FitFileName(out);
}

std::string MakeOutputPath(std::string_view subject, std::string_view name,
                           std::string_view directory, const Settings& settings) {
    std::string path(directory);
    if (!path.empty() && path.back() != '/')
        path += '/';
    path += SanitizeFileName(settings.FilenameIsSubject ? subject : name);
    // A link or anything but a plain file in the way is never written through: the file
    // gets a name of its own, whatever RenameExisting says.
    if (settings.RenameExisting || IsNotAPlainFile(path))
        SmartRename(path);
    return path;
}

void SmartRename(std::string& path) {
    while (PathExists(path)) {
        size_t slash = path.rfind('/');
        size_t start = slash == std::string::npos ? 0 : slash + 1;
        std::string dir = path.substr(0, start);
        std::string_view name = std::string_view(path).substr(start);

        // A dot at the very start (".profile") is part of the name, not an extension.
        size_t d = name.rfind('.');
        if (d == std::string_view::npos || d == 0)
            d = name.size();
        size_t u = d == 0 ? std::string_view::npos : name.rfind('_', d - 1);

        std::string_view prefix;
        long long n = 1;
        if (u == std::string_view::npos) {
            prefix = name.substr(0, d);
        } else {
            prefix = name.substr(0, u);
            long long k = 0;
            if (LeadingNumber(name.substr(u + 1, d - u - 1), k))
                n = k + 1;
        }
        std::string suffix = "_";
        suffix += std::to_string(n);
        suffix.append(name.substr(d));
        size_t room = suffix.size() < kMaxFileNameBytes ? kMaxFileNameBytes - suffix.size() : 0;
        std::string renamed(prefix.substr(0, Utf8Cut(prefix, room)));
        renamed += suffix;
        path = dir + renamed;
    }
}

bool CreateDirectoryTree(std::string_view path) {
    if (path.empty())
        return false;
    std::string text(path);
    auto make = [](const std::string& dir) {
        if (dir.empty() || IsDirectory(dir))
            return true;
        if (::mkdir(dir.c_str(), 0777) == 0)
            return true;
        return errno == EEXIST && IsDirectory(dir);
    };
    for (size_t i = 1; i < text.size(); ++i) {
        if (text[i] == '/' && text[i - 1] != '/' && !make(text.substr(0, i)))
            return false;
    }
    return make(text);
}

bool EnsureDirectory(std::string_view directory, const Settings& settings, Host& host) {
    return EnsureDirectory(directory, settings.AutoCreateDirs == 0, host);
}

bool EnsureDirectory(std::string_view directory, bool ask_first, Host& host) {
    std::string dir;
    for (char c : directory) {
        if (c == '/' && !dir.empty() && dir.back() == '/')
            continue;
        dir += c;
    }
    if (dir.empty() || dir.back() != '/')
        dir += '/';
    if (IsDirectory(dir))
        return true;
    if (ask_first && !host.AskYesNo("Directory does not exist:\n" + dir + "\nCreate it?"))
        return false;
    if (!CreateDirectoryTree(dir)) {
        LogLine("Creating directory %s failed\n", dir.c_str());
        host.ShowMessage("Failed!", Host::Icon::Exclamation);
        return false;
    }
    return true;
}

std::string DownloadDirFor(std::string_view group, const Settings& settings) {
    for (const auto& g : settings.groups) {
        if (g.name == group)
            return g.downloaddir;
    }
    // Without a base directory files still need a home of their own, never "/group/".
    std::string base = settings.BaseDir.empty() ? DefaultDownloadDir() : settings.BaseDir;
    return GroupDirectory(StripTrailingSlashes(base), group, settings.NoAutoSubdir);
}

void ApplyBaseDir(std::string_view base, Settings& settings, Host& host) {
    std::string root = StripTrailingSlashes(base);
    for (auto& g : settings.groups) {
        g.downloaddir = GroupDirectory(root, g.name, settings.NoAutoSubdir);
        EnsureDirectory(g.downloaddir, settings, host);
    }
    host.Refresh();
}

}  // namespace qs
