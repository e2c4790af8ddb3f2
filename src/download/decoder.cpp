#include "download/decoder.h"

#include <algorithm>
#include <cstring>

#include "app/debug_log.h"
#include "app/number_reader.h"
#include "app/output_files.h"

namespace qs {

OutputNamer MakeOutputNamer(const Settings& settings) {
    Settings naming;
    naming.FilenameIsSubject = settings.FilenameIsSubject;
    naming.RenameExisting = settings.RenameExisting;
    return [naming](std::string_view subject, std::string_view name, std::string_view dir) {
        return MakeOutputPath(subject, name, dir, naming);
    };
}

DecoderFrame::DecoderFrame(std::string subject, OutputNamer namer)
    : subject_(std::move(subject)), namer_(std::move(namer)) {}

LineList::operator PartBody() const {
    size_t size = 0;
    for (const auto& line : *this)
        size += line.size() + 1;
    PartBody body;
    body.reserve(size);
    for (const auto& line : *this) {
        body += line;
        body += '\n';
    }
    return body;
}

void DecoderFrame::Attach(std::string_view body) {
    body_ = body;
    position_ = 0;
}

bool DecoderFrame::ReadLine(std::string_view& line) {
    if (AtEnd()) {
        line = {};
        return false;
    }
    const size_t end = std::min(body_.find('\n', position_), body_.size());
    line = body_.substr(position_, end - position_);
    position_ = end + 1;
    while (!line.empty() && (line.back() == '\r' || line.back() == '\n'))
        line.remove_suffix(1);
    return true;
}

void DecoderFrame::NameOutput(std::string_view name) {
    if (out_.is_open())
        return;
    output_path_ = namer_ ? namer_(subject_, name, directory_) : std::string(name);
}

bool DecoderFrame::OpenOutput(const char* kind) {
    LogLine("Opening outfile for %s: %s\n", kind, output_path_.c_str());
    if (output_path_.empty() || !out_.Open(output_path_)) {
        LogLine("error opening outfile\n");
        if (!output_path_.empty())
            open_error_ = output_path_ + ": " + out_.error();
        open_errno_ = out_.error_number();
        return false;
    }
    open_error_.clear();
    return true;
}

void DecoderFrame::ResetFrame() {
    out_.Close();
    output_path_.clear();
    body_ = {};
    position_ = 0;
}

int ScanNumbers(std::string_view text, std::string_view pattern, int64_t* values, int max) {
    size_t t = 0;
    int filled = 0;
    for (size_t p = 0; p < pattern.size(); ++p) {
        const char pc = pattern[p];
        if (scanf_reader::IsSpace(pc)) {
            scanf_reader::SkipSpace(text, t);
        } else if (pc == '%' && p + 1 < pattern.size() && pattern[p + 1] == 'd') {
            ++p;
            int64_t value = 0;
            if (!scanf_reader::ReadInt(text, t, value))
                return filled;
            if (filled < max)
                values[filled] = value;
            ++filled;
        } else if (!scanf_reader::ReadLiteral(text, t, pc)) {
            return filled;
        }
    }
    return filled;
}

// The first characters of the needle, in either case, are found with memchr: every part of a
// new file is searched for text headers before it is known to be yEnc, so this runs over
// whole bodies.
size_t FindNoCase(std::string_view text, std::string_view needle) {
    auto lower = [](char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c + 32) : c; };
    auto upper = [](char c) { return (c >= 'a' && c <= 'z') ? static_cast<char>(c - 32) : c; };
    constexpr size_t npos = std::string_view::npos;
    if (needle.empty())
        return 0;
    if (needle.size() > text.size())
        return npos;
    const size_t last = text.size() - needle.size();  // the last place a match can start
    auto next = [&](char c, size_t from) -> size_t {
        if (from > last)
            return npos;
        const void* at = std::memchr(text.data() + from, c, last + 1 - from);
        return at ? static_cast<size_t>(static_cast<const char*>(at) - text.data()) : npos;
    };
    const char first_lower = lower(needle[0]), first_upper = upper(needle[0]);
    size_t next_lower = next(first_lower, 0);
    size_t next_upper = first_upper == first_lower ? npos : next(first_upper, 0);
    for (;;) {
        const size_t i = std::min(next_lower, next_upper);
        if (i == npos)
            return npos;
        size_t k = 1;
        while (k < needle.size() && lower(text[i + k]) == lower(needle[k]))
            ++k;
        if (k == needle.size())
            return i;
        if (i == next_lower)
            next_lower = next(first_lower, i + 1);
        else
            next_upper = next(first_upper, i + 1);
    }
}

}  // namespace qs
