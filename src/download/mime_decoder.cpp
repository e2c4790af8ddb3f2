#include "download/mime_decoder.h"

#include <array>

#include "app/debug_log.h"

namespace qs {

namespace {

constexpr int8_t kInvalid = -1;
constexpr int8_t kPad = -2;

constexpr std::array<int8_t, 256> MakeTable() {
    std::array<int8_t, 256> t{};
    for (auto& v : t)
        v = kInvalid;
    const char* alphabet = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
    for (int i = 0; i < 64; ++i)
        t[static_cast<unsigned char>(alphabet[i])] = static_cast<int8_t>(i);
    t['='] = kPad;
    return t;
}

constexpr std::array<int8_t, 256> kTable = MakeTable();

inline int8_t ValueOf(char c) {
    return kTable[static_cast<unsigned char>(c)];
}

size_t Skip(std::string_view line) {
    return line.substr(0, 2) == ".." ? 1 : 0;
}

}  // namespace

Base64Decoder::Base64Decoder(std::string subject, OutputNamer namer)
    : DecoderFrame(std::move(subject), std::move(namer)) {}

void Base64Decoder::Reset() {
    ResetFrame();
    first_line_ = true;
    standard_length_ = last_good_ = last_false_ = line_number_ = 0;
    held_.clear();
}

bool Base64Decoder::FindHeader() {
    bool have_encoding = false;
    bool have_name = false;
    std::string_view line;
    while (ReadLine(line)) {
        if (!have_encoding && FindNoCase(line, "base64") != std::string_view::npos)
            have_encoding = true;
        if (!have_name) {
            size_t at = FindNoCase(line, "name=\"");
            if (at != std::string_view::npos) {
                have_name = true;
                // The quoted value ends at its closing quote; parameters after it are not
                // part of the name.
                std::string_view name = line.substr(at + 6);
                size_t quote = name.find('"');
                if (quote != std::string_view::npos)
                    name = name.substr(0, quote);
                NameOutput(name);
            }
        }
        if (have_encoding && have_name) {
            while (ReadLine(line) && !line.empty()) {
            }
            return true;
        }
    }
    return false;
}

DecodeOutcome Base64Decoder::Start(std::string_view directory, const PartBody& body) {
    set_directory(directory);
    Attach(body);
    if (!FindHeader())
        return DecodeOutcome::NotFound;
    if (!output_open() && !OpenOutput("Base64"))
        return DecodeOutcome::NotFound;
    DecodeLines();
    return DecodeOutcome::Decoded;
}

DecodeOutcome Base64Decoder::Continue(const PartBody& body) {
    Attach(body);
    DecodeLines();
    return DecodeOutcome::Decoded;
}

void Base64Decoder::DecodeLines() {
    Group group;
    std::string_view line;
    while (ReadLine(line)) {
        ++line_number_;
        const int length = static_cast<int>(line.size());
        if (first_line_) {
            standard_length_ = length;
            first_line_ = false;
        }
        // A line with a character outside the alphabet is not data, unless that character
        // is "=" or the line's last one.
        bool valid = true;
        for (size_t i = Skip(line); i < line.size(); ++i) {
            int8_t v = ValueOf(line[i]);
            if (v >= 0)
                continue;
            LogLine("skipflag: %.*s!\n", static_cast<int>(line.size()), line.data());
            valid = v == kPad || i + 1 == line.size();
            break;
        }
        if (!valid)
            continue;
        if (length != standard_length_) {
            if (length < standard_length_ && length > 0) {
                LogLine("lastline: %s\n", held_.c_str());
                held_.assign(line);
            }
            last_false_ = line_number_;
            continue;
        }
        last_good_ = line_number_;
        DecodeLine(line, group);
    }
    LogLine("lastgood: %d lastfalse: %d\n", last_good_, last_false_);
    LogLine("base64 errors: %d\n", 0);
}

bool Base64Decoder::DecodeLine(std::string_view line, Group& group) {
    uint8_t buffer[768];
    size_t o = 0;
    uint32_t value = group.value;
    int count = group.count;
    bool padded = false;
    for (size_t i = Skip(line); i < line.size(); ++i) {
        int8_t v = ValueOf(line[i]);
        if (v == kPad) {
            LogLine("END FOUND!!\n");
            if (count == 1)
                LogLine("base64 encoding incomplete: at least 2 bits missing\n");
            else if (count == 2)
                buffer[o++] = static_cast<uint8_t>(value >> 4);
            else if (count == 3) {
                buffer[o++] = static_cast<uint8_t>(value >> 10);
                buffer[o++] = static_cast<uint8_t>(value >> 2);
            }
            value = 0;
            count = 0;
            padded = true;
            break;
        }
        value = value << 6 | static_cast<uint32_t>(v < 0 ? 0 : v);
        if (++count == 4) {
            buffer[o] = static_cast<uint8_t>(value >> 16);
            buffer[o + 1] = static_cast<uint8_t>(value >> 8);
            buffer[o + 2] = static_cast<uint8_t>(value);
            o += 3;
            value = 0;
            count = 0;
            if (o + 3 > sizeof buffer) {
                out_.Write(buffer, o);
                o = 0;
            }
        }
    }
    out_.Write(buffer, o);
    group.value = value;
    group.count = count;
    return padded;
}

void Base64Decoder::Finish() {
    if (!held_.empty() && last_good_ < last_false_) {
        LogLine("decoding last line: %s\n", held_.c_str());
        Group group;
        if (!DecodeLine(held_, group) && group.count > 0)
            LogLine("base64 encoding incomplete: at least %d bits truncated\n",
                    24 - 6 * group.count);
    }
    held_.clear();
    out_.Close();
}

}  // namespace qs
