#include "file_set.h"

#include <algorithm>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>

#include "support/generated_corpus.h"
#include "support/yenc_poster.h"

namespace qs::test {

PostedFileSet::PostedFileSet(const std::string& group, const std::vector<std::string>& paths,
                             size_t part_size)
    : group_(group) {
    for (const std::string& path : paths) {
        std::ifstream in(path, std::ios::binary);
        if (!in)
            throw std::runtime_error("cannot read " + path);
        std::ostringstream data;
        data << in.rdbuf();
        const std::string bytes = data.str();
        File file;
        file.name = std::filesystem::path(path).filename().string();
        const auto ids = PostYencFile(corpus_, group, file.name, bytes, part_size);
        for (size_t i = 0; i < ids.size(); ++i) {
            Part part;
            part.message_id = ids[i];
            corpus_.FindId(ids[i], part.key);
            part.bytes = std::min(part_size, bytes.size() - std::min(bytes.size(), i * part_size));
            file.parts.push_back(part);
        }
        files_.push_back(std::move(file));
    }
}

std::string PostedFileSet::Nzb(const std::string& poster) const {
    std::string out =
        "<?xml version=\"1.0\" encoding=\"iso-8859-1\" ?>\n"
        "<nzb xmlns=\"http://www.newzbin.com/DTD/2003/nzb\">\n";
    const std::string date = std::to_string(time(nullptr) - 86400);
    for (const File& f : files_) {
        const std::string subject =
            "\"" + f.name + "\" yEnc (1/" + std::to_string(f.parts.size()) + ")";
        out += " <file poster=\"" + XmlEscape(poster) + "\" date=\"" + date + "\" subject=\"" +
               XmlEscape(subject) + "\">\n  <groups><group>" + group_ +
               "</group></groups>\n  <segments>\n";
        for (size_t p = 0; p < f.parts.size(); ++p) {
            const std::string& id = f.parts[p].message_id;
            out += "   <segment bytes=\"" + std::to_string(f.parts[p].bytes * 102 / 100 + 200) +
                   "\" number=\"" + std::to_string(p + 1) + "\">" +
                   XmlEscape(id.substr(1, id.size() - 2)) + "</segment>\n";
        }
        out += "  </segments>\n </file>\n";
    }
    out += "</nzb>\n";
    return out;
}

}  // namespace qs::test
