#include "download/nzb_import.h"

#include <sys/stat.h>
#include <tinyxml2.h>

#include <cstdint>
#include <map>
#include <set>

#include "app/debug_log.h"
#include "app/output_files.h"
#include "download/decoder.h"

namespace qs {

namespace {

constexpr const char* kNzbError = "Error reading NZB file.";

// Group names and message-ids go into command lines: nothing that could end or split one.
bool IsCommandWord(std::string_view text) {
    if (text.empty())
        return false;
    for (unsigned char c : text) {
        if (c <= 0x20 || c == 0x7f)
            return false;
    }
    return true;
}

int64_t Int64Attribute(const tinyxml2::XMLElement& element, const char* name) {
    int64_t value = 0;
    if (element.QueryInt64Attribute(name, &value) != tinyxml2::XML_SUCCESS)
        return 0;
    return value;
}

// The text of an element whose first child is text, or null.
const char* FirstChildText(const tinyxml2::XMLElement* element) {
    if (!element || !element->FirstChild() || !element->FirstChild()->ToText())
        return nullptr;
    return element->FirstChild()->Value();
}

std::string Trimmed(std::string_view text) {
    while (!text.empty() && (text.front() == ' ' || (text.front() >= '\t' && text.front() <= '\r')))
        text.remove_prefix(1);
    while (!text.empty() && (text.back() == ' ' || (text.back() >= '\t' && text.back() <= '\r')))
        text.remove_suffix(1);
    return std::string(text);
}

}  // namespace

std::string NzbBaseName(std::string_view path) {
    std::string out(path);
    if (path.size() >= 4) {
        std::string extension(path.substr(path.size() - 4));
        for (size_t at; (at = out.find(extension)) != std::string::npos;)
            out.erase(at, extension.size());
    }
    size_t slash = out.rfind('/');
    if (slash != std::string::npos)
        out.erase(0, slash + 1);
    return SanitizeFileName(out);
}

NzbImportResult ImportNzbFile(const std::string& path, DownloadQueue* queue,
                              const Settings& settings, Host& host) {
    NzbImportResult result;
    if (path.empty())
        return result;
    if (path.size() < 4 ||
        FindNoCase(std::string_view(path).substr(path.size() - 4), ".nzb") != 0) {
        result.error = true;
        host.ShowMessage(kNzbError, Host::Icon::Stop);
        return result;
    }
    const std::string base = NzbBaseName(path);
    LogLine("Importing NZB file %s\n", path.c_str());

    struct stat st;
    tinyxml2::XMLDocument doc;
    if (::stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode) && st.st_size > kMaxNzbBytes) {
        LogLine("NZB file %s is too large (%lld bytes)\n", path.c_str(),
                static_cast<long long>(st.st_size));
        result.error = true;
        host.ShowMessage("NZB file too large.", Host::Icon::Stop);
        return result;
    }
    if (::stat(path.c_str(), &st) != 0 || !S_ISREG(st.st_mode) ||
        doc.LoadFile(path.c_str()) != tinyxml2::XML_SUCCESS) {
        LogLine("NZB file %s cannot be read or parsed\n", path.c_str());
        result.error = true;
        host.ShowMessage(kNzbError, Host::Icon::Stop);
        return result;
    }

    // Two files of one NZB with the same subject are two entries, never one entry with the
    // parts of both: the later ones get a numbered Id, one no file of this NZB has yet (a
    // subject may itself end in " [2]").
    std::map<std::string, int> subjects_seen;
    std::set<std::string> ids_used;
    const tinyxml2::XMLElement* root = doc.FirstChildElement("nzb");
    for (const tinyxml2::XMLElement* file = root ? root->FirstChildElement("file") : nullptr; file;
         file = file->NextSiblingElement("file")) {
        Attachment entry;
        const char* subject = file->Attribute("subject");
        const char* poster = file->Attribute("poster");
        entry.Id = entry.filename = subject ? subject : "";
        for (int& seen = subjects_seen[entry.filename]; !ids_used.insert(entry.Id).second;)
            entry.Id = entry.filename + " [" + std::to_string(++seen + 1) + "]";
        entry.email = poster ? poster : "";
        entry.date = Int64Attribute(*file, "date");
        entry.state = StateQueued;
        entry.lines = 0;
        entry.isnew = 0;
        entry.parts = 0;
        entry.bytes = 0;

        const tinyxml2::XMLElement* groups = file->FirstChildElement("groups");
        const char* group_text =
            FirstChildText(groups ? groups->FirstChildElement("group") : nullptr);
        std::string group = group_text ? Trimmed(group_text) : std::string();
        if (!IsCommandWord(group)) {
            LogLine("NZB file without a usable group: %s\n", entry.Id.c_str());
            result.error = true;
            break;
        }
        entry.newsgroup = group;
        entry.dir = DownloadDirFor(group, settings);
        if (!entry.dir.empty() && entry.dir.back() != '/')
            entry.dir += '/';
        entry.dir += base + "/";
        EnsureDirectory(entry.dir, settings, host);

        // A segment listed twice is one article: the entry counts and stores it once.
        std::set<std::string> segments_seen;
        const tinyxml2::XMLElement* segments = file->FirstChildElement("segments");
        for (const tinyxml2::XMLElement* segment = segments ? segments->FirstChildElement("segment")
                                                            : nullptr;
             segment; segment = segment->NextSiblingElement("segment")) {
            const char* text = FirstChildText(segment);
            std::string id = text ? Trimmed(text) : std::string();
            if (id.size() >= 2 && id.front() == '<' && id.back() == '>')
                id = id.substr(1, id.size() - 2);
            if (!IsCommandWord(id)) {
                LogLine("NZB segment without a usable message-id in %s\n", entry.Id.c_str());
                result.error = true;
                break;
            }
            if (!segments_seen.insert(id).second) {
                LogLine("NZB segment <%s> listed twice in %s\n", id.c_str(), entry.Id.c_str());
                continue;
            }
            MessageVars part;
            part.MessageId = "<" + id + ">";
            part.attachment = entry.Id;
            part.ArticleId = 0;
            part.lines = 0;
            part.bytes = std::max<int64_t>(0, Int64Attribute(*segment, "bytes"));
            int64_t number = Int64Attribute(*segment, "number");
            part.partnum = number < 0 || number > INT32_MAX ? 0 : static_cast<int>(number);
            entry.parts += 1;
            // Saturating: hostile sizes must not wrap into a negative total.
            entry.bytes =
                part.bytes > INT64_MAX - entry.bytes ? INT64_MAX : entry.bytes + part.bytes;
            entry.partlist.push_back(std::move(part));
        }
        entry.partcount = static_cast<int>(entry.partlist.size());
        if (entry.partlist.empty()) {
            LogLine("NZB file entry without a usable segment: %s\n", entry.Id.c_str());
            result.error = true;
            continue;  // nothing to download: no empty entry in the queue
        }
        if (!queue)
            continue;
        if (!queue->Add(entry, false)) {
            LogLine("The queue refused %s\n", entry.Id.c_str());
            result.error = true;
            break;
        }
        ++result.files;
    }
    if (queue && result.files > 0)
        queue->HoldRecoveryVolumes();
    if (result.error)
        host.ShowMessage(kNzbError, Host::Icon::Stop);
    return result;
}

}  // namespace qs
