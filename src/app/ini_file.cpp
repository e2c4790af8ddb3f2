#include "app/ini_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <fstream>
#include <sstream>

#include "app/text_util.h"

namespace qs {

IniFile IniFile::Load(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in)
        return {};
    std::ostringstream text;
    text << in.rdbuf();
    return Parse(text.str());
}

IniFile IniFile::Parse(std::string_view text) {
    IniFile ini;
    Section* current = nullptr;
    size_t pos = 0;
    while (pos < text.size()) {
        size_t end = text.find('\n', pos);
        if (end == std::string_view::npos)
            end = text.size();
        std::string_view line = Trim(text.substr(pos, end - pos));
        pos = end + 1;
        if (line.empty() || line[0] == ';')
            continue;
        if (line.front() == '[') {
            size_t close = line.find(']');
            if (close == std::string_view::npos)
                continue;
            std::string_view name = Trim(line.substr(1, close - 1));
            current = nullptr;
            for (auto& s : ini.sections_) {
                if (EqualsNoCase(s.name, name))
                    current = &s;
            }
            if (!current) {
                ini.sections_.push_back({std::string(name), {}});
                current = &ini.sections_.back();
            }
            continue;
        }
        size_t eq = line.find('=');
        if (eq == std::string_view::npos || !current)
            continue;
        std::string_view key = Trim(line.substr(0, eq));
        std::string_view value = Trim(line.substr(eq + 1));
        if (key.empty())
            continue;
        bool replaced = false;
        for (auto& e : current->entries) {
            if (EqualsNoCase(e.key, key)) {
                // The first occurrence wins, as with the profile functions.
                replaced = true;
                break;
            }
        }
        if (!replaced)
            current->entries.push_back({std::string(key), std::string(value)});
    }
    return ini;
}

const IniFile::Entry* IniFile::Find(std::string_view section, std::string_view key) const {
    for (const auto& s : sections_) {
        if (!EqualsNoCase(s.name, section))
            continue;
        for (const auto& e : s.entries) {
            if (EqualsNoCase(e.key, key))
                return &e;
        }
    }
    return nullptr;
}

std::string IniFile::GetString(std::string_view section, std::string_view key,
                               std::string_view fallback) const {
    const Entry* e = Find(section, key);
    std::string_view value = e ? std::string_view(e->value) : fallback;
    if (value.size() > kMaxStringLength) {
        // Blanks the cut leaves at the end would not come back from the file once saved: the
        // value read is without them already, so a save and a load change nothing.
        value = value.substr(0, kMaxStringLength);
        while (!value.empty() && Trim(value.substr(value.size() - 1)).empty())
            value.remove_suffix(1);
    }
    return std::string(value);
}

int IniFile::GetInt(std::string_view section, std::string_view key, int fallback) const {
    const Entry* e = Find(section, key);
    return e ? LeadingInt(e->value) : fallback;
}

bool IniFile::Has(std::string_view section, std::string_view key) const {
    return Find(section, key) != nullptr;
}

void IniFile::SetString(std::string_view section, std::string_view key, std::string_view value) {
    Section* target = nullptr;
    for (auto& s : sections_) {
        if (EqualsNoCase(s.name, section))
            target = &s;
    }
    if (!target) {
        sections_.push_back({std::string(section), {}});
        target = &sections_.back();
    }
    for (auto& e : target->entries) {
        if (EqualsNoCase(e.key, key)) {
            e.value = std::string(value);
            return;
        }
    }
    target->entries.push_back({std::string(key), std::string(value)});
}

void IniFile::SetInt(std::string_view section, std::string_view key, int value) {
    SetString(section, key, std::to_string(value));
}

std::string IniFile::Serialize() const {
    std::string out;
    for (const auto& s : sections_) {
        out += '[';
        out += s.name;
        out += "]\n";
        for (const auto& e : s.entries) {
            out += e.key;
            out += '=';
            out += e.value;
            out += '\n';
        }
    }
    return out;
}

bool IniFile::Save(const std::string& path) const {
    const std::string text = Serialize();
    const std::string temp = path + ".tmp";
    int fd = ::open(temp.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
    if (fd < 0)
        return false;
    ::fchmod(fd, 0600);  // an older temporary file may have had other bits
    bool ok = WriteAll(fd, text) && ::fsync(fd) == 0;
    ok = (::close(fd) == 0) && ok;
    if (!ok || ::rename(temp.c_str(), path.c_str()) != 0) {
        ::unlink(temp.c_str());
        return false;
    }
    return true;
}

int LeadingInt(std::string_view text) {
    size_t i = 0;
    while (i < text.size() && (text[i] == ' ' || text[i] == '\t'))
        ++i;
    bool negative = false;
    if (i < text.size() && (text[i] == '-' || text[i] == '+')) {
        negative = text[i] == '-';
        ++i;
    }
    long long value = 0;
    for (; i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i) {
        value = value * 10 + (text[i] - '0');
        if (value > static_cast<long long>(INT_MAX) + 1)
            value = static_cast<long long>(INT_MAX) + 1;
    }
    if (negative)
        value = -value;
    if (value > INT_MAX)
        value = INT_MAX;
    return static_cast<int>(value);
}

}  // namespace qs
