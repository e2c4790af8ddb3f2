#include "download/decoder.h"

#include <algorithm>

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

size_t FindNoCase(std::string_view text, std::string_view needle) {
    auto lower = [](char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c + 32) : c; };
    if (needle.size() > text.size())
        return std::string_view::npos;
    for (size_t i = 0; i + needle.size() <= text.size(); ++i) {
        size_t k = 0;
        while (k < needle.size() && lower(text[i + k]) == lower(needle[k]))
            ++k;
        if (k == needle.size())
            return i;
    }
    return std::string_view::npos;
}

}  // namespace qs
