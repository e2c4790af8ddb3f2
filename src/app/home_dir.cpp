#include "app/home_dir.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdlib>

namespace qs {

namespace {
std::string Env(const char* name) {
    const char* value = std::getenv(name);
    return value ? std::string(value) : std::string();
}

std::string StripTrailingSlash(std::string path) {
    while (path.size() > 1 && path.back() == '/')
        path.pop_back();
    return path;
}

bool IsRegularFile(const std::string& path) {
    struct stat st {};
    return ::stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode);
}
}  // namespace

std::string JoinPath(const std::string& dir, const std::string& name) {
    if (dir.empty())
        return name;
    if (dir.back() == '/')
        return dir + name;
    return dir + "/" + name;
}

std::string DefaultDownloadDir() {
    std::string home = Env("HOME");
    return JoinPath(home.empty() ? "." : home, "Downloads");
}

std::string ResolveHomeDir(const std::string& explicit_home, const std::string& executable_path) {
    if (!explicit_home.empty())
        return StripTrailingSlash(explicit_home);
    std::string env_home = Env("QUILLSTREAM_HOME");
    if (!env_home.empty())
        return StripTrailingSlash(env_home);
    size_t slash = executable_path.rfind('/');
    if (slash != std::string::npos) {
        std::string exe_dir = executable_path.substr(0, slash);
        if (IsRegularFile(JoinPath(exe_dir, kSettingsFileName)))
            return StripTrailingSlash(exe_dir);
    }
    std::string config = Env("XDG_CONFIG_HOME");
    if (config.empty()) {
        std::string home = Env("HOME");
        config = JoinPath(home.empty() ? "." : home, ".config");
    }
    return JoinPath(StripTrailingSlash(config), "quillstream");
}

std::string ExecutablePath(const char* argv0) {
    char buffer[PATH_MAX];
    ssize_t n = ::readlink("/proc/self/exe", buffer, sizeof buffer - 1);
    if (n > 0)
        return std::string(buffer, static_cast<size_t>(n));
    return argv0 ? std::string(argv0) : std::string();
}

bool MakeDirectories(const std::string& path, unsigned mode) {
    if (path.empty())
        return false;
    for (size_t pos = 1; pos <= path.size(); ++pos) {
        if (pos == path.size() || path[pos] == '/') {
            std::string prefix = path.substr(0, pos);
            if (::mkdir(prefix.c_str(), mode) != 0 && errno != EEXIST)
                return false;
        }
    }
    struct stat st {};
    return ::stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

std::string ResolveCommandLineFile(const std::string& file) {
    if (file.empty() || !IsRegularFile(file))
        return {};
    char buffer[PATH_MAX];
    if (!::realpath(file.c_str(), buffer))
        return {};
    return buffer;
}

}  // namespace qs
