#include "support/yenc_poster.h"

#include <zlib.h>

#include <algorithm>
#include <cstdio>

namespace qs::test {
namespace {

constexpr size_t kLineLength = 128;

uint32_t Crc(const char* data, size_t size) {
    return static_cast<uint32_t>(
        crc32(0, reinterpret_cast<const Bytef*>(data), static_cast<uInt>(size)));
}

std::string Hex(uint32_t value) {
    char text[9];
    std::snprintf(text, sizeof text, "%08x", value);
    return text;
}

// NUL, LF, CR and '=' always; TAB and space at either end of a line, '.' at its start.
void AppendEncoded(const char* data, size_t size, std::string& out) {
    size_t column = 0;
    for (size_t i = 0; i < size; ++i) {
        const char c = static_cast<char>(static_cast<unsigned char>(data[i]) + 42);
        const bool edge = column == 0 || column + 1 >= kLineLength || i + 1 == size;
        if (c == '\0' || c == '\n' || c == '\r' || c == '=' || (edge && (c == '\t' || c == ' ')) ||
            (column == 0 && c == '.')) {
            out += '=';
            out += static_cast<char>(c + 64);
            column += 2;
        } else {
            out += c;
            ++column;
        }
        if (column >= kLineLength) {
            out += '\n';
            column = 0;
        }
    }
    if (column > 0)
        out += '\n';
}

}  // namespace

std::vector<std::string> PostYencFile(MemoryCorpus& corpus, const std::string& group,
                                      const std::string& name, const std::string& data,
                                      size_t part_size) {
    const size_t parts = data.empty() ? 1 : (data.size() + part_size - 1) / part_size;
    const std::string total = std::to_string(parts);
    const std::string file_crc = Hex(Crc(data.data(), data.size()));
    std::vector<std::string> ids;
    for (size_t part = 1; part <= parts; ++part) {
        const size_t begin = (part - 1) * part_size;
        const size_t size = std::min(part_size, data.size() - begin);
        MemoryCorpus::Article article;
        article.subject = "\"" + name + "\" yEnc (" + std::to_string(part) + "/" + total + ")";
        article.body = "=ybegin part=" + std::to_string(part) + " total=" + total +
                       " line=" + std::to_string(kLineLength) +
                       " size=" + std::to_string(data.size()) + " name=" + name + "\n";
        article.body += "=ypart begin=" + std::to_string(begin + 1) +
                        " end=" + std::to_string(begin + size) + "\n";
        AppendEncoded(data.data() + begin, size, article.body);
        article.body += "=yend size=" + std::to_string(size) + " part=" + std::to_string(part) +
                        " pcrc32=" + Hex(Crc(data.data() + begin, size)) +
                        (part == parts ? " crc32=" + file_crc : std::string()) + "\n";
        const int64_t number = corpus.Add(group, article);
        ArticleKey key;
        if (corpus.Find(*corpus.FindGroup(group), number, key))
            ids.push_back(corpus.MessageId(key));
    }
    return ids;
}

}  // namespace qs::test
