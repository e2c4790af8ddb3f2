#include "codec_support.h"
#include "support/temp_dir.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <random>

#include "download/crc32.h"

namespace qs::test {

std::string RandomBytes(size_t size, uint32_t seed) {
    std::mt19937 rng(seed);
    std::string out(size, '\0');
    for (auto& c : out)
        c = static_cast<char>(rng() & 0xff);
    return out;
}

LineList ToLineList(const std::string& text) {
    LineList lines;
    size_t start = 0;
    while (start < text.size()) {
        size_t lf = text.find('\n', start);
        size_t end = lf == std::string::npos ? text.size() : lf;
        std::string line = text.substr(start, end - start);
        if (line.empty() || line.back() != '\r')
            line += '\r';
        if (line[0] == '.')
            line.insert(0, ".");
        lines.push_back(std::move(line));
        start = end + 1;
    }
    return lines;
}

std::vector<LineList> SplitLines(const LineList& lines, size_t per_part) {
    std::vector<LineList> parts;
    for (size_t i = 0; i < lines.size(); i += per_part)
        parts.emplace_back(
            lines.begin() + static_cast<ptrdiff_t>(i),
            lines.begin() + static_cast<ptrdiff_t>(std::min(lines.size(), i + per_part)));
    return parts;
}

std::vector<std::string> EncodeYencLines(const std::string& data, size_t line_length,
                                         bool escape_dots) {
    std::vector<std::string> lines;
    std::string line;
    for (size_t i = 0; i < data.size(); ++i) {
        unsigned char c = static_cast<unsigned char>(static_cast<unsigned char>(data[i]) + 42);
        bool first = line.empty();
        bool last = i + 1 == data.size() || line.size() + 1 >= line_length;
        bool escape = c == 0 || c == '\n' || c == '\r' || c == '=' ||
                      ((c == '\t' || c == ' ') && (first || last)) ||
                      (c == '.' && first && escape_dots);
        if (escape) {
            line += '=';
            line += static_cast<char>(c + 64);
        } else {
            line += static_cast<char>(c);
        }
        if (line.size() >= line_length) {
            lines.push_back(std::move(line));
            line.clear();
        }
    }
    if (!line.empty())
        lines.push_back(std::move(line));
    return lines;
}

std::vector<LineList> EncodeYencPost(const std::string& data, const std::string& name, int parts,
                                     size_t line_length, bool escape_dots) {
    std::vector<LineList> out;
    const uint32_t file_crc = Crc32(0, data.data(), data.size());
    const size_t per_part = parts <= 1 ? data.size() : (data.size() + parts - 1) / parts;
    for (int p = 0; p < std::max(parts, 1); ++p) {
        size_t begin = std::min(data.size(), p * per_part);
        size_t end = std::min(data.size(), begin + per_part);
        std::string chunk = data.substr(begin, end - begin);
        std::string text;
        char buf[256];
        if (parts <= 1) {
            std::snprintf(buf, sizeof buf, "=ybegin line=%zu size=%zu name=", line_length,
                          data.size());
            text += buf + name + "\n";
        } else {
            std::snprintf(buf, sizeof buf,
                          "=ybegin part=%d total=%d line=%zu size=%zu name=", p + 1, parts,
                          line_length, data.size());
            text += buf + name + "\n";
            std::snprintf(buf, sizeof buf, "=ypart begin=%zu end=%zu\n", begin + 1, end);
            text += buf;
        }
        for (const auto& l : EncodeYencLines(chunk, line_length, escape_dots))
            text += l + "\n";
        uint32_t crc = Crc32(0, chunk.data(), chunk.size());
        if (parts <= 1)
            std::snprintf(buf, sizeof buf, "=yend size=%zu crc32=%08x\n", chunk.size(), crc);
        else if (p + 1 == parts)
            std::snprintf(buf, sizeof buf, "=yend size=%zu part=%d pcrc32=%08x crc32=%08x\n",
                          chunk.size(), p + 1, crc, file_crc);
        else
            std::snprintf(buf, sizeof buf, "=yend size=%zu part=%d pcrc32=%08x\n", chunk.size(),
                          p + 1, crc);
        text += buf;
        out.push_back(ToLineList(text));
    }
    return out;
}

std::string ReferenceYencDecode(const std::string& line) {
    std::string out;
    for (size_t i = 0; i < line.size(); ++i) {
        int c = static_cast<unsigned char>(line[i]);
        if (c == '=') {
            if (++i == line.size())
                break;
            c = static_cast<unsigned char>(line[i]) - 64;
        }
        out += static_cast<char>((c - 42) & 0xff);
    }
    return out;
}

std::string RunCommand(const std::string& command) {
    std::string out;
    FILE* pipe = ::popen(command.c_str(), "r");
    if (!pipe) {
        ADD_FAILURE() << "cannot run " << command;
        return out;
    }
    char buf[65536];
    size_t n;
    while ((n = std::fread(buf, 1, sizeof buf, pipe)) > 0)
        out.append(buf, n);
    int status = ::pclose(pipe);
    EXPECT_EQ(status, 0) << command;
    return out;
}

}  // namespace qs::test
